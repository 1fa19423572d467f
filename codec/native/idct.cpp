// Separable inverse DCT with an even/odd split of each one-dimensional pass: out[x] = E + O and
// out[7 - x] = E - O, which is the full sum of products in exact integer arithmetic. A pass
// whose inputs are small enough accumulates in 32 bits, others in 64 bits, so an extreme
// (damaged) block gives the exact sum rather than a wrapped one. The SSE2 version does the same
// sums in 32-bit lanes for blocks whose passes fit them and hands the rest to the plain passes.
#include "codec/native/idct.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "codec/sse2_transpose.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx {
namespace {

// cos(k pi / 16) x 2^15 for k = 1 to 7; 23170 also stands for the zero frequency's 1/sqrt(2).
constexpr int32_t kCos[8] = {32768, 32138, 30274, 27246, 23170, 18205, 12540, 6393};

constexpr int32_t basis(int x, int u) {
    if (u == 0) return kCos[4];
    int k = ((2 * x + 1) * u) % 32;
    int sign = 1;
    if (k > 16) k = 32 - k;
    if (k > 8) {
        k = 16 - k;
        sign = -1;
    }
    return k == 8 ? 0 : sign * kCos[k];
}

// Even and odd halves of the basis for outputs x = 0 to 3.
struct Basis {
    int32_t even[4][4];  // [x][u / 2] for u = 0, 2, 4, 6
    int32_t odd[4][4];   // [x][u / 2] for u = 1, 3, 5, 7
};

constexpr Basis makeBasis() {
    Basis b{};
    for (int x = 0; x < 4; ++x) {
        for (int i = 0; i < 4; ++i) {
            b.even[x][i] = basis(x, 2 * i);
            b.odd[x][i] = basis(x, 2 * i + 1);
        }
    }
    return b;
}
constexpr Basis kBasis = makeBasis();

// The sum of |basis| over one output is at most 173136; inputs below this bound keep every sum
// and rounding offset inside 32 bits.
constexpr int kSmallInput = 12000;

inline int16_t saturate16(int64_t v) {
    return int16_t(std::clamp<int64_t>(v, -32768, 32767));
}

// One pass over eight lines: `in` holds eight lines of eight values, line i at in + i * lineStep,
// element j at + j * elementStep; results go to `out` with the same addressing.
template <typename Acc, int Shift, int64_t Offset>
inline void pass(const int16_t* in, int16_t* out, int lineStep, int elementStep) {
    for (int line = 0; line < 8; ++line) {
        const int16_t* src = in + line * lineStep;
        int16_t* dst = out + line * lineStep;
        Acc v[8];
        bool any = false;
        for (int j = 0; j < 8; ++j) {
            v[j] = src[j * elementStep];
            any |= v[j] != 0;
        }
        if (!any) {
            const int16_t zero = saturate16(Offset >> Shift);
            for (int j = 0; j < 8; ++j) dst[j * elementStep] = zero;
            continue;
        }
        for (int x = 0; x < 4; ++x) {
            const Acc even = kBasis.even[x][0] * v[0] + kBasis.even[x][1] * v[2] +
                             kBasis.even[x][2] * v[4] + kBasis.even[x][3] * v[6];
            const Acc odd = kBasis.odd[x][0] * v[1] + kBasis.odd[x][1] * v[3] +
                            kBasis.odd[x][2] * v[5] + kBasis.odd[x][3] * v[7];
            dst[x * elementStep] = saturate16((even + odd + Acc(Offset)) >> Shift);
            dst[(7 - x) * elementStep] = saturate16((even - odd + Acc(Offset)) >> Shift);
        }
    }
}

bool small(const int16_t* values) {
    int largest = 0;
    for (int i = 0; i < 64; ++i) largest = std::max(largest, std::abs(int(values[i])));
    return largest < kSmallInput;
}

// One pass with the narrowest accumulator that cannot overflow for these inputs.
template <int Shift, int64_t Offset>
void exactPass(const int16_t* in, int16_t* out, int lineStep, int elementStep) {
    if (small(in))
        pass<int32_t, Shift, Offset>(in, out, lineStep, elementStep);
    else
        pass<int64_t, Shift, Offset>(in, out, lineStep, elementStep);
}

template <int Shift1, int64_t Offset1, int Shift2, int64_t Offset2>
void plainIdct(int16_t* block) {
    int16_t rows[64];
    exactPass<Shift1, Offset1>(block, rows, 8, 1);
    exactPass<Shift2, Offset2>(rows, block, 1, 8);
}

#if defined(__SSE2__)

// True when every value of the eight rows lies strictly inside +-kSmallInput.
inline bool smallRows(const __m128i r[8]) {
    __m128i high = r[0];
    __m128i low = r[0];
    for (int i = 1; i < 8; ++i) {
        high = _mm_max_epi16(high, r[i]);
        low = _mm_min_epi16(low, r[i]);
    }
    const __m128i outside = _mm_or_si128(_mm_cmpgt_epi16(high, _mm_set1_epi16(kSmallInput - 1)),
                                         _mm_cmplt_epi16(low, _mm_set1_epi16(-(kSmallInput - 1))));
    return _mm_movemask_epi8(outside) == 0;
}

// Two basis values as the 16-bit pair _mm_madd_epi16 multiplies with an interleaved pair of lines.
inline __m128i basisPair(int32_t first, int32_t second) {
    return _mm_set1_epi32(int32_t(uint32_t(uint16_t(first)) | (uint32_t(uint16_t(second)) << 16)));
}

// One pass over the eight lines r[0..7], lane by lane: line x of the result is the transform of
// the lines' values at output x, in exact 32-bit sums (the caller checked smallRows), rounded
// and saturated like the plain pass.
template <int Shift, int32_t Offset>
inline void lanePass(__m128i r[8]) {
    const __m128i p04lo = _mm_unpacklo_epi16(r[0], r[4]);
    const __m128i p04hi = _mm_unpackhi_epi16(r[0], r[4]);
    const __m128i p26lo = _mm_unpacklo_epi16(r[2], r[6]);
    const __m128i p26hi = _mm_unpackhi_epi16(r[2], r[6]);
    const __m128i p15lo = _mm_unpacklo_epi16(r[1], r[5]);
    const __m128i p15hi = _mm_unpackhi_epi16(r[1], r[5]);
    const __m128i p37lo = _mm_unpacklo_epi16(r[3], r[7]);
    const __m128i p37hi = _mm_unpackhi_epi16(r[3], r[7]);
    const __m128i offset = _mm_set1_epi32(Offset);
    for (int x = 0; x < 4; ++x) {
        const __m128i c04 = basisPair(kBasis.even[x][0], kBasis.even[x][2]);
        const __m128i c26 = basisPair(kBasis.even[x][1], kBasis.even[x][3]);
        const __m128i c15 = basisPair(kBasis.odd[x][0], kBasis.odd[x][2]);
        const __m128i c37 = basisPair(kBasis.odd[x][1], kBasis.odd[x][3]);
        const __m128i evenLo = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(p04lo, c04), _mm_madd_epi16(p26lo, c26)), offset);
        const __m128i evenHi = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(p04hi, c04), _mm_madd_epi16(p26hi, c26)), offset);
        const __m128i oddLo = _mm_add_epi32(_mm_madd_epi16(p15lo, c15), _mm_madd_epi16(p37lo, c37));
        const __m128i oddHi = _mm_add_epi32(_mm_madd_epi16(p15hi, c15), _mm_madd_epi16(p37hi, c37));
        r[x] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(evenLo, oddLo), Shift),
                               _mm_srai_epi32(_mm_add_epi32(evenHi, oddHi), Shift));
        r[7 - x] = _mm_packs_epi32(_mm_srai_epi32(_mm_sub_epi32(evenLo, oddLo), Shift),
                                   _mm_srai_epi32(_mm_sub_epi32(evenHi, oddHi), Shift));
    }
}

