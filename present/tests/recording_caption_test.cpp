// The caption of a recording: switches to flags, times in the computer's or the recorder's
// zone, the scale mode of the pictures shown at twice their height.
#include <gtest/gtest.h>

#include "present/recording_caption.h"
#include "recording/record_info.h"

namespace kx {
namespace {

CRecordInfo recording(uint8_t resolutionCode = 0) {
    CRecordInfo info;
    info.SetKind(kKindClip);
    info.SetResolutionCode(resolutionCode);
    info.SetCameraName("Gate");
    info.SetBoardName("Yard");
    info.SetStartTime(1793606400);  // 2026-11-02 08:00:00 UTC
    info.SetEndTime(1793606400 + 3725);
    info.SetGmtOffset(9);
    return info;
}

TEST(RecordingCaption, DefaultSwitchesShowCameraNameAndTheThreeTimesInTheComputersZone) {
    CaptionInfo caption;
    CaptionSettings settings;
    settings.computerGmtOffsetHours = -5;
    fillRecordingCaption(caption, recording(), 352, 288, settings);
    EXPECT_EQ(caption.flags, kCaptionCameraName | kCaptionStartTime | kCaptionFrameTime |
                                 kCaptionEndTime | kCaptionZoom | 0x40000u);
    EXPECT_EQ(caption.zoom, (CaptionRect{0, 0, 348, 287}));
    EXPECT_EQ(captionText(caption.cameraName), "Gate");
    EXPECT_EQ(captionText(caption.boardName), "Yard");
    EXPECT_EQ(captionText(caption.startTime), "03:00:00");
    EXPECT_EQ(captionText(caption.endTime), "04:02:05");
    EXPECT_EQ(captionText(caption.date), "26 11-02");
    EXPECT_EQ(captionText(caption.timeZone), "");
    EXPECT_EQ(caption.cameraColour, kDefaultCaptionColour);
    EXPECT_EQ(caption.timeColour, kDefaultCaptionColour);
    setCaptionFrameTime(caption, 1793606400 + 61, recording(), settings);
    EXPECT_EQ(captionText(caption.frameTime), "03:01:01");
}

TEST(RecordingCaption, NativeTimeShowsTheRecordersClockAndZone) {
    CaptionInfo caption;
    CaptionSettings settings;
    settings.switches = kShowBoardName | kShowDate | kShowNativeTime;
    settings.computerGmtOffsetHours = -5;
    CRecordInfo info = recording();
    fillRecordingCaption(caption, info, 352, 288, settings);
    EXPECT_EQ(caption.flags,
              kCaptionBoardName | kCaptionDate | kCaptionTimeZone | kCaptionZoom | 0x40000u);
    EXPECT_EQ(captionText(caption.startTime), "17:00:00");
    EXPECT_EQ(captionText(caption.timeZone), "GMT+09:00");
    info.SetGmtOffset(-3);
    fillRecordingCaption(caption, info, 352, 288, settings);
    EXPECT_EQ(captionText(caption.timeZone), "GMT-03:00");
    info.SetGmtOffset(INT32_MIN);  // a damaged header
    fillRecordingCaption(caption, info, 352, 288, settings);
    EXPECT_EQ(captionText(caption.timeZone), "GMT-2147483648:00");
}

TEST(RecordingCaption, PicturesShownAtTwiceTheirHeightGetWideCaptions) {
    for (const uint8_t code : {uint8_t(3), uint8_t(131)}) {
        CaptionInfo caption;
        fillRecordingCaption(caption, recording(code), 704, 240, CaptionSettings{});
        EXPECT_EQ(captionScale(caption.flags), CaptionScale::DoubleWidth) << int(code);
    }
}

}  // namespace
}  // namespace kx
