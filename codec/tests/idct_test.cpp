// The two inverse DCTs against the plain reference, and the DC property of the transform.
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

}  // namespace
}  // namespace kx
