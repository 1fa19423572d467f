// Where the caption's elements go: the stacking of the time lines, the corners of the icons,
// the zoom rectangle as frame, and the three scale modes.
#include <gtest/gtest.h>

#include "present/caption_layout.h"

namespace kx {
namespace {

CaptionInfo withFlags(uint32_t flags) {
    CaptionInfo info;
    info.flags = flags;
    return info;
}

constexpr uint32_t kNormal = 0x40000;
const CaptionRect kPicture{0, 0, 704, 480};

TEST(CaptionLayout, TimeLinesStackUpwardsOverTheShownOnes) {
    struct Case {
        uint32_t flags;
        CaptionElement element;
        int bottom;
    };
    const uint32_t all = kCaptionEndTime | kCaptionFrameTime | kCaptionStartTime | kCaptionDate;
    const Case cases[] = {
        {all, CaptionElement::EndTime, 475},
        {all, CaptionElement::FrameTime, 455},
        {all, CaptionElement::StartTime, 435},
        {all, CaptionElement::Date, 415},
        // End time and time of frame shown, start time hidden: time of frame 20 above the end
        // time, the date 40 above it.
        {kCaptionEndTime | kCaptionFrameTime | kCaptionDate, CaptionElement::FrameTime, 455},
        {kCaptionEndTime | kCaptionFrameTime | kCaptionDate, CaptionElement::Date, 435},
        // Nothing below: each line drops to the bottom.
        {kCaptionFrameTime, CaptionElement::FrameTime, 475},
        {kCaptionDate, CaptionElement::Date, 475},
        {kCaptionStartTime | kCaptionDate, CaptionElement::Date, 455},
    };
    for (const Case& c : cases) {
        const CaptionRect place =
            placeCaptionElement(c.element, withFlags(c.flags | kNormal), kPicture);
        EXPECT_EQ(place, (CaptionRect{5, c.bottom - 20, 205, c.bottom}))
            << int(c.element) << " flags " << c.flags;
    }
}

TEST(CaptionLayout, NamesTimeZoneAndIconsInTheirCorners) {
    const CaptionInfo info = withFlags(kNormal);
    EXPECT_EQ(placeCaptionElement(CaptionElement::CameraName, info, kPicture),
              (CaptionRect{5, 25, 205, 45}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::BoardName, info, kPicture),
              (CaptionRect{5, 45, 205, 65}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::TimeZone, info, kPicture),
              (CaptionRect{629, 5, 699, 25}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::Loudspeaker, info, kPicture),
              (CaptionRect{688, 464, 704, 480}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::Hand, info, kPicture),
              (CaptionRect{688, 0, 704, 16}));
}

TEST(CaptionLayout, ZoomRectangleIsTheFrame) {
    CaptionInfo info = withFlags(kNormal | kCaptionZoom);
    info.zoom = {100, 50, 300, 250};
    const CaptionRect frame = captionFrame(info, 704, 480);
    EXPECT_EQ(frame, info.zoom);
    EXPECT_EQ(placeCaptionElement(CaptionElement::CameraName, info, frame),
              (CaptionRect{105, 75, 305, 95}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::EndTime, info, frame),
              (CaptionRect{105, 225, 305, 245}));
    info.flags &= ~kCaptionZoom;
    EXPECT_EQ(captionFrame(info, 704, 480), kPicture);
}

TEST(CaptionLayout, ScaleModesWidenOrHalve) {
    // Double width: texts and icons twice as wide, and twice the margin from the side edges.
    const CaptionInfo wide = withFlags(kCaptionEndTime);
    EXPECT_EQ(placeCaptionElement(CaptionElement::EndTime, wide, kPicture),
              (CaptionRect{10, 455, 410, 475}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::TimeZone, wide, kPicture),
              (CaptionRect{554, 5, 694, 25}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::Loudspeaker, wide, kPicture),
              (CaptionRect{672, 464, 704, 480}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::Hand, wide, kPicture),
              (CaptionRect{672, 0, 704, 16}));
    // Half: every coordinate and size halved.
    const CaptionInfo half = withFlags(kCaptionEndTime | 0x80000);
    EXPECT_EQ(placeCaptionElement(CaptionElement::EndTime, half, kPicture),
              (CaptionRect{2, 227, 102, 237}));
    EXPECT_EQ(placeCaptionElement(CaptionElement::CameraName, half, kPicture),
              (CaptionRect{2, 12, 102, 22}));
    // Mode 3 is not defined; it is drawn as normal.
    EXPECT_EQ(captionScale(0xC0000), CaptionScale::Normal);
}

TEST(CaptionInfoRecord, TextsAreCutToTheirFieldsAndReadBackUpToTheirEnd) {
    CaptionInfo info;
    setCaptionText(info.timeZone, std::string(100, 'x'));
    EXPECT_EQ(captionText(info.timeZone).size(), 64u);
    EXPECT_EQ(info.timeZone[64], 0);
    setCaptionText(info.cameraName, "Gate");
    EXPECT_EQ(captionText(info.cameraName), "Gate");
    // A field without a terminating zero (a damaged record) is read up to its end.
    std::fill(std::begin(info.date), std::end(info.date), '9');
    EXPECT_EQ(captionText(info.date).size(), sizeof info.date);
}

}  // namespace
}  // namespace kx
