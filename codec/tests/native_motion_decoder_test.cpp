// NativeMotionDecoder (codec 1): vector prediction and wrap, prediction with and without a
// residual, the stop at a difference outside the table, the inverse-DCT choice, and the upkeep
// of the reference planes and the output picture.
#include "codec/native/native_motion_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/native/native_decoder.h"
#include "codec/tests/deblocked_output.h"
#include "codec/tests/native_stream_writer.h"
#include "codec/tests/reference_idct.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

using Block = std::array<int16_t, 64>;

bool decode(NativeDecoder& decoder, const std::vector<uint8_t>& bytes, uint16_t flags = 0) {
    return decoder.decodeBytes(bytes.data(), bytes.size(), flags);
}

Block blockOf(const MacroblockPicture& picture, uint32_t mb, int b) {
    Block out;
    std::copy_n(picture.macroblock(mb) + b * 64, 64, out.begin());
    return out;
}

// An intra picture of columns x rows macroblocks, each flat, macroblock m's blocks at
// 40 + 10 m + 3 b, so every prediction shows where it came from.
std::vector<uint8_t> mosaic(uint32_t columns, uint32_t rows) {
    NativeStreamWriter w;
    w.startPicture();
    w.intraHeader(int(columns * 16), int(rows * 16), 8);
    for (uint32_t m = 0; m < columns * rows; ++m) {
        std::array<int, 6> dc;
        for (int b = 0; b < 6; ++b) dc[b] = int(40 + 10 * m + 3 * b);
        w.flatMacroblock(dc);
    }
    return w.bytes();
}

TEST(NativeMotionDecoder, VectorsWrapAndFollowTheMedianPredictor) {
    NativeMotionDecoder decoder;
    ASSERT_TRUE(decode(decoder, mosaic(3, 2)));
    NativeStreamWriter w;
    w.startPicture();
    w.interHeader(8);
    const std::pair<int, int> differences[] = {
        {31, -2}, {2, 8},   // row 0: left only; 31 + 2 = 33 wraps to -31
        {-18, -6},          // (-31, 6) + (-18, -6) = -49 wraps to 15, 0
        {1, 1},             // median of left (0, 0), above (31, -2), above right (-31, 6) -> (0, 0)
        {0, 0},             // median of (1, 1), (-31, 6), (15, 0) -> (1, 1)
        {-3, 2},            // median of (1, 1), (15, 0), (0, 0) at the last column -> (1, 0)
    };
    for (const auto& [dx, dy] : differences) {
        w.motion(dx, dy);
        w.residual(false);
    }
    ASSERT_TRUE(decode(decoder, w.bytes()));
    const std::vector<MotionVector> expected = {{31, -2}, {-31, 6}, {15, 0}, {1, 1}, {1, 1}, {-2, 2}};
    EXPECT_EQ(decoder.vectors(), expected);
    EXPECT_EQ(decoder.codedFlags(), std::vector<uint8_t>(6, 0));
}

