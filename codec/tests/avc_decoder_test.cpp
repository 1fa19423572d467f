// The avc codec's decoder: its H.264 tables against entries of the standard, CAVLC against the
// standard's worked example, the nine 4x4 intra modes against hand-computed blocks, the
// engine's edge cases (byte order, versions, quantiser, sizes, frame length, pictures missing
// or refused) on bitstreams built here, and the decoder's picture into an RgbPicture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/avc/avc_decoder.h"
#include "codec/avc/avc_engine.h"
#include "codec/avc/avc_prediction.h"
#include "codec/avc/avc_reconstruction.h"
#include "codec/avc/avc_residual.h"
#include "codec/avc/avc_tables.h"
#include "codec/colour/colour_convert.h"
#include "codec/create_decoder.h"
#include "codec/kernel_path.h"
#include "codec/tests/native_stream_writer.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

using namespace avc;

// Bits written as text, padded with zero bits to whole bytes plus the reader's padding.
std::vector<uint8_t> bitsOf(const std::string& text) {
    SyntaxBitWriter writer;
    writer.putCode(text);
    std::vector<uint8_t> bytes = writer.bytes();
    bytes.resize(bytes.size() + BitReader::kPadding, 0);
    return bytes;
}

PrefixEntry lookupText(int table, const std::string& code) {
    const std::vector<uint8_t> bytes = bitsOf(code);
    BitReader reader;
    reader.reset(bytes.data(), bytes.size() - BitReader::kPadding);
    return table < 0 ? kChromaDcTokenTable.lookup(reader.peek(24))
                     : kCoeffTokenTables[size_t(table)].lookup(reader.peek(24));
}

TEST(AvcTables, EntriesMatchTheStandard) {
    // coeff_token (Table 9-5): code, nC table, total coefficients, trailing ones.
    struct Token {
        const char* code;
        int table, total, ones;
    };
    for (const Token& t :
         {Token{"1", 0, 0, 0}, Token{"0000 0110", 0, 3, 1}, Token{"0000 0000 0000 1000", 0, 16, 3},
          Token{"0000 0000 0000 0111", 0, 15, 0}, Token{"11", 1, 0, 0}, Token{"0010 10", 1, 3, 1},
          Token{"0000 0000 0001 11", 1, 16, 0}, Token{"1111", 2, 0, 0},
          Token{"0000 0000 01", 2, 16, 0}, Token{"01", -1, 0, 0}, Token{"0000 000", -1, 4, 3},
          Token{"0001 00", -1, 2, 0}}) {
        const PrefixEntry entry = lookupText(t.table, t.code);
        std::string bits(t.code);
        std::erase(bits, ' ');
        EXPECT_EQ(entry.length, bits.size()) << t.code;
        EXPECT_EQ(entry.symbol, t.total * 4 + t.ones) << t.code;
    }
    EXPECT_EQ(coeffTokenFixed(0b000011), 0);
    EXPECT_EQ(coeffTokenFixed(0b111111), 16 * 4 + 3);
    EXPECT_EQ(coeffTokenFixed(0b000010), -1);  // one coefficient, two trailing ones
    // Table 9-4: codeNum 0, 3 and 47 of both columns.
    EXPECT_EQ(kIntraCbp[0], 47);
    EXPECT_EQ(kIntraCbp[3], 0);
    EXPECT_EQ(kIntraCbp[47], 41);
    EXPECT_EQ(kInterCbp[0], 0);
    EXPECT_EQ(kInterCbp[12], 47);
    EXPECT_EQ(kInterCbp[47], 41);
    // LevelScale (8-315) for q mod 6 = 0 and 5; alpha, beta, tC0 (Tables 8-16, 8-17).
    EXPECT_EQ(levelScale(0, 0), 10);
    EXPECT_EQ(levelScale(0, 5), 16);
    EXPECT_EQ(levelScale(0, 1), 13);
    EXPECT_EQ(levelScale(5, 0), 18);
    EXPECT_EQ(levelScale(5, 15), 29);
    EXPECT_EQ(levelScale(5, 4), 23);
    EXPECT_EQ(kAlpha[15], 0);
    EXPECT_EQ(kAlpha[16], 4);
    EXPECT_EQ(kAlpha[30], 25);
    EXPECT_EQ(kAlpha[51], 255);
    EXPECT_EQ(kBeta[16], 2);
    EXPECT_EQ(kBeta[30], 8);
    EXPECT_EQ(kBeta[51], 18);
    EXPECT_EQ(kTc0[17][2], 1);
    EXPECT_EQ(kTc0[17][1], 0);
    EXPECT_EQ(kTc0[30][2], 2);
    EXPECT_EQ(kTc0[51][0], 13);
    EXPECT_EQ(kTc0[51][2], 25);
}

// The worked example of a 4x4 block in CAVLC (nC 0): 5 coefficients, 3 trailing ones,
// total_zeros 3, runs 1, 0, 0, 1.
TEST(AvcCavlc, DecodesTheStandardExample) {
    const std::vector<uint8_t> bytes = bitsOf("0000100 011 1 0010 111 10 1 1 01");
    BitReader reader;
    reader.reset(bytes.data(), bytes.size() - BitReader::kPadding);
    int32_t block[16] = {};
    ASSERT_EQ(readCavlcBlock(reader, 0, block, kZigzag4x4, 0, 16), 5);
    const int32_t expected[16] = {0, 3, -1, 0, 0, -1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], expected[i]) << i;
    EXPECT_EQ(reader.position(), 24u);
}

TEST(AvcCavlc, RefusesCodesOutsideTheTablesAndBlocks) {
    for (const char* code :
         {"0000 0000 0000 0000",       // no coeff_token
          "0000 0000 0000 1000 1"}) {  // 16 coefficients in a 15-coefficient block
        const std::vector<uint8_t> bytes = bitsOf(code);
        BitReader reader;
        reader.reset(bytes.data(), bytes.size() - BitReader::kPadding);
        int32_t block[16] = {};
        EXPECT_EQ(readCavlcBlock(reader, 0, block, kZigzag4x4, 1, 15), -1) << code;
    }
}

TEST(AvcIntraPrediction, NineModesMatchHandComputedBlocks) {
    LumaNeighbours n;
    const uint8_t samples[13] = {5, 10, 20, 30, 40, 50, 60, 70, 80, 15, 25, 35, 45};
    std::memcpy(n.samples, samples, 13);
    n.above = n.left = true;
    const uint8_t expected[9][16] = {
        {10, 20, 30, 40, 10, 20, 30, 40, 10, 20, 30, 40, 10, 20, 30, 40},
        {15, 15, 15, 15, 25, 25, 25, 25, 35, 35, 35, 35, 45, 45, 45, 45},
        {28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28, 28},
        {20, 30, 40, 50, 30, 40, 50, 60, 40, 50, 60, 70, 50, 60, 70, 78},
        {9, 11, 20, 30, 15, 9, 11, 20, 25, 15, 9, 11, 35, 25, 15, 9},
        {8, 15, 25, 35, 9, 11, 20, 30, 15, 8, 15, 25, 25, 9, 11, 20},
        {10, 9, 11, 20, 20, 15, 10, 9, 30, 25, 20, 15, 40, 35, 30, 25},
        {15, 25, 35, 45, 20, 30, 40, 50, 25, 35, 45, 55, 30, 40, 50, 60},
        {20, 25, 30, 35, 30, 35, 40, 43, 40, 43, 45, 45, 45, 45, 45, 45},
    };
    for (int mode = 0; mode < 9; ++mode) {
        uint8_t out[16];
        predictLuma4x4(mode, n, out, 4);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(out[i], expected[mode][i]) << "mode " << mode << " sample " << i;
    }
    // DC with only the left column, only the row above, neither.
    uint8_t out[16];
    n.above = false;
    predictLuma4x4(2, n, out, 4);
    EXPECT_EQ(out[0], (15 + 25 + 35 + 45 + 2) >> 2);
    n.above = true;
    n.left = false;
    predictLuma4x4(2, n, out, 4);
    EXPECT_EQ(out[5], (10 + 20 + 30 + 40 + 2) >> 2);
    n.above = false;
    predictLuma4x4(2, n, out, 4);
    EXPECT_EQ(out[15], 128);
}

