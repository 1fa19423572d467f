// The legacy codec's dequantisation, inverse DCT and block writing. One butterfly template
// serves the plain passes (one line in 32-bit scalars) and the SSE2 passes (four lines in 32-bit
// vector lanes), so both do the same wrapping arithmetic.
#include "codec/legacy/legacy_transform.h"

#include <algorithm>
#include <cstdlib>

#include "codec/sse2_transpose.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx::legacy {
namespace {

// The transform is defined in 32-bit arithmetic that wraps on overflow (only hostile streams
// get there); unsigned arithmetic gives that wrap without undefined behaviour.
inline uint32_t shiftRight(uint32_t value, int bits) {
    return uint32_t(int32_t(value) >> bits);
}

#if defined(__SSE2__)
using U32x4 = uint32_t __attribute__((vector_size(16)));
using I32x4 = int32_t __attribute__((vector_size(16)));
inline U32x4 shiftRight(U32x4 value, int bits) {
    return U32x4(I32x4(value) >> bits);
}
#endif

// One eight-point pass: x[0..7] in, the eight results (before their truncation to 16 bits) out.
// T is uint32_t or a vector of uint32_t lanes, each lane its own line.
template <class T>
inline void butterfly(const T (&x)[8], T (&y)[8]) {
    const T a = 60547u * x[2] + 25080u * x[6];
    const T b = 25080u * x[2] - 60547u * x[6];
    const T s = 46341u * (x[0] + x[4]);
    const T d = 46341u * (x[0] - x[4]);
    const T e0 = s + a;
    const T e3 = s - a;
    const T e1 = d + b;
    const T e2 = d - b;

    const T u = shiftRight(46341u * (x[3] + x[5]) + 8192u, 14);
    const T v = shiftRight(46341u * (x[3] - x[5]) + 8192u, 14);
    const T p = 4u * x[1] + u;
    const T m = 4u * x[1] - u;
    const T r = 4u * x[7] + v;
    const T n = 4u * x[7] - v;
    const T o0 = 16069u * p + 3196u * r;
    const T o3 = 3196u * p - 16069u * r;
    const T o2 = 13623u * n + 9102u * m;
    const T o1 = 13623u * m - 9102u * n;

    y[0] = shiftRight(e0 + o0 + 65536u, 17);
    y[1] = shiftRight(e1 + o1 + 65536u, 17);
    y[2] = shiftRight(e2 + o2 + 65536u, 17);
    y[3] = shiftRight(e3 + o3 + 65536u, 17);
    y[4] = shiftRight(e3 - o3 + 65536u, 17);
    y[5] = shiftRight(e2 - o2 + 65536u, 17);
    y[6] = shiftRight(e1 - o1 + 65536u, 17);
    y[7] = shiftRight(e0 - o0 + 65536u, 17);
}

// One eight-point pass over x[0], x[step], ... x[7 step].
inline void transformLine(int16_t* x, int step) {
    uint32_t in[8], out[8];
    for (int k = 0; k < 8; ++k) in[k] = uint32_t(int32_t(x[k * step]));
    butterfly(in, out);
    for (int k = 0; k < 8; ++k) x[k * step] = int16_t(out[k]);
}

void plainInverseDct(int16_t* block) {
    for (int row = 0; row < 8; ++row) transformLine(block + 8 * row, 1);
    for (int column = 0; column < 8; ++column) transformLine(block + column, 8);
}

#if defined(__SSE2__)

// Transforms the eight lines whose k-th entries are the 16-bit lanes of v[k], in place: the
// lanes are widened with their sign, and each result keeps its low 16 bits as the plain pass's
// int16_t conversion does (sign-extended again, so the pack cannot saturate).
// Lines of zeros give zeros, so with `highLinesZero` the upper four lanes are left as they are.
inline void transformLanes(__m128i (&v)[8], bool highLinesZero) {
    U32x4 lo[8], hi[8], loOut[8], hiOut[8];
    for (int k = 0; k < 8; ++k) lo[k] = U32x4(_mm_srai_epi32(_mm_unpacklo_epi16(v[k], v[k]), 16));
    butterfly(lo, loOut);
    if (!highLinesZero) {
        for (int k = 0; k < 8; ++k)
            hi[k] = U32x4(_mm_srai_epi32(_mm_unpackhi_epi16(v[k], v[k]), 16));
        butterfly(hi, hiOut);
    }
    for (int k = 0; k < 8; ++k) {
        const __m128i low16 = _mm_srai_epi32(_mm_slli_epi32(__m128i(loOut[k]), 16), 16);
        const __m128i high16 = highLinesZero
                                   ? _mm_setzero_si128()
                                   : _mm_srai_epi32(_mm_slli_epi32(__m128i(hiOut[k]), 16), 16);
        v[k] = _mm_packs_epi32(low16, high16);
    }
}

// Rows first: transposed, the rows' k-th entries lie in one register, so a pass over registers
// transforms the rows; transposed back, the same pass transforms the columns.
void sse2InverseDct(int16_t* block) {
    __m128i v[8];
    for (int k = 0; k < 8; ++k)
        v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
    // Rows 4 to 7 are often all zero; transposed, they are the upper lanes of the row pass.
    const __m128i lowerRows = _mm_or_si128(_mm_or_si128(v[4], v[5]), _mm_or_si128(v[6], v[7]));
    const bool lowerRowsZero =
        _mm_movemask_epi8(_mm_cmpeq_epi8(lowerRows, _mm_setzero_si128())) == 0xFFFF;
    transpose8x8(v);
    transformLanes(v, lowerRowsZero);
    transpose8x8(v);
    transformLanes(v, false);
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), v[k]);
}

