// LegacyDecoder on bitstreams built by the test writer: its transform and dequantisation, the
// start code window, picture geometry, macroblock groups, intra and inter pictures, failures
// that still show what was decoded, refused input, and the doubled variant.
#include "codec/legacy/legacy_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "codec/legacy/legacy_transform.h"
#include "codec/native/h263_tables.h"
#include "codec/tests/legacy_stream_writer.h"

namespace kx {
namespace {

using Block = std::array<int16_t, 64>;

// A decoder set up for the variant, with a destination it may fill.
struct Decoding {
    explicit Decoding(uint32_t variant = LegacyDecoder::kVariantPlain)
        : destination(LegacyDecoder::kMaxOutputBytes, 0xEE) {
        EXPECT_TRUE(decoder.Setup(variant));
    }
    LegacyDecodeResult decode(const std::vector<uint8_t>& bytes) {
        LegacyDecodeResult result;
        decoder.Decode(result, bytes.data(), uint32_t(bytes.size()), destination.data(), destination.size(), 0);
        return result;
    }
    int luma(int x, int y) const { return decoder.Planes()[size_t(y) * size_t(decoder.Width()) + size_t(x)]; }
    // The green byte of pixel (x, y) of a picture `width` wide: the luma for grey chroma.
    int green(int width, int x, int y) const { return destination[(size_t(y) * size_t(width) + size_t(x)) * 3 + 1]; }