TEST(AvcIntraPrediction, ChromaDcQuadrantsAndPlane) {
    ChromaNeighbours n;
    for (int i = 0; i < 8; ++i) n.above[i] = uint8_t(10 * i), n.left[i] = uint8_t(100 + i);
    n.aboveLeft = 50;
    n.hasAbove = n.hasLeft = true;
    uint8_t out[64];
    predictChroma8x8(0, n, out, 8);
    EXPECT_EQ(out[0], (0 + 10 + 20 + 30 + 100 + 101 + 102 + 103 + 4) >> 3);
    EXPECT_EQ(out[4], (40 + 50 + 60 + 70 + 2) >> 2);
    EXPECT_EQ(out[32], (104 + 105 + 106 + 107 + 2) >> 2);
    EXPECT_EQ(out[36], (40 + 50 + 60 + 70 + 104 + 105 + 106 + 107 + 4) >> 3);
    n.hasLeft = false;  // only above: the left quadrants from samples 0 to 3
    predictChroma8x8(0, n, out, 8);
    EXPECT_EQ(out[32], (0 + 10 + 20 + 30 + 2) >> 2);
    EXPECT_EQ(out[36], (40 + 50 + 60 + 70 + 2) >> 2);
    n.hasLeft = true;
    n.hasAbove = false;  // only left: the top quadrants from samples 0 to 3, the bottom 4 to 7
    predictChroma8x8(0, n, out, 8);
    EXPECT_EQ(out[4], (100 + 101 + 102 + 103 + 2) >> 2);
    EXPECT_EQ(out[36], (104 + 105 + 106 + 107 + 2) >> 2);
    n.hasLeft = false;
    predictChroma8x8(0, n, out, 8);
    EXPECT_EQ(out[36], 128);
    n.hasLeft = n.hasAbove = true;
    predictChroma8x8(3, n, out, 8);
    // H = 1(40-20) + 2(50-10) + 3(60-0) + 4(70-50) = 360; V = 1(104-102) + 2(105-101) + 3(106-100)
    // + 4(107-50) = 256; a = 16 (107 + 70); b = (17 H + 16) >> 5; c = (17 V + 16) >> 5.
    const int a = 16 * (107 + 70), b = (17 * 360 + 16) >> 5, c = (17 * 256 + 16) >> 5;
    EXPECT_EQ(out[0], std::clamp((a - 3 * b - 3 * c + 16) >> 5, 0, 255));
    EXPECT_EQ(out[63], std::clamp((a + 4 * b + 4 * c + 16) >> 5, 0, 255));
}

TEST(AvcInterPrediction, SixTapHalfStepsToEitherSide) {
    // A row 0, 0, ..., 0, 255 (at x = 8), 0, ... : the half step right of x = 7 is
    // (20 x 255 + 16) >> 5 = 159; left of x = 9 likewise; left of x = 8 is also 159.
    std::vector<uint8_t> plane(64 * 64, 0);
    for (int y = 0; y < 64; ++y) plane[size_t(y * 64 + 8 + 16)] = 255;
    uint8_t out[256];
    const uint8_t* origin = plane.data() + 20 * 64 + 16;
    predictLumaInter(origin + 7, 64, 1, 0, out, 16);
    EXPECT_EQ(out[0], 159);
    EXPECT_EQ(out[1], 159);  // between 8 and 9
    EXPECT_EQ(out[2], 0);    // (-5 x 255 + 16) >> 5 clamps to 0
    predictLumaInter(origin + 8, 64, -1, 0, out, 16);
    EXPECT_EQ(out[0], 159);
    predictLumaInter(origin + 8, 64, 0, 1, out, 16);  // down the column: all 255 samples
    EXPECT_EQ(out[0], 255);
}

// Bitstreams built here: a flat I picture (every block DC, no residual) and P and B pictures
// of zero vectors or direct macroblocks.
class AvcStream {
public:
    AvcStream(int version, int type, int quantiser, int width = 32, int height = 32,
              int bParameter = 0) {
        m_bits.put(16, 21);
        m_bits.put(uint32_t(version), 4);
        m_bits.put(uint32_t(type), 2);
        if (type == 0) {
            m_bits.put(uint32_t(width), 10);
            m_bits.put(uint32_t(height), 10);
        }
        m_bits.put(uint32_t(quantiser), 8);
        if (type == 2) m_bits.put(uint32_t(bParameter), 2);
        m_bits.put(0, int((16 - m_bits.bitCount() % 16) % 16));
    }
    AvcStream& flatIntra(int macroblocks, bool inInterPicture = false, bool version4 = true) {
        for (int i = 0; i < macroblocks; ++i) {
            if (inInterPicture)
                m_bits.put(0, version4 ? 2 : 1);
            else
                m_bits.put(0, 1);
            for (int g = 0; g < 4; ++g) m_bits.put(2 * 729 + 2 * 81 + 2 * 9 + 2, 13);
            m_bits.put(0, 2);
            m_bits.putCode("00100");  // codeNum 3: pattern 0
        }
        return *this;
    }
    AvcStream& code(const char* bits, int times) {
        for (int i = 0; i < times; ++i) m_bits.putCode(bits);
        return *this;
    }
    std::vector<uint8_t> bytes() const { return m_bits.bytes(); }

private:
    SyntaxBitWriter m_bits;
};

int decode(AvcEngine& engine, const std::vector<uint8_t>& frame, uint16_t kind, uint32_t time) {
    return engine.Decode(frame.data(), frame.size(), kind, time, true);
}

// Where engines of tests that do not read the diagnostics write them (captured standard output
// would also swallow the failure messages of a test that stops early).
std::FILE* discardedDiagnostics() {
    static std::FILE* const file = std::tmpfile();
    return file;
}

TEST(AvcEngine, EdgeCasesOfTheFrame) {
    AvcEngine engine;
    const std::vector<uint8_t> none;
    testing::internal::CaptureStdout();
    EXPECT_EQ(engine.Decode(nullptr, 0, kAvcRepeatKind, 100, true),
              kAvcFailed);  // kind 4 before any picture
    EXPECT_EQ(decode(engine, AvcStream(2, 0, 20).flatIntra(4).bytes(), 0, 100), kAvcBadVersion);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Bitstream version error: 2\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("avcDecodeHeader error = 104\n"), std::string::npos) << printed;
    const uint8_t* picture = nullptr;
    EXPECT_EQ(engine.GetPicture(&picture), kAvcFailed);

    EXPECT_EQ(decode(engine, AvcStream(4, 0, 60).flatIntra(4).bytes(), 0, 100), kAvcInvalid);
    EXPECT_EQ(decode(engine, AvcStream(4, 0, 9).flatIntra(4).bytes(), 0, 100), kAvcInvalid);
    EXPECT_EQ(decode(engine, AvcStream(4, 3, 20).flatIntra(4).bytes(), 0, 100),
              kAvcInvalid);  // type 3
    EXPECT_EQ(decode(engine, AvcStream(4, 0, 20, 15, 32).flatIntra(2).bytes(), 0, 100),
              kAvcInvalid);
    EXPECT_EQ(decode(engine, AvcStream(4, 0, 20).flatIntra(4).bytes(), 0, 100), kAvcOk);
    EXPECT_EQ(decode(engine, AvcStream(4, 0, 59).flatIntra(4).bytes(), 0, 100), kAvcOk);

    // Length: 4 bytes at least, below 262144.
    std::vector<uint8_t> big = AvcStream(4, 0, 20).flatIntra(4).bytes();
    big.resize(AvcEngine::kBufferBytes, 0);
    EXPECT_EQ(decode(engine, big, 0, 100), kAvcFailed);
    big.resize(AvcEngine::kBufferBytes - 1);
    EXPECT_EQ(decode(engine, big, 0, 100), kAvcOk);
    EXPECT_EQ(decode(engine, {0, 0, 8}, 0, 100), kAvcFailed);

    // No start code within 160 bits, or data running out while looking.
    EXPECT_EQ(decode(engine, std::vector<uint8_t>(40, 0xFF), 0, 100), kAvcFailed);
    EXPECT_EQ(decode(engine, std::vector<uint8_t>(8, 0xFF), 0, 100), kAvcOverrun);
    // A picture cut short runs out of data.
    std::vector<uint8_t> cut = AvcStream(4, 0, 20).flatIntra(4).bytes();
    cut.resize(cut.size() - 6);
    EXPECT_EQ(decode(engine, cut, 0, 100), kAvcOverrun);
    // A macroblock of an I picture starting with 1.
    testing::internal::CaptureStdout();
    EXPECT_EQ(decode(engine, AvcStream(4, 0, 20).code("1", 1).flatIntra(3).bytes(), 0, 100),
              kAvcInvalid);
    EXPECT_NE(
        testing::internal::GetCapturedStdout().find("avcDecodeIFrame error: invalid mb type(1)\n"),
        std::string::npos);
    // Intra modes past 6560 (a base-9 digit above 8).
    EXPECT_EQ(
        decode(engine, AvcStream(4, 0, 20).code("0 1111111111111", 1).flatIntra(3).bytes(), 0, 100),
        kAvcInvalid);
}

