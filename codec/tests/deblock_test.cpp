// Deblocking: strength, the edge filter worked by hand, which edges a picture filters, and the
// SSE2 edge filters against the plain ones.
#include "codec/native/deblock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/video_decoder.h"

namespace kx {
namespace {

TEST(Deblock, StrengthFollowsTheQuantiser) {
    const std::pair<int, int> cases[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {6, 3}, {7, 4}, {9, 4},
                                         {10, 5}, {11, 5}, {12, 6}, {13, 6}, {14, 7}, {15, 7}, {31, 15}, {255, 127}};
    for (const auto& [q, s] : cases) EXPECT_EQ(deblockStrength(q), s) << q;
}

TEST(Deblock, EdgeFilter) {
    struct Case {
        int strength;
        std::array<int16_t, 4> in, out;
    };
    for (const Case& c : {
             Case{4, {50, 50, 50, 50}, {50, 50, 50, 50}},
             Case{4, {12, 10, 10, 8}, {12, 10, 10, 8}},          // d = 0 changes nothing
             Case{4, {100, 100, 120, 120}, {100, 101, 119, 120}},  // d = 7, d1 = 7 - 6 = 1, d2 = 0
             Case{10, {100, 100, 110, 110}, {101, 103, 107, 109}}, // d = 3, d1 = 3, d2 = -3 clipped to -1
             Case{6, {0, 0, 200, 200}, {0, 0, 200, 200}},        // a real edge (|d| >= 2S) stays
             Case{3, {-3, 260, 250, 20}, {-3, 260, 250, 20}},     // d = (-10 - 6) >> 1 = -8: d1 = 0
             Case{5, {10, 16, 20, 30}, {10, 15, 21, 30}},         // d = (4 - 5) >> 1 = -1
             Case{8, {0, 10, 30, 40}, {2, 15, 25, 38}},           // d1 = 5, d2 = -10 clipped to -2
         }) {
        std::array<int16_t, 4> s = c.in;
        filterEdge(s[0], s[1], s[2], s[3], c.strength);
        EXPECT_EQ(s, c.out) << c.in[0] << " " << c.in[1] << " " << c.in[2] << " " << c.in[3];
    }
}

TEST(Deblock, FiltersEdgesBesideCodedMacroblocksOnly) {
    // 3 x 2 macroblocks; every block flat with its own value, steps small enough to filter.
    MacroblockPicture picture;
    picture.resize(3, 2);
    for (uint32_t m = 0; m < 6; ++m)
        for (int b = 0; b < 6; ++b)
            for (int i = 0; i < 64; ++i) picture.macroblock(m)[b * 64 + i] = int16_t(40 + 3 * b + m);
    const MacroblockPicture before = picture;

    std::vector<uint8_t> none(6, 0);
    deblockPicture(picture, none.data(), 8);
    EXPECT_TRUE(std::equal(picture.samples(), picture.samples() + 6 * 384, before.samples()));

    std::vector<uint8_t> coded = {0, 0, 0, 0, 0, 1};  // bottom-right macroblock only
    deblockPicture(picture, coded.data(), 8);
    const auto changed = [&](uint32_t m, int b, int i) {
        return picture.macroblock(m)[b * 64 + i] != before.macroblock(m)[b * 64 + i];
    };
    EXPECT_TRUE(changed(5, 0, 7 * 8 + 3));  // Y0 / Y2 inside macroblock 5
    EXPECT_TRUE(changed(5, 0, 3 * 8 + 7));  // Y0 | Y1 inside macroblock 5
    EXPECT_TRUE(changed(2, 2, 7 * 8 + 3));  // macroblock 2 above: its Y2 / Y0 edge with 5
    EXPECT_TRUE(changed(2, 4, 7 * 8 + 3));  // and the Cb edge
    EXPECT_TRUE(changed(4, 1, 3 * 8 + 7));  // macroblock 4 left: Y1 | Y0 edge with 5
    EXPECT_FALSE(changed(0, 0, 7 * 8 + 3)); // far from macroblock 5
    EXPECT_FALSE(changed(1, 2, 7 * 8 + 3)); // edge between 1 and 4: neither coded
    EXPECT_FALSE(changed(3, 1, 3 * 8 + 7)); // edge between 3 and 4: neither coded
}

// The SSE2 edge filters against the plain ones: ordinary samples, samples on both sides of the
// 16-bit lane bound (where the SSE2 filter hands an edge to the plain one), every quantiser.
TEST(Deblock, Sse2KernelGivesThePlainSamples) {
    std::mt19937 random(29);
    for (int trial = 0; trial < 60; ++trial) {
        MacroblockPicture picture;
        picture.resize(5, 4);
        const int ranges[] = {256, 8192, 9000, 32768};
        const int range = ranges[trial % 4];
        std::uniform_int_distribution<int> value(trial % 4 == 0 ? 0 : -range, range - 1);
        std::uniform_int_distribution<int> flag(0, 2);
        for (size_t i = 0; i < size_t(picture.macroblockCount()) * 384; ++i)
            picture.samples()[i] = int16_t(value(random));
        std::vector<uint8_t> coded(picture.macroblockCount());
        for (uint8_t& c : coded) c = flag(random) != 0;
        const int quantiser = 1 + (trial * 37) % 255;
        MacroblockPicture plain = picture, sse2 = picture;
        deblockPicture(plain, coded.data(), quantiser, KernelPath::Plain);
        deblockPicture(sse2, coded.data(), quantiser, KernelPath::Sse2);
        ASSERT_TRUE(std::equal(plain.samples(), plain.samples() + 20 * 384, sse2.samples()))
            << "trial " << trial;
    }
}

}  // namespace
}  // namespace kx
