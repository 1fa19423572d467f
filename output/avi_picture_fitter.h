// Brings a decoded picture to the size of the AVI export's video format as a 24-bit bottom-up
// bitmap: each direction kept, doubled (sample 2k is sample k, 2k + 1 the average of k and
// k + 1, the last repeating the last sample), or else sampled at the nearest position.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/picture_layout.h"

namespace kx {

class RgbPicture;

class AviPictureFitter {
public:
    // Writes `picture` (laid out as `format` says) into `dib`, a bitmap of width x height with
    // rows of aviBitmapStride(width) bytes, bottom row first. Doubling in height counts rows
    // from the bottom: output row 2r is the r-th row from the bottom, 2r + 1 the byte-wise
    // average of it and the row above. False, with `dib` untouched, for a picture without
    // pixels or layout.
    bool fit(const RgbPicture& picture, PixelFormat format, uint32_t width, uint32_t height,
             uint8_t* dib);

private:
    struct Tap {
        uint32_t a;  // the output is (sample a + sample b) >> 1
        uint32_t b;
    };
    static void buildTaps(uint32_t in, uint32_t out, std::vector<Tap>& taps);

    uint32_t m_inWidth = 0;
    uint32_t m_inHeight = 0;
    uint32_t m_outWidth = 0;
    uint32_t m_outHeight = 0;
    std::vector<Tap> m_columns;
    std::vector<Tap> m_rows;         // counted from the bottom
    std::vector<uint8_t> m_row;      // one upright row of the picture
    std::vector<uint8_t> m_widened;  // every upright row at the output width, top row first
};

}  // namespace kx
