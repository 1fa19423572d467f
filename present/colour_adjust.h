// Colour adjustment of B, G, R pictures: brightness and contrast through one 256-entry table per
// setting, saturation and hue through a per-pixel HSL round trip in which hue scales the hue value.
#pragma once

#include <array>
#include <cstdint>

#include "present/picture_copy.h"

namespace kx {

// Each setting is a percentage from 1 to 200 in the dialog (the arithmetic also takes 0); 100
// leaves the picture unchanged.
constexpr int kColourNeutral = 100;
constexpr int kColourMinimum = 1;
constexpr int kColourMaximum = 200;

struct ColourSettings {
    int brightness = kColourNeutral;
    int contrast = kColourNeutral;
    int saturation = kColourNeutral;
    int hue = kColourNeutral;

    bool operator==(const ColourSettings&) const = default;
    bool isNeutral() const { return *this == ColourSettings{}; }
};

// One channel through brightness `b`: c x b / 100 limited to 255; for b of 101 or more a
// channel of 0 becomes 255 x b / 100 - 256 (1 at 101, 254 at 200), as the player always did.
uint8_t brightnessOf(uint8_t channel, int brightness);
// One channel through contrast `k`: (c - 128) x k / 100 + 128 limited to 0 ... 255.
uint8_t contrastOf(uint8_t channel, int contrast);

// Adjusts pictures by one set of settings. The tables are built when the settings change, so
// one adjuster reused for every picture of a recording allocates and rebuilds nothing.
class ColourAdjuster {
public:
    explicit ColourAdjuster(const ColourSettings& settings = {});

    // Settings outside 0 ... 200 are brought to the nearest end of that range.
    void setSettings(const ColourSettings& settings);
    const ColourSettings& settings() const { return m_settings; }

    // Adjusts `picture` in place: brightness when it is not 100, then contrast when it is not
    // 100, then saturation and hue when saturation is not 100 or hue differs from saturation.
    // The fourth byte of 4-byte pixels and the bytes past each row are left alone. False, with
    // nothing changed, for a picture that is not 3 or 4 bytes per pixel or whose rows are
    // shorter than its width.
    bool apply(const PictureTarget& picture) const;

private:
    void applyTable(uint8_t* row, uint32_t width, uint32_t bytesPerPixel) const;
    void applyHsl(uint8_t* row, uint32_t width, uint32_t bytesPerPixel) const;

    ColourSettings m_settings;
    bool m_useTable = false;
    bool m_useHsl = false;
    double m_hueScale = 1.0;             // hue / 100
    double m_saturationScale = 1.0;      // saturation / 100
    std::array<uint8_t, 256> m_table{};  // brightness then contrast, per channel
};

}  // namespace kx
