// Render targets: pictures written through GetDesc reach the window upright, zoom stretches the
// chosen part, VIDEO LOST replaces the picture, a busy target drops the frame, and without the
// display the bottom-up fallback stretches the picture over the window; a writer thread and
// re-initialisation on another never meet, and snapshots copy the picture bottom row first.
#include <gtest/gtest.h>
extern "C" {
#include <libswscale/swscale.h>
}

#include <atomic>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "present/display.h"
#include "present/render_target.h"
#include "present/tests/gui_test_support.h"

namespace kx {
namespace {

constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kNoCaption = 0x40000;  // normal scale, no element shown

// Writes four quadrants (top left red, top right green, bottom left blue, bottom right white)
// through the target's descriptor, upright whatever its row order.
void writeQuadrants(CRenderTarget& target) {
    PictureDesc desc;
    ASSERT_EQ(target.GetDesc(&desc), 0);
    const bool bottomUp = desc.bytesPerPixel == 3;
    for (uint32_t y = 0; y < desc.height; ++y) {
        const uint32_t row = bottomUp ? desc.height - 1 - y : y;
        uint8_t* line = desc.pixels + size_t(row) * size_t(desc.pitch);
        for (uint32_t x = 0; x < desc.width; ++x) {
            const bool right = x >= desc.width / 2, bottom = y >= desc.height / 2;
            const QRgb rgb =
                !bottom ? (right ? 0x00FF00 : 0xFF0000) : (right ? 0xFFFFFF : 0x0000FF);
            uint8_t* pixel = line + x * desc.bytesPerPixel;
            pixel[0] = uint8_t(rgb), pixel[1] = uint8_t(rgb >> 8), pixel[2] = uint8_t(rgb >> 16);
            if (desc.bytesPerPixel == 4) pixel[3] = 0;
        }
    }
    ASSERT_EQ(target.Unlock(), 0);
}

class RenderTargetTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensureGuiApplication();
        ASSERT_EQ(CreateDisplay(), 0);
        caption.flags = kNoCaption;
    }
    void TearDown() override { DestroyDisplay(); }

    CaptionInfo caption;
};

TEST_F(RenderTargetTest, PicturesReachTheWindowUprightAndZoomStretchesTheChosenPart) {
    CRenderTarget target;
    ASSERT_EQ(target.Init(kWidth, kHeight, nullptr), 0);
    EXPECT_TRUE(target.IsComposing());
    writeQuadrants(target);
    test::MemoryWindow window;
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    ASSERT_EQ(window.shown.size(), QSize(kWidth, kHeight));
    EXPECT_EQ(test::pixelAt(window.shown, 3, 3), 0xFF0000u);
    EXPECT_EQ(test::pixelAt(window.shown, kWidth - 3, 3), 0x00FF00u);
    EXPECT_EQ(test::pixelAt(window.shown, 3, kHeight - 3), 0x0000FFu);
    EXPECT_EQ(test::pixelAt(window.shown, kWidth - 3, kHeight - 3), 0xFFFFFFu);

    // Zoom into the bottom right quadrant: it fills the whole picture.
    caption.flags |= kCaptionZoom;
    caption.zoom = {int(kWidth / 2), int(kHeight / 2), int(kWidth), int(kHeight)};
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    for (int y = 2; y < int(kHeight) - 2; ++y)
        for (int x = 2; x < int(kWidth) - 2; ++x)
            ASSERT_EQ(test::pixelAt(window.shown, x, y), 0xFFFFFFu) << x << "," << y;
    // A zoom rectangle outside the picture shows the whole picture.
    caption.zoom = {500, 500, 900, 900};
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    EXPECT_EQ(test::pixelAt(window.shown, 3, 3), 0xFF0000u);
    // Without info of its own and none given, there is nothing to draw by.
    CRenderTarget fresh;
    ASSERT_EQ(fresh.Init(kWidth, kHeight, nullptr), 0);
    EXPECT_EQ(fresh.Draw(&window, nullptr), 1);
    EXPECT_EQ(target.Draw(&window, nullptr), 0) << "the overlay keeps the last info";
}

