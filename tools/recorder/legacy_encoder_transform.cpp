// Reconstruction of the legacy encoder: the legacy decoder's dequantisation and inverse DCT.
#include "tools/recorder/legacy_encoder_transform.h"

#include <cstdlib>

namespace kx::legacy_encoding {
namespace {

// The transform's sums are 32-bit values that wrap; the sums here are formed in 64 bits and
// wrapped before every shift, which gives the same bits.
constexpr int64_t wrap32(int64_t value) {
    return int32_t(uint32_t(uint64_t(value)));
}

// The one-dimensional transform of eight values, `step` apart.
void transform8(int16_t* line, int step) {
    int64_t x[8];
    for (int i = 0; i < 8; ++i) x[i] = line[i * step];
    const int64_t evenA = 60547 * x[2] + 25080 * x[6];
    const int64_t evenB = 25080 * x[2] - 60547 * x[6];
    const int64_t sum = 46341 * (x[0] + x[4]);
    const int64_t difference = 46341 * (x[0] - x[4]);
    const int64_t even[4] = {sum + evenA, difference + evenB, difference - evenB, sum - evenA};

    const int64_t u = wrap32(46341 * (x[3] + x[5]) + 8192) >> 14;
    const int64_t v = wrap32(46341 * (x[3] - x[5]) + 8192) >> 14;
    const int64_t p = 4 * x[1] + u;
    const int64_t m = 4 * x[1] - u;
    const int64_t r = 4 * x[7] + v;
    const int64_t n = 4 * x[7] - v;
    const int64_t odd[4] = {16069 * p + 3196 * r, 13623 * m - 9102 * n, 13623 * n + 9102 * m,
                            3196 * p - 16069 * r};

    for (int k = 0; k < 4; ++k) {
        line[k * step] = int16_t(wrap32(even[k] + odd[k] + 65536) >> 17);
        line[(7 - k) * step] = int16_t(wrap32(even[k] - odd[k] + 65536) >> 17);
    }
}

}  // namespace

void dequantise(int16_t* levels, int quantiser) {
    const int evenCorrection = quantiser % 2 == 0 ? 1 : 0;
    for (int i = 0; i < 64; ++i) {
        const int level = levels[i];
        if (level == 0) continue;
        const int magnitude = (2 * std::abs(level) + 1) * quantiser - evenCorrection;
        levels[i] = int16_t(level < 0 ? -magnitude : magnitude);
    }
}

void inverseDct(int16_t* block) {
    for (int row = 0; row < 8; ++row) transform8(block + row * 8, 1);
    for (int column = 0; column < 8; ++column) transform8(block + column, 8);
}

}  // namespace kx::legacy_encoding
