// Text helpers of the command-line tool: names to UTF-8, times, sizes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kx {

// Names in recordings are single-byte text of the recorder's Western code page (cp1252).
std::string textToUtf8(const std::string& text);
// "2026-11-02 08:00:00" in the computer's zone.
std::string formatLocalTime(uint32_t seconds);
// "2026-11-02 17:00:00 (GMT+09:00)": the time as the recorder's clock showed it.
std::string formatRecorderTime(uint32_t seconds, int32_t gmtOffsetHours);
// "(GMT+09:00)" or "(GMT-05:00)".
std::string gmtText(int32_t hours);
// "01:02:03" for a duration in seconds.
std::string formatDuration(uint32_t seconds);
// "YYYY-MM-DD HH:MM:SS" in the computer's zone, or seconds since 1970; none for other text.
std::optional<uint32_t> parseTime(const std::string& text);
// "1234567 bytes (1.2 MiB)".
std::string formatBytes(uint64_t bytes);
// "legacy .kx", "clip .kxz", "extended .ckx", "four-channel".
const char* kindName(int kind);

}  // namespace kx