template <int Shift1, int64_t Offset1, int Shift2, int64_t Offset2>
void sse2Idct(int16_t* block) {
    __m128i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    if (!smallRows(r)) {
        plainIdct<Shift1, Offset1, Shift2, Offset2>(block);
        return;
    }
    // A block holding only its DC coefficient gives one value everywhere: the first pass turns
    // row 0 into a constant and the other rows into zeros, the second each column into a constant.
    __m128i rest = _mm_srli_si128(r[0], 2);
    for (int i = 1; i < 8; ++i) rest = _mm_or_si128(rest, r[i]);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(rest, _mm_setzero_si128())) == 0xFFFF) {
        const int16_t first =
            saturate16((int64_t(kBasis.even[0][0]) * block[0] + Offset1) >> Shift1);
        const int16_t value = saturate16((int64_t(kBasis.even[0][0]) * first + Offset2) >> Shift2);
        const __m128i fill = _mm_set1_epi16(value);
        for (int i = 0; i < 8; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), fill);
        return;
    }
    // Rows first: transposed, the rows' values at one position share a register.
    transpose8x8(r);
    lanePass<Shift1, int32_t(Offset1)>(r);
    transpose8x8(r);
    if (smallRows(r)) {
        lanePass<Shift2, int32_t(Offset2)>(r);
        for (int i = 0; i < 8; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
        return;
    }
    alignas(16) int16_t rows[64];
    for (int i = 0; i < 8; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(rows + 8 * i), r[i]);
    exactPass<Shift2, Offset2>(rows, block, 1, 8);
}

#endif

template <int Shift1, int64_t Offset1, int Shift2, int64_t Offset2>
void chosenIdct(int16_t* block, KernelPath path) {
#if defined(__SSE2__)
    if (path == KernelPath::Sse2) {
        sse2Idct<Shift1, Offset1, Shift2, Offset2>(block);
        return;
    }
#endif
    (void)path;
    plainIdct<Shift1, Offset1, Shift2, Offset2>(block);
}

}  // namespace

void inverseDct(int16_t* block, IdctVariant variant, KernelPath path) {
    if (variant == IdctVariant::A)
        chosenIdct<14, 0, 18, int64_t(1) << 17>(block, path);
    else
        chosenIdct<16, int64_t(1) << 15, 16, int64_t(1) << 15>(block, path);
}

void inverseDct(int16_t* block, IdctVariant variant) {
    static const KernelPath path = bestKernelPath();
    inverseDct(block, variant, path);
}

}  // namespace kx
