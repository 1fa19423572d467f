// The avc codec's intra and inter prediction, inverse transform and edge filters.
#include "codec/avc/avc_prediction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/avc/avc_tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
namespace {

// Sixteen six-tap results from six rows of sixteen samples `step` bytes apart, in 16-bit lanes:
// the sums lie in -2550..10710, so they are exact, and the unsigned saturating pack is the clamp.
inline __m128i sse2SixTap16(const uint8_t* p, ptrdiff_t step) {
    const __m128i zero = _mm_setzero_si128();
    __m128i low[6], high[6];
    for (int k = 0; k < 6; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k * step));
        low[k] = _mm_unpacklo_epi8(v, zero);
        high[k] = _mm_unpackhi_epi8(v, zero);
    }
    const __m128i five = _mm_set1_epi16(5), twenty = _mm_set1_epi16(20), sixteen = _mm_set1_epi16(16);
    const auto taps = [&](const __m128i* v) {
        const __m128i outer = _mm_add_epi16(v[0], v[5]);
        const __m128i inner = _mm_mullo_epi16(_mm_add_epi16(v[2], v[3]), twenty);
        const __m128i near = _mm_mullo_epi16(_mm_add_epi16(v[1], v[4]), five);
        return _mm_srai_epi16(_mm_add_epi16(_mm_sub_epi16(_mm_add_epi16(outer, inner), near), sixteen), 5);
    };
    return _mm_packus_epi16(taps(low), taps(high));
}

}  // namespace
#endif

void predictLumaInter(const uint8_t* source, ptrdiff_t stride, int hx, int hy, uint8_t* out,
                      ptrdiff_t outStride, KernelPath path) {
#if defined(__SSE2__)
    if (path != KernelPath::Plain && (hx != 0 || hy != 0)) {
        const ptrdiff_t step = hx != 0 ? 1 : stride;
        const uint8_t* start = source - ((hx != 0 ? hx : hy) > 0 ? 2 : 3) * step;
        for (int y = 0; y < 16; ++y)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * outStride), sse2SixTap16(start + y * stride, step));
        return;
    }
#endif
    (void)path;
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

#if defined(__SSE2__)
namespace {

// Eight columns of a horizontal luma edge in 16-bit lanes: rows p3..q3 in r[0..7]; bS and tc0
// per lane. Returns the filtered p2..q2 in r[1..6].
inline void sse2LumaLanes(__m128i r[8], __m128i bS, __m128i tc0, const FilterThresholds& t) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
    const __m128i alpha = _mm_set1_epi16(int16_t(t.alpha)), beta = _mm_set1_epi16(int16_t(t.beta));
    const __m128i p3 = r[0], p2 = r[1], p1 = r[2], p0 = r[3], q0 = r[4], q1 = r[5], q2 = r[6], q3 = r[7];
    const auto absDiff = [&](__m128i a, __m128i b) {
        const __m128i d = _mm_sub_epi16(a, b);
        return _mm_max_epi16(d, _mm_sub_epi16(zero, d));
    };
    const auto clamp = [&](__m128i v, __m128i low, __m128i high) { return _mm_min_epi16(_mm_max_epi16(v, low), high); };
    const __m128i p0q0 = absDiff(p0, q0);
    const __m128i filtered = _mm_and_si128(
        _mm_and_si128(_mm_cmpgt_epi16(bS, zero), _mm_cmplt_epi16(p0q0, alpha)),
        _mm_and_si128(_mm_cmplt_epi16(absDiff(p1, p0), beta), _mm_cmplt_epi16(absDiff(q1, q0), beta)));
    const __m128i ap = _mm_cmplt_epi16(absDiff(p2, p0), beta), aq = _mm_cmplt_epi16(absDiff(q2, q0), beta);
    const __m128i strongEdge = _mm_cmpeq_epi16(bS, four);