// The first four bytes 0x23, 0x81, 0, 0 form the little-endian word 0x8123: the data is read
// as little-endian words, where the start code lies at once and is followed by version 2.
// Read byte by byte it would hold no start code.
TEST(AvcEngine, LittleEndianWordsAreReadWithoutReversal) {
    AvcEngine engine;
    testing::internal::CaptureStdout();
    EXPECT_EQ(decode(engine, {0x23, 0x81, 0, 0}, 0, 100), kAvcBadVersion);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Bitstream version error: 2\n"),
              std::string::npos);
    // A whole picture stored as little-endian words decodes as the byte stream does.
    const std::vector<uint8_t> stream = AvcStream(4, 0, 20, 48, 16).flatIntra(3).bytes();
    std::vector<uint8_t> words((stream.size() + 3) & ~size_t(3), 0);
    for (size_t i = 0; i < stream.size(); ++i) words[(i & ~size_t(3)) + 3 - (i & 3)] = stream[i];
    ASSERT_GE(words[0] | words[1] << 8, 0x8000);
    AvcEngine other;
    EXPECT_EQ(decode(engine, stream, 0, 100), kAvcOk);
    EXPECT_EQ(decode(other, words, 0, 100), kAvcOk);
    EXPECT_EQ(0, std::memcmp(engine.lastDecoded(), other.lastDecoded(), 48 * 16 * 3 / 2));
}

TEST(AvcEngine, InterPicturesNeedTheirIntraPicture) {
    AvcEngine engine;
    testing::internal::CaptureStdout();
    const std::vector<uint8_t> p = AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes();
    const std::vector<uint8_t> b = AvcStream(3, 2, 20).code("11", 4).bytes();
    EXPECT_EQ(decode(engine, p, 1, 100), kAvcFailed);
    EXPECT_EQ(decode(engine, b, 1, 100), kAvcFailed);
    EXPECT_EQ(decode(engine, AvcStream(4, 0, 20).flatIntra(4).bytes(), 0, 100), kAvcOk);
    EXPECT_EQ(decode(engine, p, 1, 140), kAvcOk);
    EXPECT_EQ(decode(engine, b, 3, 180), kAvcOk);
    // A failed I picture of another size forgets every picture: the P picture is refused
    // rather than decoded into stores of the old size.
    std::vector<uint8_t> cut = AvcStream(4, 0, 20, 64, 64).flatIntra(16).bytes();
    cut.resize(cut.size() / 2);
    EXPECT_EQ(decode(engine, cut, 0, 220), kAvcOverrun);
    EXPECT_EQ(decode(engine, p, 1, 260), kAvcFailed);
    EXPECT_EQ(engine.Decode(nullptr, 0, kAvcRepeatKind, 300, true), kAvcFailed);
    testing::internal::GetCapturedStdout();
}

// Vectors at the ends of their range, and direct vectors scaled past them (B parameter 3 gives
// 43 half samples), read only inside the bordered references.
TEST(AvcEngine, FarVectorsStayInsideTheReferences) {
    AvcEngine engine;
    engine.setDiagnostics(stderr);
    ASSERT_EQ(decode(engine, AvcStream(3, 0, 20).flatIntra(4).bytes(), 0, 100), kAvcOk);
    // Inter macroblocks with (-32, -32) and (31, 31) half samples, no residual.
    ASSERT_EQ(decode(engine,
                     AvcStream(3, 1, 20)
                         .code("1 0000000000101 0000000000101 1", 2)
                         .code("1 0000000000110 0000000000110 1", 2)
                         .bytes(),
                     1, 140),
              kAvcOk);
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(decode(engine, AvcStream(3, 2, 20, 0, 0, b).code("11", 4).bytes(), 3, 180),
                  kAvcOk)
            << b;
    // Version 4 with the same vectors, skipped macroblocks between.
    ASSERT_EQ(decode(engine, AvcStream(4, 0, 20).flatIntra(4).bytes(), 0, 200), kAvcOk);
    EXPECT_EQ(
        decode(engine,
               AvcStream(4, 1, 20).code("1 0000000000101 0000000000110 1", 2).code("01", 2).bytes(),
               1, 240),
        kAvcOk);
}

// The display picture trails the last reference; B pictures show at once; repeats (kinds 4
// and 5) advance the display and repeat the current picture at the frame's time.
TEST(AvcEngine, DisplayOrderStatusAndRepeats) {
    AvcEngine engine;
    testing::internal::CaptureStdout();
    uint32_t status = 7;
    const uint8_t* picture = nullptr;
    ASSERT_EQ(decode(engine, AvcStream(3, 0, 20).flatIntra(4).bytes(), 0, 1000), kAvcOk);
    EXPECT_EQ(engine.GetPicture(&picture), kAvcFailed);  // nothing to show yet
    const uint8_t* intra = engine.lastDecoded();
    ASSERT_EQ(decode(engine, AvcStream(3, 1, 20).code("1 1 1 1", 4).bytes(), 1, 1040), kAvcOk);
    const uint8_t* predicted = engine.lastDecoded();
    ASSERT_EQ(engine.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(picture, intra);
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 40u);
    ASSERT_EQ(decode(engine, AvcStream(3, 2, 20, 0, 0, 1).code("11", 4).bytes(), 3, 1080), kAvcOk);
    ASSERT_EQ(engine.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(picture, engine.lastDecoded());  // the B picture itself
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 0u);  // the next reference is older than the B picture
    ASSERT_EQ(engine.Decode(nullptr, 0, kAvcRepeatKind, 1120, true), kAvcOk);
    ASSERT_EQ(engine.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(picture, predicted);
    ASSERT_EQ(engine.Decode(nullptr, 0, kAvcRepeatKeepKind, 1160, true), kAvcOk);
    ASSERT_EQ(engine.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(0, std::memcmp(picture, predicted, 32 * 32 * 3 / 2));
    // The kind 5 of version 3 made the old display store (the picture of 1040, shown again)
    // the next reference and gave it the time of the repeat before, 1120: display and next
    // reference are one picture.
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(avcGetStatus(nullptr, &status), kAvcNoEngine);
    EXPECT_EQ(avcGetStatus(&engine, nullptr), kAvcFailed);
    EXPECT_EQ(avcGetPicture(&engine, nullptr), kAvcNullArgument);
}

// Repeats move the four references exactly as named: after one kind 4 the display picture and
// the next reference are one store, so a second kind 4 writes the copy into the displayed
// picture and gives it the frame's time; the next reference (the first repeat) is then older.
// A kind 5 of version 3 right after the first picture has no old display picture to reuse.
TEST(AvcEngine, RepeatsMoveTheReferencesAsNamed) {
    AvcEngine engine;
    engine.setDiagnostics(discardedDiagnostics());
    uint32_t status = 7;
    const uint8_t* picture = nullptr;
    ASSERT_EQ(decode(engine, AvcStream(4, 0, 20).flatIntra(4).bytes(), 0, 1000), kAvcOk);
    ASSERT_EQ(decode(engine, AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes(), 1, 1040), kAvcOk);
    const uint8_t* predicted = engine.lastDecoded();
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 40u);
    ASSERT_EQ(engine.Decode(nullptr, 0, kAvcRepeatKind, 1080, true), kAvcOk);
    ASSERT_EQ(engine.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(picture, predicted);
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 0u);  // display and next reference: both the picture of 1040
    ASSERT_EQ(engine.Decode(nullptr, 0, kAvcRepeatKind, 1120, true), kAvcOk);
    ASSERT_EQ(engine.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(picture, predicted);
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 0u);  // the next reference (1080) is older than the display (now 1120)
    // The next P picture shows the current picture, the copy of 1120.
    ASSERT_EQ(decode(engine, AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes(), 1, 1160), kAvcOk);
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 40u);

    AvcEngine first;
    first.setDiagnostics(discardedDiagnostics());
    ASSERT_EQ(decode(first, AvcStream(3, 0, 20).flatIntra(4).bytes(), 0, 1000), kAvcOk);
    EXPECT_EQ(first.GetPicture(&picture), kAvcFailed);
    ASSERT_EQ(first.Decode(nullptr, 0, kAvcRepeatKeepKind, 1040, true), kAvcOk);
    // The display is the I picture, now at the frame's time; its copy keeps 1000.
    ASSERT_EQ(first.GetPicture(&picture), kAvcOk);
    EXPECT_EQ(picture, first.lastDecoded());
    ASSERT_EQ(first.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 0u);
}

TEST(AvcDecoder, WritesTheDisplayPictureAsBgrAndRefusesASmallerStore) {
    std::unique_ptr<VideoDecoder> decoder = createDecoder(4);
    ASSERT_NE(decoder, nullptr);
    CRecordFrame frame(32, 32, 0);
    const auto load = [&frame](const std::vector<uint8_t>& bytes, uint16_t kind, uint32_t tick) {
        std::memcpy(frame.VideoBuffer(), bytes.data(), bytes.size());
        ASSERT_TRUE(frame.SetVideoLength(uint32_t(bytes.size())));
        frame.SetKind(kind);
        frame.SetTick(tick);
        frame.SetFlags(4 << 4);
    };
    RgbPicture picture(32, 32);
    uint32_t status = 0;
    testing::internal::CaptureStdout();

    load(AvcStream(4, 0, 20).flatIntra(4).bytes(), 0, 500);
    EXPECT_FALSE(decoder->decodeInto(frame, picture, &status, Deblocking::On));  // trails by one
    load(AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes(), 1, 540);
    ASSERT_TRUE(decoder->decodeInto(frame, picture, &status, Deblocking::On));
    EXPECT_EQ(status, 40u);
    // The flat picture (all samples 128) through the converter of codec 4.
    const std::vector<uint8_t> grey(32 * 32 * 3 / 2, 128);
    RgbPicture expected(32, 32);
    PlanarYuv420ToBgr(grey.data(), expected.pixels(), 3 * 32, 32, 32, BgrPixelSize::Three);
    EXPECT_EQ(0, std::memcmp(picture.pixels(), expected.pixels(), 3 * 32 * 32));
    RgbPicture small(16, 32);
    load(AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes(), 1, 580);
    EXPECT_FALSE(decoder->decodeInto(frame, small, &status, Deblocking::On));
    testing::internal::GetCapturedStdout();
}

