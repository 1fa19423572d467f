// A plain reference of the native inverse DCTs for tests: full 8-term sums of products in
// 64-bit arithmetic from the cosine constants, rows then columns, saturated per pass.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "codec/native/idct.h"

namespace kx::test {

inline int64_t cosineTimes2To15(int x, int u) {
    static constexpr int32_t kCos[9] = {32768, 32138, 30274, 27246, 23170, 18205, 12540, 6393, 0};
    if (u == 0) return 23170;
    const int k = ((2 * x + 1) * u) % 32;  // cos(k pi / 16), k odd multiple pattern
    if (k <= 8) return kCos[k];
    if (k <= 16) return -kCos[16 - k];
    if (k <= 24) return -kCos[k - 16];
    return kCos[32 - k];
}

inline std::array<int16_t, 64> referenceIdct(const std::array<int16_t, 64>& in, IdctVariant variant) {
    const int shift1 = variant == IdctVariant::A ? 14 : 16;
    const int64_t offset1 = variant == IdctVariant::A ? 0 : 1 << 15;
    const int shift2 = variant == IdctVariant::A ? 18 : 16;
    const int64_t offset2 = variant == IdctVariant::A ? 1 << 17 : 1 << 15;
    const auto sat = [](int64_t v) { return int16_t(std::clamp<int64_t>(v, -32768, 32767)); };
    std::array<int16_t, 64> rows{}, out{};
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 8; ++x) {
            int64_t sum = 0;
            for (int u = 0; u < 8; ++u) sum += cosineTimes2To15(x, u) * in[r * 8 + u];
            rows[r * 8 + x] = sat((sum + offset1) >> shift1);
        }
    for (int c = 0; c < 8; ++c)
        for (int y = 0; y < 8; ++y) {
            int64_t sum = 0;
            for (int v = 0; v < 8; ++v) sum += cosineTimes2To15(y, v) * rows[v * 8 + c];
            out[y * 8 + c] = sat((sum + offset2) >> shift2);
        }
    return out;
}

// The sample every position of a block holding only a DC coefficient gets.
inline int16_t dcOnlySample(int16_t dc, IdctVariant variant) {
    std::array<int16_t, 64> block{};
    block[0] = dc;
    return referenceIdct(block, variant)[0];
}

}  // namespace kx::test