// Eight rows of eight samples: the saturating 16-bit sum of a sample (0..255) and an entry lies
// on the same side of 0..255 as the true sum, so the unsigned saturating pack is the clamp.
void sse2WriteBlock(uint8_t* samples, size_t stride, const int16_t* block, BlockWrite kind) {
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2) {
        uint8_t* upper = samples + size_t(y) * stride;
        uint8_t* lower = upper + stride;
        __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * y));
        __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * y + 8));
        if (kind == BlockWrite::Add) {
            first = _mm_adds_epi16(
                first,
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(upper)), zero));
            second = _mm_adds_epi16(
                second,
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(lower)), zero));
        }
        const __m128i packed = _mm_packus_epi16(first, second);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(upper), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lower), _mm_srli_si128(packed, 8));
    }
}

#endif

void plainWriteBlock(uint8_t* samples, size_t stride, const int16_t* block, BlockWrite kind) {
    for (int y = 0; y < 8; ++y, samples += stride) {
        for (int x = 0; x < 8; ++x) {
            const int value = block[y * 8 + x] + (kind == BlockWrite::Add ? samples[x] : 0);
            samples[x] = uint8_t(std::clamp(value, 0, 255));
        }
    }
}

}  // namespace

void writeBlock(uint8_t* samples, size_t stride, const int16_t* block, BlockWrite kind,
                KernelPath path) {
#if defined(__SSE2__)
    if (path == KernelPath::Sse2) {
        sse2WriteBlock(samples, stride, block, kind);
        return;
    }
#endif
    (void)path;
    plainWriteBlock(samples, stride, block, kind);
}

void writeBlock(uint8_t* samples, size_t stride, const int16_t* block, BlockWrite kind) {
    static const KernelPath path = bestKernelPath();
    writeBlock(samples, stride, block, kind, path);
}

int16_t dequantise(int level, int quantiser) {
    if (level == 0) return 0;
    int magnitude = (2 * std::abs(level) + 1) * quantiser;
    if (quantiser % 2 == 0) magnitude -= 1;
    const int value = level < 0 ? -magnitude : magnitude;
    return int16_t(std::clamp(value, -32768, 32767));
}

int16_t dcOnlySample(int16_t dc) {
    // A lone x[0] gives 46341 x[0] in every output of a pass; a line of zeros gives zeros.
    const auto pass = [](int16_t value) {
        return int16_t(shiftRight(46341u * uint32_t(int32_t(value)) + 65536u, 17));
    };
    return pass(pass(dc));
}

void inverseDct(int16_t* block, KernelPath path) {
#if defined(__SSE2__)
    if (path == KernelPath::Sse2) {
        sse2InverseDct(block);
        return;
    }
#endif
    (void)path;
    plainInverseDct(block);
}

void inverseDct(int16_t* block) {
    static const KernelPath path = bestKernelPath();
    inverseDct(block, path);
}

}  // namespace kx::legacy
