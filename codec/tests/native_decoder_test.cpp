// NativeDecoder (codec 0) on bitstreams built by the test writer: start code search, picture
// sizes, intra blocks and their coefficients, the DC that ends a macroblock, inter pictures,
// refused pictures, the RGB output, and the upkeep of the output picture.
#include "codec/native/native_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/tests/deblocked_output.h"
#include "codec/tests/native_stream_writer.h"
#include "codec/tests/reference_idct.h"
#include "codec/native/h263_tables.h"

namespace kx {
namespace {

using Block = std::array<int16_t, 64>;

bool decode(NativeDecoder& decoder, const std::vector<uint8_t>& bytes, uint16_t flags = 0) {
    return decoder.decodeBytes(bytes.data(), bytes.size(), flags);
}

// An intra picture whose every macroblock is flat with the six DC values given.
std::vector<uint8_t> flatIntra(int width, int height, int quantiser, std::array<int, 6> dc, int junkBits = 0) {
    NativeStreamWriter w;
    w.startPicture(junkBits);
    w.intraHeader(width, height, quantiser);
    const int count = int(MacroblockPicture::macroblocksOf(uint32_t(width)) * MacroblockPicture::macroblocksOf(uint32_t(height)));
    for (int i = 0; i < count; ++i) w.flatMacroblock(dc);
    return w.bytes();
}

Block blockOf(const MacroblockPicture& picture, uint32_t mb, int b) {
    Block out;
    std::copy_n(picture.macroblock(mb) + b * 64, 64, out.begin());
    return out;
}

Block filled(int16_t value) {
    Block b;
    b.fill(value);
    return b;
}

// The intra block the rules give for a DC and dequantised coefficients at scan positions.
Block expectedIntraBlock(int dc, const std::vector<std::pair<int, int>>& dequantised, IdctVariant variant) {
    Block coefficients{};
    for (const auto& [position, value] : dequantised) coefficients[h263::kZigzag[position]] = int16_t(value);
    coefficients[0] = int16_t(dc * 8);
    Block out = test::referenceIdct(coefficients, variant);
    for (int16_t& s : out) s = std::clamp<int16_t>(s, 0, 255);
    return out;
}

TEST(NativeDecoder, FindsAStartCodeAtAnOddBitOffsetAndDecodesFlatBlocks) {
    NativeDecoder decoder;
    ASSERT_TRUE(decode(decoder, flatIntra(32, 16, 8, {16, 40, 80, 120, 100, 200}, 13)));
    const MacroblockPicture& picture = decoder.currentPicture();
    ASSERT_EQ(picture.mbColumns(), 2u);
    const int dcs[6] = {16, 40, 80, 120, 100, 200};
    for (uint32_t mb = 0; mb < 2; ++mb)
        for (int b = 0; b < 6; ++b) EXPECT_EQ(blockOf(picture, mb, b), filled(int16_t(dcs[b]))) << mb << " " << b;
    EXPECT_EQ(decoder.intraQuantiser(), 8);
    EXPECT_EQ(decoder.codedFlags(), (std::vector<uint8_t>{1, 1}));

    // Without a start code nothing changes.
    const std::vector<uint8_t> noise = {0x12, 0x34, 0x00, 0x01, 0x80, 0x00, 0xFF};
    EXPECT_FALSE(decode(decoder, noise));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::NoStartCode);
    EXPECT_EQ(blockOf(decoder.currentPicture(), 1, 5), filled(200));
}

TEST(NativeDecoder, PictureSizesGiveTheirMacroblockDimensions) {
    struct Case {
        int width, height;
        uint32_t columns, rows;
    };
    NativeDecoder decoder;
    for (const Case c : {Case{352, 288, 22, 18}, Case{360, 240, 23, 15}, Case{704, 576, 44, 36}, Case{16, 16, 1, 1},
                         Case{17, 1, 2, 1}}) {
        ASSERT_TRUE(decode(decoder, flatIntra(c.width, c.height, 4, {60, 60, 60, 60, 128 + 1, 128 + 1})))
            << c.width << "x" << c.height;
        EXPECT_EQ(decoder.outputPicture().mbColumns(), c.columns);
        EXPECT_EQ(decoder.outputPicture().mbRows(), c.rows);
        EXPECT_EQ(decoder.codedFlags().size(), size_t(c.columns * c.rows));
        // The last macroblock was decoded too, and flat pictures stay flat through deblocking.
        EXPECT_EQ(blockOf(decoder.outputPicture(), c.columns * c.rows - 1, 3), filled(60));
    }
}

TEST(NativeDecoder, CoefficientsEscapeAndDequantisation) {
    struct Case {
        int quantiser;
        BlockCode code;
        std::vector<std::pair<int, int>> dequantised;  // scan position, value
    };
    const Case cases[] = {
        // Table codes: (run 0, level -1) at 1, (run 2, level 3) at 4: (2|l| + 1) q - 1.
        {8, {100, {{0, -1}, {2, 3}}}, {{1, -23}, {4, 55}}},
        // Even quantiser, escape-coded: level 255 as two's complement is -1.
        {6, {90, {{0, -1}, {5, 2}}, true}, {{1, -17}, {7, 29}}},
        // Escape with last set at the end, level -128.
        {3, {90, {{62, -128}}, true}, {{63, -770}}},
        // A magnitude past 16 bits saturates: (2 x 127 + 1) x 200 - 1 = 50999.
        {200, {60, {{0, 127}}}, {{1, 32767}}},
        // DC 255 stands for 128.
        {8, {255, {}}, {}},
    };
    for (const Case& c : cases) {
        NativeStreamWriter w;
        w.startPicture();
        w.intraHeader(16, 16, c.quantiser);
        MacroblockCode mb;
        for (auto& block : mb) block.dc = 50;
        mb[0] = c.code;
        w.intraMacroblock(mb);
        NativeDecoder decoder;
        ASSERT_TRUE(decode(decoder, w.bytes()));
        const int dc = c.code.dc == 255 ? 128 : c.code.dc;
        EXPECT_EQ(blockOf(decoder.currentPicture(), 0, 0), expectedIntraBlock(dc, c.dequantised, IdctVariant::A))
            << "quantiser " << c.quantiser;
        EXPECT_EQ(blockOf(decoder.currentPicture(), 0, 5), filled(50));  // the stream stayed in step
    }
}

TEST(NativeDecoder, ADcOf128EndsTheMacroblock) {
    NativeDecoder decoder;
    ASSERT_TRUE(decode(decoder, flatIntra(32, 16, 8, {50, 50, 50, 50, 50, 50})));
    NativeStreamWriter w;
    w.startPicture();
    w.intraHeader(32, 16, 8);
    w.bits().putCode("11");  // CBPY: intra pattern 15
    w.bits().put(0, 2);      // CBPC
    w.bits().put(60, 8);     // Y0: DC 60, one coefficient
    w.coefficients({{0, 2}});
    w.bits().put(128, 8);    // Y1: DC 128 ends the macroblock
    w.flatMacroblock({70, 70, 70, 70, 70, 70});
    ASSERT_TRUE(decode(decoder, w.bytes()));
    const MacroblockPicture& picture = decoder.currentPicture();
    EXPECT_EQ(blockOf(picture, 0, 0), expectedIntraBlock(60, {{1, 39}}, IdctVariant::A));
    EXPECT_EQ(blockOf(picture, 0, 1), filled(0));
    for (int b = 2; b < 6; ++b) EXPECT_EQ(blockOf(picture, 0, b), filled(50)) << b;
    for (int b = 0; b < 6; ++b) EXPECT_EQ(blockOf(picture, 1, b), filled(70)) << b;
}

TEST(NativeDecoder, InterPicturesUnchangedNotCodedIntraAndResidual) {
    NativeDecoder decoder;
    ASSERT_TRUE(decode(decoder, flatIntra(48, 16, 8, {100, 100, 100, 100, 128 + 1, 128 + 1})));
    const MacroblockPicture before = decoder.outputPicture();

    NativeStreamWriter unchanged;
    unchanged.startPicture();
    unchanged.unchangedInter();
    ASSERT_TRUE(decode(decoder, unchanged.bytes()));
    EXPECT_TRUE(std::equal(before.samples(), before.samples() + 3 * 384, decoder.outputPicture().samples()));

    NativeStreamWriter w;
    w.startPicture();
    w.interHeader(5);
    w.notCoded();
    w.codedInter();  // residual: a DC coefficient of level 3 in Y1, of -1 in Cr
    MacroblockCode residual;
    residual[1].coefficients = {{0, 3}};
    residual[5].coefficients = {{0, -1}};
    w.interMacroblock(residual);
    w.codedIntra();
    w.flatMacroblock({20, 20, 20, 20, 30, 30});
    ASSERT_TRUE(decode(decoder, w.bytes()));
    EXPECT_EQ(decoder.interQuantiser(), 5);
    EXPECT_EQ(decoder.codedFlags(), (std::vector<uint8_t>{0, 1, 1}));
    const MacroblockPicture& picture = decoder.currentPicture();
    for (int b = 0; b < 6; ++b) EXPECT_EQ(blockOf(picture, 0, b), blockOf(before, 0, b));
    // Residual of the inter block: (2 x 3 + 1) x 5 - 1 = 34 at position 0, transformed.
    EXPECT_EQ(blockOf(picture, 1, 1), filled(int16_t(100 + test::dcOnlySample(34, IdctVariant::A))));
    EXPECT_EQ(blockOf(picture, 1, 0), filled(100));
    EXPECT_EQ(blockOf(picture, 1, 5), filled(int16_t(129 + test::dcOnlySample(-14, IdctVariant::A))));
    EXPECT_EQ(blockOf(picture, 2, 4), filled(30));
}

TEST(NativeDecoder, RefusedPicturesLeaveThePreviousOne) {
    NativeDecoder decoder;
    NativeStreamWriter inter;
    inter.startPicture();
    inter.interHeader(8);
    EXPECT_FALSE(decode(decoder, inter.bytes()));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::NoReference);