    LegacyDecoder decoder;
    std::vector<uint8_t> destination;
};

// An intra picture in which macroblock i has luma dc(i) and grey chroma.
template <class Dc>
std::vector<uint8_t> flatIntra(int width, int height, int groups, Dc dc, int fill = 0, int junkBits = 0) {
    LegacyStreamWriter w;
    w.startPicture(junkBits);
    w.intraHeader(width, height, 8);
    const int count = (width / 16) * (height / 16);
    w.beginMacroblocks(count, groups, fill);
    for (int i = 0; i < count; ++i) {
        const int y = dc(i);
        w.flatMacroblock({y, y, y, y, 128 + 127, 128 + 127});  // 255 stands for 128
    }
    return w.bytes();
}

std::vector<uint8_t> uniformIntra(int width, int height, int y) {
    return flatIntra(width, height, 0, [y](int) { return y; });
}

// The plain transform in floating point, scaled like the codec (a DC of 8 d gives d).
std::array<double, 64> floatIdct(const Block& in) {
    std::array<double, 64> out{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    const double cu = u == 0 ? 1 / std::numbers::sqrt2 : 1;
                    const double cv = v == 0 ? 1 / std::numbers::sqrt2 : 1;
                    sum += cu * cv * in[size_t(v * 8 + u)] * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                           std::cos((2 * y + 1) * v * std::numbers::pi / 16);
                }
            out[size_t(y * 8 + x)] = sum / 4;
        }
    return out;
}

TEST(LegacyTransform, DequantisesOddAndEvenQuantisersDifferently) {
    struct Case { int level, quantiser, expected; };
    for (const Case& c : {Case{1, 4, 11}, Case{1, 5, 15}, Case{-1, 4, -11}, Case{-1, 5, -15}, Case{3, 2, 13},
                          Case{3, 7, 49}, Case{0, 9, 0}, Case{-128, 31, -7967}, Case{127, 255, 32767}})
        EXPECT_EQ(legacy::dequantise(c.level, c.quantiser), c.expected) << c.level << " at q " << c.quantiser;
}

// The first pass rounds to whole numbers at a third of the final scale, so single samples may
// miss by up to two; a wrong constant or order would miss by far more.
TEST(LegacyTransform, InverseDctIsTheCosineTransformWithinItsRounding) {
    for (int d : {0, 1, 100, 128, 255}) {
        Block block{};
        block[0] = int16_t(8 * d);
        legacy::inverseDct(block.data());
        for (int16_t sample : block) ASSERT_EQ(sample, d);
    }
    std::mt19937 random(5);
    std::uniform_int_distribution<int> value(-300, 300), position(0, 63);
    double totalError = 0;
    for (int trial = 0; trial < 500; ++trial) {
        Block block{};
        block[0] = int16_t(value(random) + 1000);
        for (int i = 0; i < 6; ++i) block[size_t(position(random))] = int16_t(value(random));
        const std::array<double, 64> expected = floatIdct(block);
        legacy::inverseDct(block.data());
        for (size_t i = 0; i < 64; ++i) {
            ASSERT_NEAR(block[i], expected[i], 2.0) << "trial " << trial << " sample " << i;
            totalError += std::fabs(block[i] - expected[i]);
        }
    }
    EXPECT_LT(totalError / (500 * 64), 0.5);
}

// The SSE2 passes against the plain ones: random blocks of the usual sizes, sparse blocks, and
// extreme ones whose 32-bit sums wrap and whose results do not fit 16 bits.
TEST(LegacyTransform, Sse2KernelGivesThePlainSamples) {
    std::mt19937 random(17);
    std::uniform_int_distribution<int> wide(-32768, 32767), usual(-2048, 2047), position(0, 63),
        kind(0, 6);
    const auto check = [](const Block& block, int trial) {
        Block plain = block, sse2 = block;
        legacy::inverseDct(plain.data(), KernelPath::Plain);
        legacy::inverseDct(sse2.data(), KernelPath::Sse2);
        ASSERT_EQ(sse2, plain) << "trial " << trial;
    };
    for (int16_t extreme : {int16_t(-32768), int16_t(32767), int16_t(-1), int16_t(1)}) {
        Block all;
        all.fill(extreme);
        check(all, -1);
        Block alternating;
        for (size_t i = 0; i < 64; ++i)
            alternating[i] = int16_t(((i ^ (i >> 3)) & 1) ? extreme : -32768);
        check(alternating, -2);
    }
    for (int trial = 0; trial < 4000; ++trial) {
        Block block{};
        switch (kind(random)) {
            case 0:
                for (int16_t& v : block) v = int16_t(wide(random));
                break;
            case 1:
                for (int16_t& v : block) v = int16_t(usual(random));
                break;
            case 2:
                for (int16_t& v : block) v = int16_t(wide(random) < 0 ? -32768 : 32767);
                break;
            case 3:  // rows 4 to 7 zero, which the SSE2 row pass skips
                for (size_t i = 0; i < 32; ++i) block[i] = int16_t(wide(random));
                break;
            default:
                block[0] = int16_t(usual(random) & 2047);
                for (int i = 0; i < kind(random) * 3; ++i)
                    block[size_t(position(random))] = int16_t(wide(random));
                break;
        }
        check(block, trial);
    }
}

// The SSE2 block writing against the plain loops: entries over the whole 16-bit range and near
// 0..255, onto random samples, in a plane wider than the block.
TEST(LegacyTransform, Sse2BlockWritingGivesThePlainSamples) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int> wide(-32768, 32767), near(-300, 555), byte(0, 255);
    for (int trial = 0; trial < 2000; ++trial) {
        Block block;
        for (int16_t& v : block)
            v = int16_t(trial % 3 == 0       ? wide(random)
                        : trial % 3 == 1     ? near(random)
                        : (byte(random) & 1) ? 32767
                                             : -32768);
        constexpr size_t kStride = 13;
        std::vector<uint8_t> plane(kStride * 8 + 3);
        for (uint8_t& v : plane) v = uint8_t(byte(random));
        for (const auto kind : {legacy::BlockWrite::Put, legacy::BlockWrite::Add}) {
            std::vector<uint8_t> plain = plane, sse2 = plane;
            legacy::writeBlock(plain.data() + 2, kStride, block.data(), kind, KernelPath::Plain);
            legacy::writeBlock(sse2.data() + 2, kStride, block.data(), kind, KernelPath::Sse2);
            ASSERT_EQ(sse2, plain) << "trial " << trial;
        }
    }
}

// A block holding only its DC is filled with dcOnlySample, for every 16-bit DC.
TEST(LegacyTransform, ALoneDcFillsTheBlockWithDcOnlySample) {
    for (int dc = -32768; dc <= 32767; ++dc) {
        Block block{};
        block[0] = int16_t(dc);
        legacy::inverseDct(block.data(), KernelPath::Plain);
        const int16_t expected = legacy::dcOnlySample(int16_t(dc));
        for (int16_t sample : block) ASSERT_EQ(sample, expected) << "dc " << dc;
    }
}

TEST(LegacyDecoder, SetupTakesTheTwoVariantsOnlyAndDecodeNeedsIt) {
    LegacyDecoder decoder;
    LegacyDecodeResult result;
    const std::vector<uint8_t> bytes = uniformIntra(16, 16, 50);
    std::vector<uint8_t> out(16 * 16 * 3);
    decoder.Decode(result, bytes.data(), uint32_t(bytes.size()), out.data(), out.size(), 0);
    EXPECT_EQ(result.error, 1u);
    EXPECT_FALSE(decoder.Setup(0x20020115));
    EXPECT_TRUE(decoder.Setup(LegacyDecoder::kVariantPlain));
    EXPECT_TRUE(decoder.Setup(LegacyDecoder::kVariantDoubled));
    EXPECT_EQ(LegacyDecoder::VariantOfVersion(0x1000), LegacyDecoder::kVariantDoubled);
    for (uint32_t version : {0x100u, 0x101u, 0xFFFu, 0x1001u})
        EXPECT_EQ(LegacyDecoder::VariantOfVersion(version), LegacyDecoder::kVariantPlain);
}

