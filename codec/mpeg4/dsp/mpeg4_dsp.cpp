// The MPEG-4 engine's sample kernels, as plain loops over small fixed-size blocks.
#include "codec/mpeg4/dsp/mpeg4_dsp.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kx::mpeg4 {
namespace {

inline uint8_t clip8(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The row/column integer inverse DCT: cosines scaled by 2^14 * sqrt(2), rows rounded at 11 bits,
// columns at 20. A row with only its DC term is widened by a shift, which is exact for it.
constexpr int kW1 = 22725, kW2 = 21407, kW3 = 19266, kW4 = 16383, kW5 = 12873, kW6 = 8867, kW7 = 4520;
constexpr int kRowShift = 11;
constexpr int kColumnShift = 20;

void inverseRow(int16_t* row) {
    if (!(row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7])) {
        const int16_t dc = int16_t(uint16_t(row[0]) << 3);
        for (int i = 0; i < 8; ++i) row[i] = dc;
        return;
    }
    int a0 = kW4 * row[0] + (1 << (kRowShift - 1));
    int a1 = a0, a2 = a0, a3 = a0;
    a0 += kW2 * row[2];
    a1 += kW6 * row[2];
    a2 -= kW6 * row[2];
    a3 -= kW2 * row[2];
    // The odd terms are 16-bit products summed in 32 bits.
    int b0 = kW1 * row[1] + kW3 * row[3];
    int b1 = kW3 * row[1] - kW7 * row[3];
    int b2 = kW5 * row[1] - kW1 * row[3];
    int b3 = kW7 * row[1] - kW5 * row[3];
    a0 += kW4 * row[4] + kW6 * row[6];
    a1 += -kW4 * row[4] - kW2 * row[6];
    a2 += -kW4 * row[4] + kW2 * row[6];
    a3 += kW4 * row[4] - kW6 * row[6];
    b0 += kW5 * row[5] + kW7 * row[7];
    b1 += -kW1 * row[5] - kW5 * row[7];
    b2 += kW7 * row[5] + kW3 * row[7];
    b3 += kW3 * row[5] - kW1 * row[7];
    row[0] = int16_t((a0 + b0) >> kRowShift);
    row[7] = int16_t((a0 - b0) >> kRowShift);
    row[1] = int16_t((a1 + b1) >> kRowShift);
    row[6] = int16_t((a1 - b1) >> kRowShift);
    row[2] = int16_t((a2 + b2) >> kRowShift);
    row[5] = int16_t((a2 - b2) >> kRowShift);
    row[3] = int16_t((a3 + b3) >> kRowShift);
    row[4] = int16_t((a3 - b3) >> kRowShift);
}

// One column of the row-transformed block into eight samples (not clamped).
void inverseColumn(const int16_t* column, int* out) {
    int a0 = kW4 * (column[0] + ((1 << (kColumnShift - 1)) / kW4));
    int a1 = a0, a2 = a0, a3 = a0;
    a0 += kW2 * column[16];
    a1 += kW6 * column[16];
    a2 -= kW6 * column[16];
    a3 -= kW2 * column[16];
    int b0 = kW1 * column[8] + kW3 * column[24];
    int b1 = kW3 * column[8] - kW7 * column[24];
    int b2 = kW5 * column[8] - kW1 * column[24];
    int b3 = kW7 * column[8] - kW5 * column[24];
    a0 += kW4 * column[32] + kW6 * column[48];
    a1 += -kW4 * column[32] - kW2 * column[48];
    a2 += -kW4 * column[32] + kW2 * column[48];
    a3 += kW4 * column[32] - kW6 * column[48];
    b0 += kW5 * column[40] + kW7 * column[56];
    b1 += -kW1 * column[40] - kW5 * column[56];
    b2 += kW7 * column[40] + kW3 * column[56];
    b3 += kW3 * column[40] - kW1 * column[56];
    out[0] = (a0 + b0) >> kColumnShift;
    out[1] = (a1 + b1) >> kColumnShift;
    out[2] = (a2 + b2) >> kColumnShift;
    out[3] = (a3 + b3) >> kColumnShift;
    out[4] = (a3 - b3) >> kColumnShift;
    out[5] = (a2 - b2) >> kColumnShift;
    out[6] = (a1 - b1) >> kColumnShift;
    out[7] = (a0 - b0) >> kColumnShift;
}

template <bool Add>
void inverseDct(uint8_t* dst, ptrdiff_t stride, int16_t* block) {
    for (int i = 0; i < 8; ++i) inverseRow(block + 8 * i);
    for (int x = 0; x < 8; ++x) {
        int samples[8];
        inverseColumn(block + x, samples);
        for (int y = 0; y < 8; ++y) {
            uint8_t& d = dst[y * stride + x];
            d = clip8(Add ? d + samples[y] : samples[y]);
        }
    }
}

// Quarter-sample interpolation. The half-sample filter runs over one size x size block, with
// the samples past the block's edges mirrored back into it (the block plus one column/row is
// read from the reference).
constexpr int kMaxSide = 17;

template <int Step>
inline int lowpass(const uint8_t* p, int i, int size) {
    auto at = [&](int k) { return int(p[(k < 0 ? -1 - k : k > size ? 2 * size + 1 - k : k) * Step]); };
    return (at(i) + at(i + 1)) * 20 - (at(i - 1) + at(i + 2)) * 6 + (at(i - 2) + at(i + 3)) * 3 - (at(i - 3) + at(i + 4));
}

void horizontalHalf(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int size, int rows, int rounding) {
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < size; ++x)
            dst[y * dstStride + x] = clip8((lowpass<1>(src + y * srcStride, x, size) + 16 - rounding) >> 5);
}

