// The avc codec's intra and inter prediction, inverse transform and edge filters.
#include "codec/avc/avc_prediction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/avc/avc_tables.h"

namespace kx::avc {
namespace {

inline uint8_t clip255(int v) {
    return uint8_t(std::min(std::max(v, 0), 255));
}
inline int clip3(int low, int high, int v) {
    return v < low ? low : v > high ? high : v;
}

// H.264's p[x, -1] for x = -1..7 and p[-1, y] for y = -1..3 over the neighbour array.
struct Neighbours4x4 {
    const uint8_t* s;
    int above(int x) const { return s[1 + x]; }  // x = -1 is the corner
    int left(int y) const { return y < 0 ? s[0] : s[9 + y]; }
};

int lumaSample(int mode, const Neighbours4x4& p, int x, int y) {
    switch (mode) {
        case 3:  // diagonal down-left
            if (x == 3 && y == 3) return (p.above(6) + 3 * p.above(7) + 2) >> 2;
            return (p.above(x + y) + 2 * p.above(x + y + 1) + p.above(x + y + 2) + 2) >> 2;
        case 4:  // diagonal down-right
            if (x > y)
                return (p.above(x - y - 2) + 2 * p.above(x - y - 1) + p.above(x - y) + 2) >> 2;
            if (x < y) return (p.left(y - x - 2) + 2 * p.left(y - x - 1) + p.left(y - x) + 2) >> 2;
            return (p.above(0) + 2 * p.above(-1) + p.left(0) + 2) >> 2;
        case 5: {  // vertical-right
            const int z = 2 * x - y, h = y >> 1;
            if (z >= 0 && (z & 1) == 0) return (p.above(x - h - 1) + p.above(x - h) + 1) >> 1;
            if (z > 0)
                return (p.above(x - h - 2) + 2 * p.above(x - h - 1) + p.above(x - h) + 2) >> 2;
            if (z == -1) return (p.left(0) + 2 * p.above(-1) + p.above(0) + 2) >> 2;
            return (p.left(y - 1) + 2 * p.left(y - 2) + p.left(y - 3) + 2) >> 2;
        }
        case 6: {  // horizontal-down
            const int z = 2 * y - x, h = x >> 1;
            if (z >= 0 && (z & 1) == 0) return (p.left(y - h - 1) + p.left(y - h) + 1) >> 1;
            if (z > 0) return (p.left(y - h - 2) + 2 * p.left(y - h - 1) + p.left(y - h) + 2) >> 2;
            if (z == -1) return (p.left(0) + 2 * p.above(-1) + p.above(0) + 2) >> 2;
            return (p.above(x - 1) + 2 * p.above(x - 2) + p.above(x - 3) + 2) >> 2;
        }
        case 7: {  // vertical-left
            const int k = x + (y >> 1);
            if ((y & 1) == 0) return (p.above(k) + p.above(k + 1) + 1) >> 1;
            return (p.above(k) + 2 * p.above(k + 1) + p.above(k + 2) + 2) >> 2;
        }
        default: {  // 8, horizontal-up
            const int z = x + 2 * y, k = y + (x >> 1);
            if (z > 5) return p.left(3);
            if (z == 5) return (p.left(2) + 3 * p.left(3) + 2) >> 2;
            if ((z & 1) == 0) return (p.left(k) + p.left(k + 1) + 1) >> 1;
            return (p.left(k) + 2 * p.left(k + 1) + p.left(k + 2) + 2) >> 2;
        }
    }
}

}  // namespace

void predictLuma4x4(int mode, const LumaNeighbours& n, uint8_t* out, ptrdiff_t stride) {
    const uint8_t* above = n.samples + 1;
    const uint8_t* left = n.samples + 9;
    switch (mode) {
        case 0:
            for (int y = 0; y < 4; ++y) std::memcpy(out + y * stride, above, 4);
            return;
        case 1:
            for (int y = 0; y < 4; ++y) std::memset(out + y * stride, left[y], 4);
            return;
        case 2: {
            int dc = 128;
            const int sumAbove = above[0] + above[1] + above[2] + above[3];
            const int sumLeft = left[0] + left[1] + left[2] + left[3];
            if (n.above && n.left)
                dc = (sumAbove + sumLeft + 4) >> 3;
            else if (n.left)
                dc = (sumLeft + 2) >> 2;
            else if (n.above)
                dc = (sumAbove + 2) >> 2;
            for (int y = 0; y < 4; ++y) std::memset(out + y * stride, dc, 4);
            return;
        }
        default: {
            const Neighbours4x4 p{n.samples};
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    out[y * stride + x] = uint8_t(lumaSample(mode, p, x, y));
        }
    }
}

void predictChroma8x8(int mode, const ChromaNeighbours& n, uint8_t* out, ptrdiff_t stride) {
    switch (mode) {
        case 0: {
            const auto sum4 = [](const uint8_t* s) { return s[0] + s[1] + s[2] + s[3]; };
            const int a0 = sum4(n.above), a1 = sum4(n.above + 4), l0 = sum4(n.left),
                      l1 = sum4(n.left + 4);
            int dc[4] = {128, 128, 128,
                         128};  // quadrants: top-left, top-right, bottom-left, bottom-right
            if (n.hasAbove && n.hasLeft) {
                dc[0] = (a0 + l0 + 4) >> 3;
                dc[1] = (a1 + 2) >> 2;
                dc[2] = (l1 + 2) >> 2;
                dc[3] = (a1 + l1 + 4) >> 3;
            } else if (n.hasAbove) {
                dc[0] = dc[2] = (a0 + 2) >> 2;
                dc[1] = dc[3] = (a1 + 2) >> 2;
            } else if (n.hasLeft) {
                dc[0] = dc[1] = (l0 + 2) >> 2;
                dc[2] = dc[3] = (l1 + 2) >> 2;
            }
            for (int y = 0; y < 8; ++y) {
                std::memset(out + y * stride, dc[(y >> 2) * 2], 4);
                std::memset(out + y * stride + 4, dc[(y >> 2) * 2 + 1], 4);
            }
            return;
        }
        case 1:
            for (int y = 0; y < 8; ++y) std::memset(out + y * stride, n.left[y], 8);
            return;
        case 2:
            for (int y = 0; y < 8; ++y) std::memcpy(out + y * stride, n.above, 8);
            return;
        default: {
            const auto above = [&n](int x) { return x < 0 ? int(n.aboveLeft) : int(n.above[x]); };
            const auto left = [&n](int y) { return y < 0 ? int(n.aboveLeft) : int(n.left[y]); };
            int h = 0, v = 0;
            for (int i = 0; i < 4; ++i) {
                h += (i + 1) * (above(4 + i) - above(2 - i));
                v += (i + 1) * (left(4 + i) - left(2 - i));
            }
            const int a = 16 * (left(7) + above(7));
            const int b = (17 * h + 16) >> 5;
            const int c = (17 * v + 16) >> 5;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    out[y * stride + x] = clip255((a + b * (x - 3) + c * (y - 3) + 16) >> 5);
        }
    }
}

void addInverseTransform(const int32_t* c, uint8_t* block, ptrdiff_t stride) {
    int32_t t[16];
    for (int i = 0; i < 4; ++i) {  // rows
        const int32_t* d = c + 4 * i;
        const int32_t e0 = d[0] + d[2], e1 = d[0] - d[2];
        const int32_t e2 = (d[1] >> 1) - d[3], e3 = d[1] + (d[3] >> 1);
        t[4 * i] = e0 + e3;
        t[4 * i + 1] = e1 + e2;
        t[4 * i + 2] = e1 - e2;
        t[4 * i + 3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {  // columns
        const int32_t f0 = t[j], f1 = t[4 + j], f2 = t[8 + j], f3 = t[12 + j];
        const int32_t g0 = f0 + f2, g1 = f0 - f2, g2 = (f1 >> 1) - f3, g3 = f1 + (f3 >> 1);
        const int32_t r[4] = {g0 + g3, g1 + g2, g1 - g2, g0 - g3};
        for (int i = 0; i < 4; ++i) {
            uint8_t& sample = block[i * stride + j];
            sample = clip255(sample + ((r[i] + 32) >> 6));
        }
    }
}

void inverseChromaDc(int32_t* dc, int32_t dcScale) {
    const int32_t c0 = dc[0], c1 = dc[1], c2 = dc[2], c3 = dc[3];
    dc[0] = (c0 + c1 + c2 + c3) * dcScale;
    dc[1] = (c0 - c1 + c2 - c3) * dcScale;
    dc[2] = (c0 + c1 - c2 - c3) * dcScale;
    dc[3] = (c0 - c1 - c2 + c3) * dcScale;
}

namespace {

inline int sixTap(const uint8_t* p, ptrdiff_t step) {
    return p[0] - 5 * p[step] + 20 * p[2 * step] + 20 * p[3 * step] - 5 * p[4 * step] + p[5 * step];
}

}  // namespace

void predictLumaInter(const uint8_t* source, ptrdiff_t stride, int hx, int hy, uint8_t* out,
                      ptrdiff_t outStride) {
    if (hx != 0) {
        const uint8_t* start = source - (hx > 0 ? 2 : 3);
        for (int y = 0; y < 16; ++y) {
            const uint8_t* row = start + y * stride;
            uint8_t* o = out + y * outStride;
            for (int x = 0; x < 16; ++x) o[x] = clip255((sixTap(row + x, 1) + 16) >> 5);
        }
    } else if (hy != 0) {
        const uint8_t* start = source - (hy > 0 ? 2 : 3) * stride;
        for (int y = 0; y < 16; ++y) {
            const uint8_t* row = start + y * stride;
            uint8_t* o = out + y * outStride;
            for (int x = 0; x < 16; ++x) o[x] = clip255((sixTap(row + x, stride) + 16) >> 5);
        }
    } else {
        for (int y = 0; y < 16; ++y) std::memcpy(out + y * outStride, source + y * stride, 16);
    }
}

namespace {

// One loop per kind of step, so that each vectorises.
template <bool HalfX, bool HalfY>
void chromaInter(const uint8_t* __restrict source, ptrdiff_t stride, uint8_t* __restrict out,
                 ptrdiff_t outStride) {
    for (int y = 0; y < 8; ++y) {
        const uint8_t* a = source + y * stride;
        const uint8_t* c = a + stride;
        uint8_t* o = out + y * outStride;
        for (int x = 0; x < 8; ++x) {
            if constexpr (HalfX && HalfY)
                o[x] =
                    uint8_t((((a[x] + a[x + 1] + 1) >> 1) + ((c[x] + c[x + 1] + 1) >> 1) + 1) >> 1);
            else if constexpr (HalfX)
                o[x] = uint8_t((a[x] + a[x + 1] + 1) >> 1);
            else if constexpr (HalfY)
                o[x] = uint8_t((a[x] + c[x] + 1) >> 1);
            else
                o[x] = a[x];
        }
    }
}

}  // namespace

void predictChromaInter(const uint8_t* source, ptrdiff_t stride, bool halfX, bool halfY,
                        uint8_t* out, ptrdiff_t outStride) {
    if (halfX && halfY)
        chromaInter<true, true>(source, stride, out, outStride);
    else if (halfX)
        chromaInter<true, false>(source, stride, out, outStride);
    else if (halfY)
        chromaInter<false, true>(source, stride, out, outStride);
    else
        chromaInter<false, false>(source, stride, out, outStride);
}

void averageBlocks(const uint8_t* p, const uint8_t* q, ptrdiff_t stride, int size, uint8_t* out,
                   ptrdiff_t outStride) {
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            out[y * outStride + x] = uint8_t((p[y * stride + x] + q[y * stride + x] + 1) >> 1);
}

FilterThresholds filterThresholds(int quantiser) {
    // The tables end at 51; above them the filter changes no sample (alpha 0 filters nothing).
    if (quantiser < 0 || quantiser > 51) return {};
    return {kAlpha[quantiser], kBeta[quantiser], kTc0[quantiser]};
}

// The edge filters of H.264 (clause 8.7.2.3 and 8.7.2.4): the normal filter for strengths 1 to
// 3 and the strong one for 4.
void filterLumaEdge(uint8_t* pixel, ptrdiff_t across, ptrdiff_t along, const uint8_t strengths[4],
                    const FilterThresholds& t) {
    if (t.alpha == 0) return;
    for (int i = 0; i < 16; ++i) {
        const int bS = strengths[i >> 2];
        if (bS == 0) continue;
        uint8_t* q = pixel + i * along;
        const int p0 = q[-across], p1 = q[-2 * across], p2 = q[-3 * across];
        const int q0 = q[0], q1 = q[across], q2 = q[2 * across];
        if (std::abs(p0 - q0) >= t.alpha || std::abs(p1 - p0) >= t.beta ||
            std::abs(q1 - q0) >= t.beta)
            continue;
        const bool ap = std::abs(p2 - p0) < t.beta, aq = std::abs(q2 - q0) < t.beta;
        if (bS < 4) {
            const int tc0 = t.tc0[bS - 1];
            const int tc = tc0 + ap + aq;
            const int delta = clip3(-tc, tc, (((q0 - p0) << 2) + (p1 - q1) + 4) >> 3);
            q[-across] = clip255(p0 + delta);
            q[0] = clip255(q0 - delta);
            if (ap)
                q[-2 * across] =
                    uint8_t(p1 + clip3(-tc0, tc0, (p2 + ((p0 + q0 + 1) >> 1) - (p1 << 1)) >> 1));
            if (aq)
                q[across] =
                    uint8_t(q1 + clip3(-tc0, tc0, (q2 + ((p0 + q0 + 1) >> 1) - (q1 << 1)) >> 1));
        } else {
            const bool strong = std::abs(p0 - q0) < ((t.alpha >> 2) + 2);
            if (ap && strong) {
                const int p3 = q[-4 * across];
                q[-across] = uint8_t((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
                q[-2 * across] = uint8_t((p2 + p1 + p0 + q0 + 2) >> 2);
                q[-3 * across] = uint8_t((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
            } else {
                q[-across] = uint8_t((2 * p1 + p0 + q1 + 2) >> 2);
            }
            if (aq && strong) {
                const int q3 = q[3 * across];
                q[0] = uint8_t((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
                q[across] = uint8_t((p0 + q0 + q1 + q2 + 2) >> 2);
                q[2 * across] = uint8_t((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
            } else {
                q[0] = uint8_t((2 * q1 + q0 + p1 + 2) >> 2);
            }
        }
    }
}

void filterChromaEdge(uint8_t* pixel, ptrdiff_t across, ptrdiff_t along, const uint8_t strengths[4],
                      const FilterThresholds& t) {
    if (t.alpha == 0) return;
    for (int i = 0; i < 8; ++i) {
        const int bS = strengths[i >> 1];
        if (bS == 0) continue;
        uint8_t* q = pixel + i * along;
        const int p0 = q[-across], p1 = q[-2 * across];
        const int q0 = q[0], q1 = q[across];
        if (std::abs(p0 - q0) >= t.alpha || std::abs(p1 - p0) >= t.beta ||
            std::abs(q1 - q0) >= t.beta)
            continue;
        if (bS < 4) {
            const int tc = t.tc0[bS - 1] + 1;
            const int delta = clip3(-tc, tc, (((q0 - p0) << 2) + (p1 - q1) + 4) >> 3);
            q[-across] = clip255(p0 + delta);
            q[0] = clip255(q0 - delta);
        } else {
            q[-across] = uint8_t((2 * p1 + p0 + q1 + 2) >> 2);
            q[0] = uint8_t((2 * q1 + q0 + p1 + 2) >> 2);
        }
    }
}

}  // namespace kx::avc
