// The caption overlay on a real picture: texts in their colour inside their places only, black
// captions invisible, time lines updated glyph by glyph, motion outlines, icons from the display.
#include <gtest/gtest.h>

#include "present/caption_overlay.h"
#include "present/display.h"
#include "present/tests/gui_test_support.h"

namespace kx {
namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr QRgb kGrey = 0x404040;
constexpr uint32_t kCyanRef = 0xFFFF00;  // COLORREF: blue and green
constexpr QRgb kCyan = 0x00FFFF;         // the same as RGB
constexpr uint32_t kNormal = 0x40000;

class CaptionOverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensureGuiApplication();
        info.flags = kNormal | kCaptionCameraName | kCaptionFrameTime | kCaptionEndTime;
        setCaptionText(info.cameraName, "Gate 1");
        setCaptionText(info.boardName, "Yard");
        setCaptionText(info.frameTime, "12:00:09");
        setCaptionText(info.endTime, "12:30:00");
        setCaptionText(info.startTime, "11:30:00");
        setCaptionText(info.date, "2026/11/02");
        setCaptionText(info.timeZone, "(GMT+01:00)");
        info.cameraColour = info.boardColour = info.timeColour = info.timeZoneColour = kCyanRef;
    }

    static QImage greyPicture() {
        QImage picture(kWidth, kHeight, QImage::Format_RGB32);
        picture.fill(QColor::fromRgb(kGrey));
        return picture;
    }

    // The picture after one Draw by a new overlay.
    QImage drawnOnce(const CaptionInfo& caption) {
        CCaptionOverlay overlay;
        EXPECT_EQ(overlay.Init(&caption, kWidth, kHeight), 0);
        QImage picture = greyPicture();
        overlay.Draw(picture, &caption);
        return picture;
    }

    static QRect place(CaptionElement element, const CaptionInfo& caption) {
        const CaptionRect r = placeCaptionElement(element, caption, {0, 0, kWidth, kHeight});
        return QRect(r.left, r.top, r.width(), r.height());
    }

    CaptionInfo info;
};

TEST_F(CaptionOverlayTest, TextsAreDrawnInTheirColourInsideTheirPlacesOnly) {
    const QImage picture = drawnOnce(info);
    const QRect camera = place(CaptionElement::CameraName, info);
    const QRect frameTime = place(CaptionElement::FrameTime, info);
    const QRect endTime = place(CaptionElement::EndTime, info);
    int inCamera = 0, inFrameTime = 0, inEndTime = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb pixel = test::pixelAt(picture, x, y);
            if (pixel == kGrey) continue;
            ASSERT_EQ(pixel, kCyan) << x << "," << y << ": the caption is drawn without smoothing";
            const QPoint at(x, y);
            ASSERT_TRUE(camera.contains(at) || frameTime.contains(at) || endTime.contains(at))
                << x << "," << y;
            inCamera += camera.contains(at);
            inFrameTime += frameTime.contains(at);
            inEndTime += endTime.contains(at);
        }
    }
    EXPECT_GT(inCamera, 20);
    EXPECT_GT(inFrameTime, 20);
    EXPECT_GT(inEndTime, 20);
}

TEST_F(CaptionOverlayTest, BlackCaptionsAreInvisible) {
    info.flags |= kCaptionBoardName | kCaptionStartTime | kCaptionDate | kCaptionTimeZone;
    info.cameraColour = info.boardColour = info.timeColour = info.timeZoneColour = 0;
    EXPECT_EQ(drawnOnce(info), greyPicture());
}

TEST_F(CaptionOverlayTest, TimeLinesChangeGlyphByGlyphAndRebuildOnANewLength) {
    CCaptionOverlay overlay;
    ASSERT_EQ(overlay.Init(&info, kWidth, kHeight), 0);
    QImage picture = greyPicture();
    overlay.Draw(picture, &info);
    EXPECT_EQ(overlay.GlyphCopies(), 0);

    setCaptionText(info.frameTime, "12:00:10");
    picture = greyPicture();
    overlay.Draw(picture, &info);
    EXPECT_EQ(overlay.GlyphCopies(), 2);
    EXPECT_EQ(overlay.DigitRebuilds(), 0);
    EXPECT_EQ(picture, drawnOnce(info)) << "the updated line reads as a fresh one";

    setCaptionText(info.frameTime, "9:00:10");
    picture = greyPicture();
    overlay.Draw(picture, &info);
    EXPECT_EQ(overlay.DigitRebuilds(), 1);
    EXPECT_EQ(picture, drawnOnce(info));

    // A new caption colour renders the names and the time lines again in it.
    info.cameraColour = info.timeColour = 0x0000FF;  // red
    picture = greyPicture();
    overlay.Draw(picture, &info);
    EXPECT_EQ(picture, drawnOnce(info));
    EXPECT_EQ(test::pixelAt(picture, 0, 0), kGrey);
}

TEST_F(CaptionOverlayTest, CharactersWithoutAGlyphAreLeftBlank) {
    CaptionInfo blank = info;
    setCaptionText(info.frameTime, "12?00?09");
    setCaptionText(blank.frameTime, "12 00 09");
    EXPECT_EQ(drawnOnce(info), drawnOnce(blank));
}