    ASSERT_TRUE(decode(decoder, flatIntra(16, 16, 8, {90, 90, 90, 90, 90, 90})));
    const std::vector<uint8_t> zeroIntra = flatIntra(32, 32, 0, {10, 10, 10, 10, 10, 10});
    EXPECT_FALSE(decode(decoder, zeroIntra));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::ZeroQuantiser);
    NativeStreamWriter zeroInter;
    zeroInter.startPicture();
    zeroInter.interHeader(0);
    zeroInter.notCoded();
    EXPECT_FALSE(decode(decoder, zeroInter.bytes()));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::ZeroQuantiser);
    EXPECT_FALSE(decode(decoder, flatIntra(0, 16, 8, {10, 10, 10, 10, 10, 10})));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::BadSize);
    std::vector<uint8_t> cut = flatIntra(16, 16, 8, {10, 10, 10, 10, 10, 10});
    cut.resize(5);
    EXPECT_FALSE(decode(decoder, cut));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::TruncatedHeader);

    EXPECT_EQ(decoder.outputPicture().mbColumns(), 1u);
    EXPECT_EQ(blockOf(decoder.outputPicture(), 0, 0), filled(90));
}

TEST(NativeDecoder, DataEndingEarlyDecodesOnAsZerosAndMarksThePictureDamaged) {
    // 16 x 48: a 10-byte header and three macroblocks of 54 bits each, 31 bytes in all.
    NativeDecoder decoder;
    ASSERT_TRUE(decode(decoder, flatIntra(16, 48, 8, {90, 90, 90, 90, 90, 90})));
    EXPECT_FALSE(decoder.lastPictureDamaged());
    const std::vector<uint8_t> full = flatIntra(16, 48, 8, {30, 30, 30, 30, 30, 30});
    ASSERT_EQ(full.size(), 31u);
    const std::vector<uint8_t> secondRowCut(full.begin(), full.begin() + 20);
    ASSERT_TRUE(decode(decoder, secondRowCut));
    EXPECT_TRUE(decoder.lastPictureDamaged());
    EXPECT_EQ(decoder.codedFlags(), (std::vector<uint8_t>{1, 1, 1}));
    EXPECT_EQ(blockOf(decoder.currentPicture(), 0, 5), filled(30));
    // Nothing of the picture before shows through: the missing data reads as zeros.
    EXPECT_EQ(blockOf(decoder.currentPicture(), 2, 0), filled(0));
    EXPECT_EQ(blockOf(decoder.currentPicture(), 2, 5), filled(0));

    ASSERT_TRUE(decode(decoder, full));
    EXPECT_FALSE(decoder.lastPictureDamaged());
    EXPECT_EQ(blockOf(decoder.currentPicture(), 2, 0), filled(30));

    // An inter picture cut inside its macroblocks is damaged the same way.
    NativeStreamWriter inter;
    inter.startPicture();
    inter.interHeader(8);
    inter.notCoded();
    std::vector<uint8_t> interBytes = inter.bytes();
    ASSERT_TRUE(decode(decoder, interBytes));
    EXPECT_TRUE(decoder.lastPictureDamaged());
    EXPECT_EQ(blockOf(decoder.currentPicture(), 0, 0), filled(30));
    EXPECT_EQ(blockOf(decoder.currentPicture(), 2, 0), filled(0));
}