TEST(NativeMotionDecoder, PredictionWithAndWithoutResidualAndIntraMacroblocks) {
    NativeMotionDecoder decoder;
    ASSERT_TRUE(decode(decoder, mosaic(2, 1)));
    const MacroblockPicture reference = decoder.currentPicture();
    NativeStreamWriter w;
    w.startPicture();
    w.interHeader(4);
    w.motion(0, 0);  // a zero vector through the motion path: a plain copy of itself
    w.residual(false);
    w.motion(-32, 0);           // macroblock 1 takes macroblock 0's samples (16 to the left)
    w.residual(true);
    MacroblockCode residual;
    residual[0].coefficients = {{0, 1}};  // (2 + 1) x 4 - 1 = 11 at DC
    w.interMacroblock(residual);
    ASSERT_TRUE(decode(decoder, w.bytes()));
    const MacroblockPicture& picture = decoder.currentPicture();
    for (int b = 0; b < 6; ++b) EXPECT_EQ(blockOf(picture, 0, b), blockOf(reference, 0, b)) << b;
    Block y0;
    y0.fill(int16_t(40 + test::dcOnlySample(11, IdctVariant::A)));
    EXPECT_EQ(blockOf(picture, 1, 0), y0);
    EXPECT_EQ(blockOf(picture, 1, 3), blockOf(reference, 0, 3));
    EXPECT_EQ(decoder.codedFlags(), (std::vector<uint8_t>{0, 1}));

    // No motion and no residual keeps the samples; no motion with residual is intra.
    NativeStreamWriter next;
    next.startPicture();
    next.interHeader(4);
    next.noMotion();
    next.residual(false);
    next.noMotion();
    next.residual(true);
    next.flatMacroblock({9, 9, 9, 9, 9, 9});
    const MacroblockPicture before = decoder.currentPicture();
    ASSERT_TRUE(decode(decoder, next.bytes()));
    EXPECT_EQ(blockOf(decoder.currentPicture(), 0, 2), blockOf(before, 0, 2));
    EXPECT_EQ(blockOf(decoder.currentPicture(), 1, 4)[17], 9);
    EXPECT_EQ(decoder.codedFlags(), (std::vector<uint8_t>{0, 1}));
}

TEST(NativeMotionDecoder, HalfSampleVectorsAverageNeighbours) {
    NativeMotionDecoder decoder;
    ASSERT_TRUE(decode(decoder, mosaic(2, 1)));
    NativeStreamWriter w;
    w.startPicture();
    w.interHeader(8);
    w.noMotion();
    w.residual(false);
    w.motion(-1, 0);  // half a sample left of macroblock 1: its first column averages 0 and 1
    w.residual(false);
    ASSERT_TRUE(decode(decoder, w.bytes()));
    const int16_t* y0 = decoder.currentPicture().macroblock(1);
    EXPECT_EQ(y0[0], (43 + 50 + 1) / 2);  // Y1 of macroblock 0 (43) and Y0 of macroblock 1 (50)
    EXPECT_EQ(y0[1], 50);
    EXPECT_EQ(y0[4 * 64], (52 + 62 + 1) / 2);  // chroma: -1 is not a multiple of 4: half step from -1
}

TEST(NativeMotionDecoder, ADifferenceOutsideTheTableStopsThePicture) {
    NativeMotionDecoder decoder;
    ASSERT_TRUE(decode(decoder, mosaic(3, 1)));
    NativeStreamWriter w;
    w.startPicture();
    w.interHeader(8);
    w.noMotion();
    w.residual(true);
    w.flatMacroblock({7, 7, 7, 7, 7, 7});
    w.bits().put(1, 1);    // motion
    w.bits().put(4, 13);   // 0000000000100: no code
    w.noMotion();
    w.residual(true);
    w.flatMacroblock({8, 8, 8, 8, 8, 8});
    ASSERT_TRUE(decode(decoder, w.bytes()));
    EXPECT_EQ(decoder.currentPicture().macroblock(0)[0], 7);
    EXPECT_EQ(decoder.currentPicture().macroblock(1)[0], 50);  // kept
    EXPECT_EQ(decoder.currentPicture().macroblock(2)[0], 60);  // kept
    EXPECT_EQ(decoder.codedFlags(), (std::vector<uint8_t>{1, 0, 0}));
    EXPECT_TRUE(decoder.lastPictureDamaged());
}

