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
    n.hasLeft = true;
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
    ASSERT_EQ(engine.GetStatus(&status), kAvcOk);
    EXPECT_EQ(status, 1120u - 1040u);  // the repeat of 1120 waits behind the picture of 1040
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(avcGetStatus(nullptr, &status), kAvcNoEngine);
    EXPECT_EQ(avcGetPicture(&engine, nullptr), kAvcNullArgument);
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

// The SSE2 horizontal luma edge filter against the plain one: every quantiser, strengths 0 to
// 4 mixed along the edge, on smooth samples (so the filters act, strong ones included) and on
// random ones with steps at the edge.
TEST(AvcLoopFilter, Sse2RowEdgeWritesThePlainBytes) {
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

}  // namespace
}  // namespace kx