TEST_F(RenderTargetTest, NoVideoShowsTheStoredVideoLostPictureOrBlack) {
    CRenderTarget target;
    ASSERT_EQ(target.Init(kWidth, kHeight, &caption), 0);
    writeQuadrants(target);
    test::MemoryWindow window;
    caption.flags |= kCaptionNoVideo;
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    for (int y = 0; y < int(kHeight); ++y)
        for (int x = 0; x < int(kWidth); ++x) ASSERT_EQ(test::pixelAt(window.shown, x, y), 0u);

    ASSERT_EQ(SetStatusBitmap(DrawnStatusBitmap(kStatusVideoLost), kStatusVideoLost), 0);
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    // The stored picture stretched over the whole window, as Qt scales it on its own; the two
    // scalings may place an edge a pixel apart, so a few pixels may differ.
    const QImage expected =
        DrawnStatusBitmap(kStatusVideoLost)
            .scaled(int(kWidth), int(kHeight), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    int lit = 0;
    int differing = 0;
    for (int y = 0; y < int(kHeight); ++y) {
        for (int x = 0; x < int(kWidth); ++x) {
            lit += test::pixelAt(window.shown, x, y) != 0;
            differing += test::pixelAt(window.shown, x, y) != test::pixelAt(expected, x, y);
        }
    }
    EXPECT_GT(lit, int(kWidth * kHeight) / 100) << "the words show";
    EXPECT_LE(differing, int(kWidth * kHeight) / 100) << "the stored picture, stretched";
    EXPECT_EQ(test::pixelAt(window.shown, 0, 0), 0u) << "on black";
}

TEST_F(RenderTargetTest, ABusyTargetDropsTheFrameInsteadOfWaiting) {
    CRenderTarget target;
    ASSERT_EQ(target.Init(kWidth, kHeight, nullptr), 0);
    PictureDesc desc;
    ASSERT_EQ(target.GetDesc(&desc), 0);
    test::MemoryWindow window;
    EXPECT_EQ(std::async(std::launch::async, [&] { return target.Draw(&window, &caption); }).get(),
              1);
    EXPECT_EQ(window.showCount, 0);
    ASSERT_EQ(target.Unlock(), 0);
    EXPECT_EQ(target.Unlock(), 1) << "nothing to unlock";
    EXPECT_EQ(target.Draw(&window, &caption), 0);
    EXPECT_EQ(window.showCount, 1);
}

TEST_F(RenderTargetTest, InitAgainAtAnotherSizePlacesTheCaptionForTheNewSize) {
    CRenderTarget target;
    caption.flags |= kCaptionEndTime;
    setCaptionText(caption.endTime, "12:00:00");
    caption.timeColour = 0xFFFFFF;
    ASSERT_EQ(target.Init(kWidth, kHeight, &caption), 0);
    ASSERT_EQ(target.Init(2 * kWidth, 4 * kHeight, nullptr), 0);
    test::MemoryWindow window;
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    ASSERT_EQ(window.shown.size(), QSize(2 * kWidth, 4 * kHeight));
    int whiteLow = 0, whiteHigh = 0;
    for (int y = 0; y < window.shown.height(); ++y)
        for (int x = 0; x < window.shown.width(); ++x)
            if (test::pixelAt(window.shown, x, y) == 0xFFFFFFu)
                (y >= window.shown.height() - 25 ? whiteLow : whiteHigh)++;
    EXPECT_GT(whiteLow, 10) << "the end time stands 5 pixels above the new bottom";
    EXPECT_EQ(whiteHigh, 0);
}

TEST_F(RenderTargetTest, InitRefusesWhatItCannotHold) {
    CRenderTarget target;
    EXPECT_EQ(target.Init(0, 48, nullptr), kRenderNullArgument);
    EXPECT_EQ(target.Init(100000, 48, nullptr), 1);
    EXPECT_FALSE(target.IsComposing());
    DestroyDisplay();
    EXPECT_EQ(target.Init(kWidth, kHeight, nullptr), kRenderNoDevice);
}

TEST_F(RenderTargetTest, PutPictureStretchesRgbAndConvertsUyvyLikeSwscale) {
    CRenderTarget target;
    ASSERT_EQ(target.Init(kWidth, kHeight, nullptr), 0);
    test::MemoryWindow window;

    // A 2 x 2 RGB picture of 3 bytes per pixel, stretched to the whole target.
    std::vector<uint8_t> rgb(2 * 2 * 3, 0);
    for (int i = 0; i < 4; ++i) rgb[size_t(i) * 3 + 1] = 200;  // green
    PictureDesc small{2, 1, 3, 0, rgb.data(), 6, 2, 2};
    ASSERT_EQ(target.PutPicture(&small), 0);
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    EXPECT_EQ(test::pixelAt(window.shown, int(kWidth) / 2, int(kHeight) / 2), 0x00C800u);

    // UYVY of four colour bars, converted as FFmpeg's swscale converts it.
    constexpr int w = 64, h = 2;
    std::vector<uint8_t> uyvy(size_t(w) * 2 * h);
    const uint8_t bars[4][3] = {
        {81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {170, 166, 16}};  // Y, U, V
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            const uint8_t* bar = bars[x * 4 / w];
            uint8_t* pair = &uyvy[size_t(y) * w * 2 + size_t(x) * 2];
            pair[0] = bar[1], pair[1] = bar[0], pair[2] = bar[2], pair[3] = bar[0];
        }
    std::vector<uint8_t> reference(size_t(w) * h * 4);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_UYVY422, w, h, AV_PIX_FMT_BGRA, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    ASSERT_NE(sws, nullptr);
    const uint8_t* in[] = {uyvy.data()};
    const int inStride[] = {w * 2};
    uint8_t* out[] = {reference.data()};
    const int outStride[] = {w * 4};
    sws_scale(sws, in, inStride, 0, h, out, outStride);
    sws_freeContext(sws);

    CRenderTarget same;
    ASSERT_EQ(same.Init(w, h, nullptr), 0);
    PictureDesc desc{2, 4, 2, 0, uyvy.data(), w * 2, w, h};
    ASSERT_EQ(same.PutPicture(&desc), 0);
    ASSERT_EQ(same.Draw(&window, &caption), 0);
    // swscale's table arithmetic differs from exact rounding by up to 3 near the range ends.
    for (int bar = 0; bar < 4; ++bar) {
        const int x = bar * w / 4 + w / 8;
        const QRgb got = window.shown.pixel(x, 0);
        const uint8_t* want = &reference[size_t(x) * 4];
        EXPECT_NEAR(qBlue(got), want[0], 3) << "bar " << bar;
        EXPECT_NEAR(qGreen(got), want[1], 3) << "bar " << bar;
        EXPECT_NEAR(qRed(got), want[2], 3) << "bar " << bar;
    }
    PictureDesc odd{2, 6, 2, 0, uyvy.data(), w * 2, w, h};
    EXPECT_EQ(same.PutPicture(&odd), kRenderUnsupported);
    EXPECT_EQ(same.PutPicture(nullptr), kRenderNullArgument);
}

TEST(DibRenderTarget, WithoutTheDisplayThePictureIsStretchedOverTheWindowBottomRowFirst) {
    test::ensureGuiApplication();
    DestroyDisplay();
    CDibRenderTarget target;
    ASSERT_EQ(target.Init(kWidth, kHeight, nullptr), 0);
    EXPECT_FALSE(target.IsComposing());
    PictureDesc desc;
    ASSERT_EQ(target.GetDesc(&desc), 0);
    EXPECT_EQ(desc.bytesPerPixel, 3);
    EXPECT_EQ(desc.packed24, 1);
    EXPECT_EQ(desc.pitch, int32_t(kWidth * 3));
    EXPECT_EQ(target.GetDesc(&desc), 1) << "held by this thread already";
    ASSERT_EQ(target.Unlock(), 0);
    writeQuadrants(target);
    EXPECT_EQ(target.PutPicture(&desc), 1);

    test::MemoryWindow window(QSize(200, 100));
    CaptionInfo caption;
    caption.flags = kNoCaption | kCaptionZoom;
    caption.zoom = {0, 0, 8, 8};  // ignored in this mode
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    ASSERT_EQ(window.shown.size(), QSize(200, 100));
    EXPECT_EQ(test::pixelAt(window.shown, 5, 5), 0xFF0000u);
    EXPECT_EQ(test::pixelAt(window.shown, 195, 5), 0x00FF00u);
    EXPECT_EQ(test::pixelAt(window.shown, 5, 95), 0x0000FFu);
    EXPECT_EQ(test::pixelAt(window.shown, 195, 95), 0xFFFFFFu);

    // The reduced caption: the camera name at (10, 10) in its colour.
    setCaptionText(caption.cameraName, "Gate");
    caption.cameraColour = 0x00FFFF;  // yellow
    caption.flags |= kCaptionCameraName;
    ASSERT_EQ(target.Draw(&window, &caption), 0);
    int yellow = 0;
    for (int y = 10; y < 34; ++y)
        for (int x = 10; x < 80; ++x) yellow += test::pixelAt(window.shown, x, y) == 0xFFFF00u;
    EXPECT_GT(yellow, 10);
    EXPECT_EQ(target.Draw(nullptr, &caption), 1);
    test::MemoryWindow hidden;
    EXPECT_EQ(target.Draw(&hidden, &caption), 1) << "a window without a drawing area";
}

// The quadrants as a snapshot has them: bottom row first, B, G, R.
void expectQuadrantsBottomUp(const std::vector<uint8_t>& bgr, uint32_t width, uint32_t height) {
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);
    ASSERT_EQ(bgr.size(), size_t(kWidth) * kHeight * 3);
    const auto at = [&](uint32_t x, uint32_t rowFromBottom) {
        const uint8_t* p = &bgr[(size_t(rowFromBottom) * kWidth + x) * 3];
        return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    EXPECT_EQ(at(0, 0), 0x0000FFu) << "bottom left blue comes first";
    EXPECT_EQ(at(kWidth - 1, 0), 0xFFFFFFu);
    EXPECT_EQ(at(0, kHeight - 1), 0xFF0000u) << "top left red comes last";
    EXPECT_EQ(at(kWidth - 1, kHeight - 1), 0x00FF00u);
}

TEST(RenderTargetCopy, CopyPictureGivesTheSnapshotLayoutInBothModes) {
    test::ensureGuiApplication();
    for (const bool display : {true, false}) {
        SCOPED_TRACE(display ? "composing" : "DIB");
        if (display)
            ASSERT_EQ(CreateDisplay(), 0);
        else
            DestroyDisplay();
        CDibRenderTarget target;
        std::vector<uint8_t> bgr{1, 2, 3};
        uint32_t width = 7, height = 9;
        EXPECT_FALSE(target.CopyPicture(bgr, width, height)) << "nothing yet";
        EXPECT_EQ(bgr, (std::vector<uint8_t>{1, 2, 3}));
        EXPECT_EQ(width, 7u);

        ASSERT_EQ(target.Init(kWidth, kHeight, nullptr), 0);
        EXPECT_EQ(target.IsComposing(), display);
        writeQuadrants(target);
        ASSERT_TRUE(target.CopyPicture(bgr, width, height));
        expectQuadrantsBottomUp(bgr, width, height);

        // The writer's own thread may copy while it holds the target.
        PictureDesc desc;
        ASSERT_EQ(target.GetDesc(&desc), 0);
        EXPECT_TRUE(target.CopyPicture(bgr, width, height));
        ASSERT_EQ(target.Unlock(), 0);

        ASSERT_EQ(target.Release(), 0);
        EXPECT_FALSE(target.CopyPicture(bgr, width, height));
    }
    DestroyDisplay();
}

// A worker thread writes through GetDesc and Unlock as fast as it can while this thread
// re-initialises the target at other sizes, draws, copies and releases it. Under AddressSanitizer
// a write into a freed or smaller buffer stops the test; the writer also checks that the size
// and pitch it is given belong together, and every snapshot is all black (just initialised) or
// all the colour the writer uses for that size.
enum class DisplayMode { Composing, Dib, Switching };

uint8_t markOf(uint32_t width) {
    return uint8_t(width / 8);  // 2, 10 or 5 for the sizes below: never 0
}

class RenderTargetRace : public ::testing::TestWithParam<DisplayMode> {};

TEST_P(RenderTargetRace, AWriterThreadAndReinitialisationNeverMeet) {
    test::ensureGuiApplication();
    const DisplayMode mode = GetParam();
    if (mode == DisplayMode::Dib)
        DestroyDisplay();
    else
        ASSERT_EQ(CreateDisplay(), 0);
    constexpr struct { uint32_t width, height; } kSizes[] = {{16, 8}, {80, 60}, {40, 30}};

    CDibRenderTarget target;
    ASSERT_EQ(target.Init(kSizes[0].width, kSizes[0].height, nullptr), 0);
    std::atomic<bool> stop = false;
    std::atomic<int> writes = 0;
    std::atomic<int> inconsistent = 0;
    std::thread writer([&] {
        while (!stop) {
            PictureDesc desc;
            if (target.GetDesc(&desc) != 0) {
                std::this_thread::yield();
                continue;
            }
            bool known = false;
            for (const auto& size : kSizes)
                known |= size.width == desc.width && size.height == desc.height;
            if (!known || !desc.pixels || desc.pitch < int32_t(desc.width * desc.bytesPerPixel))
                ++inconsistent;
            else
                for (uint32_t y = 0; y < desc.height; ++y)
                    std::memset(desc.pixels + size_t(y) * size_t(desc.pitch), markOf(desc.width),
                                size_t(desc.width) * desc.bytesPerPixel);
            ASSERT_EQ(target.Unlock(), 0);
            ++writes;
        }
    });

    test::MemoryWindow window(QSize(50, 40));
    CaptionInfo caption;
    caption.flags = kNoCaption;
    int marked = 0;
    for (int round = 0; round < 300; ++round) {
        if (mode == DisplayMode::Switching) {
            if (round % 2)
                DestroyDisplay();
            else
                ASSERT_EQ(CreateDisplay(), 0);
        }
        const auto& size = kSizes[size_t(round) % 3];
        if (round % 7 == 6) {
            ASSERT_EQ(target.Release(), 0);
            continue;
        }
        ASSERT_EQ(target.Init(size.width, size.height, nullptr), 0);
        for (int i = 0; i < 3; ++i) {
            std::this_thread::yield();
            target.Draw(&window, &caption);
            std::vector<uint8_t> bgr;
            uint32_t width = 0, height = 0;
            ASSERT_TRUE(target.CopyPicture(bgr, width, height));
            ASSERT_EQ(bgr.size(), size_t(width) * height * 3);
            const uint8_t first = bgr.front();
            ASSERT_TRUE(first == 0 || first == markOf(width)) << int(first) << " at " << width;
            for (const uint8_t byte : bgr) ASSERT_EQ(byte, first);
            marked += first != 0;
        }
    }
    stop = true;
    writer.join();
    DestroyDisplay();
    EXPECT_EQ(inconsistent, 0);
    EXPECT_GT(writes, 0);
    EXPECT_GT(marked, 0) << "the writer's pictures were seen between re-initialisations";
}

std::string modeName(const ::testing::TestParamInfo<DisplayMode>& mode) {
    constexpr const char* kNames[] = {"Composing", "Dib", "Switching"};
    return kNames[int(mode.param)];
}

INSTANTIATE_TEST_SUITE_P(Modes, RenderTargetRace,
                         ::testing::Values(DisplayMode::Composing, DisplayMode::Dib,
                                           DisplayMode::Switching),
                         modeName);

}  // namespace
}  // namespace kx
