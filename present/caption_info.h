// CaptionInfo: the 580-byte record of what is drawn over a picture (names, times, date, time
// zone, icons, motion outlines, zoom). The document fills it; the engine and the view update it;
// the caption overlay draws it. The layout is fixed because quad play and the document share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "playback/motion_block.h"

namespace kx {

// Caption flags.
constexpr uint32_t kCaptionCameraName = 0x2;
constexpr uint32_t kCaptionBoardName = 0x4;
constexpr uint32_t kCaptionFrameTime = 0x8;
constexpr uint32_t kCaptionHandIcon = 0x20;  // quad play: this channel's sound is selected
constexpr uint32_t kCaptionMotionRegions = 0x80;
constexpr uint32_t kCaptionZoom = 0x100;     // the zoom rectangle is valid
constexpr uint32_t kCaptionAudio = 0x400;    // the frame carries sound: loudspeaker icon
constexpr uint32_t kCaptionNoVideo = 0x800;  // VIDEO LOST picture
constexpr uint32_t kCaptionIdle = 0x1000;    // IDLE picture
constexpr uint32_t kCaptionStartTime = 0x2000;
constexpr uint32_t kCaptionEndTime = 0x4000;
constexpr uint32_t kCaptionHidden = 0x8000;  // no caption at all; motion outlines still drawn
constexpr uint32_t kCaptionScaleMask = 0xC0000;
constexpr uint32_t kCaptionDate = 0x100000;
constexpr uint32_t kCaptionTimeZone = 0x200000;

// Bits 18 and 19: how large captions are drawn relative to the picture.
enum class CaptionScale {
    DoubleWidth = 0,  // pictures shown at twice their height (resolution codes 3 and 131)
    Normal = 1,
    Half = 2,
};
inline CaptionScale captionScale(uint32_t flags) {
    const uint32_t mode = (flags & kCaptionScaleMask) >> 18;
    return mode == 0   ? CaptionScale::DoubleWidth
           : mode == 2 ? CaptionScale::Half
                       : CaptionScale::Normal;
}

struct CaptionRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool operator==(const CaptionRect&) const = default;
};

// Colours are 0x00BBGGRR. Texts are zero-terminated within their fields.
struct CaptionInfo {
    uint32_t flags = 0;
    uint32_t reserved = 0;
    CaptionRect zoom;
    MotionBlock motion;  // the regions outlined with flag 0x80
    char cameraName[68] = {};
    uint32_t cameraColour = 0;
    char boardName[68] = {};
    uint32_t boardColour = 0;
    char frameTime[68] = {};  // "%H:%M:%S"
    uint32_t timeColour = 0;  // also the colour of start time, end time and date
    char startTime[65] = {};  // "%H:%M:%S"
    char endTime[65] = {};    // "%H:%M:%S"
    char date[65] = {};       // "%Y/%m/%d"
    char timeZone[65] = {};   // "(GMT+%02d:00)" or "(GMT-%02d:00)"
    uint32_t timeZoneColour = 0;
};

static_assert(sizeof(CaptionInfo) == 580);
static_assert(offsetof(CaptionInfo, zoom) == 8 && offsetof(CaptionInfo, motion) == 24 &&
              offsetof(CaptionInfo, cameraName) == 100 &&
              offsetof(CaptionInfo, cameraColour) == 168 &&
              offsetof(CaptionInfo, boardName) == 172 &&
              offsetof(CaptionInfo, boardColour) == 240 &&
              offsetof(CaptionInfo, frameTime) == 244 && offsetof(CaptionInfo, timeColour) == 312 &&
              offsetof(CaptionInfo, startTime) == 316 && offsetof(CaptionInfo, endTime) == 381 &&
              offsetof(CaptionInfo, date) == 446 && offsetof(CaptionInfo, timeZone) == 511 &&
              offsetof(CaptionInfo, timeZoneColour) == 576);

// Copies `text` into a caption field, cut to fit with its terminating zero.
template <size_t N>
void setCaptionText(char (&field)[N], std::string_view text) {
    const size_t length = text.size() < N - 1 ? text.size() : N - 1;
    text.copy(field, length);
    for (size_t i = length; i < N; ++i) field[i] = 0;
}

// The text of a field up to its terminating zero (or the field's end).
template <size_t N>
std::string_view captionText(const char (&field)[N]) {
    size_t length = 0;
    while (length < N && field[length] != 0) ++length;
    return {field, length};
}

}  // namespace kx
