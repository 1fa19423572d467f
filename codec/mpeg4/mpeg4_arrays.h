// Views of the per-macroblock prediction arrays in block 3 (DC and AC predictors, vectors,
// macroblock kinds, quantisers, patterns), with the block-grid index arithmetic.
#pragma once

#include <cstdint>

#include "codec/mpeg4/mpeg4_state.h"

namespace kx::mpeg4 {

struct Arrays {
    int16_t* dc[3];
    int16_t* ac[3];
    int16_t* motion;  // 2 per luma block: the vectors of the newest anchor
    uint8_t* flags;   // MacroblockFlags of the newest anchor
    uint8_t* quant;
    uint8_t* cbp;
    uint8_t* dir;
    uint8_t* dirty;  // the macroblock's DC/AC entries hold an intra block's values
    int lumaStride, chromaStride, mbWidth;

    Arrays(uint8_t* block3, const ArrayLayout& l)
        : dc{reinterpret_cast<int16_t*>(block3 + l.dcLuma), reinterpret_cast<int16_t*>(block3 + l.dcCb),
             reinterpret_cast<int16_t*>(block3 + l.dcCr)},
          ac{reinterpret_cast<int16_t*>(block3 + l.acLuma), reinterpret_cast<int16_t*>(block3 + l.acCb),
             reinterpret_cast<int16_t*>(block3 + l.acCr)},
          motion(reinterpret_cast<int16_t*>(block3 + l.motion)),
          flags(block3 + l.mbFlags),
          quant(block3 + l.quant),
          cbp(block3 + l.cbp),
          dir(block3 + l.dir),
          dirty(block3 + l.dirty),
          lumaStride(l.lumaStride),
          chromaStride(l.chromaStride),
          mbWidth(l.mbWidth) {}

    int lumaIndex(int mbX, int mbY, int block) const {
        return (2 * mbY + (block >> 1) + 1) * lumaStride + 2 * mbX + (block & 1) + 1;
    }
    int chromaIndex(int mbX, int mbY) const { return (mbY + 1) * chromaStride + mbX + 1; }
    // Plane (0 luma, 1 Cb, 2 Cr), grid index and grid stride of block n (0 to 5).
    int plane(int n) const { return n < 4 ? 0 : n - 3; }
    int index(int mbX, int mbY, int n) const { return n < 4 ? lumaIndex(mbX, mbY, n) : chromaIndex(mbX, mbY); }
    int wrap(int n) const { return n < 4 ? lumaStride : chromaStride; }
    int mb(int mbX, int mbY) const { return mbY * mbWidth + mbX; }
};

}  // namespace kx::mpeg4