TEST(LegacyDecoder, StartCodeIsSearchedAtTheFirst161BitOffsetsOnly) {
    Decoding d;
    const LegacyDecodeResult found = d.decode(flatIntra(32, 16, 0, [](int) { return 77; }, 0, 160));
    EXPECT_EQ(found.error, 0u);
    EXPECT_EQ(found.sizeChanged, 1u);
    EXPECT_EQ(d.green(32, 31, 15), 77);

    Decoding late;
    const LegacyDecodeResult missing = late.decode(flatIntra(32, 16, 0, [](int) { return 77; }, 0, 161));
    EXPECT_EQ(missing.error, 1u);
    EXPECT_EQ(missing.width, 0u);
    EXPECT_EQ(late.destination[0], 0xEE);  // nothing written
}

TEST(LegacyDecoder, SizesAreTruncatedToWholeMacroblocks) {
    Decoding d;
    // 360 x 240: 22 x 15 macroblocks; the decoder reads exactly 330 of them.
    const LegacyDecodeResult result = d.decode(flatIntra(360, 240, 0, [](int i) { return 10 + i % 100; }));
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(d.decoder.MacroblockColumns(), 22);
    EXPECT_EQ(d.decoder.MacroblockRows(), 15);
    EXPECT_EQ(result.width, 360u);
    EXPECT_EQ(result.height, 240u);
    EXPECT_EQ(d.luma(351, 239), 10 + 329 % 100);
    EXPECT_EQ(d.luma(352, 0), 0);  // the last 8 columns belong to no macroblock
    EXPECT_EQ(d.green(360, 351, 239), 10 + 329 % 100);
}

TEST(LegacyDecoder, MacroblockGroupsReAlignBeforeEachRunOfTen) {
    // 320 x 240 is 300 macroblocks. The alignment bits are ones: a decoder that skipped them at
    // other places would read them as macroblock data.
    for (int groups : {0, 3, 30}) {
        for (int fill : {0, 1}) {
            Decoding d;
            const auto dc = [](int i) { return 1 + (i * 7) % 127; };  // 128 would fail the picture
            const LegacyDecodeResult result = d.decode(flatIntra(320, 240, groups, dc, fill));
            ASSERT_EQ(result.error, 0u) << groups << " groups, fill " << fill;
            for (int i = 0; i < 300; ++i)
                ASSERT_EQ(d.luma((i % 20) * 16 + 5, (i / 20) * 16 + 9), dc(i)) << "macroblock " << i;
        }
    }
    // Three groups mean re-alignment before 270, 280 and 290: a stream aligned for two groups
    // (before 280 and 290 only) is read differently.
    LegacyStreamWriter w;
    w.startPicture();
    w.intraHeader(320, 240, 8);
    w.beginMacroblocks(300, 2, 1);
    for (int i = 0; i < 300; ++i) w.flatMacroblock({1 + i % 7, 1, 1, 1, 255, 255});
    std::vector<uint8_t> bytes = w.bytes();
    // Patch the group count (the 16 bits after the 64-bit aligned header) from 2 to 3.
    ASSERT_EQ(bytes[8], 0);
    ASSERT_EQ(bytes[9], 2);
    bytes[9] = 3;
    Decoding d;
    const LegacyDecodeResult misaligned = d.decode(bytes);
    bool same = misaligned.error == 0;
    for (int i = 270; i < 300 && same; ++i) same = d.luma((i % 20) * 16, (i / 20) * 16) == 1 + i % 7;
    EXPECT_FALSE(same);
}

