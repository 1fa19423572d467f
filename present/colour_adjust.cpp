// Colour adjustment: per-channel tables for brightness and contrast, and the HSL round trip for
// saturation and hue computed in double precision on short runs of pixels the compiler vectorises.
#include "present/colour_adjust.h"

#include <algorithm>
#include <cassert>
#include <cstddef>

namespace kx {
namespace {

// Pixels handled per run of the HSL path: long enough to vectorise, short enough for the stack.
constexpr uint32_t kRun = 64;

// Every exact result of the HSL path is a fraction whose denominator divides 5,100,000, so a
// value that is not exactly half-way lies at least 1.9e-7 from the half; double rounding stays
// far below 1e-9. Adding the slack before truncating rounds exact halves up whatever the
// rounding error, and nothing else differently.
constexpr double kRoundingSlack = 1e-9;

int clampSetting(int value) {
    return std::clamp(value, 0, kColourMaximum);
}

// How much of the chroma one channel receives at position x of the hue circle, with x = 6 x
// (hue + 1/3, hue or hue - 1/3): the usual HSL hue-to-channel step, its argument wrapped once
// into 0 ... 6 (a hue scaled past 1 can stay beyond 6 and then gives 0). The four pieces of the
// step (6t, 1, 4 - 6t, 0) are min and clamp of two lines, which keeps the loop free of branches.
inline double channelShare(double x) {
    x += x < 0.0 ? 6.0 : 0.0;
    x -= x > 6.0 ? 6.0 : 0.0;
    return std::max(0.0, std::min(1.0, std::min(x, 4.0 - x)));
}

// Saturation and hue of `count` pixels given as separate blue, green and red channels, in place.
// In HSL terms, with max, min and sum = max + min of the channels: lightness is sum / 510 and
// the chroma (q - p of the HSL formulas, in channel units) is saturation x 2 x min(l, 1 - l) x
// 255, which is max - min. Scaling the saturation by s / 100 with the limit 1 therefore makes
// the chroma min(d x s / 100, sum, 510 - sum), and each channel comes back as
// p + (q - p) x share = sum / 2 + chroma x (share - 1/2). Lightness is kept.
__attribute__((target_clones("avx2", "default"))) void hslRun(int32_t* __restrict blue,
                                                              int32_t* __restrict green,
                                                              int32_t* __restrict red,
                                                              uint32_t count, double hueScale,
                                                              double saturationScale) {
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t b = blue[i], g = green[i], r = red[i];
        const int32_t high = std::max(r, std::max(g, b));
        const int32_t low = std::min(r, std::min(g, b));
        const int32_t range = high - low;
        const int32_t sum = high + low;
        const double inverse = 1.0 / double(range == 0 ? 1 : range);
        // The six-sector hue times 6, in 0 ... 6; grey pixels take 0 and keep their value.
        double fromRed = double(g - b) * inverse;
        fromRed += fromRed < 0.0 ? 6.0 : 0.0;
        const double fromGreen = 2.0 + double(b - r) * inverse;
        const double fromBlue = 4.0 + double(r - g) * inverse;
        const double hue6 = high == r ? fromRed : (high == g ? fromGreen : fromBlue);
        const double scaled = hue6 * hueScale;
        const double chroma =
            std::min(double(std::min(sum, 510 - sum)), double(range) * saturationScale);
        const double base = double(sum) * 0.5 - chroma * 0.5 + 0.5 + kRoundingSlack;
        red[i] = int32_t(std::min(255.0, base + chroma * channelShare(scaled + 2.0)));
        green[i] = int32_t(std::min(255.0, base + chroma * channelShare(scaled)));
        blue[i] = int32_t(std::min(255.0, base + chroma * channelShare(scaled - 2.0)));
    }
}

}  // namespace