TEST_F(CaptionOverlayTest, MotionOutlinesAreGreenWhileQuietAndRedOnMotionEvenWithTheCaptionHidden) {
    info.flags = kNormal | kCaptionMotionRegions | kCaptionHidden | kCaptionCameraName;
    info.motion.count = 2;
    info.motion.regions[0] = {20, 30, 120, 100, 0, 0};
    info.motion.regions[1] = {200, 150, 300, 250, 1, 0};
    const QImage picture = drawnOnce(info);
    for (const auto& [region, colour] : {std::pair{info.motion.regions[0], QRgb(0x00FF00)},
                                         std::pair{info.motion.regions[1], QRgb(0xFF0000)}}) {
        const int midX = (region.left + region.right) / 2;
        const int midY = (region.top + region.bottom) / 2;
        EXPECT_EQ(test::pixelAt(picture, midX, region.top), colour);
        EXPECT_EQ(test::pixelAt(picture, midX, region.bottom), colour);
        EXPECT_EQ(test::pixelAt(picture, region.left, midY), colour);
        EXPECT_EQ(test::pixelAt(picture, region.right, midY), colour);
        EXPECT_EQ(test::pixelAt(picture, midX, midY), kGrey);
        EXPECT_EQ(test::pixelAt(picture, midX, region.top + 1), kGrey)
            << "outlines are one pixel wide";
    }
    EXPECT_EQ(test::pixelAt(picture, 10, 35), kGrey) << "the hidden caption draws no name";
    // A frame without video shows no outlines.
    info.flags |= kCaptionNoVideo;
    EXPECT_EQ(drawnOnce(info), greyPicture());
}

TEST_F(CaptionOverlayTest, OutlinesOverAZoomedPictureAreDrawnWhereTheirPartNowLies) {
    // Zoomed into the bottom-right quarter, a region at (200, 160)..(260, 220) of the picture
    // lies at (48, 32)..(168, 152) of what is shown.
    info.flags = kNormal | kCaptionMotionRegions | kCaptionHidden | kCaptionZoom;
    info.zoom = {176, 144, 352, 288};
    info.motion.count = 1;
    info.motion.regions[0] = {200, 160, 260, 220, 0, 0};
    const QImage picture = drawnOnce(info);
    EXPECT_EQ(test::pixelAt(picture, 100, 32), QRgb(0x00FF00));
    EXPECT_EQ(test::pixelAt(picture, 48, 100), QRgb(0x00FF00));
    EXPECT_EQ(test::pixelAt(picture, 168, 100), QRgb(0x00FF00));
    EXPECT_EQ(test::pixelAt(picture, 100, 152), QRgb(0x00FF00));
    EXPECT_EQ(test::pixelAt(picture, 230, 160), kGrey) << "nothing at the unzoomed place";
}

TEST_F(CaptionOverlayTest, LoudspeakerIconComesFromTheDisplay) {
    ASSERT_EQ(CreateDisplay(), 0);
    info.flags = kNormal | kCaptionAudio;
    EXPECT_EQ(drawnOnce(info), greyPicture())
        << "the icons are black, and so invisible, until stored";
    ASSERT_EQ(SetStatusBitmap(DrawnStatusBitmap(kStatusLoudspeaker), kStatusLoudspeaker), 0);
    const QImage picture = drawnOnce(info);
    const QRect corner = place(CaptionElement::Loudspeaker, info);
    EXPECT_EQ(corner, QRect(kWidth - 16, kHeight - 16, 16, 16));
    int changed = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (test::pixelAt(picture, x, y) != kGrey) {
                ASSERT_TRUE(corner.contains(x, y)) << x << "," << y;
                ++changed;
            }
    EXPECT_GT(changed, 20);
    EXPECT_EQ(SetStatusBitmap(QImage(), 0x1234), 1) << "unknown key";
    DestroyDisplay();
}

TEST_F(CaptionOverlayTest, AReplacedIconIsShownByAnOverlayThatDrewTheOldOne) {
    ASSERT_EQ(CreateDisplay(), 0);
    info.flags = kNormal | kCaptionAudio;
    CCaptionOverlay overlay;
    ASSERT_EQ(overlay.Init(&info, kWidth, kHeight), 0);
    QImage picture = greyPicture();
    overlay.Draw(picture, &info);
    EXPECT_EQ(picture, greyPicture()) << "the black icon is invisible";
    ASSERT_EQ(SetStatusBitmap(DrawnStatusBitmap(kStatusLoudspeaker), kStatusLoudspeaker), 0);
    picture = greyPicture();
    overlay.Draw(picture, &info);
    EXPECT_NE(picture, greyPicture()) << "the stored icon replaces the black one";
    DestroyDisplay();
}

TEST(CaptionGlyphs, DigitsAndSeparatorsHaveCells) {
    EXPECT_EQ(captionGlyphIndex('0'), 0);
    EXPECT_EQ(captionGlyphIndex('9'), 9);
    EXPECT_EQ(captionGlyphIndex(':'), 10);
    EXPECT_EQ(captionGlyphIndex('/'), 11);
    EXPECT_EQ(captionGlyphIndex(','), 12);
    EXPECT_EQ(captionGlyphIndex(' '), 13);
    EXPECT_EQ(captionGlyphIndex('-'), 14);
    EXPECT_EQ(captionGlyphIndex('A'), -1);
    EXPECT_EQ(captionGlyphIndex('\0'), -1);
}

}  // namespace
}  // namespace kx
