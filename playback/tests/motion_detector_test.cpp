// The motion detector: the changed-pixel count against the threshold, the runs that switch a
// region's flag on and off, and regions placed on the upright picture whatever its layout.
#include <gtest/gtest.h>

#include <string>

#include "codec/video_decoder.h"
#include "playback/motion_detector.h"

namespace kx {
namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
const PixelFormat kPackedTopDown{PictureLayout::PackedBgr, RowOrder::TopDown};

// Sets the red of upright pixel (x, y), laid out as `format` says: packed B, G, R rows or R, G,
// B planes, stored top row first or bottom row first.
void setRed(RgbPicture& picture, PixelFormat format, uint32_t x, uint32_t y, uint8_t red) {
    const uint32_t row = format.rows == RowOrder::BottomUp ? kHeight - 1 - y : y;
    if (format.layout == PictureLayout::PackedBgr)
        picture.pixels()[(size_t(row) * kWidth + x) * 3 + 2] = red;
    else
        picture.pixels()[size_t(row) * kWidth + x] = red;
}

// `count` pixels of the picture's top-left 10 x 10 corner changed by `amount` in red.
RgbPicture pictureWithChanges(uint32_t count, uint8_t amount,
                              PixelFormat format = kPackedTopDown) {
    RgbPicture picture(kWidth, kHeight);
    for (uint32_t i = 0; i < count; ++i) setRed(picture, format, i % 10, i / 10, amount);
    return picture;
}

MotionBlock oneRegion(int32_t left = 0, int32_t top = 0, int32_t right = 10, int32_t bottom = 10) {
    MotionBlock block;
    block.count = 1;
    block.regions[0] = {left, top, right, bottom, 0, 0};
    return block;
}

TEST(MotionDetector, MoreThanSixteenPixelsOverTheThresholdChangeARegion) {
    struct Case {
        int32_t level;
        uint32_t pixels;
        uint8_t amount;
        bool changed;
    };
    const Case cases[] = {
        {10, 16, 1, false},  {10, 17, 1, true},   // threshold 0: any difference counts
        {5, 17, 75, false},  {5, 17, 76, true},   // threshold 75: the sum must exceed it
        {0, 30, 150, false}, {0, 30, 151, true},  // threshold 150
    };
    for (const Case& c : cases) {
        MotionDetector detector;
        detector.setThreshold(MotionDetector::thresholdOfLevel(c.level));
        detector.setChangedPictures(1);
        MotionBlock block = oneRegion();
        EXPECT_FALSE(detector.detect(block, pictureWithChanges(0, 0), kPackedTopDown, 0))
            << "first picture";
        EXPECT_EQ(detector.detect(block, pictureWithChanges(c.pixels, c.amount), kPackedTopDown, 0),
                  c.changed)
            << "level " << c.level << ", " << c.pixels << " pixels by " << int(c.amount);
    }
    EXPECT_EQ(MotionDetector::thresholdOfLevel(5), 75);
    EXPECT_EQ(MotionDetector::thresholdOfLevel(-3), 150);
    EXPECT_EQ(MotionDetector::thresholdOfLevel(12), 0);
}

// Feeds a first picture and then one picture per letter: 'C' changes the region against the
// previous picture, 'Q' repeats it. Returns per picture '+' while motion is reported, '-' not.
std::string motionAfter(MotionDetector& detector, MotionBlock& block, const std::string& steps) {
    const RgbPicture still = pictureWithChanges(0, 0);
    const RgbPicture moved = pictureWithChanges(40, 200);
    bool showingMoved = false;
    detector.detect(block, still, kPackedTopDown, 0);
    std::string result;
    for (const char step : steps) {
        if (step == 'C') showingMoved = !showingMoved;
        result +=
            detector.detect(block, showingMoved ? moved : still, kPackedTopDown, 0) ? '+' : '-';
    }
    return result;
}

TEST(MotionDetector, OnlyConsecutiveRunsSwitchMotionOnAndOff) {
    const std::string on = "CCC";  // motion from the third changed picture
    const std::string quiet14(14, 'Q'), quiet15(15, 'Q');
    const struct {
        std::string steps;
        std::string expected;
    } cases[] = {
        {on, "--+"},
        {"CQCQC", "-----"},  // three changed pictures, never in a row
        {"CCQCCQCC", "--------"},
        {"CCQCCC", "-----+"},
        {on + quiet15, "--+" + std::string(14, '+') + "-"},
        // A changed picture among the quiet ones starts the count of quiet pictures again.
        {on + quiet14 + "C" + quiet14 + "Q", "--+" + std::string(29, '+') + "-"},
    };
    for (const auto& c : cases) {
        MotionDetector detector;
        MotionBlock block = oneRegion();
        EXPECT_EQ(motionAfter(detector, block, c.steps), c.expected) << c.steps;
    }

    // The counter holds the current run only.
    MotionDetector detector;
    MotionBlock block = oneRegion();
    motionAfter(detector, block, "CC");
    EXPECT_EQ(block.regions[0].counter, 2u);
    detector.detect(block, pictureWithChanges(40, 200), kPackedTopDown, 0);  // unchanged
    EXPECT_EQ(block.regions[0].counter, 0u);
}

TEST(MotionDetector, FramesWithoutAPictureOfTheirOwnLeaveFlagsAndRunsAlone) {
    MotionDetector detector;
    MotionBlock block = oneRegion();
    const RgbPicture still = pictureWithChanges(0, 0);
    const RgbPicture moved = pictureWithChanges(40, 200);
    EXPECT_EQ(motionAfter(detector, block, "CC"), "--");  // ends on the still picture
    EXPECT_FALSE(detector.detect(block, moved, kPackedTopDown, 4));
    EXPECT_EQ(block.regions[0].counter, 2u) << "kind 4 neither counts nor breaks the run";
    // The kind-4 picture became the previous one: moved to still is the third change.
    EXPECT_TRUE(detector.detect(block, still, kPackedTopDown, 0));
    EXPECT_TRUE(detector.detect(block, moved, kPackedTopDown, 5));
    EXPECT_TRUE(detector.detect(block, still, kPackedTopDown, 5));
    EXPECT_EQ(block.regions[0].counter, 0u);
}

TEST(MotionDetector, RegionsLieOnTheUprightPictureInEveryLayout) {
    const PixelFormat formats[] = {kPackedTopDown,
                                     {PictureLayout::PackedBgr, RowOrder::BottomUp},
                                     {PictureLayout::PlanarRgb, RowOrder::TopDown},
                                     {PictureLayout::PlanarRgb, RowOrder::BottomUp}};
    for (const PixelFormat& format : formats) {
        MotionDetector detector;
        detector.setChangedPictures(1);
        MotionBlock block;
        block.count = 2;
        block.regions[0] = {0, 0, 10, 10, 0, 0};  // the changed corner
        block.regions[1] = {0, int32_t(kHeight) - 10, 10, int32_t(kHeight), 0, 0};  // bottom left
        detector.detect(block, pictureWithChanges(0, 0, format), format, 0);
        EXPECT_TRUE(detector.detect(block, pictureWithChanges(50, 200, format), format, 0));
        EXPECT_EQ(block.regions[0].motion, 1u) << int(format.layout) << int(format.rows);
        EXPECT_EQ(block.regions[1].motion, 0u) << int(format.layout) << int(format.rows);
    }
}

TEST(MotionDetector, RegionsOutsideThePictureAndNewSizesAreSafe) {
    MotionDetector detector;
    detector.setChangedPictures(1);
    MotionBlock block = oneRegion(-50, -50, 5000, 5000);
    detector.detect(block, pictureWithChanges(0, 0), kPackedTopDown, 0);
    EXPECT_TRUE(detector.detect(block, pictureWithChanges(30, 200), kPackedTopDown, 0));
    // A picture of another size starts again from it.
    RgbPicture larger(2 * kWidth, 2 * kHeight);
    EXPECT_TRUE(detector.detect(block, larger, kPackedTopDown, 0))
        << "the flag stays; nothing compared";
    block.regions[0].motion = 0;
    EXPECT_FALSE(detector.detect(block, larger, kPackedTopDown, 0));
    // Pictures without a layout are not read.
    EXPECT_FALSE(detector.detect(block, larger, PixelFormat{}, 0));
}

}  // namespace
}  // namespace kx