void verticalHalf(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int size, int rounding) {
    for (int x = 0; x < size; ++x) {
        // lowpass walks the column by a stride known only here: gather it first.
        uint8_t column[kMaxSide];
        for (int y = 0; y <= size; ++y) column[y] = src[y * srcStride + x];
        for (int y = 0; y < size; ++y) dst[y * dstStride + x] = clip8((lowpass<1>(column, y, size) + 16 - rounding) >> 5);
    }
}

void mean(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* a, int aStride, const uint8_t* b, int bStride, int size,
          int rows, int rounding) {
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < size; ++x)
            dst[y * dstStride + x] = uint8_t((a[y * aStride + x] + b[y * bStride + x] + 1 - rounding) >> 1);
}

void copy(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, int srcStride, int size) {
    for (int y = 0; y < size; ++y) std::memcpy(dst + y * dstStride, src + y * srcStride, size_t(size));
}

// Post-processing. The deblocking filter's strength by quantiser (1 to 31): small steps across a
// block edge are smoothed, steps larger than twice the strength are taken for real edges.
constexpr uint8_t kDeblockStrength[32] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 7,
                                          7, 8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 12, 12, 12};

inline int upDownRamp(int d, int strength) {
    const int magnitude = std::abs(d);
    const int kept = std::max(0, magnitude - std::max(0, 2 * (magnitude - strength)));
    return d < 0 ? -kept : kept;
}

// Filters the four samples a, b | c, d across one edge (`step` apart) with the strength given.
inline void filterEdge(uint8_t* c, ptrdiff_t step, int strength) {
    const int a = c[-2 * step], b = c[-step], cc = c[0], d = c[step];
    const int delta = (a - 4 * b + 4 * cc - d) / 8;
    const int d1 = upDownRamp(delta, strength);
    const int limit = std::abs(d1) / 2;
    const int d2 = std::clamp((a - d) / 4, -limit, limit);
    c[-2 * step] = clip8(a - d2);
    c[-step] = clip8(b + d1);
    c[0] = clip8(cc - d1);
    c[step] = clip8(d + d2);
}