TEST(LegacyDecoder, Dc255IsAFlatBlockOf128) {
    Decoding d;
    ASSERT_EQ(d.decode(uniformIntra(16, 16, 255)).error, 0u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(d.luma(x, y), 128);
}

TEST(LegacyDecoder, IntraCoefficientsUseTheIntraQuantiserOfTheirParity) {
    for (const auto& [quantiser, dequantised] : {std::pair{4, 11}, std::pair{5, 15}}) {
        LegacyStreamWriter w;
        w.startPicture();
        w.intraHeader(16, 16, quantiser);
        w.beginMacroblocks(1, 0);
        MacroblockCode mb;
        for (BlockCode& b : mb) b.dc = 100;
        mb[0].coefficients = {{0, 1}};   // scan position 1, level 1
        mb[3].coefficients = {{2, -1}};  // scan position 3, level -1
        w.intraMacroblock(mb);
        Decoding d;
        ASSERT_EQ(d.decode(w.bytes()).error, 0u);
        EXPECT_EQ(d.decoder.IntraQuantiser(), quantiser);
        Block y0{}, y3{};
        y0[0] = y3[0] = 800;
        y0[h263::kZigzag[1]] = int16_t(dequantised);
        y3[h263::kZigzag[3]] = int16_t(-dequantised);
        legacy::inverseDct(y0.data());
        legacy::inverseDct(y3.data());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                ASSERT_EQ(d.luma(x, y), y0[size_t(y * 8 + x)]) << "q " << quantiser;
                ASSERT_EQ(d.luma(8 + x, 8 + y), y3[size_t(y * 8 + x)]) << "q " << quantiser;
            }
    }
}

TEST(LegacyDecoder, InterPicturesKeepAddToOrReplaceTheirMacroblocks) {
    Decoding d;
    ASSERT_EQ(d.decode(uniformIntra(48, 16, 100)).error, 0u);
    LegacyStreamWriter w;
    w.startPicture(3);
    w.interHeader(5);
    w.beginMacroblocks(3, 0);
    w.notCoded();
    MacroblockCode residual;
    residual[1].coefficients = {{0, 2}};  // Y1: scan position 0, level 2 -> (2 x 2 + 1) x 5 = 25
    w.interMacroblock(residual);
    MacroblockCode intra;
    for (BlockCode& b : intra) b.dc = 30;
    intra[4].dc = intra[5].dc = 255;
    intra[2].coefficients = {{0, 1}};  // dequantised with the inter quantiser 5: 15
    w.intraInInter(intra);
    const LegacyDecodeResult result = d.decode(w.bytes());
    ASSERT_EQ(result.error, 0u);
    EXPECT_EQ(result.pictureType, 2u);
    EXPECT_EQ(result.unchanged, 0u);
    EXPECT_EQ(result.sizeChanged, 0u);
    EXPECT_EQ(d.decoder.InterQuantiser(), 5);
    EXPECT_EQ(d.decoder.IntraQuantiser(), 8);

    Block added{};
    added[0] = 25;
    legacy::inverseDct(added.data());
    Block replaced{};
    replaced[0] = 240;
    replaced[h263::kZigzag[1]] = 15;
    legacy::inverseDct(replaced.data());
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            ASSERT_EQ(d.luma(x, y), 100);                                         // not coded
            ASSERT_EQ(d.luma(16 + x, y), 100);                                    // Y0 without coefficients
            ASSERT_EQ(d.luma(24 + x, y), 100 + added[size_t(y * 8 + x)]);          // Y1 with a residual
            ASSERT_EQ(d.luma(32 + x, 8 + y), replaced[size_t(y * 8 + x)]);        // Y2 of the intra macroblock
            ASSERT_EQ(d.luma(40 + x, 8 + y), 30);
        }
}

TEST(LegacyDecoder, AnUnchangedPictureShowsThePreviousOne) {
    Decoding d;
    ASSERT_EQ(d.decode(flatIntra(32, 32, 0, [](int i) { return 20 + 40 * i; })).error, 0u);
    const std::vector<uint8_t> shown(d.destination.begin(), d.destination.begin() + 32 * 32 * 3);
    std::fill(d.destination.begin(), d.destination.end(), uint8_t(0));
    LegacyStreamWriter w;
    w.startPicture();
    w.unchangedInter();
    const LegacyDecodeResult result = d.decode(w.bytes());
    EXPECT_EQ(result.error, 0u);
    EXPECT_EQ(result.unchanged, 1u);
    EXPECT_EQ(result.pictureType, 2u);
    EXPECT_EQ(result.width, 32u);
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), d.destination.begin()));
}

