// The caption of a recording: which elements the user's caption switches show, the names and
// times of the recording, and the time of the frame on screen, written into a CaptionInfo.
#pragma once

#include <cstdint>

#include "present/caption_info.h"

namespace kx {

class CRecordInfo;

// The user's caption switches ("Caption Display Setup").
constexpr uint32_t kShowCameraName = 1u << 0;
constexpr uint32_t kShowBoardName = 1u << 1;
constexpr uint32_t kShowDate = 1u << 2;
constexpr uint32_t kShowStartTime = 1u << 3;
constexpr uint32_t kShowViewTime = 1u << 4;
constexpr uint32_t kShowEndTime = 1u << 5;
constexpr uint32_t kShowNativeTime = 1u << 6;         // times as the recorder's clock showed them
constexpr uint32_t kDefaultCaptionSwitches = 57;      // camera name, start, view and end time
constexpr uint32_t kDefaultCaptionColour = 0xFFFF00;  // COLORREF: cyan

struct CaptionSettings {
    uint32_t switches = kDefaultCaptionSwitches;
    uint32_t colour = kDefaultCaptionColour;
    int32_t computerGmtOffsetHours = 0;  // the zone times are shown in without native time
};

// Fills `caption` for a recording of `pictureWidth` x `pictureHeight`: element flags from the
// switches, the zoom rectangle of the whole picture, the scale mode of its resolution code, the
// names, the colour, the date ("%y %m-%d"), start and end times ("%H:%M:%S") and, with native
// time, the recorder's time zone ("GMT+%02d:00"). The time of the frame starts as the start time.
void fillRecordingCaption(CaptionInfo& caption, const CRecordInfo& info, int pictureWidth,
                          int pictureHeight, const CaptionSettings& settings);

// Sets the time of the frame on screen from its wall time (seconds since 1970, UTC).
void setCaptionFrameTime(CaptionInfo& caption, uint32_t wallTime, const CRecordInfo& info,
                         const CaptionSettings& settings);

}  // namespace kx
