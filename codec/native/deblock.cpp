// Deblocking of a MacroblockPicture. Samples stay signed 16-bit and are not clamped here; the
// colour conversion clamps them.
#include "codec/native/deblock.h"

#include <algorithm>
#include <cstdlib>

#include "codec/video_decoder.h"

namespace kx {
namespace {

constexpr int kBlock = int(MacroblockPicture::kBlockSamples);
enum Block { kY0 = 0, kY1 = 1, kY2 = 2, kY3 = 3, kCb = 4, kCr = 5 };

// Edge between the bottom of `upper` (rows 6 and 7) and the top of `lower` (rows 0 and 1).
void filterHorizontal(int16_t* upper, int16_t* lower, int strength) {
    for (int x = 0; x < 8; ++x) filterEdge(upper[48 + x], upper[56 + x], lower[x], lower[8 + x], strength);
}

// Edge between the right of `left` (columns 6 and 7) and the left of `right` (columns 0 and 1).
void filterVertical(int16_t* left, int16_t* right, int strength) {
    for (int y = 0; y < 8; ++y)
        filterEdge(left[y * 8 + 6], left[y * 8 + 7], right[y * 8], right[y * 8 + 1], strength);
}

}  // namespace

int deblockStrength(int quantiser) {
    if (quantiser < 3) return 1;
    if (quantiser < 5) return 2;
    if (quantiser < 7) return 3;
    if (quantiser < 10) return 4;
    if (quantiser < 12) return 5;
    if (quantiser < 14) return 6;
    return quantiser / 2;
}

void filterEdge(int16_t& s1, int16_t& s2, int16_t& s3, int16_t& s4, int strength) {
    const int d = ((s3 - s2) + ((s1 - s4) >> 2)) >> 1;
    const int magnitude = std::abs(d);
    const int kept = std::max(0, magnitude - std::max(0, 2 * (magnitude - strength)));
    const int d1 = d < 0 ? -kept : kept;
    const int limit = kept / 2;
    const int d2 = std::clamp((s1 - s4) >> 2, -limit, limit);
    s2 = int16_t(s2 + d1);
    s3 = int16_t(s3 - d1);
    s1 = int16_t(s1 - d2);
    s4 = int16_t(s4 + d2);
}

void deblockPicture(MacroblockPicture& picture, const uint8_t* coded, int quantiser) {
    const int strength = deblockStrength(quantiser);
    const uint32_t columns = picture.mbColumns();
    const uint32_t rows = picture.mbRows();
    const auto block = [&](uint32_t mb, int b) { return picture.macroblock(mb) + b * kBlock; };

    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t mb = r * columns + c;
            if (coded[mb]) {
                filterHorizontal(block(mb, kY0), block(mb, kY2), strength);
                filterHorizontal(block(mb, kY1), block(mb, kY3), strength);
            }
            if (r + 1 < rows && (coded[mb] || coded[mb + columns])) {
                const uint32_t below = mb + columns;
                filterHorizontal(block(mb, kY2), block(below, kY0), strength);
                filterHorizontal(block(mb, kY3), block(below, kY1), strength);
                filterHorizontal(block(mb, kCb), block(below, kCb), strength);
                filterHorizontal(block(mb, kCr), block(below, kCr), strength);
            }
        }
    }
    for (uint32_t c = 0; c < columns; ++c) {
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t mb = r * columns + c;
            if (coded[mb]) {
                filterVertical(block(mb, kY0), block(mb, kY1), strength);
                filterVertical(block(mb, kY2), block(mb, kY3), strength);
            }
            if (c + 1 < columns && (coded[mb] || coded[mb + 1])) {
                const uint32_t right = mb + 1;
                filterVertical(block(mb, kY1), block(right, kY0), strength);
                filterVertical(block(mb, kY3), block(right, kY2), strength);
                filterVertical(block(mb, kCb), block(right, kCb), strength);
                filterVertical(block(mb, kCr), block(right, kCr), strength);
            }
        }
    }
}

}  // namespace kx
