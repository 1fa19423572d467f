// Colour adjustment: brightness and contrast per channel, saturation and hue checked against the
// textbook HSL formulas computed here in double precision, and pictures of 3 and 4 bytes per
// pixel with padded rows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "present/colour_adjust.h"

namespace kx {
namespace {

struct ChannelCase {
    int setting;
    int in;
    int out;
};

TEST(ColourAdjust, BrightnessScalesChannelsAndTurnsBlackIntoTheWrappedValueAbove100) {
    const ChannelCase cases[] = {
        {150, 200, 255}, {150, 0, 126},  {101, 0, 1}, {200, 0, 254}, {101, 1, 1}, {200, 1, 2},
        {200, 128, 255}, {50, 255, 127}, {1, 255, 2}, {99, 0, 0},    {50, 0, 0},  {150, 3, 4},
    };
    for (const ChannelCase& c : cases)
        EXPECT_EQ(brightnessOf(uint8_t(c.in), c.setting), c.out)
            << "brightness " << c.setting << " of " << c.in;
}

TEST(ColourAdjust, ContrastStretchesAround128TruncatingTowardsZero) {
    const ChannelCase cases[] = {
        {50, 0, 64},     {50, 255, 191},  {200, 0, 0},   {200, 255, 255},
        {200, 100, 72},  {1, 0, 127},     {1, 255, 129}, {150, 127, 127},
        {150, 129, 129}, {150, 126, 125}, {100, 77, 77}, {199, 200, 255},
    };
    for (const ChannelCase& c : cases)
        EXPECT_EQ(contrastOf(uint8_t(c.in), c.setting), c.out)
            << "contrast " << c.setting << " of " << c.in;
}

// One B, G, R pixel through an adjuster.
std::array<int, 3> adjusted(const ColourSettings& settings, int blue, int green, int red) {
    uint8_t pixel[3] = {uint8_t(blue), uint8_t(green), uint8_t(red)};
    EXPECT_TRUE(ColourAdjuster(settings).apply({pixel, 1, 1, 3, 3}));
    return {pixel[0], pixel[1], pixel[2]};
}

TEST(ColourAdjust, BrightnessComesBeforeContrastAndBothReachEveryChannel) {
    // 0 through brightness 150 is 126, then contrast 50 makes it 127 (contrast first: 96).
    // 200 becomes 255, then 191; 40 becomes 60, then 94.
    EXPECT_EQ(adjusted({150, 50, 100, 100}, 0, 200, 40), (std::array<int, 3>{127, 191, 94}));
}

// The textbook HSL round trip of one pixel, the hue scaled by h / 100 and the saturation by
// s / 100 (limited to 1), giving each channel as 255 x value before rounding.
std::array<double, 3> textbookHsl(int blue, int green, int red, int s, int h) {
    const double r = red / 255.0, g = green / 255.0, b = blue / 255.0;
    const double high = std::max({r, g, b}), low = std::min({r, g, b});
    const double l = (high + low) / 2;
    double hue = 0, sat = 0;
    if (high != low) {
        const double d = high - low;
        sat = l < 0.5 ? d / (high + low) : d / (2 - high - low);
        if (high == r)
            hue = (g - b) / d;
        else if (high == g)
            hue = 2 + (b - r) / d;
        else
            hue = 4 + (r - g) / d;
        hue /= 6;
        if (hue < 0) hue += 1;
    }
    hue *= h / 100.0;
    sat = std::min(1.0, sat * s / 100.0);
    if (sat == 0) return {255 * l, 255 * l, 255 * l};
    const double q = l < 0.5 ? l * (1 + sat) : l + sat - l * sat;
    const double p = 2 * l - q;
    auto channel = [&](double t) {
        if (t < 0) t += 1;
        if (t > 1) t -= 1;
        if (t < 1.0 / 6) return p + (q - p) * 6 * t;
        if (t < 0.5) return q;
        if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    return {255 * channel(hue - 1.0 / 3), 255 * channel(hue), 255 * channel(hue + 1.0 / 3)};
}

// Whether our channel is the textbook's value taken to the nearest integer; where the exact
// value is half-way the textbook's own rounding error decides, so either neighbour is accepted.
bool isNearest(int ours, double textbook) {
    const double fraction = textbook - std::floor(textbook);
    if (std::abs(fraction - 0.5) < 1e-6)
        return ours == int(std::floor(textbook)) || ours == int(std::ceil(textbook));
    return ours == int(std::lround(textbook));
}

std::string describe(int blue, int green, int red, int s, int h) {
    return "BGR " + std::to_string(blue) + "," + std::to_string(green) + "," + std::to_string(red) +
           " s " + std::to_string(s) + " h " + std::to_string(h);
}

struct HslSetting {
    int saturation;
    int hue;
};
constexpr HslSetting kHslSettings[] = {{0, 100},   {0, 37},    {50, 100}, {150, 100}, {100, 50},
                                       {100, 200}, {200, 173}, {37, 13},  {1, 1},     {100, 101}};

TEST(ColourAdjust, SaturationAndHueFollowTheTextbookHslFormulas) {
    const int pixels[][3] = {
        {0, 0, 255},  {0, 255, 0},    {255, 0, 0},     {90, 200, 10},  {0, 128, 255},
        {31, 30, 30}, {130, 5, 250},  {128, 128, 128}, {0, 0, 0},      {255, 255, 255},
        {3, 2, 1},    {200, 100, 50}, {255, 0, 255},   {17, 240, 240}, {254, 1, 127},
    };
    for (const HslSetting& setting : kHslSettings)
        for (const auto& bgr : pixels) {
            const auto ours =
                adjusted({100, 100, setting.saturation, setting.hue}, bgr[0], bgr[1], bgr[2]);
            const auto textbook =
                textbookHsl(bgr[0], bgr[1], bgr[2], setting.saturation, setting.hue);
            for (int c = 0; c < 3; ++c)
                EXPECT_PRED2(isNearest, ours[size_t(c)], textbook[size_t(c)])
                    << describe(bgr[0], bgr[1], bgr[2], setting.saturation, setting.hue)
                    << " channel " << c;
        }
}

TEST(ColourAdjust, SaturationAndHueMatchTheTextbookOnManyRandomPixels) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    constexpr uint32_t kPixels = 20000;
    for (const HslSetting& setting : kHslSettings) {
        std::vector<uint8_t> picture(kPixels * 3);
        for (uint8_t& value : picture) value = uint8_t(byte(random));
        const std::vector<uint8_t> original = picture;
        ColourAdjuster adjuster({100, 100, setting.saturation, setting.hue});
        ASSERT_TRUE(adjuster.apply({picture.data(), kPixels, 1, 3, kPixels * 3}));
        int failures = 0;
        for (uint32_t i = 0; i < kPixels && failures < 5; ++i) {
            const uint8_t* in = &original[i * 3];
            const auto textbook = textbookHsl(in[0], in[1], in[2], setting.saturation, setting.hue);
            for (int c = 0; c < 3; ++c) {
                if (isNearest(picture[i * 3 + size_t(c)], textbook[size_t(c)])) continue;
                ++failures;
                ADD_FAILURE() << describe(in[0], in[1], in[2], setting.saturation, setting.hue)
                              << " channel " << c << ": " << int(picture[i * 3 + size_t(c)])
                              << " vs " << textbook[size_t(c)];
            }
        }
    }
}

TEST(ColourAdjust, SaturationZeroGivesGreyWhateverTheHue) {
    for (int hue : {1, 37, 100, 200})
        for (const auto& bgr : {std::array<int, 3>{0, 0, 255}, {90, 200, 10}, {254, 1, 127}}) {
            const auto ours = adjusted({100, 100, 0, hue}, bgr[0], bgr[1], bgr[2]);
            EXPECT_EQ(ours[0], ours[1]) << hue;
            EXPECT_EQ(ours[1], ours[2]) << hue;
            const int sum = *std::max_element(bgr.begin(), bgr.end()) +
                            *std::min_element(bgr.begin(), bgr.end());
            EXPECT_EQ(ours[0], (sum + 1) / 2) << "lightness kept, hue " << hue;
        }
}

TEST(ColourAdjust, NeutralSaturationAndHueLeaveThePictureAloneButEqualOtherValuesDoNot) {
    std::mt19937 random(99);
    std::vector<uint8_t> picture(300 * 3);
    for (uint8_t& value : picture) value = uint8_t(random());
    const std::vector<uint8_t> original = picture;
    ASSERT_TRUE(ColourAdjuster({100, 100, 100, 100}).apply({picture.data(), 300, 1, 3, 900}));
    EXPECT_EQ(picture, original);
    // Saturation and hue both 50 still halve the saturation.
    ASSERT_TRUE(ColourAdjuster({100, 100, 50, 50}).apply({picture.data(), 300, 1, 3, 900}));
    EXPECT_NE(picture, original);
    EXPECT_EQ(adjusted({100, 100, 50, 50}, 0, 0, 255), (std::array<int, 3>{64, 64, 191}));
}

// Fills `width` x `height` pixels of `bytesPerPixel` bytes, rows `pitch` apart, from `random`;
// every fourth byte is 0xA5 and the padding 0xCD so that writes there show.
std::vector<uint8_t> padded(uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint32_t pitch,
                            std::mt19937& random) {
    std::vector<uint8_t> picture(size_t(pitch) * height, 0xCD);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = &picture[y * pitch + x * bytesPerPixel];
            for (uint32_t c = 0; c < 3; ++c) pixel[c] = uint8_t(random());
            if (bytesPerPixel == 4) pixel[3] = 0xA5;
        }
    return picture;
}

TEST(ColourAdjust, PicturesOfThreeAndFourBytesWithPaddedRowsTouchOnlyTheColours) {
    constexpr uint32_t kWidth = 67, kHeight = 5;  // a width past one run of the HSL loop
    const ColourSettings settings{130, 80, 140, 90};
    for (uint32_t bytesPerPixel : {3u, 4u}) {
        std::mt19937 random(7);
        const uint32_t pitch = kWidth * bytesPerPixel + 9;
        std::vector<uint8_t> picture = padded(kWidth, kHeight, bytesPerPixel, pitch, random);
        const std::vector<uint8_t> original = picture;
        ASSERT_TRUE(ColourAdjuster(settings).apply(
            {picture.data(), kWidth, kHeight, bytesPerPixel, pitch}));
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const size_t at = y * pitch + x * bytesPerPixel;
                // Each pixel as the pixel alone: brightness and contrast per channel, then HSL.
                int bgr[3];
                for (int c = 0; c < 3; ++c)
                    bgr[c] = contrastOf(brightnessOf(original[at + size_t(c)], 130), 80);
                const auto textbook = textbookHsl(bgr[0], bgr[1], bgr[2], 140, 90);
                for (int c = 0; c < 3; ++c)
                    EXPECT_PRED2(isNearest, picture[at + size_t(c)], textbook[size_t(c)])
                        << "pixel " << x << "," << y;
                if (bytesPerPixel == 4) {
                    EXPECT_EQ(picture[at + 3], 0xA5);
                }
            }
            for (uint32_t i = kWidth * bytesPerPixel; i < pitch; ++i)
                ASSERT_EQ(picture[y * pitch + i], 0xCD) << "padding of row " << y;
        }
    }
}

TEST(ColourAdjust, LayoutsItCannotAdjustAreRefusedUntouched) {
    std::vector<uint8_t> picture(64, 0x40);
    const ColourAdjuster adjuster({150, 100, 100, 100});
    EXPECT_FALSE(adjuster.apply({picture.data(), 4, 2, 2, 8}));   // 2 bytes per pixel
    EXPECT_FALSE(adjuster.apply({picture.data(), 4, 2, 4, 15}));  // rows shorter than a row
    EXPECT_FALSE(adjuster.apply({nullptr, 4, 2, 3, 12}));         // no pixels
    EXPECT_TRUE(adjuster.apply({picture.data(), 0, 0, 3, 0}));    // nothing to do
    EXPECT_EQ(picture, std::vector<uint8_t>(64, 0x40));
}

TEST(ColourAdjust, SettingsOutsideTheRangeAreBroughtToItsEnds) {
    ColourAdjuster adjuster({0, 1000, -5, 201});
    EXPECT_EQ(adjuster.settings(), (ColourSettings{0, 200, 0, 200}));
    EXPECT_EQ(brightnessOf(0, 5000), 254);
    EXPECT_EQ(contrastOf(0, -3), 128);
}

}  // namespace
}  // namespace kx
