// The sample-level kernels of the MPEG-4 video engine: inverse DCTs, half- and quarter-sample
// motion compensation, bidirectional averaging, border extension and the post-processing
// filters. The engine's bitstream layer calls only these for pixel work, so each can be made
// fast (SSE2 where it pays) without touching the syntax code. Every SIMD path gives the same
// samples as the plain loops.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx::mpeg4 {

// The inverse DCT of a stream. Simple is the row/column integer transform libavcodec uses by
// default (IEEE 1180 accurate); our engine decodes bit-exactly with libavcodec set to it. Xvid
// names streams carrying an XviD build number, for which libavcodec switches to XviD's own
// transform: those are decoded with the Simple transform as well for now (both are IEEE 1180
// accurate, so the pictures differ by at most one level in a few samples).
enum class IdctKind { Simple, Xvid };

// block: 64 coefficients in natural (row-major) order, dequantised, in the range -2048..2047.
// The block is used as scratch and left undefined.
// Intra: writes the clamped samples to dst (8 rows of 8 bytes at dstStride).
void idctPut(IdctKind kind, uint8_t* dst, ptrdiff_t dstStride, int16_t* block);
// Inter: adds the residual samples to the prediction already in dst, clamping to 0..255.
void idctAdd(IdctKind kind, uint8_t* dst, ptrdiff_t dstStride, int16_t* block);

// Half-sample prediction of a width x height block (width and height 8 or 16). `src` points at the integer
// sample position in a reference plane whose border lets it read one sample right and one row
// below the block. halfX/halfY are 0 or 1; rounding is the picture's rounding type (0 or 1):
//   one half-sample direction: (a + b + 1 - rounding) >> 1
//   both directions:           (a + b + c + d + 2 - rounding) >> 2
void predictHalf(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                 int width, int height, int halfX, int halfY, int rounding);

// Quarter-sample luma prediction of a size x size block (size 8 or 16), as ISO/IEC 14496-2
// defines it: the 8-tap half-sample filter (coefficients 160, -48, 24, -8 over 256) applied
// within the block with the block's edge samples mirrored, quarter positions as the rounded
// mean of the two nearest integer/half samples, with the picture's rounding type. `src` points
// at the integer sample position; quarterX/quarterY are 0..3. The result equals libavcodec's
// put_qpel / put_no_rnd_qpel functions for the same block, which is what encoders drift-check
// against.
void predictQuarter(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride,
                    int size, int quarterX, int quarterY, int rounding);

// Bidirectional prediction: dst = (dst + other + 1) >> 1, for a width x height block.
void averageInto(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* other, ptrdiff_t otherStride,
                 int width, int height);

// Repeats the edge samples of a width x height plane into `border` samples on every side
// (corners take the corner sample). `plane` points at the top-left picture sample.
void extendBorders(uint8_t* plane, ptrdiff_t stride, int width, int height, int border);

// One plane of a picture, for the post-processing filters.
struct Plane {
    uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

// Post-processing filter mask bits: which filters postProcess runs.
enum PostFilter : int {
    kDeblockLumaHorizontal = 1,   // across the horizontal 8x8 block edges of luma
    kDeblockLumaVertical = 2,     // across the vertical 8x8 block edges of luma
    kDeringLuma = 4,
    kDeblockChroma = 16,          // both directions, both chroma planes
    kDeringChroma = 32,
};

// Filters the decoded picture (planes y, cb, cr of a 4:2:0 picture) into `out` (same sizes)
// with the filters of `mask`; the strength of each filter follows the quantiser of the
// macroblock it touches (quantisers: one byte per macroblock, row-major, mbStride per row).
// mask 0 copies the picture.
void postProcess(const Plane in[3], const Plane out[3], const uint8_t* quantisers, int mbStride, int mask);

}  // namespace kx::mpeg4
