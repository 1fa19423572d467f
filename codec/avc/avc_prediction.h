// The avc codec's sample arithmetic, shared by the decoder and the recorder's encoder so that
// both reconstruct the same samples: 4x4 luma and 8x8 chroma intra prediction, the 4x4
// inverse transform, inter prediction from bordered reference planes, and the edge filters.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec/kernel_path.h"

namespace kx::avc {

// Neighbours of a 4x4 luma block: [0] the sample above-left, [1..8] the eight samples above
// (four above, four above-right), [9..12] the four samples to the left. Unavailable samples
// are filled before prediction (see gatherLumaNeighbours).
struct LumaNeighbours {
    uint8_t samples[13];
    bool above = false;
    bool left = false;
};

// The nine 4x4 modes of H.264 in its numbering, written into `out` (4 rows of 4).
void predictLuma4x4(int mode, const LumaNeighbours& n, uint8_t* out, ptrdiff_t stride);

// Neighbours of an 8x8 chroma block: the eight samples above, the eight to the left and the
// one above-left, with their availability.
struct ChromaNeighbours {
    uint8_t above[8];
    uint8_t left[8];
    uint8_t aboveLeft = 128;
    bool hasAbove = false;
    bool hasLeft = false;
};

// Chroma modes 0 DC, 1 horizontal, 2 vertical, 3 plane, written into `out` (8 rows of 8).
void predictChroma8x8(int mode, const ChromaNeighbours& n, uint8_t* out, ptrdiff_t stride);

// A level times its scale. Conforming streams keep coefficients within 16 bits; a damaged one
// is held there so that the transform's sums cannot overflow.
inline int32_t dequantise(int32_t level, int32_t scale) {
    return int32_t(std::clamp<int64_t>(int64_t(level) * scale, -32768, 32767));
}

// Adds the inverse 4x4 integer transform of the dequantised coefficients (raster order) to
// the 4x4 block at `block`, clamping to 0..255.
void addInverseTransform(const int32_t* coefficients, uint8_t* block, ptrdiff_t stride);

// Chroma DC: the 2x2 Hadamard transform of the four DC levels (raster order) times the DC
// scale, written over `levels`.
void inverseChromaDc(int32_t* dc, int32_t dcScale);

// Luma 16x16 inter prediction at integer position `source` (inside a bordered plane) with
// half flags hx, hy in -1..1: the six-tap filter along the row when hx is nonzero, down the
// column when only hy is, a copy when neither is.
void predictLumaInter(const uint8_t* source, ptrdiff_t stride, int hx, int hy, uint8_t* out,
                      ptrdiff_t outStride,
                      KernelPath path = KernelPath::Plain);
// Chroma 8x8 inter prediction at `source` (already moved one sample left or up for a negative
// flag) with bilinear half steps where cx or cy is nonzero.
void predictChromaInter(const uint8_t* source, ptrdiff_t stride, bool halfX, bool halfY,
                        uint8_t* out, ptrdiff_t outStride);
// The rounded average (p + q + 1) >> 1 of two size x size blocks.
void averageBlocks(const uint8_t* p, const uint8_t* q, ptrdiff_t stride, int size, uint8_t* out,
                   ptrdiff_t outStride);

// Thresholds of one picture's loop filter.
struct FilterThresholds {
    int alpha = 0;
    int beta = 0;
    const uint8_t* tc0 = nullptr;  // three values, for strengths 1 to 3
};
FilterThresholds filterThresholds(int quantiser);

// Filters one edge of `length` samples: `pixel` is the first q0 sample, `across` the step
// from p0 to q0 (1 for a vertical edge, the stride for a horizontal one), `along` the step to
// the next sample of the edge; strengths[i] applies to samples 4i..4i+3 of a luma edge and
// 2i..2i+1 of a chroma edge.
void filterLumaEdge(uint8_t* pixel, ptrdiff_t across, ptrdiff_t along, const uint8_t strengths[4],
                    const FilterThresholds& t);
void filterChromaEdge(uint8_t* pixel, ptrdiff_t across, ptrdiff_t along, const uint8_t strengths[4],
                      const FilterThresholds& t);
// filterLumaEdge of a horizontal edge (across = `stride`, along = 1): on the Sse2 path sixteen
// columns at once in 16-bit lanes, the same bytes as the plain filter.
void filterLumaRowEdge(uint8_t* pixel, ptrdiff_t stride, const uint8_t strengths[4],
                       const FilterThresholds& t, KernelPath path);
// filterLumaEdge of a vertical edge (across = 1, along = `stride`): on the Sse2 path the
// sixteen rows' eight samples around the edge are transposed into lanes, filtered as a
// horizontal edge is, and transposed back; the same bytes as the plain filter.
void filterLumaColumnEdge(uint8_t* pixel, ptrdiff_t stride, const uint8_t strengths[4],
                          const FilterThresholds& t, KernelPath path);

}  // namespace kx::avc
