// The computer's time-zone offset in whole hours, from POSIX zone descriptions.
#include "platform/system_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kx {
namespace {

TEST(SystemClock, GmtOffsetIsTheStandardOffsetInWholeHoursEast) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    // POSIX zones count hours west; daylight time does not change the standard offset.
    const std::pair<const char*, int32_t> zones[] = {
        {"UTC0", 0}, {"XST-9", 9}, {"EST5EDT", -5}, {"IST-5:30", 5}, {"NST3:30", -3}, {"CET-1CEST", 1}};
    for (const auto& [zone, hours] : zones) {
        setenv("TZ", zone, 1);
        EXPECT_EQ(systemGmtOffsetHours(), hours) << zone;
    }
    if (saved)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
}

}  // namespace
}  // namespace kx