    // Strengths 1 to 3.
    const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(tc0, ap), aq);  // the masks are -1
    const __m128i delta = clamp(
        _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1)), four), 3),
        _mm_sub_epi16(zero, tc), tc);
    const __m128i fullMax = _mm_set1_epi16(255);
    const __m128i np0 = clamp(_mm_add_epi16(p0, delta), zero, fullMax);
    const __m128i nq0 = clamp(_mm_sub_epi16(q0, delta), zero, fullMax);
    const __m128i average = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p0, q0), one), 1);
    const __m128i minusTc0 = _mm_sub_epi16(zero, tc0);
    const __m128i np1 = _mm_add_epi16(
        p1, clamp(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(p2, average), _mm_slli_epi16(p1, 1)), 1), minusTc0, tc0));
    const __m128i nq1 = _mm_add_epi16(
        q1, clamp(_mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(q2, average), _mm_slli_epi16(q1, 1)), 1), minusTc0, tc0));

    // Strength 4.
    const __m128i strong = _mm_cmplt_epi16(p0q0, _mm_add_epi16(_mm_srai_epi16(alpha, 2), two));
    const __m128i strongP = _mm_and_si128(ap, strong), strongQ = _mm_and_si128(aq, strong);
    const auto sum = [](auto... terms) {
        __m128i s = _mm_setzero_si128();
        ((s = _mm_add_epi16(s, terms)), ...);
        return s;
    };
    const __m128i p0q0Sum = _mm_add_epi16(p0, q0);
    const __m128i sp0 = _mm_srai_epi16(sum(p2, _mm_slli_epi16(p1, 1), _mm_slli_epi16(p0q0Sum, 1), q1, four), 3);
    const __m128i sp1 = _mm_srai_epi16(sum(p2, p1, p0q0Sum, two), 2);
    const __m128i sp2 = _mm_srai_epi16(sum(_mm_slli_epi16(p3, 1), p2, _mm_slli_epi16(p2, 1), p1, p0q0Sum, four), 3);
    const __m128i wp0 = _mm_srai_epi16(sum(_mm_slli_epi16(p1, 1), p0, q1, two), 2);
    const __m128i sq0 = _mm_srai_epi16(sum(p1, _mm_slli_epi16(p0q0Sum, 1), _mm_slli_epi16(q1, 1), q2, four), 3);
    const __m128i sq1 = _mm_srai_epi16(sum(p0q0Sum, q1, q2, two), 2);
    const __m128i sq2 = _mm_srai_epi16(sum(_mm_slli_epi16(q3, 1), q2, _mm_slli_epi16(q2, 1), q1, p0q0Sum, four), 3);
    const __m128i wq0 = _mm_srai_epi16(sum(_mm_slli_epi16(q1, 1), q0, p1, two), 2);

    const auto select = [](__m128i mask, __m128i yes, __m128i no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    };
    const __m128i normal = _mm_andnot_si128(strongEdge, filtered);
    const __m128i four4 = _mm_and_si128(strongEdge, filtered);
    r[3] = select(four4, select(strongP, sp0, wp0), select(normal, np0, p0));
    r[4] = select(four4, select(strongQ, sq0, wq0), select(normal, nq0, q0));
    r[2] = select(four4, select(strongP, sp1, p1), select(_mm_and_si128(normal, ap), np1, p1));
    r[5] = select(four4, select(strongQ, sq1, q1), select(_mm_and_si128(normal, aq), nq1, q1));
    r[1] = select(_mm_and_si128(four4, strongP), sp2, p2);
    r[6] = select(_mm_and_si128(four4, strongQ), sq2, q2);
}

}  // namespace
#endif

#if defined(__SSE2__)
namespace {

// Sixteen lines across an edge at once: lines[k] holds sample k - 4 from the edge (p3 .. q3)
// of each of the sixteen lines, strengths[i] applies to lines 4i..4i+3. Lines 1 to 6 (p2 .. q2)
// come back filtered.
void sse2FilterLumaLines(__m128i lines[8], const uint8_t strengths[4], const FilterThresholds& t) {
    const __m128i zero = _mm_setzero_si128();
    alignas(16) int16_t bS[16], tc0[16];
    for (int i = 0; i < 16; ++i) {
        const int s = strengths[i >> 2];
        bS[i] = int16_t(s);
        tc0[i] = int16_t(s >= 1 && s <= 3 ? t.tc0[s - 1] : 0);
    }
    __m128i out[2][8];
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 8; ++k)
            out[half][k] = half == 0 ? _mm_unpacklo_epi8(lines[k], zero) : _mm_unpackhi_epi8(lines[k], zero);
        sse2LumaLanes(out[half], _mm_load_si128(reinterpret_cast<const __m128i*>(bS + 8 * half)),
                      _mm_load_si128(reinterpret_cast<const __m128i*>(tc0 + 8 * half)), t);
    }
    for (int k = 1; k < 7; ++k) lines[k] = _mm_packus_epi16(out[0][k], out[1][k]);
}

}  // namespace
#endif

