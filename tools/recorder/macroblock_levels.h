// MacroblockLevels: the quantised blocks of one 4:2:0 macroblock as the native and legacy
// encoders code them, the places of its six blocks, and the quantisation of a macroblock.
#pragma once

#include <array>
#include <cstdint>

#include "tools/recorder/yuv_image.h"

namespace kx::native_encoding {

struct MacroblockLevels {
    alignas(16) std::array<std::array<int16_t, 64>, 6> levels;  // row-major
    std::array<int, 6> dc{};                                    // intra only: 0..254
    unsigned pattern = 0;  // coded blocks: bit 5 Y0 .. bit 0 Cr
};

// The bit of block 0..5 (Y0, Y1, Y2, Y3, Cb, Cr) in MacroblockLevels::pattern.
constexpr unsigned patternBit(int block) {
    return 1u << (5 - block);
}

// Where a block lies: its plane (0 luma, 1 Cb, 2 Cr) and its top left sample relative to the
// macroblock's top left sample in that plane.
struct BlockPlace {
    int plane;
    int x;
    int y;
};
inline constexpr std::array<BlockPlace, 6> kBlockPlaces{
    {{0, 0, 0}, {0, 8, 0}, {0, 0, 8}, {0, 8, 8}, {1, 0, 0}, {2, 0, 0}}};

// A macroblock's width and height in samples of `plane`.
constexpr int macroblockSize(int plane) {
    return plane == 0 ? 16 : 8;
}

// The view of macroblock (column, row) of `picture`.
YuvPictureView macroblockAt(const YuvPictureView& picture, int column, int row);

// Quantises the six blocks of the macroblock whose planes start at `source`: DCs, levels and
// pattern.
void quantiseIntraMacroblock(const YuvPictureView& source, int quantiser, MacroblockLevels& out);
// Quantises the six blocks of the residual source - prediction (both views start at the
// macroblock) with an encoder's inter dead zone: levels and pattern.
void quantiseInterMacroblock(const YuvPictureView& source, const YuvPictureView& prediction,
                             int quantiser, float deadZone, MacroblockLevels& out);

}  // namespace kx::native_encoding