TEST(NativeDecoder, ConvertAndDecodeToRgb) {
    NativeDecoder decoder;
    std::vector<uint8_t> planes(32 * 16 * 3, 0xEE);
    EXPECT_FALSE(decoder.convert(planes.data()));
    EXPECT_EQ(planes, std::vector<uint8_t>(32 * 16 * 3, 0xEE));

    ASSERT_TRUE(decode(decoder, flatIntra(32, 16, 8, {77, 77, 77, 77, 128 + 1, 128 + 1})));
    EXPECT_FALSE(decoder.convert(nullptr));
    ASSERT_TRUE(decoder.convert(planes.data()));
    // Cb = Cr = 129: R = 77 + (4 x 22970 >> 16) = 78, G = 77 - 0 - 0, B = 77 + 1.
    EXPECT_EQ(planes[0], 78);
    EXPECT_EQ(planes[512 + 100], 77);
    EXPECT_EQ(planes[1024 + 511], 78);
}


// The output picture is brought up to date macroblock by macroblock (only those a picture wrote
// or the last deblocking changed); after every picture of a long random stream, with unchanged
// pictures, cut-short macroblocks and data ending early among them, it must equal a deblocking
// of the whole current picture.
TEST(NativeDecoder, OutputFollowsTheWholeCurrentPicture) {
    constexpr int kColumns = 6, kRows = 5;
    std::mt19937 random(37);
    std::uniform_int_distribution<int> choice(0, 9), dc(1, 254), level(-9, 9), quantiser(1, 31);
    const auto randomMacroblock = [&] {
        MacroblockCode mb;
        for (BlockCode& b : mb) {
            b.dc = dc(random);
            if (choice(random) < 5) b.coefficients = {{0, level(random) | 1}, {1, 3}};
        }
        return mb;
    };
    NativeDecoder decoder;
    ASSERT_TRUE(decode(decoder, flatIntra(kColumns * 16, kRows * 16, 4, {60, 70, 80, 90, 100, 110})));
    int deblockedWith = 4;
    ASSERT_TRUE(test::outputIsDeblockedCurrent(decoder, deblockedWith));
    for (int picture = 0; picture < 60; ++picture) {
        NativeStreamWriter w;
        w.startPicture();
        if (picture % 13 == 12) {
            w.unchangedInter();
        } else if (picture % 17 == 16) {
            w.intraHeader(kColumns * 16, kRows * 16, quantiser(random));
            for (int m = 0; m < kColumns * kRows; ++m) w.intraMacroblock(randomMacroblock());
        } else {
            w.interHeader(quantiser(random));
            for (int m = 0; m < kColumns * kRows; ++m) {
                const int c = choice(random);
                if (c < 5) {
                    w.notCoded();
                } else if (c < 7) {
                    w.codedIntra();
                    w.intraMacroblock(randomMacroblock());  // a DC of 128 cuts it short
                } else {
                    w.codedInter();
                    w.interMacroblock(randomMacroblock());
                }
            }
        }
        std::vector<uint8_t> bytes = w.bytes();
        if (picture % 7 == 6) bytes.resize(bytes.size() * 2 / 3);  // the data ends early
        ASSERT_TRUE(decode(decoder, bytes));
        // An unchanged picture leaves the output of the picture before it.
        if (picture % 13 != 12)
            deblockedWith = picture % 17 == 16 ? decoder.intraQuantiser() : decoder.interQuantiser();
        ASSERT_TRUE(test::outputIsDeblockedCurrent(decoder, deblockedWith)) << "picture " << picture;
    }
}

}  // namespace
}  // namespace kx