void filterLumaRowEdge(uint8_t* pixel, ptrdiff_t stride, const uint8_t strengths[4],
                       const FilterThresholds& t, KernelPath path) {
#if defined(__SSE2__)
    if (path != KernelPath::Plain && t.alpha != 0) {
        __m128i rows[8];
        for (int k = 0; k < 8; ++k)
            rows[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + (k - 4) * stride));
        sse2FilterLumaLines(rows, strengths, t);
        for (int k = 1; k < 7; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(pixel + (k - 4) * stride), rows[k]);
        return;
    }
#endif
    (void)path;
    filterLumaEdge(pixel, stride, 1, strengths, t);
}

#if defined(__SSE2__)
namespace {

// Sixteen rows of eight bytes (the low halves of rows[0..15]) become eight columns of sixteen
// bytes: columns[k] holds byte k of every row.
void transpose16x8(const __m128i rows[16], __m128i columns[8]) {
    __m128i a[8], b[8], c[4], d[4];
    for (int k = 0; k < 8; ++k) a[k] = _mm_unpacklo_epi8(rows[2 * k], rows[2 * k + 1]);
    for (int k = 0; k < 4; ++k) {
        b[2 * k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]);      // bytes 0..3 of 4 rows
        b[2 * k + 1] = _mm_unpackhi_epi16(a[2 * k], a[2 * k + 1]);  // bytes 4..7
    }
    // c: rows 0..7, d: rows 8..15; each holds two columns of eight rows.
    c[0] = _mm_unpacklo_epi32(b[0], b[2]);
    c[1] = _mm_unpackhi_epi32(b[0], b[2]);
    c[2] = _mm_unpacklo_epi32(b[1], b[3]);
    c[3] = _mm_unpackhi_epi32(b[1], b[3]);
    d[0] = _mm_unpacklo_epi32(b[4], b[6]);
    d[1] = _mm_unpackhi_epi32(b[4], b[6]);
    d[2] = _mm_unpacklo_epi32(b[5], b[7]);
    d[3] = _mm_unpackhi_epi32(b[5], b[7]);
    for (int k = 0; k < 4; ++k) {
        columns[2 * k] = _mm_unpacklo_epi64(c[k], d[k]);
        columns[2 * k + 1] = _mm_unpackhi_epi64(c[k], d[k]);
    }
}

// The inverse: eight columns of sixteen bytes back into sixteen rows of eight bytes, stored.
void storeTransposed8x16(const __m128i columns[8], uint8_t* first, ptrdiff_t stride) {
    __m128i e[8], f[4], g[4];
    for (int k = 0; k < 4; ++k) {
        e[2 * k] = _mm_unpacklo_epi8(columns[2 * k], columns[2 * k + 1]);      // rows 0..7
        e[2 * k + 1] = _mm_unpackhi_epi8(columns[2 * k], columns[2 * k + 1]);  // rows 8..15
    }
    for (int half = 0; half < 2; ++half) {
        const __m128i* h = e + half;  // e[half], e[half + 2], e[half + 4], e[half + 6]
        f[0] = _mm_unpacklo_epi16(h[0], h[2]);  // 4 rows, bytes 0..3
        f[1] = _mm_unpackhi_epi16(h[0], h[2]);
        f[2] = _mm_unpacklo_epi16(h[4], h[6]);  // 4 rows, bytes 4..7
        f[3] = _mm_unpackhi_epi16(h[4], h[6]);
        g[0] = _mm_unpacklo_epi32(f[0], f[2]);  // two whole rows each
        g[1] = _mm_unpackhi_epi32(f[0], f[2]);
        g[2] = _mm_unpacklo_epi32(f[1], f[3]);
        g[3] = _mm_unpackhi_epi32(f[1], f[3]);
        for (int k = 0; k < 4; ++k) {
            uint8_t* row = first + (8 * half + 2 * k) * stride;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(row), g[k]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(row + stride), _mm_srli_si128(g[k], 8));
        }
    }
}

}  // namespace
#endif

void filterLumaColumnEdge(uint8_t* pixel, ptrdiff_t stride, const uint8_t strengths[4],
                          const FilterThresholds& t, KernelPath path) {
#if defined(__SSE2__)
    if (path != KernelPath::Plain && t.alpha != 0) {
        __m128i rows[16], columns[8];
        for (int y = 0; y < 16; ++y)
            rows[y] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel - 4 + y * stride));
        transpose16x8(rows, columns);
        sse2FilterLumaLines(columns, strengths, t);
        storeTransposed8x16(columns, pixel - 4, stride);
        return;
    }
#endif
    (void)path;
    filterLumaEdge(pixel, 1, stride, strengths, t);
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
