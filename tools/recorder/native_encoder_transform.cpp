// Forward DCT in floating point (the encoder's choice), quantisation, and the exact fixed-point
// reconstruction arithmetic shared with the decoder's definition.
#include "tools/recorder/native_encoder_transform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace kx::native_encoding {
namespace {

// Basis of the forward transform: kBasis[u][x] = c(u) / 2 * cos((2x + 1) u pi / 16), c(0) =
// 1/sqrt 2.
const std::array<std::array<float, 8>, 8> kBasis = [] {
    std::array<std::array<float, 8>, 8> basis{};
    for (int u = 0; u < 8; ++u) {
        const double scale = u == 0 ? 0.5 / std::numbers::sqrt2 : 0.5;
        for (int x = 0; x < 8; ++x)
            basis[u][x] = float(scale * std::cos((2 * x + 1) * u * std::numbers::pi / 16));
    }
    return basis;
}();

// The inverse transform's integer constants: kIdct[x][u] = cos((2x + 1) u pi / 16) scaled by
// 2^15, with the 1/sqrt 2 weight of frequency 0 folded into 23170.
constexpr std::array<std::array<int32_t, 8>, 8> kIdct = [] {
    constexpr std::array<int32_t, 9> cosine{32768, 32138, 30274, 27246, 23170,
                                            18205, 12540, 6393,  0};
    std::array<std::array<int32_t, 8>, 8> table{};
    for (int x = 0; x < 8; ++x) {
        table[x][0] = 23170;
        for (int u = 1; u < 8; ++u) {
            int angle = ((2 * x + 1) * u) % 32;  // in units of pi / 16
            if (angle > 16) angle = 32 - angle;  // cos(2 pi - a) = cos(a)
            table[x][u] = angle <= 8 ? cosine[angle] : -cosine[16 - angle];
        }
    }
    return table;
}();

int16_t saturate16(int64_t value) {
    return int16_t(std::clamp<int64_t>(value, -32768, 32767));
}

// One pass over eight lines: line i of `in` at in + i * lineStep, its elements elementStep
// apart. Sums are formed in 64 bits so that no input can overflow them.
template <int Shift, int64_t Offset>
void idctPass(const int16_t* in, int16_t* out, int lineStep, int elementStep) {
    for (int line = 0; line < 8; ++line) {
        const int16_t* source = in + line * lineStep;
        int16_t* target = out + line * lineStep;
        for (int x = 0; x < 8; ++x) {
            int64_t sum = 0;
            for (int u = 0; u < 8; ++u) sum += int64_t(kIdct[x][u]) * source[u * elementStep];
            target[x * elementStep] = saturate16((sum + Offset) >> Shift);
        }
    }
}

}  // namespace

void forwardDct(const int16_t* samples, float* coefficients) {
    float rows[64];  // rows[y * 8 + u]: the rows transformed
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int x = 0; x < 8; ++x) sum += kBasis[u][x] * float(samples[y * 8 + x]);
            rows[y * 8 + u] = sum;
        }
    }
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int y = 0; y < 8; ++y) sum += kBasis[v][y] * rows[y * 8 + u];
            coefficients[v * 8 + u] = sum;
        }
    }
}

bool quantiseIntraBlock(const uint8_t* source, ptrdiff_t stride, int quantiser, int& dc,
                        int16_t* levels) {
    alignas(16) int16_t samples[64];
    alignas(16) float coefficients[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) samples[y * 8 + x] = source[y * stride + x];
    forwardDct(samples, coefficients);
    dc = std::clamp(int(std::lround(coefficients[0] / 8)), 0, 254);

    const float step = 1.0f / float(2 * quantiser);
    bool any = false;
    levels[0] = 0;
    for (int i = 1; i < 64; ++i) {
        // Truncation puts the reconstruction, about (2 |level| + 1) q, near the middle of the
        // interval.
        const int magnitude = std::min(kMaxLevel, int(std::fabs(coefficients[i]) * step));
        levels[i] = int16_t(coefficients[i] < 0 ? -magnitude : magnitude);
        any |= magnitude != 0;
    }
    return any;
}

bool quantiseInterBlock(const uint8_t* source, ptrdiff_t sourceStride, const uint8_t* prediction,
                        ptrdiff_t predictionStride, int quantiser, float deadZone,
                        int16_t* levels) {
    alignas(16) int16_t residual[64];
    alignas(16) float coefficients[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            residual[y * 8 + x] =
                int16_t(source[y * sourceStride + x] - prediction[y * predictionStride + x]);
    forwardDct(residual, coefficients);

    const float step = 1.0f / float(2 * quantiser);
    bool any = false;
    for (int i = 0; i < 64; ++i) {
        const float shrunk = std::fabs(coefficients[i]) - deadZone;
        const int magnitude = shrunk <= 0 ? 0 : std::min(kMaxLevel, int(shrunk * step));
        levels[i] = int16_t(coefficients[i] < 0 ? -magnitude : magnitude);
        any |= magnitude != 0;
    }
    return any;
}

void dequantise(int16_t* levels, int quantiser) {
    for (int i = 0; i < 64; ++i) {
        const int level = levels[i];
        if (level == 0) continue;
        const int magnitude = (2 * std::abs(level) + 1) * quantiser - 1;
        levels[i] = int16_t(level < 0 ? -magnitude : magnitude);
    }
}

void inverseDct(int16_t* block, NativeIdct idct) {
    int16_t rows[64];
    if (idct == NativeIdct::A) {
        idctPass<14, 0>(block, rows, 8, 1);
        idctPass<18, int64_t(1) << 17>(rows, block, 1, 8);
    } else {
        idctPass<16, int64_t(1) << 15>(block, rows, 8, 1);
        idctPass<16, int64_t(1) << 15>(rows, block, 1, 8);
    }
}

}  // namespace kx::native_encoding
