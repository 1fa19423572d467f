// Separable inverse DCT with an even/odd split of each one-dimensional pass: out[x] = E + O and
// out[7 - x] = E - O, which is the full sum of products in exact integer arithmetic. A pass
// whose inputs are small enough accumulates in 32 bits, others in 64 bits, so an extreme
// (damaged) block gives the exact sum rather than a wrapped one.
#include "codec/native/idct.h"

#include <algorithm>
#include <array>
#include <cstdlib>

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

inline int16_t saturate16(int64_t v) { return int16_t(std::clamp<int64_t>(v, -32768, 32767)); }

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
            const Acc even = kBasis.even[x][0] * v[0] + kBasis.even[x][1] * v[2] + kBasis.even[x][2] * v[4] +
                             kBasis.even[x][3] * v[6];
            const Acc odd = kBasis.odd[x][0] * v[1] + kBasis.odd[x][1] * v[3] + kBasis.odd[x][2] * v[5] +
                            kBasis.odd[x][3] * v[7];
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

}  // namespace

void inverseDct(int16_t* block, IdctVariant variant) {
    int16_t rows[64];
    if (variant == IdctVariant::A) {
        exactPass<14, 0>(block, rows, 8, 1);
        exactPass<18, int64_t(1) << 17>(rows, block, 1, 8);
    } else {
        exactPass<16, int64_t(1) << 15>(block, rows, 8, 1);
        exactPass<16, int64_t(1) << 15>(rows, block, 1, 8);
    }
}

}  // namespace kx