// The SSE2 luma edge filters against the plain one: every quantiser, strengths 0 to 4 mixed
// along the edge, on smooth samples (so the filters act, strong ones included) and on random
// ones with steps at the edge; each horizontal edge is also filtered as a vertical one.
TEST(AvcLoopFilter, Sse2EdgesWriteThePlainBytes) {
    if (bestKernelPath() != KernelPath::Sse2) GTEST_SKIP() << "no SSE2 on this processor";
    std::mt19937 random(61);
    std::uniform_int_distribution<int> byte(0, 255), small(-6, 6), strength(0, 4);
    constexpr ptrdiff_t kStride = 24;
    int changed = 0;
    for (int quantiser = 0; quantiser <= 51; ++quantiser) {
        const avc::FilterThresholds t = avc::filterThresholds(quantiser);
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<uint8_t> plain(kStride * 8);
            const int base = byte(random), step = trial % 3 == 0 ? byte(random) - 128 : small(random) * 2;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < kStride; ++x) {
                    const int value = trial % 5 == 4 ? byte(random) : base + (y >= 4 ? step : 0) + small(random);
                    plain[size_t(y * kStride + x)] = uint8_t(std::clamp(value, 0, 255));
                }
            const uint8_t strengths[4] = {uint8_t(strength(random)), uint8_t(strength(random)),
                                          uint8_t(strength(random)), uint8_t(trial % 2 ? 4 : strength(random))};
            std::vector<uint8_t> before = plain, simd = plain;
            avc::filterLumaRowEdge(plain.data() + 4 * kStride, kStride, strengths, t, KernelPath::Plain);
            avc::filterLumaRowEdge(simd.data() + 4 * kStride, kStride, strengths, t, KernelPath::Sse2);
            ASSERT_EQ(simd, plain) << "quantiser " << quantiser << " trial " << trial;
            changed += plain != before;
            // The same samples turned on their side: a vertical edge of sixteen rows.
            std::vector<uint8_t> columnPlain(16 * kStride), columnSimd;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x) columnPlain[size_t(x * kStride + 2 + y)] = before[size_t(y * kStride + x)];
            columnSimd = columnPlain;
            avc::filterLumaColumnEdge(columnPlain.data() + 6, kStride, strengths, t, KernelPath::Plain);
            avc::filterLumaColumnEdge(columnSimd.data() + 6, kStride, strengths, t, KernelPath::Sse2);
            ASSERT_EQ(columnSimd, columnPlain) << "column edge, quantiser " << quantiser << " trial " << trial;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x)
                    ASSERT_EQ(columnPlain[size_t(x * kStride + 2 + y)], plain[size_t(y * kStride + x)]);
        }
    }
    // The samples were chosen so that the filter acts on most edges of the 36 quantisers whose
    // alpha is not 0.
    EXPECT_GT(changed, 36 * 60 / 2);
}

// The SSE2 six-tap interpolation against the plain loops: every pair of half flags, at
// positions across a random plane and on a plane of extremes (0 and 255, where the clamp acts).
TEST(AvcInterPrediction, Sse2SixTapWritesThePlainBytes) {
    if (bestKernelPath() != KernelPath::Sse2) GTEST_SKIP() << "no SSE2 on this processor";
    std::mt19937 random(83);
    std::uniform_int_distribution<int> byte(0, 255), extreme(0, 1);
    constexpr ptrdiff_t kStride = 48;
    for (int kind = 0; kind < 2; ++kind) {
        std::vector<uint8_t> plane(kStride * 48);
        for (uint8_t& v : plane) v = uint8_t(kind == 0 ? byte(random) : 255 * extreme(random));
        for (int hx = -1; hx <= 1; ++hx)
            for (int hy = -1; hy <= 1; ++hy)
                for (const int offset : {3 * int(kStride) + 3, 5 * int(kStride) + 9, 20 * int(kStride) + 17}) {
                    uint8_t plain[16 * 16], simd[16 * 16];
                    avc::predictLumaInter(plane.data() + offset, kStride, hx, hy, plain, 16, KernelPath::Plain);
                    avc::predictLumaInter(plane.data() + offset, kStride, hx, hy, simd, 16, KernelPath::Sse2);
                    ASSERT_EQ(std::vector<uint8_t>(simd, simd + 256), std::vector<uint8_t>(plain, plain + 256))
                        << "hx " << hx << " hy " << hy << " offset " << offset << " kind " << kind;
                }
    }
}

// The end of the data is checked before each macroblock, not in the header nor after the last
// macroblock: a header cut short reads zeros (quantiser 0, refused as such), and a last
// macroblock whose final bits lie past the end decodes as if they were zeros.
TEST(AvcEngine, TheDataEndIsCheckedBeforeEachMacroblock) {
    AvcEngine engine;
    testing::internal::CaptureStdout();
    SyntaxBitWriter header;  // start code, version 4, I picture, 5 bits of the width
    header.put(16, 21);
    header.put(4, 4);
    header.put(0, 2);
    header.put(0, 5);
    EXPECT_EQ(decode(engine, header.bytes(), 0, 100), kAvcInvalid);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("avcDecodeHeader error = 100\n"),
              std::string::npos);

    engine.setDiagnostics(discardedDiagnostics());
    ASSERT_EQ(decode(engine, AvcStream(3, 0, 20, 32, 16).flatIntra(2).bytes(), 0, 100), kAvcOk);
    // A B picture: header 48 bits, an inter macroblock of 5 bits, an intra one of 61 whose
    // pattern code 00100 ends 2 bits after the 14 bytes kept.
    std::vector<uint8_t> whole = AvcStream(3, 2, 20).code("01 1 1 1", 1).flatIntra(1, true).bytes();
    ASSERT_EQ(whole.size(), 15u);
    testing::internal::CaptureStdout();
    engine.setDiagnostics(stdout);
    EXPECT_EQ(engine.Decode(whole.data(), whole.size(), 3, 140, true), kAvcOk);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "version = 3, frametype = 2, pixels = 32, lines = 16, quant = 20\n");
    engine.setDiagnostics(discardedDiagnostics());
    const std::vector<uint8_t> expected(engine.lastDecoded(),
                                        engine.lastDecoded() + 32 * 16 * 3 / 2);
    whole.resize(14);
    ASSERT_EQ(decode(engine, whole, 3, 180), kAvcOk);
    EXPECT_EQ(0, std::memcmp(engine.lastDecoded(), expected.data(), expected.size()));
}

// The start code is sought at the first 160 bit positions; the header then skips to the next
// multiple of 16 bits of the data (not of the start code's position): after a start code at
// bit 159 an I header ends at bit 214 and the first macroblock starts at bit 224.
TEST(AvcEngine, StartCodeSearchAndHeaderAlignment) {
    for (const int ones : {159, 160}) {
        SyntaxBitWriter bits;
        for (int i = 0; i < ones; ++i) bits.put(1, 1);
        bits.put(16, 21);
        bits.put(4, 4);
        bits.put(0, 2);
        bits.put(16, 10);
        bits.put(16, 10);
        bits.put(20, 8);
        bits.put(0, int(224 - bits.bitCount() % 224));
        bits.putCode("0 0011001101000 0011001101000 0011001101000 0011001101000 00 00100");
        AvcEngine engine;
        engine.setDiagnostics(discardedDiagnostics());
        EXPECT_EQ(decode(engine, bits.bytes(), 0, 100), ones == 159 ? kAvcOk : kAvcFailed) << ones;
        if (ones == 159) {
            const std::vector<uint8_t> grey(16 * 16 * 3 / 2, 128);
            EXPECT_EQ(0, std::memcmp(engine.lastDecoded(), grey.data(), grey.size()));
        }
    }
}

