// Deblocking of a MacroblockPicture. Samples stay signed 16-bit and are not clamped here; the
// colour conversion clamps them. The SSE2 edge filters work in 16-bit lanes where that is exact.
#include "codec/native/deblock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/video_decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)

// filterEdge on eight quadruples s1, s2 | s3, s4 at once in 16-bit lanes. With every sample in
// -8192..8191 and a strength in 0..32767 no step leaves 16 bits, so the lanes give filterEdge's
// results exactly; false, with nothing changed, for samples outside that range.
inline bool filterLanes(__m128i& s1, __m128i& s2, __m128i& s3, __m128i& s4, __m128i strength) {
    const __m128i high = _mm_max_epi16(_mm_max_epi16(s1, s2), _mm_max_epi16(s3, s4));
    const __m128i low = _mm_min_epi16(_mm_min_epi16(s1, s2), _mm_min_epi16(s3, s4));
    const __m128i outside = _mm_or_si128(_mm_cmpgt_epi16(high, _mm_set1_epi16(8191)),
                                         _mm_cmplt_epi16(low, _mm_set1_epi16(-8192)));
    if (_mm_movemask_epi8(outside) != 0) return false;
    const __m128i zero = _mm_setzero_si128();
    const __m128i outer = _mm_srai_epi16(_mm_sub_epi16(s1, s4), 2);
    const __m128i d = _mm_srai_epi16(_mm_add_epi16(_mm_sub_epi16(s3, s2), outer), 1);
    const __m128i magnitude = _mm_max_epi16(d, _mm_sub_epi16(zero, d));
    const __m128i excess = _mm_max_epi16(_mm_sub_epi16(magnitude, strength), zero);
    const __m128i kept = _mm_max_epi16(_mm_sub_epi16(magnitude, _mm_add_epi16(excess, excess)), zero);
    const __m128i sign = _mm_srai_epi16(d, 15);
    const __m128i d1 = _mm_sub_epi16(_mm_xor_si128(kept, sign), sign);
    const __m128i limit = _mm_srai_epi16(kept, 1);
    const __m128i d2 = _mm_min_epi16(_mm_max_epi16(outer, _mm_sub_epi16(zero, limit)), limit);
    s1 = _mm_sub_epi16(s1, d2);
    s2 = _mm_add_epi16(s2, d1);
    s3 = _mm_sub_epi16(s3, d1);
    s4 = _mm_add_epi16(s4, d2);
    return true;
}

inline __m128i load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

void filterHorizontalSse2(int16_t* upper, int16_t* lower, int strength) {
    __m128i s1 = load(upper + 48), s2 = load(upper + 56), s3 = load(lower), s4 = load(lower + 8);
    if (!filterLanes(s1, s2, s3, s4, _mm_set1_epi16(int16_t(strength)))) {
        filterHorizontal(upper, lower, strength);
        return;
    }
    store(upper + 48, s1);
    store(upper + 56, s2);
    store(lower, s3);
    store(lower + 8, s4);
}

