// The two inverse DCTs against the plain reference, the DC property of the transform, and the
// SSE2 kernel against the plain loops.
#include "codec/native/idct.h"

#include <gtest/gtest.h>

#include <random>

#include "codec/tests/reference_idct.h"

namespace kx {
namespace {

TEST(InverseDct, MatchesThePlainSumOfProductsForBothVariants) {
    std::mt19937 random(7);
    for (IdctVariant variant : {IdctVariant::A, IdctVariant::B}) {
        for (int trial = 0; trial < 400; ++trial) {
            // Sparse small blocks, dense ones, and extremes that need the 64-bit sums.
            std::array<int16_t, 64> block{};
            const int range = trial < 150 ? 300 : trial < 300 ? 4000 : 32768;
            std::uniform_int_distribution<int> value(-range, range - 1), position(0, 63);
            const int count = trial % 3 == 0 ? 64 : 1 + trial % 7;
            for (int i = 0; i < count; ++i) block[position(random)] = int16_t(value(random));
            const auto expected = test::referenceIdct(block, variant);
            inverseDct(block.data(), variant);
            ASSERT_EQ(block, expected) << "trial " << trial;
        }
    }
}

TEST(InverseDct, ADcOfEightTimesDGivesDEverywhere) {
    for (IdctVariant variant : {IdctVariant::A, IdctVariant::B}) {
        for (int d = -256; d <= 1023; ++d) {
            std::array<int16_t, 64> block{};
            block[0] = int16_t(8 * d);
            inverseDct(block.data(), variant);
            for (int16_t sample : block) ASSERT_NEAR(sample, d, 1) << "d " << d;
            ASSERT_TRUE(std::all_of(block.begin(), block.end(), [&](int16_t s) { return s == block[0]; }));
        }
    }
}

// The SSE2 kernel against the plain loops: sparse and dense blocks, DC-only blocks, values on
// both sides of the bound where the SSE2 kernel hands a pass to the plain one, and blocks whose
// sums would wrap in 32 bits.
TEST(InverseDct, Sse2KernelGivesThePlainSamples) {
    std::mt19937 random(19);
    for (IdctVariant variant : {IdctVariant::A, IdctVariant::B}) {
        for (int trial = 0; trial < 3000; ++trial) {
            std::array<int16_t, 64> block{};
            const int kind = trial % 6;
            if (kind == 0) {
                block[0] = int16_t(std::uniform_int_distribution<int>(-32768, 32767)(random));
            } else {
                const int ranges[] = {0, 300, 2048, 11999, 12001, 32768};
                const int range = ranges[kind];
                std::uniform_int_distribution<int> value(-range, range - 1), position(0, 63);
                const int count = trial % 5 == 0 ? 64 : 1 + trial % 9;
                for (int i = 0; i < count; ++i) block[position(random)] = int16_t(value(random));
                if (trial % 7 == 0) block[position(random)] = int16_t(trial % 2 ? 11999 : -11999);
            }
            if (trial % 11 == 0) {
                // Signs matched to the basis of output (x, y): the largest sums a pass can make.
                const int x = trial % 8, y = (trial / 8) % 8;
                const int magnitudes[] = {11999, 12000, 20000, 32767};
                const int magnitude = magnitudes[(trial / 11) % 4];
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u) {
                        const bool negative =
                            (test::cosineTimes2To15(x, u) < 0) != (test::cosineTimes2To15(y, v) < 0);
                        block[v * 8 + u] = int16_t(negative ? -magnitude : magnitude);
                    }
            }
            std::array<int16_t, 64> plain = block, sse2 = block;
            inverseDct(plain.data(), variant, KernelPath::Plain);
            inverseDct(sse2.data(), variant, KernelPath::Sse2);
            ASSERT_EQ(sse2, plain) << "variant " << int(variant) << " trial " << trial;
        }
    }
}

}  // namespace
}  // namespace kx