// A 16x16 I picture at quantiser 28 (scale 256 at position 0, 320 at positions 1, 4, ...,
// DC scale 128), every luma mode DC, chroma DC:
//   luma block 0 DC level 2: 512 -> (512 + 32) >> 6 = 8 on 128, and every block predicts 136;
//   Cb DC levels (1, 0, 0, 0): Hadamard all 1, x 128 -> 2: 130;
//   Cr DC levels (0, 0, 0, -2): (-2, 2, 2, -2) x 128 -> -4, 4, 4, -4: quadrants 124 132 / 132 124.
// With the loop filter the intra macroblock's inner chroma edges have strength 3: tC0 2 + 1,
// only p0 and q0 move, the vertical edge before the horizontal one.
TEST(AvcEngine, DequantisationTransformAndChromaDc) {
    const auto stream = [](int quantiser) {
        return AvcStream(4, 0, quantiser, 16, 16)
            .code("0 0011001101000 0011001101000 0011001101000 0011001101000 00", 1)
            .code("00000100010", 1)    // codeNum 33: pattern 17, luma quadrant 0 and chroma DC
            .code("000101 1 1", 1)     // block 0: one level, 2, at position 0
            .code("1 1 1", 1)          // blocks 1 to 3: none
            .code("1 0 1", 1)          // Cb DC: one trailing one, +1, total_zeros 0
            .code("000111 01 000", 1)  // Cr DC: one level, -2, total_zeros 3
            .bytes();
    };
    const uint8_t plain[8] = {124, 124, 124, 124, 132, 132, 132, 132};
    const uint8_t filtered[8][8] = {
        {124, 124, 124, 127, 129, 132, 132, 132}, {124, 124, 124, 127, 129, 132, 132, 132},
        {124, 124, 124, 127, 129, 132, 132, 132}, {127, 127, 127, 128, 128, 129, 129, 129},
        {129, 129, 129, 128, 128, 127, 127, 127}, {132, 132, 132, 129, 127, 124, 124, 124},
        {132, 132, 132, 129, 127, 124, 124, 124}, {132, 132, 132, 129, 127, 124, 124, 124}};
    for (const bool deblock : {false, true}) {
        AvcEngine engine;
        engine.setDiagnostics(discardedDiagnostics());
        const std::vector<uint8_t> frame = stream(28);
        ASSERT_EQ(engine.Decode(frame.data(), frame.size(), 0, 100, deblock), kAvcOk);
        const uint8_t* p = engine.lastDecoded();
        for (int i = 0; i < 256; ++i) ASSERT_EQ(p[i], 136) << i;
        for (int i = 0; i < 64; ++i) ASSERT_EQ(p[256 + i], 130) << i;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(p[320 + y * 8 + x], deblock ? filtered[y][x]
                                              : y < 4 ? plain[x]
                                                      : plain[7 - x])
                    << "deblock " << deblock << " Cr " << x << "," << y;
    }
    // Quantisers 52 to 59 lie above the filter's tables: the filter changes no sample.
    for (int quantiser = 52; quantiser <= 59; ++quantiser) {
        AvcEngine on, off;
        on.setDiagnostics(discardedDiagnostics());
        off.setDiagnostics(discardedDiagnostics());
        const std::vector<uint8_t> frame = stream(quantiser);
        ASSERT_EQ(on.Decode(frame.data(), frame.size(), 0, 100, true), kAvcOk);
        ASSERT_EQ(off.Decode(frame.data(), frame.size(), 0, 100, false), kAvcOk);
        EXPECT_EQ(0, std::memcmp(on.lastDecoded(), off.lastDecoded(), 384)) << quantiser;
    }
}

// The predicted count nC is (nA + nB) >> 1 without H.264's + 1: block 3 of this macroblock has
// nA = 2 (block 2) and nB = 1 (block 1), so nC = 1 and its coeff_token 01 (one trailing one)
// is read from the first table (H.264's nC = 2 would read it from the second). Quantiser 28,
// DC modes, luma quadrant 0 coded:
//   block 0: none -> 128;  block 1: DC +1 (+4) -> 132;
//   block 2: levels +1 at positions 0 and 1 (256, 320): columns + 9, 7, 2, -1 on 128;
//   block 3: DC -1 (-4) on (4 x 132 + 4 x 127 + 4) >> 3 = 130 -> 126.
TEST(AvcEngine, PredictedCountTruncatesTheMean) {
    // The first group of modes: blocks 0 to 3, DC (2) each, or block 3 horizontal (1), which
    // repeats block 2's right column (127) and gives 123: the first block's mode is the most
    // significant base-9 digit (2 x 729 + 2 x 81 + 2 x 9 + 1 = 1639).
    for (const char* firstGroup : {"0011001101000", "0011001100111"}) {
        const std::vector<uint8_t> frame =
            AvcStream(4, 0, 28, 16, 16)
                .code("0", 1)
                .code(firstGroup, 1)
                .code("0011001101000 0011001101000 0011001101000 00", 1)
                .code("000011110", 1)   // codeNum 29: pattern 1
                .code("1", 1)           // block 0
                .code("01 0 1", 1)      // block 1: a trailing one, +, total_zeros 0
                .code("001 00 111", 1)  // block 2: two trailing ones, +, +, total_zeros 0
                .code("01 1 1", 1)      // block 3 (nC 1): a trailing one, -, total_zeros 0
                .bytes();
        AvcEngine engine;
        engine.setDiagnostics(discardedDiagnostics());
        ASSERT_EQ(engine.Decode(frame.data(), frame.size(), 0, 100, false), kAvcOk);
        const int block3 = std::string(firstGroup) == "0011001101000" ? 126 : 123;
        const uint8_t expected[8][4] = {
            {128, 128, 128, 128}, {128, 128, 128, 128}, {128, 128, 128, 128}, {128, 128, 128, 128},
            {137, 135, 130, 127}, {137, 135, 130, 127}, {137, 135, 130, 127}, {137, 135, 130, 127}};
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                EXPECT_EQ(engine.lastDecoded()[y * 16 + x], x < 4   ? expected[y][x]
                                                            : y < 4 ? 132
                                                                    : block3)
                    << firstGroup << " at " << x << "," << y;
    }
}

// The vector code is H.263's difference code, its index minus 32: 0010 is +2 and 011 is -1
// half samples. Over the I picture of DequantisationTransformAndChromaDc (unfiltered: luma 136,
// Cb 130, Cr quadrants 124 132 / 132 124), the vector (2, -1) gives ix 1, hx 0, iy 0, hy -1:
// luma the vertical six-tap over 136s, chroma cx = 1 and cy = -1, so each chroma sample
// averages the 2x2 samples starting one row up: Cr rows 128 at the quadrant columns' seam,
// 128 across the row where the rows meet.
TEST(AvcEngine, VectorCodeIsTheDifferenceInHalfSamples) {
    const std::vector<uint8_t> intra =
        AvcStream(4, 0, 28, 16, 16)
            .code("0 0011001101000 0011001101000 0011001101000 0011001101000 00", 1)
            .code("00000100010 000101 1 1 1 1 1 1 0 1 000111 01 000", 1)
            .bytes();
    const std::vector<uint8_t> predicted = AvcStream(4, 1, 28).code("1 0010 011 1", 1).bytes();
    AvcEngine engine;
    engine.setDiagnostics(discardedDiagnostics());
    ASSERT_EQ(engine.Decode(intra.data(), intra.size(), 0, 100, false), kAvcOk);
    ASSERT_EQ(engine.Decode(predicted.data(), predicted.size(), 1, 140, false), kAvcOk);
    const uint8_t* p = engine.lastDecoded();
    for (int i = 0; i < 256; ++i) ASSERT_EQ(p[i], 136) << i;
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[256 + i], 130) << i;
    const uint8_t top[8] = {124, 124, 124, 128, 132, 132, 132, 132};
    const uint8_t bottom[8] = {132, 132, 132, 128, 124, 124, 124, 124};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(p[320 + y * 8 + x], y < 4    ? top[x]
                                          : y == 4 ? 128
                                                   : bottom[x])
                << x << "," << y;
}

// A skipped macroblock copies the reference and counts 0 coefficients for its neighbours'
// nC. Quantiser 28, 32x16. The I picture's first macroblock codes block 5 (raster (3, 0)) with
// two coefficients; in the P picture that macroblock is skipped, so block 0 of the inter
// macroblock beside it has nA = 0 (not 2) and its coeff_token 01 (one trailing one, +1 at
// position 0, residual +4) comes from the first table.
TEST(AvcEngine, SkippedMacroblocksCopyAndCountNoCoefficients) {
    const char* dcModes = "0011001101000 0011001101000 0011001101000 0011001101000";
    const std::vector<uint8_t> intra = AvcStream(4, 0, 28, 32, 16)
                                           .code("0", 1)
                                           .code(dcModes, 1)
                                           .code("00", 1)
                                           .code("000011111", 1)         // codeNum 30: pattern 2
                                           .code("1 001 00 111 1 1", 1)  // blocks 4 to 7
                                           .flatIntra(1)
                                           .bytes();
    const std::vector<uint8_t> predicted = AvcStream(4, 1, 28)
                                               .code("01", 1)            // skipped
                                               .code("1 1 1 011", 1)     // inter (0, 0), pattern 1
                                               .code("01 0 1 1 1 1", 1)  // blocks 0 to 3
                                               .bytes();
    AvcEngine engine;
    engine.setDiagnostics(discardedDiagnostics());
    ASSERT_EQ(engine.Decode(intra.data(), intra.size(), 0, 100, false), kAvcOk);
    const std::vector<uint8_t> reference(engine.lastDecoded(),
                                         engine.lastDecoded() + 32 * 16 * 3 / 2);
    ASSERT_EQ(engine.Decode(predicted.data(), predicted.size(), 1, 140, false), kAvcOk);
    const uint8_t* p = engine.lastDecoded();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            EXPECT_EQ(p[y * 32 + x],
                      reference[size_t(y * 32 + x)] + (x >= 16 && x < 20 && y < 4 ? 4 : 0))
                << x << "," << y;
    EXPECT_EQ(0, std::memcmp(p + 512, reference.data() + 512, 256));
}

