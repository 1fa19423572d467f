// The legacy codec's dequantisation and inverse DCT.
#include "codec/legacy/legacy_transform.h"

#include <algorithm>
#include <cstdlib>

namespace kx::legacy {
namespace {

// The transform is defined in 32-bit arithmetic that wraps on overflow (only hostile streams
// get there); unsigned arithmetic gives that wrap without undefined behaviour.
constexpr int32_t shiftRight(uint32_t value, int bits) { return int32_t(value) >> bits; }

// One eight-point pass over x[0], x[step], ... x[7 step].
inline void transformLine(int16_t* x, int step) {
    const uint32_t x0 = uint32_t(int32_t(x[0]));
    const uint32_t x1 = uint32_t(int32_t(x[step]));
    const uint32_t x2 = uint32_t(int32_t(x[2 * step]));
    const uint32_t x3 = uint32_t(int32_t(x[3 * step]));
    const uint32_t x4 = uint32_t(int32_t(x[4 * step]));
    const uint32_t x5 = uint32_t(int32_t(x[5 * step]));
    const uint32_t x6 = uint32_t(int32_t(x[6 * step]));
    const uint32_t x7 = uint32_t(int32_t(x[7 * step]));

    const uint32_t a = 60547u * x2 + 25080u * x6;
    const uint32_t b = 25080u * x2 - 60547u * x6;
    const uint32_t s = 46341u * (x0 + x4);
    const uint32_t d = 46341u * (x0 - x4);
    const uint32_t e0 = s + a;
    const uint32_t e3 = s - a;
    const uint32_t e1 = d + b;
    const uint32_t e2 = d - b;

    const auto u = uint32_t(shiftRight(46341u * (x3 + x5) + 8192u, 14));
    const auto v = uint32_t(shiftRight(46341u * (x3 - x5) + 8192u, 14));
    const uint32_t p = 4u * x1 + u;
    const uint32_t m = 4u * x1 - u;
    const uint32_t r = 4u * x7 + v;
    const uint32_t n = 4u * x7 - v;
    const uint32_t o0 = 16069u * p + 3196u * r;
    const uint32_t o3 = 3196u * p - 16069u * r;
    const uint32_t o2 = 13623u * n + 9102u * m;
    const uint32_t o1 = 13623u * m - 9102u * n;

    const auto out = [](uint32_t value) { return int16_t(shiftRight(value + 65536u, 17)); };
    x[0] = out(e0 + o0);
    x[step] = out(e1 + o1);
    x[2 * step] = out(e2 + o2);
    x[3 * step] = out(e3 + o3);
    x[4 * step] = out(e3 - o3);
    x[5 * step] = out(e2 - o2);
    x[6 * step] = out(e1 - o1);
    x[7 * step] = out(e0 - o0);
}

}  // namespace

int16_t dequantise(int level, int quantiser) {
    if (level == 0) return 0;
    int magnitude = (2 * std::abs(level) + 1) * quantiser;
    if (quantiser % 2 == 0) magnitude -= 1;
    const int value = level < 0 ? -magnitude : magnitude;
    return int16_t(std::clamp(value, -32768, 32767));
}

void inverseDct(int16_t* block) {
    for (int row = 0; row < 8; ++row) transformLine(block + 8 * row, 1);
    for (int column = 0; column < 8; ++column) transformLine(block + column, 8);
}

}  // namespace kx::legacy