// Quantiser of the macroblock holding sample (x, y) of a plane whose macroblocks are `mbSide`.
inline int quantiserAt(const uint8_t* quantisers, int mbStride, int x, int y, int mbSide) {
    return std::clamp(int(quantisers[(y / mbSide) * mbStride + x / mbSide]), 1, 31);
}

void deblockAcrossHorizontalEdges(const Plane& p, const uint8_t* q, int mbStride, int mbSide) {
    for (int y = 8; y + 1 < p.height; y += 8)
        for (int x = 0; x < p.width; ++x)
            filterEdge(p.data + y * p.stride + x, p.stride, kDeblockStrength[quantiserAt(q, mbStride, x, y, mbSide)]);
}

void deblockAcrossVerticalEdges(const Plane& p, const uint8_t* q, int mbStride, int mbSide) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 8; x + 1 < p.width; x += 8)
            filterEdge(p.data + y * p.stride + x, 1, kDeblockStrength[quantiserAt(q, mbStride, x, y, mbSide)]);
}

// Deringing inside each 8x8 block: samples whose 3x3 neighbourhood lies wholly on one side of the
// block's mid level (flat areas next to an edge) are smoothed, by at most half the quantiser, so
// ripples beside edges fade while the edges themselves stay.
void dering(const Plane& p, const uint8_t* q, int mbStride, int mbSide) {
    uint8_t source[10 * 10];
    for (int by = 0; by + 8 <= p.height; by += 8) {
        for (int bx = 0; bx + 8 <= p.width; bx += 8) {
            int low = 255, high = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    const int v = p.data[(by + y) * p.stride + bx + x];
                    low = std::min(low, v);
                    high = std::max(high, v);
                }
            if (high - low < 16) continue;  // no edge in the block, nothing rings
            const int threshold = (high + low + 1) / 2;
            const int limit = std::max(1, quantiserAt(q, mbStride, bx, by, mbSide) / 2);
            for (int y = -1; y <= 8; ++y)
                for (int x = -1; x <= 8; ++x) {
                    const int sy = std::clamp(by + y, 0, p.height - 1), sx = std::clamp(bx + x, 0, p.width - 1);
                    source[(y + 1) * 10 + x + 1] = p.data[sy * p.stride + sx];
                }
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    int above = 0, sum = 0;
                    static constexpr int kWeight[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
                    for (int dy = 0; dy < 3; ++dy)
                        for (int dx = 0; dx < 3; ++dx) {
                            const int v = source[(y + dy) * 10 + x + dx];
                            above += v >= threshold;
                            sum += kWeight[dy][dx] * v;
                        }
                    if (above != 0 && above != 9) continue;
                    const int original = source[(y + 1) * 10 + x + 1];
                    p.data[(by + y) * p.stride + bx + x] =
                        uint8_t(std::clamp((sum + 8) >> 4, original - limit, original + limit));
                }
        }
    }
}

}  // namespace

void idctPut(IdctKind, uint8_t* dst, ptrdiff_t dstStride, int16_t* block) {
    inverseDct<false>(dst, dstStride, block);
}

void idctAdd(IdctKind, uint8_t* dst, ptrdiff_t dstStride, int16_t* block) {
    inverseDct<true>(dst, dstStride, block);
}

void predictHalf(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int width, int height,
                 int halfX, int halfY, int rounding) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = src + y * srcStride;
        const uint8_t* below = p + srcStride;
        uint8_t* d = dst + y * dstStride;
        if (halfX && halfY) {
            for (int x = 0; x < width; ++x) d[x] = uint8_t((p[x] + p[x + 1] + below[x] + below[x + 1] + 2 - rounding) >> 2);
        } else if (halfX) {
            for (int x = 0; x < width; ++x) d[x] = uint8_t((p[x] + p[x + 1] + 1 - rounding) >> 1);
        } else if (halfY) {
            for (int x = 0; x < width; ++x) d[x] = uint8_t((p[x] + below[x] + 1 - rounding) >> 1);
        } else {
            std::memcpy(d, p, size_t(width));
        }
    }
}