// The engine's lines for each way a frame fails, whole: the bitstream, the header (after the
// version's own line), the size (after the header line) and the I picture's macroblock type.
TEST(AvcEngine, DiagnosticLinesOfEachFailure) {
    struct Case {
        std::vector<uint8_t> frame;
        int result;
        const char* lines;
    };
    const Case cases[] = {
        {std::vector<uint8_t>(40, 0xFF), kAvcFailed, "avcInitBitStream error = -1\n"},
        {std::vector<uint8_t>(8, 0xFF), kAvcOverrun, "avcInitBitStream error = 102\n"},
        {AvcStream(2, 0, 20).flatIntra(4).bytes(), kAvcBadVersion,
         "Bitstream version error: 2\navcDecodeHeader error = 104\n"},
        {AvcStream(4, 0, 60).flatIntra(4).bytes(), kAvcInvalid, "avcDecodeHeader error = 100\n"},
        {AvcStream(4, 0, 20, 15, 32).flatIntra(2).bytes(), kAvcInvalid,
         "version = 4, frametype = 0, pixels = 15, lines = 32, quant = 20\navcCreateRes error: "
         "100\n"},
        {AvcStream(4, 0, 20).code("1", 1).flatIntra(3).bytes(), kAvcInvalid,
         "version = 4, frametype = 0, pixels = 32, lines = 32, quant = 20\n"
         "avcDecodeIFrame error: invalid mb type(1)\n"},
    };
    for (const Case& c : cases) {
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        AvcEngine engine;
        engine.setDiagnostics(file);
        EXPECT_EQ(decode(engine, c.frame, 0, 100), c.result) << c.lines;
        std::rewind(file);
        std::string printed(256, '\0');
        printed.resize(std::fread(printed.data(), 1, printed.size(), file));
        std::fclose(file);
        EXPECT_EQ(printed, c.lines);
    }
}

// A display picture of time 0 is not given out.
TEST(AvcEngine, APictureOfTimeZeroIsNotShown) {
    AvcEngine engine;
    engine.setDiagnostics(discardedDiagnostics());
    const uint8_t* picture = nullptr;
    ASSERT_EQ(decode(engine, AvcStream(4, 0, 20).flatIntra(4).bytes(), 0, 0), kAvcOk);
    ASSERT_EQ(decode(engine, AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes(), 1, 40), kAvcOk);
    EXPECT_EQ(engine.GetPicture(&picture), kAvcFailed);
    ASSERT_EQ(decode(engine, AvcStream(4, 1, 20).code("1 1 1 1", 4).bytes(), 1, 80), kAvcOk);
    EXPECT_EQ(engine.GetPicture(&picture), kAvcOk);
}

// nC across macroblocks: a luma block's left neighbour in the left macroblock is that
// macroblock's block of column 3, its upper neighbour in the macroblock above is the block of
// row 3; a chroma AC block's are the blocks of the same plane's column 1 and row 1. Counts:
// macroblock (0, 0) luma 10 + i, (1, 0) 20 + i, (0, 1) 30 + i, (1, 1) i (raster i); chroma
// Cb 40 + b, 60 + b, 80 + b, Cb of (1, 1) unused; Cr of (0, 1) 90 + b, of (1, 1) 100 + b.
TEST(AvcCavlc, PredictedCountsAcrossMacroblocks) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(32, 32));
    const int luma[4] = {10, 20, 30, 0}, cb[4] = {40, 60, 80, 0}, cr[4] = {0, 0, 90, 100};
    for (int mb = 0; mb < 4; ++mb) {
        uint8_t* counts = r.counts(mb & 1, mb >> 1);
        for (int i = 0; i < 16; ++i) counts[i] = uint8_t(luma[mb] + i);
        for (int b = 0; b < 4; ++b)
            counts[16 + b] = uint8_t(cb[mb] + b), counts[20 + b] = uint8_t(cr[mb] + b);
    }
    struct Case {
        bool chroma;
        int column, row, plane, x, y, nC;
    };
    for (const Case& c : {
             Case{false, 0, 0, 0, 0, 0, 0},               // no neighbour
             Case{false, 1, 0, 0, 0, 0, 13},              // left only: (0, 0) raster 3
             Case{false, 0, 1, 0, 0, 0, 22},              // above only: (0, 0) raster 12
             Case{false, 1, 1, 0, 0, 0, (33 + 32) >> 1},  // (0, 1) raster 3, (1, 0) raster 12
             Case{false, 1, 1, 0, 2, 0, (1 + 34) >> 1},   // own raster 1, (1, 0) raster 14
             Case{true, 1, 1, 0, 0, 0, (81 + 62) >> 1},   // Cb of (0, 1) block 1, of (1, 0) block 2
             Case{true, 1, 1, 1, 0, 1, (93 + 100) >> 1},  // Cr of (0, 1) block 3, own block 0
             Case{true, 1, 1, 1, 1, 1, (102 + 101) >> 1},  // own Cr blocks 2 and 1
             Case{true, 1, 0, 0, 0, 0, 41},                // Cb of (0, 0) block 1 only
         }) {
        const int nC = c.chroma ? r.chromaNc(c.column, c.row, c.plane, c.x, c.y)
                                : r.lumaNc(c.column, c.row, c.x, c.y);
        EXPECT_EQ(nC, c.nC) << (c.chroma ? "chroma " : "luma ") << c.column << "," << c.row
                            << " plane " << c.plane << " block " << c.x << "," << c.y;
    }
}

// Which picture each slot holds: the newest reference in the first, the one before it in the
// second. An I picture of luma 136, Cb 130 (DequantisationTransformAndChromaDc's), then a P
// picture of one intra macroblock predicted from nothing (128 everywhere); a B picture's
// macroblock of version 4 (inter, vector 0) copies the P picture; of version 3 type 1 copies
// the P picture, type 2 the I picture, and direct (the P picture's co-located vector is 0)
// averages them: luma (128 + 136 + 1) >> 1 = 132, Cb (128 + 130 + 1) >> 1 = 129.
TEST(AvcEngine, TheFirstSlotHoldsTheNewestReference) {
    struct Case {
        int version;
        const char* macroblock;
        int luma, cb;
    };
    for (const Case& c : {Case{4, "1 1 1 1", 128, 128}, Case{3, "01 1 1 1", 128, 128},
                          Case{3, "10 1 1 1", 136, 130}, Case{3, "11", 132, 129}}) {
        AvcEngine engine;
        engine.setDiagnostics(discardedDiagnostics());
        const std::vector<uint8_t> intra =
            AvcStream(c.version, 0, 28, 16, 16)
                .code("0 0011001101000 0011001101000 0011001101000 0011001101000 00", 1)
                .code("00000100010 000101 1 1 1 1 1 1 0 1 000111 01 000", 1)
                .bytes();
        const std::vector<uint8_t> predicted =
            AvcStream(c.version, 1, 28).flatIntra(1, true, c.version >= 4).bytes();
        const std::vector<uint8_t> b = AvcStream(c.version, 2, 28).code(c.macroblock, 1).bytes();
        ASSERT_EQ(engine.Decode(intra.data(), intra.size(), 0, 100, false), kAvcOk);
        ASSERT_EQ(engine.Decode(predicted.data(), predicted.size(), 1, 180, false), kAvcOk);
        ASSERT_EQ(engine.Decode(b.data(), b.size(), 3, 140, false), kAvcOk) << c.macroblock;
        const uint8_t* p = engine.lastDecoded();
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(p[i], c.luma) << c.version << " " << c.macroblock << " " << i;
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(p[256 + i], c.cb) << c.version << " " << c.macroblock << " " << i;
    }
}

