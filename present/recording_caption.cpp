// Caption texts of a recording: wall times shown in the computer's zone, or in the recorder's.
#include "present/recording_caption.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "recording/record_info.h"

namespace kx {
namespace {

constexpr uint32_t kNormalScale = 0x40000;

// The wall time moved into the zone it is shown in, as broken-down time.
std::tm shownTime(uint32_t wallTime, const CRecordInfo& info, const CaptionSettings& settings) {
    const int32_t hours =
        (settings.switches & kShowNativeTime) ? info.GmtOffset() : settings.computerGmtOffsetHours;
    const std::time_t shown = std::time_t(wallTime) + std::time_t(hours) * 3600;
    std::tm parts{};
    gmtime_r(&shown, &parts);
    return parts;
}

std::string formatted(const char* format, const std::tm& parts) {
    char text[64];
    const size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

}  // namespace

void fillRecordingCaption(CaptionInfo& caption, const CRecordInfo& info, int pictureWidth,
                          int pictureHeight, const CaptionSettings& settings) {
    caption = CaptionInfo{};
    const uint32_t switches = settings.switches;
    uint32_t flags = kCaptionZoom;
    if (switches & kShowCameraName) flags |= kCaptionCameraName;
    if (switches & kShowBoardName) flags |= kCaptionBoardName;
    if (switches & kShowDate) flags |= kCaptionDate;
    if (switches & kShowStartTime) flags |= kCaptionStartTime;
    if (switches & kShowViewTime) flags |= kCaptionFrameTime;
    if (switches & kShowEndTime) flags |= kCaptionEndTime;
    if (switches & kShowNativeTime) flags |= kCaptionTimeZone;
    // Pictures of resolution codes 3 and 131 are shown at twice their height: their captions are
    // drawn twice as wide so that they keep their shape.
    const uint8_t code = info.ResolutionCode();
    if (code != 3 && code != 131) flags |= kNormalScale;
    caption.flags = flags;
    caption.zoom = {0, 0, pictureWidth - 4, pictureHeight - 1};

    setCaptionText(caption.cameraName, info.CameraName());
    setCaptionText(caption.boardName, info.BoardName());
    caption.cameraColour = caption.boardColour = caption.timeColour = caption.timeZoneColour =
        settings.colour;
    const std::tm start = shownTime(info.StartTime(), info, settings);
    setCaptionText(caption.date, formatted("%y %m-%d", start));
    setCaptionText(caption.startTime, formatted("%H:%M:%S", start));
    setCaptionText(caption.frameTime, formatted("%H:%M:%S", start));
    setCaptionText(caption.endTime,
                   formatted("%H:%M:%S", shownTime(info.EndTime(), info, settings)));
    if (switches & kShowNativeTime) {
        const int64_t hours = info.GmtOffset();  // any 32-bit value from the header
        char zone[32];
        std::snprintf(zone, sizeof zone, hours < 0 ? "GMT-%02lld:00" : "GMT+%02lld:00",
                      static_cast<long long>(hours < 0 ? -hours : hours));
        setCaptionText(caption.timeZone, zone);
    }
}

void setCaptionFrameTime(CaptionInfo& caption, uint32_t wallTime, const CRecordInfo& info,
                         const CaptionSettings& settings) {
    setCaptionText(caption.frameTime, formatted("%H:%M:%S", shownTime(wallTime, info, settings)));
}

}  // namespace kx