TEST(NativeMotionDecoder, FrameFlagSelectsTheInverseDct) {
    NativeStreamWriter w;
    w.startPicture();
    w.intraHeader(16, 16, 2);
    MacroblockCode mb;
    mb[0].dc = 100;
    mb[0].coefficients = {{0, 12}, {0, -7}, {3, 5}, {10, 2}};
    w.intraMacroblock(mb);
    const auto bytes = w.bytes();

    // Dequantised with q = 2 at the zigzag positions 1, 2, 6 and 17 (row-major 1, 8, 3, 19).
    Block coefficients{};
    coefficients[0] = 800;
    coefficients[1] = 49;   // (2 x 12 + 1) x 2 - 1
    coefficients[8] = -29;  // (2 x 7 + 1) x 2 - 1
    coefficients[3] = 21;
    coefficients[19] = 9;
    for (const auto& [flags, variant] : {std::pair{uint16_t(0x10), IdctVariant::A},
                                         std::pair{uint16_t(0x10 | kFrameFlagCodecOption), IdctVariant::B}}) {
        NativeMotionDecoder decoder;
        ASSERT_TRUE(decode(decoder, bytes, flags));
        Block expected = test::referenceIdct(coefficients, variant);
        for (int16_t& s : expected) s = std::clamp<int16_t>(s, 0, 255);
        EXPECT_EQ(blockOf(decoder.currentPicture(), 0, 0), expected) << int(variant);
    }
    // Codec 0 always uses transform A.
    NativeDecoder plain;
    ASSERT_TRUE(decode(plain, bytes, kFrameFlagCodecOption));
    Block expectedA = test::referenceIdct(coefficients, IdctVariant::A);
    for (int16_t& s : expectedA) s = std::clamp<int16_t>(s, 0, 255);
    EXPECT_EQ(blockOf(plain.currentPicture(), 0, 0), expectedA);
}


// The reference planes and the output picture are brought up to date macroblock by macroblock
// (only those a picture wrote or the last deblocking changed); after every picture of a long
// random stream they must equal planes filled from, and a deblocking of, the whole current
// picture.
TEST(NativeMotionDecoder, ReferencePlanesAndOutputFollowTheWholeCurrentPicture) {
    constexpr uint32_t kColumns = 5, kRows = 4;
    std::mt19937 random(31);
    std::uniform_int_distribution<int> choice(0, 9), difference(-5, 5), dc(20, 230), level(-9, 9);
    NativeMotionDecoder decoder;
    ASSERT_TRUE(decode(decoder, mosaic(kColumns, kRows), 0x10));
    for (int picture = 0; picture < 40; ++picture) {
        NativeStreamWriter w;
        w.startPicture();
        w.interHeader(6);
        for (uint32_t m = 0; m < kColumns * kRows; ++m) {
            const int c = choice(random);
            MacroblockCode mb;
            for (BlockCode& b : mb) {
                b.dc = dc(random);
                if (b.dc == 128) b.dc = 127;  // an intra DC of 128 would end the macroblock
                if (choice(random) < 4) b.coefficients = {{0, level(random) | 1}, {2, 2}};
            }
            if (c < 3) {
                w.noMotion();
                w.residual(false);
            } else if (c < 4) {
                w.noMotion();
                w.residual(true);
                w.intraMacroblock(mb);
            } else {
                w.motion(c == 4 ? 0 : difference(random), c == 4 ? 0 : difference(random));
                w.residual(c >= 7);
                if (c >= 7) w.interMacroblock(mb);
            }
        }
        ASSERT_TRUE(decode(decoder, w.bytes(), 0x10));
        ASSERT_TRUE(test::outputIsDeblockedCurrent(decoder, 6)) << "picture " << picture;
        PaddedReference whole;
        whole.resize(kColumns, kRows);
        whole.refresh(decoder.currentPicture());
        const size_t lumaSamples = size_t(whole.lumaStride()) * (kRows + 2) * 16;
        const size_t chromaSamples = lumaSamples / 4;
        ASSERT_TRUE(std::equal(whole.luma(), whole.luma() + lumaSamples, decoder.reference().luma()))
            << "picture " << picture;
        ASSERT_TRUE(std::equal(whole.cb(), whole.cb() + chromaSamples, decoder.reference().cb()));
        ASSERT_TRUE(std::equal(whole.cr(), whole.cr() + chromaSamples, decoder.reference().cr()));
    }
}

}  // namespace
}  // namespace kx