uint8_t brightnessOf(uint8_t channel, int brightness) {
    brightness = clampSetting(brightness);
    const int value = std::min(255, int(channel) * brightness / 100);
    if (brightness >= 101 && value == 0) return uint8_t(255 * brightness / 100 - 256);
    return uint8_t(value);
}

uint8_t contrastOf(uint8_t channel, int contrast) {
    contrast = clampSetting(contrast);
    const int value = (int(channel) - 128) * contrast / 100 + 128;
    return uint8_t(std::clamp(value, 0, 255));
}

ColourAdjuster::ColourAdjuster(const ColourSettings& settings) {
    setSettings(settings);
}

void ColourAdjuster::setSettings(const ColourSettings& settings) {
    const ColourSettings clamped{clampSetting(settings.brightness), clampSetting(settings.contrast),
                                 clampSetting(settings.saturation), clampSetting(settings.hue)};
    m_settings = clamped;
    m_useTable = clamped.brightness != kColourNeutral || clamped.contrast != kColourNeutral;
    m_useHsl = clamped.saturation != kColourNeutral || clamped.hue != clamped.saturation;
    m_hueScale = clamped.hue / 100.0;
    m_saturationScale = clamped.saturation / 100.0;
    for (int channel = 0; channel < 256; ++channel) {
        uint8_t value = uint8_t(channel);
        if (clamped.brightness != kColourNeutral) value = brightnessOf(value, clamped.brightness);
        if (clamped.contrast != kColourNeutral) value = contrastOf(value, clamped.contrast);
        m_table[size_t(channel)] = value;
    }
}

bool ColourAdjuster::apply(const PictureTarget& picture) const {
    const uint32_t bytesPerPixel = picture.bytesPerPixel;
    if (bytesPerPixel != 3 && bytesPerPixel != 4) return false;
    if (size_t(picture.strideBytes) < size_t(picture.width) * bytesPerPixel) return false;
    if (picture.width == 0 || picture.height == 0) return true;
    if (!picture.pixels) return false;
    if (!m_useTable && !m_useHsl) return true;
    // Every pixel is adjusted on its own, so the order of the rows does not matter; each row
    // goes through both steps while it is in the cache.
    for (uint32_t y = 0; y < picture.height; ++y) {
        uint8_t* row = picture.pixels + size_t(y) * picture.strideBytes;
        if (m_useTable) applyTable(row, picture.width, bytesPerPixel);
        if (m_useHsl) applyHsl(row, picture.width, bytesPerPixel);
    }
    return true;
}

void ColourAdjuster::applyTable(uint8_t* row, uint32_t width, uint32_t bytesPerPixel) const {
    if (bytesPerPixel == 3) {
        for (size_t i = 0, end = size_t(width) * 3; i < end; ++i) row[i] = m_table[row[i]];
        return;
    }
    for (uint32_t x = 0; x < width; ++x, row += 4) {
        row[0] = m_table[row[0]];
        row[1] = m_table[row[1]];
        row[2] = m_table[row[2]];
    }
}

void ColourAdjuster::applyHsl(uint8_t* row, uint32_t width, uint32_t bytesPerPixel) const {
    int32_t blue[kRun], green[kRun], red[kRun];
    for (uint32_t start = 0; start < width; start += kRun) {
        const uint32_t count = std::min(kRun, width - start);
        uint8_t* pixels = row + size_t(start) * bytesPerPixel;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* pixel = pixels + size_t(i) * bytesPerPixel;
            blue[i] = pixel[0], green[i] = pixel[1], red[i] = pixel[2];
        }
        hslRun(blue, green, red, count, m_hueScale, m_saturationScale);
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t* pixel = pixels + size_t(i) * bytesPerPixel;
            assert(blue[i] >= 0 && blue[i] <= 255 && green[i] >= 0 && red[i] >= 0);
            pixel[0] = uint8_t(blue[i]), pixel[1] = uint8_t(green[i]), pixel[2] = uint8_t(red[i]);
        }
    }
}

}  // namespace kx