// Levels past the ordinary prefixes (level_prefix 14 with a 4-bit suffix, 15 with a 12-bit
// suffix), the suffix length growing after a level above 3, and starting at 1 for more than
// 10 coefficients with fewer than 3 trailing ones. Expected levels in raster order.
TEST(AvcCavlc, LevelEscapesAndSuffixLengths) {
    struct Case {
        const char* bits;
        std::vector<std::pair<int, int>> levels;  // raster position, level
        size_t length;
    };
    const Case cases[] = {
        // 1 coefficient: prefix 14, suffix 0101: levelCode 14 + 5 + 2 = 21, level -11.
        {"000101 000000000000001 0101 1", {{0, -11}}, 26},
        // prefix 15, suffix 3: 15 + 3 + 15 + 2 = 35, level -18.
        {"000101 0000000000000001 000000000011 1", {{0, -18}}, 35},
        // 4 coefficients: 2 (suffix length 0 then 1), -3, 4 (suffix length to 2), -2 read with
        // a 2-bit suffix; total_zeros 0.
        {"0000000111 1 0011 00010 111 00011", {{8, 2}, {4, -3}, {1, 4}, {0, -2}}, 28},
        // 11 coefficients, no trailing ones: suffix length 1 from the first level (2, then ten
        // of 1, each "10"); total_zeros 0.
        {"000000000001111 10 10 10 10 10 10 10 10 10 10 10 0000",
         {{13, 2}, {12, 1}, {9, 1}, {6, 1}, {3, 1}, {2, 1}, {5, 1}, {8, 1}, {4, 1}, {1, 1}, {0, 1}},
         41},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> bytes = bitsOf(c.bits);
        BitReader reader;
        reader.reset(bytes.data(), bytes.size() - BitReader::kPadding);
        int32_t block[16] = {};
        ASSERT_EQ(readCavlcBlock(reader, 0, block, kZigzag4x4, 0, 16), int(c.levels.size()))
            << c.bits;
        int32_t expected[16] = {};
        for (const auto& [position, level] : c.levels) expected[position] = level;
        for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], expected[i]) << c.bits << " at " << i;
        EXPECT_EQ(reader.position(), c.length) << c.bits;
    }
}

// The edge filters on one line p3 p2 p1 p0 | q0 q1 q2 q3 repeated down a vertical edge, at
// quantiser 40 (alpha 80, beta 13, tC0 4, 5, 7), against values worked out by hand.
TEST(AvcLoopFilter, EdgeFiltersMatchHandComputedLines) {
    struct Case {
        int strength;
        std::array<uint8_t, 8> line, expected;
    };
    const Case luma[] = {
        // tC = 4 + 2; delta (40 - 10 + 4) >> 3 = 4; p1 and q1 move by 2 and -3.
        {1, {100, 100, 100, 100, 110, 110, 110, 110}, {100, 100, 102, 104, 106, 107, 110, 110}},
        // p2 far from p0: p1 stays, tC = 5 + 1.
        {2, {100, 130, 100, 100, 110, 110, 110, 110}, {100, 130, 100, 104, 106, 107, 110, 110}},
        // delta 23 clipped to tC = 7 + 2; p1, q1 clipped to tC0 = 7.
        {3, {100, 100, 100, 100, 160, 160, 160, 160}, {100, 100, 107, 109, 151, 153, 160, 160}},
        // Strength 4, step below (alpha >> 2) + 2: the strong filter on both sides.
        {4, {100, 100, 100, 100, 110, 110, 110, 110}, {100, 101, 103, 104, 106, 108, 109, 110}},
        // Step of 50: only p0 and q0, from three samples each.
        {4, {100, 100, 100, 100, 150, 150, 150, 150}, {100, 100, 100, 113, 138, 150, 150, 150}},
        // p2 far from p0: the p side weak, the q side strong.
        {4, {100, 140, 100, 100, 110, 110, 110, 110}, {100, 140, 100, 103, 106, 108, 109, 110}},
        // |p1 - p0| >= beta, |p0 - q0| >= alpha: unchanged.
        {1, {100, 100, 120, 100, 110, 110, 110, 110}, {100, 100, 120, 100, 110, 110, 110, 110}},
        {4, {100, 100, 100, 100, 190, 190, 190, 190}, {100, 100, 100, 100, 190, 190, 190, 190}},
    };
    const FilterThresholds t = filterThresholds(40);
    for (const Case& c : luma) {
        std::vector<uint8_t> lines(8 * 16);
        for (int y = 0; y < 16; ++y) std::copy(c.line.begin(), c.line.end(), lines.begin() + 8 * y);
        const uint8_t strengths[4] = {uint8_t(c.strength), uint8_t(c.strength), uint8_t(c.strength),
                                      uint8_t(c.strength)};
        filterLumaEdge(lines.data() + 4, 1, 8, strengths, t);
        for (const int y : {0, 15})
            EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), lines.begin() + 8 * y))
                << "strength " << c.strength << " line starting " << int(c.line[0]) << ","
                << int(c.line[1]) << "," << int(c.line[2]) << " ... " << int(c.line[4]);
    }
    // Chroma: only p0 and q0; tC = tC0 + 1 (delta 23 clipped to 5), and the 3-sample filter.
    const Case chroma[] = {
        {1, {0, 0, 100, 100, 160, 160, 0, 0}, {0, 0, 100, 105, 155, 160, 0, 0}},
        {4, {0, 0, 100, 100, 160, 160, 0, 0}, {0, 0, 100, 115, 145, 160, 0, 0}},
    };
    for (const Case& c : chroma) {
        std::vector<uint8_t> lines(8 * 8);
        for (int y = 0; y < 8; ++y) std::copy(c.line.begin(), c.line.end(), lines.begin() + 8 * y);
        const uint8_t strengths[4] = {uint8_t(c.strength), uint8_t(c.strength), uint8_t(c.strength),
                                      uint8_t(c.strength)};
        filterChromaEdge(lines.data() + 4, 1, 8, strengths, t);
        for (const int y : {0, 7})
            EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), lines.begin() + 8 * y))
                << "chroma strength " << c.strength;
    }
}

// Above-right samples of each 4x4 luma block as H.264 makes them available: from the
// macroblock row above (the top-right block only with a macroblock above-right), from blocks
// of the macroblock decoded earlier, otherwise the last sample above repeated (blocks 3, 7,
// 11, 13 and 15 always; block 5 in the last column).
TEST(AvcIntraPrediction, AboveRightAvailabilityFollowsTheCodingOrder) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(48, 48));
    std::vector<uint8_t> picture(r.pictureBytes());
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) picture[size_t(y * 48 + x)] = uint8_t(x + 3 * y);
    r.setTarget(picture.data());
    struct Case {
        int column, row;
        std::vector<int> unavailable;
    };
    for (const Case& c : {Case{1, 1, {3, 7, 11, 13, 15}}, Case{2, 1, {3, 5, 7, 11, 13, 15}}}) {
        for (int k = 0; k < 16; ++k) {
            const LumaNeighbours n = r.lumaNeighbours(c.column, c.row, k);
            const int x = c.column * 16 + kBlockX[k], y = c.row * 16 + kBlockY[k];
            const bool available =
                std::find(c.unavailable.begin(), c.unavailable.end(), k) == c.unavailable.end();
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(n.samples[1 + i], uint8_t(x + i + 3 * (y - 1))) << k;
                EXPECT_EQ(n.samples[5 + i], available ? uint8_t(x + 4 + i + 3 * (y - 1))
                                                      : uint8_t(x + 3 + 3 * (y - 1)))
                    << "macroblock " << c.column << " block " << k << " sample " << i;
            }
        }
    }
}

// Chroma inter prediction: integer offset ix / 2, half flag cx = hx + (ix mod 2) with the sign
// of ix, a negative cx starting one sample left. Cb holds 4 x column and Cr 4 x row, so one
// vector (m, m) shows the horizontal rule in Cb and the vertical one in Cr. The macroblock at
// (1, 1) has its chroma at (8, 8); a vector of -32 at (0, 0) reads only the border.
TEST(AvcInterPrediction, ChromaOffsetsAndHalfStepsFollowTheLumaVector) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(48, 48));
    std::vector<uint8_t> picture(r.pictureBytes(), 50);
    uint8_t* cb = picture.data() + 48 * 48;
    uint8_t* cr = cb + 24 * 24;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            cb[y * 24 + x] = uint8_t(4 * x), cr[y * 24 + x] = uint8_t(4 * y);
    r.setTarget(picture.data());
    r.beginPicture(20, 0, false);
    r.storeReference();
    struct Case {
        int macroblock, vector, first, last;  // the first and last sample along the direction
    };
    const Case cases[] = {
        {1, 1, 34, 62},  {1, 2, 34, 62},  {1, 3, 34, 62},  {1, 4, 36, 64},
        {1, 5, 38, 66},  {1, -1, 30, 58}, {1, -2, 30, 58}, {1, -3, 30, 58},
        {1, -4, 28, 56}, {1, -5, 26, 54}, {0, -32, 0, 0},
    };
    for (const Case& c : cases) {
        uint8_t luma[256], chroma[2][64];
        r.predictInter(c.macroblock, c.macroblock, 0, c.vector, c.vector,
                       {luma, 16, {chroma[0], chroma[1]}, 8});
        EXPECT_EQ(chroma[0][0], c.first) << c.vector;
        EXPECT_EQ(chroma[0][7], c.last) << c.vector;
        EXPECT_EQ(chroma[0][56], c.first) << c.vector;
        EXPECT_EQ(chroma[1][0], c.first) << c.vector;
        EXPECT_EQ(chroma[1][56], c.last) << c.vector;
        EXPECT_EQ(chroma[1][7], c.first) << c.vector;
    }
}