void predictQuarter(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int size, int quarterX,
                    int quarterY, int rounding) {
    // The block and one more column and row, so the mirrored filter never reads further.
    uint8_t full[kMaxSide * kMaxSide];
    uint8_t halfH[kMaxSide * 16];
    uint8_t halfV[16 * 16];
    for (int y = 0; y <= size; ++y) std::memcpy(full + y * kMaxSide, src + y * srcStride, size_t(size) + 1);
    const int r = rounding;
    if (quarterY == 0) {
        if (quarterX == 0) return copy(dst, dstStride, full, kMaxSide, size);
        horizontalHalf(halfH, 16, full, kMaxSide, size, size, r);
        if (quarterX == 2) return copy(dst, dstStride, halfH, 16, size);
        return mean(dst, dstStride, full + (quarterX == 3), kMaxSide, halfH, 16, size, size, r);
    }
    if (quarterX == 0) {
        verticalHalf(halfV, 16, full, kMaxSide, size, r);
        if (quarterY == 2) return copy(dst, dstStride, halfV, 16, size);
        return mean(dst, dstStride, full + (quarterY == 3) * kMaxSide, kMaxSide, halfV, 16, size, size, r);
    }
    // Both directions: the horizontal stage (at the quarter position when X is odd) over one more
    // row, then the vertical half-sample filter over it.
    horizontalHalf(halfH, 16, full, kMaxSide, size, size + 1, r);
    if (quarterX != 2) mean(halfH, 16, halfH, 16, full + (quarterX == 3), kMaxSide, size, size + 1, r);
    verticalHalf(halfV, 16, halfH, 16, size, r);
    if (quarterY == 2) return copy(dst, dstStride, halfV, 16, size);
    mean(dst, dstStride, halfH + (quarterY == 3) * 16, 16, halfV, 16, size, size, r);
}

void averageInto(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* other, ptrdiff_t otherStride, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            dst[y * dstStride + x] = uint8_t((dst[y * dstStride + x] + other[y * otherStride + x] + 1) >> 1);
}

void extendBorders(uint8_t* plane, ptrdiff_t stride, int width, int height, int border) {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = plane + y * stride;
        std::memset(row - border, row[0], size_t(border));
        std::memset(row + width, row[width - 1], size_t(border));
    }
    const size_t span = size_t(width) + 2 * size_t(border);
    for (int y = 1; y <= border; ++y) {
        std::memcpy(plane - y * stride - border, plane - border, span);
        std::memcpy(plane + (height - 1 + y) * stride - border, plane + (height - 1) * stride - border, span);
    }
}

void postProcess(const Plane in[3], const Plane out[3], const uint8_t* quantisers, int mbStride, int mask) {
    for (int i = 0; i < 3; ++i)
        for (int y = 0; y < in[i].height; ++y)
            std::memcpy(out[i].data + y * out[i].stride, in[i].data + y * in[i].stride, size_t(in[i].width));
    if (!quantisers) return;
    // Bit 8 of the mask names no filter and is ignored.
    if (mask & kDeblockLumaHorizontal) deblockAcrossHorizontalEdges(out[0], quantisers, mbStride, 16);
    if (mask & kDeblockLumaVertical) deblockAcrossVerticalEdges(out[0], quantisers, mbStride, 16);
    if (mask & kDeringLuma) dering(out[0], quantisers, mbStride, 16);
    for (int i = 1; i < 3; ++i) {
        if (mask & kDeblockChroma) {
            deblockAcrossHorizontalEdges(out[i], quantisers, mbStride, 8);
            deblockAcrossVerticalEdges(out[i], quantisers, mbStride, 8);
        }
        if (mask & kDeringChroma) dering(out[i], quantisers, mbStride, 8);
    }
}

}  // namespace kx::mpeg4