TEST(LegacyDecoder, AFailingPictureStillShowsWhatWasDecoded) {
    Decoding d;
    ASSERT_EQ(d.decode(uniformIntra(64, 32, 50)).error, 0u);  // 4 x 2 macroblocks of 50
    struct Case { const char* what; int failing; };
    for (const Case c : {Case{"dc 128", 0}, Case{"code below 8", 1}, Case{"position 64", 2}}) {
        LegacyStreamWriter w;
        w.startPicture();
        w.intraHeader(64, 32, 8);
        w.beginMacroblocks(8, 0);
        for (int i = 0; i < 3; ++i) w.flatMacroblock({90 + i, 90 + i, 90 + i, 90 + i, 255, 255});
        MacroblockCode bad;
        bad[1].dc = c.failing == 0 ? 128 : 60;
        if (c.failing == 2) bad[1].coefficients = {{40, 1}, {30, 1}};  // reaches position 72
        if (c.failing == 1) bad[1].coefficients = {{0, 1}};
        w.intraMacroblock(bad);
        std::vector<uint8_t> bytes = w.bytes();
        if (c.failing == 1) bytes.resize(bytes.size() - 2);  // the coefficient's code cut off: zeros follow
        const LegacyDecodeResult result = d.decode(bytes);
        EXPECT_EQ(result.error, 1u) << c.what;
        EXPECT_EQ(d.decoder.LastFailure(), c.failing == 1 ? LegacyFailure::DataEndsEarly : LegacyFailure::BadMacroblock)
            << c.what;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(d.green(64, i * 16 + 3, 5), 90 + i) << c.what;
        EXPECT_EQ(d.green(64, 3 * 16 + 3, 3), 50) << c.what;  // the failing macroblock stays
        EXPECT_EQ(d.green(64, 3, 20 + 8), 50) << c.what;       // and the row below
    }
}

TEST(LegacyDecoder, RefusesLongFramesLargePicturesAndSmallDestinations) {
    Decoding d;
    ASSERT_EQ(d.decode(uniformIntra(32, 16, 70)).error, 0u);
    std::fill(d.destination.begin(), d.destination.end(), uint8_t(0xEE));

    std::vector<uint8_t> longFrame = uniformIntra(32, 16, 80);
    longFrame.resize(LegacyDecoder::kDataBytes + 1);
    EXPECT_EQ(d.decode(longFrame).error, 1u);
    EXPECT_EQ(d.destination[0], 0xEE);
    longFrame.resize(LegacyDecoder::kDataBytes);  // the largest frame there is
    EXPECT_EQ(d.decode(longFrame).error, 0u);
    EXPECT_EQ(d.luma(0, 0), 80);

    std::fill(d.destination.begin(), d.destination.end(), uint8_t(0xEE));
    LegacyStreamWriter large;
    large.startPicture();
    large.intraHeader(1023, 301, 8);  // 307923 samples: more than the planes hold
    const LegacyDecodeResult refused = d.decode(large.bytes());
    EXPECT_EQ(refused.error, 1u);
    EXPECT_EQ(refused.sizeChanged, 0u);
    EXPECT_EQ(d.decoder.Width(), 32);
    EXPECT_EQ(d.destination[0], 0xEE);
    EXPECT_EQ(d.luma(0, 0), 80);

    const LegacyDecodeResult full = d.decode(uniformIntra(640, 480, 33));
    EXPECT_EQ(full.error, 0u);
    EXPECT_EQ(d.green(640, 639, 479), 33);

    LegacyDecodeResult result;
    std::vector<uint8_t> small(640 * 480 * 3 - 1, 0xEE);
    const std::vector<uint8_t> bytes = uniformIntra(640, 480, 34);
    d.decoder.Decode(result, bytes.data(), uint32_t(bytes.size()), small.data(), small.size(), 0);
    EXPECT_EQ(result.error, 1u);
    EXPECT_EQ(small[0], 0xEE);
}

TEST(LegacyDecoder, TheDoubledVariantDoublesEveryWidth) {
    for (int width : {32, 320, 352, 48}) {
        Decoding d(LegacyDecoder::kVariantDoubled);
        const int height = 32;
        const auto dc = [](int i) { return 10 + 37 * i % 110; };
        const LegacyDecodeResult result = d.decode(flatIntra(width, height, 0, dc));
        ASSERT_EQ(result.error, 0u);
        EXPECT_EQ(result.width, uint32_t(2 * width));
        EXPECT_EQ(result.height, uint32_t(height));
        const int columns = width / 16;
        for (int y : {0, 31}) {
            for (int x = 0; x < width; ++x) {
                const int here = dc((y / 16) * columns + x / 16);
                const int next = x + 1 < width ? dc((y / 16) * columns + (x + 1) / 16) : here;
                ASSERT_EQ(d.green(2 * width, 2 * x, y), here) << width << " x " << x;
                ASSERT_EQ(d.green(2 * width, 2 * x + 1, y), (here + next) >> 1) << width << " x " << x;
            }
        }
    }
}

}  // namespace
}  // namespace kx