// Sets the co-located vectors: a P picture of inter macroblocks with these vectors, stored
// after its samples are replaced by `samples` (4:2:0 planar).
void storePredictedPicture(AvcReconstruction& r, std::vector<uint8_t>& target,
                           const std::vector<std::array<int, 2>>& vectors,
                           const std::vector<uint8_t>& samples) {
    r.setTarget(target.data());
    r.beginPicture(40, 0, false);
    AvcMacroblock mb;
    mb.type = MbType::Inter;
    for (size_t i = 0; i < vectors.size(); ++i) {
        mb.mvx = vectors[i][0];
        mb.mvy = vectors[i][1];
        r.reconstruct(int(i) % r.mbColumns(), int(i) / r.mbColumns(), mb);
    }
    target = samples;
    r.storeReference();
}

// Direct vectors: s1 = -256 (b + 1) / 3, s2 = s1 + 256, each (s x v + 128) >> 8, for the
// co-located vector (3, -7).
TEST(AvcDirect, VectorsScaleTheCoLocatedVector) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(16, 16));
    std::vector<uint8_t> target(r.pictureBytes(), 128);
    storePredictedPicture(r, target, {{3, -7}}, target);
    const int expected[4][4] = {{-1, 2, 2, -5}, {-2, 5, 1, -2}, {-3, 7, 0, 0}, {-4, 9, -1, 2}};
    for (int b = 0; b < 4; ++b) {
        r.beginPicture(40, b, false);
        int v[4];
        r.directVectors(0, 0, v[0], v[1], v[2], v[3]);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], expected[b][i]) << "b " << b << " i " << i;
    }
}

// A macroblock edge with an intra side has strength 4: at quantiser 40 (alpha 80, beta 13) the
// step between an intra macroblock predicted at 128 and an inter one copied from a reference
// of 120 is below (alpha >> 2) + 2, so the strong filter changes three samples on each side:
// 128 128 128 128 | 120 120 120 120 becomes 128 127 126 125 | 123 122 121 120.
TEST(AvcLoopFilter, IntraMacroblockEdgesUseTheStrongFilter) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(32, 16));
    std::vector<uint8_t> target(r.pictureBytes(), 128);
    std::fill(target.begin(), target.begin() + 32 * 16, uint8_t(120));
    r.setTarget(target.data());
    r.beginPicture(40, 0, false);
    r.storeReference();
    r.beginPicture(40, 0, true);
    AvcMacroblock mb;
    mb.type = MbType::Intra;
    std::fill(std::begin(mb.lumaModes), std::end(mb.lumaModes), uint8_t(2));
    r.reconstruct(0, 0, mb);
    mb.type = MbType::Inter;
    r.reconstruct(1, 0, mb);
    const uint8_t expected[8] = {128, 127, 126, 125, 123, 122, 121, 120};
    for (const int y : {0, 15})
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(target[size_t(y * 32 + 12 + i)], expected[i]) << y << " " << i;
}

// Strength 2 where a side has coefficients, 0 where neither has and the motion is the same,
// per 4-sample segment; the vertical edges before the horizontal ones. Two inter macroblocks
// with the vector 0 copy a reference of 100 (columns 0 to 15) and 110; the right one's block
// (0, 0) counts a coefficient (its levels are zero here, so only the strengths change):
// segment 0 of its left edge, of its first inner vertical edge and of its first inner
// horizontal edge are filtered at quantiser 40 (tC0 5), the other segments are not.
TEST(AvcLoopFilter, CodedBlocksGiveStrengthTwoPerSegment) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(32, 16));
    std::vector<uint8_t> target(r.pictureBytes(), 128);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) target[size_t(y * 32 + x)] = x < 16 ? 100 : 110;
    r.setTarget(target.data());
    r.beginPicture(40, 0, false);
    r.storeReference();
    r.beginPicture(40, 0, true);
    AvcMacroblock mb;
    mb.type = MbType::Inter;
    r.reconstruct(0, 0, mb);
    r.counts(1, 0)[0] = 1;
    r.reconstruct(1, 0, mb);
    const uint8_t rows[7][12] = {
        {100, 100, 102, 104, 106, 107, 108, 110, 110, 110, 110, 110},  // rows 0 to 5
        {100, 100, 102, 104, 106, 107, 108, 110, 110, 110, 110, 110},
        {100, 100, 102, 104, 107, 108, 108, 110, 110, 110, 110, 110},
        {100, 100, 102, 104, 108, 108, 109, 110, 110, 110, 110, 110},
        {100, 100, 100, 100, 108, 109, 109, 110, 110, 110, 110, 110},
        {100, 100, 100, 100, 109, 109, 109, 110, 110, 110, 110, 110},
        {100, 100, 100, 100, 110, 110, 110, 110, 110, 110, 110, 110},  // rows 6 to 15
    };
    for (int y = 0; y < 16; ++y)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(target[size_t(y * 32 + 12 + i)], rows[std::min(y, 6)][i])
                << "column " << 12 + i << " row " << y;
}

// A direct macroblock averages the two slots at the integer parts of its vectors, truncated
// toward zero, and chroma at half those parts. Co-located vector (3, -7), B parameter 0:
// vectors (-1, 2) into the first slot and (2, -5) into the second; integer parts (0, 1) and
// (1, -2); chroma (0, 0) and (0, -1). The first slot holds x + y, the second 2 y (luma and
// both chroma planes); the macroblock at (1, 1) starts at luma (16, 16), chroma (8, 8):
//   luma (0, 0): (33 + 2 x 14 + 1) >> 1 = 31;  luma (15, 15): (63 + 2 x 29 + 1) >> 1 = 61;
//   chroma (0, 0): (16 + 2 x 7 + 1) >> 1 = 15;  chroma (7, 7): (30 + 2 x 14 + 1) >> 1 = 29.
TEST(AvcDirect, PredictionAveragesTheSlotsAtIntegerPositions) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(48, 48));
    std::vector<uint8_t> first(r.pictureBytes()), second(r.pictureBytes()), target;
    const auto fill = [](std::vector<uint8_t>& picture, int width, int height, int offset,
                         auto value) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                picture[size_t(offset + y * width + x)] = uint8_t(value(x, y));
    };
    const auto sum = [](int x, int y) { return x + y; };
    const auto twiceY = [](int, int y) { return 2 * y; };
    fill(first, 48, 48, 0, sum);
    fill(second, 48, 48, 0, twiceY);
    for (const int plane : {0, 1}) {
        fill(first, 24, 24, 48 * 48 + plane * 24 * 24, sum);
        fill(second, 24, 24, 48 * 48 + plane * 24 * 24, twiceY);
    }
    target = second;
    r.setTarget(target.data());
    r.beginPicture(40, 0, false);
    r.storeReference();
    std::vector<std::array<int, 2>> vectors(9, {0, 0});
    vectors[4] = {3, -7};
    storePredictedPicture(r, target, vectors, first);
    r.beginPicture(40, 0, false);
    AvcMacroblock mb;
    mb.type = MbType::Direct;
    r.reconstruct(1, 1, mb);
    EXPECT_EQ(target[16 * 48 + 16], 31);
    EXPECT_EQ(target[31 * 48 + 31], 61);
    for (const int plane : {0, 1}) {
        const uint8_t* chroma = target.data() + 48 * 48 + plane * 24 * 24;
        EXPECT_EQ(chroma[8 * 24 + 8], 15) << plane;
        EXPECT_EQ(chroma[15 * 24 + 15], 29) << plane;
    }
}

// Two direct macroblocks whose co-located vectors (2, 0) and (3, 0) give the same vector into
// the first slot (-1, 0) but different ones into the second (1, 0) and (2, 0): they differ in
// motion, so the edge between them has strength 1. The first slot is flat 100; the second
// is 100 up to column 16 and 110 after, so the right macroblock (second-slot integer offset 1)
// predicts (100 + 110 + 1) >> 1 = 105 and the left one 100. At quantiser 40 (tC0 4) the
// edge 100 100 100 | 105 105 105 becomes 100 101 102 | 103 104 105.
TEST(AvcLoopFilter, DirectMacroblocksDifferingInTheSecondVectorAreFiltered) {
    AvcReconstruction r;
    ASSERT_TRUE(r.resize(32, 16));
    std::vector<uint8_t> older(r.pictureBytes(), 128), flat(r.pictureBytes(), 128),
        target(r.pictureBytes());
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) older[size_t(y * 32 + x)] = x >= 17 ? 110 : 100;
    std::fill(flat.begin(), flat.begin() + 32 * 16, uint8_t(100));
    target = older;
    r.setTarget(target.data());
    r.beginPicture(40, 0, false);
    r.storeReference();
    storePredictedPicture(r, target, {{2, 0}, {3, 0}}, flat);
    r.beginPicture(40, 0, true);
    AvcMacroblock mb;
    mb.type = MbType::Direct;
    r.reconstruct(0, 0, mb);
    r.reconstruct(1, 0, mb);
    const uint8_t expected[6] = {100, 101, 102, 103, 104, 105};
    for (const int y : {0, 15})
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(target[size_t(y * 32 + 13 + i)], expected[i]) << y << " " << i;
}

}  // namespace
}  // namespace kx
