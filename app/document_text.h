// Text and path helpers shared by the document's source files: the program's name for
// messages, file names and folders, and times shown in a zone.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace kx::document {

inline constexpr const char* kProgramTitle = "KX Player";

inline std::string lowerCase(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

inline bool endsWithIgnoringCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           lowerCase(text.substr(text.size() - tail.size())) == lowerCase(tail);
}

// `seconds` shown in a zone `hours` east of GMT, formatted with strftime's `format`.
inline std::string formatTime(uint32_t seconds, int32_t hours, const char* format) {
    const std::time_t shown = std::time_t(seconds) + std::time_t(hours) * 3600;
    std::tm parts{};
    gmtime_r(&shown, &parts);
    char text[64];
    const size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

// "(GMT+hh:00)" or "(GMT-hh:00)".
inline std::string zoneText(int32_t hours) {
    char text[32];
    std::snprintf(text, sizeof text, hours >= 0 ? "(GMT+%02d:00)" : "(GMT-%02d:00)",
                  hours >= 0 ? hours : -hours);
    return text;
}

// The folder part of `path`, ending in '/'; empty for a bare name.
inline std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file name of `path` without its extension.
inline std::string baseNameOf(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace kx::document
