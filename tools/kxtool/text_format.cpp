// Text helpers of the command-line tool.
#include "tools/kxtool/text_format.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "recording/recorder_text.h"

namespace kx {
namespace {

std::string formatTm(const std::tm& parts) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

}  // namespace

std::string textToUtf8(const std::string& text) {
    return recorderTextToUtf8(text);
}

std::string formatLocalTime(uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm parts{};
    localtime_r(&t, &parts);
    return formatTm(parts);
}

std::string formatRecorderTime(uint32_t seconds, int32_t gmtOffsetHours) {
    const std::time_t t = std::time_t(seconds) + std::time_t(gmtOffsetHours) * 3600;
    std::tm parts{};
    gmtime_r(&t, &parts);
    return formatTm(parts) + " " + gmtText(gmtOffsetHours);
}

std::string gmtText(int32_t hours) {
    char text[24];
    if (hours >= 0)
        std::snprintf(text, sizeof text, "(GMT+%02d:00)", hours);
    else
        std::snprintf(text, sizeof text, "(GMT-%02d:00)", -hours);
    return text;
}

std::string formatDuration(uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

std::string formatBytes(uint64_t bytes) {
    char text[64];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%llu bytes (%.1f KiB)",
                      static_cast<unsigned long long>(bytes), bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%llu bytes (%.1f MiB)",
                      static_cast<unsigned long long>(bytes), bytes / (1024.0 * 1024.0));
    return text;
}

const char* kindName(int kind) {
    switch (kind) {
        case 0:
            return "legacy .kx";
        case 1:
            return "legacy .kxx";
        case 2:
            return "legacy .kxq";
        case 3:
            return "clip .kxz";
        case 7:
            return "extended .ckx";
        case 8:
            return "four-channel";
        default:
            return "unknown";
    }
}

std::optional<uint32_t> parseTime(const std::string& text) {
    std::tm parts{};
    if (const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parts);
        end && *end == '\0') {
        parts.tm_isdst = -1;
        return uint32_t(std::mktime(&parts));
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (!text.empty() && end && *end == '\0' && value <= 0xFFFFFFFFull) return uint32_t(value);
    return std::nullopt;
}

}  // namespace kx