void filterVerticalSse2(int16_t* left, int16_t* right, int strength) {
    // Row y's quadruple (columns 6 and 7 of `left`, 0 and 1 of `right`) as one 64-bit lane, then
    // the eight quadruples transposed so each of s1..s4 holds one column.
    __m128i quad[8];
    for (int y = 0; y < 8; ++y)
        quad[y] = _mm_unpacklo_epi32(_mm_srli_si128(load(left + 8 * y), 12), load(right + 8 * y));
    const __m128i a0 = _mm_unpacklo_epi16(quad[0], quad[1]);  // s1 s1 s2 s2 s3 s3 s4 s4, rows 0-1
    const __m128i a1 = _mm_unpacklo_epi16(quad[2], quad[3]);
    const __m128i a2 = _mm_unpacklo_epi16(quad[4], quad[5]);
    const __m128i a3 = _mm_unpacklo_epi16(quad[6], quad[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a1);  // s1 rows 0-3, s2 rows 0-3
    const __m128i b1 = _mm_unpackhi_epi32(a0, a1);  // s3 rows 0-3, s4 rows 0-3
    const __m128i b2 = _mm_unpacklo_epi32(a2, a3);
    const __m128i b3 = _mm_unpackhi_epi32(a2, a3);
    __m128i s1 = _mm_unpacklo_epi64(b0, b2);
    __m128i s2 = _mm_unpackhi_epi64(b0, b2);
    __m128i s3 = _mm_unpacklo_epi64(b1, b3);
    __m128i s4 = _mm_unpackhi_epi64(b1, b3);
    if (!filterLanes(s1, s2, s3, s4, _mm_set1_epi16(int16_t(strength)))) {
        filterVertical(left, right, strength);
        return;
    }
    // Back to one (s1, s2) pair and one (s3, s4) pair per row.
    alignas(16) int32_t leftPairs[8], rightPairs[8];
    store(reinterpret_cast<int16_t*>(leftPairs), _mm_unpacklo_epi16(s1, s2));
    store(reinterpret_cast<int16_t*>(leftPairs + 4), _mm_unpackhi_epi16(s1, s2));
    store(reinterpret_cast<int16_t*>(rightPairs), _mm_unpacklo_epi16(s3, s4));
    store(reinterpret_cast<int16_t*>(rightPairs + 4), _mm_unpackhi_epi16(s3, s4));
    for (int y = 0; y < 8; ++y) {
        std::memcpy(left + 8 * y + 6, &leftPairs[y], 4);
        std::memcpy(right + 8 * y, &rightPairs[y], 4);
    }
}

#endif

// The edge filters of one kernel path.
struct EdgeFilters {
    void (*horizontal)(int16_t*, int16_t*, int);
    void (*vertical)(int16_t*, int16_t*, int);
};

EdgeFilters edgeFilters(KernelPath path) {
#if defined(__SSE2__)
    if (path == KernelPath::Sse2) return {filterHorizontalSse2, filterVerticalSse2};
#endif
    (void)path;
    return {filterHorizontal, filterVertical};
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
    static const KernelPath path = bestKernelPath();
    deblockPicture(picture, coded, quantiser, path);
}

void deblockPicture(MacroblockPicture& picture, const uint8_t* coded, int quantiser, KernelPath path) {
    const int strength = deblockStrength(quantiser);
    // The 16-bit lanes hold strengths up to 32767 (an 8-bit quantiser gives at most 127).
    const EdgeFilters filters = edgeFilters(strength >= 0 && strength <= 32767 ? path : KernelPath::Plain);
    const uint32_t columns = picture.mbColumns();
    const uint32_t rows = picture.mbRows();
    const auto block = [&](uint32_t mb, int b) { return picture.macroblock(mb) + b * kBlock; };

    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t mb = r * columns + c;
            if (coded[mb]) {
                filters.horizontal(block(mb, kY0), block(mb, kY2), strength);
                filters.horizontal(block(mb, kY1), block(mb, kY3), strength);
            }
            if (r + 1 < rows && (coded[mb] || coded[mb + columns])) {
                const uint32_t below = mb + columns;
                filters.horizontal(block(mb, kY2), block(below, kY0), strength);
                filters.horizontal(block(mb, kY3), block(below, kY1), strength);
                filters.horizontal(block(mb, kCb), block(below, kCb), strength);
                filters.horizontal(block(mb, kCr), block(below, kCr), strength);
            }
        }
    }
    for (uint32_t c = 0; c < columns; ++c) {
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t mb = r * columns + c;
            if (coded[mb]) {
                filters.vertical(block(mb, kY0), block(mb, kY1), strength);
                filters.vertical(block(mb, kY2), block(mb, kY3), strength);
            }
            if (c + 1 < columns && (coded[mb] || coded[mb + 1])) {
                const uint32_t right = mb + 1;
                filters.vertical(block(mb, kY1), block(right, kY0), strength);
                filters.vertical(block(mb, kY3), block(right, kY2), strength);
                filters.vertical(block(mb, kCb), block(right, kCb), strength);
                filters.vertical(block(mb, kCr), block(right, kCr), strength);
            }
        }
    }
}

}  // namespace kx
