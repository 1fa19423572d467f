// The MPEG-4 code tables against codes printed in ISO/IEC 14496-2 (tables B-4 to B-17 and the
// escape limits of B-19 to B-22): a handful of each, looked up through the engine's own tables.
#include <gtest/gtest.h>

#include "codec/mpeg4/mpeg4_tables.h"

namespace kx::mpeg4 {
namespace {

// The next `bits` bits of a stream that starts with `code` followed by zeros.
uint32_t peekOf(std::string_view code, int bits) {
    const ParsedCode parsed = parseCode(code);
    return parsed.value << (bits - parsed.length);
}

struct TcoefCase {
    const char* code;
    int last, run, level;  // level 0: the escape
};

TEST(Mpeg4Tables, IntraAndInterCoefficients) {
    const TcoefCase intra[] = {{"10", 0, 0, 1},           {"1110", 0, 1, 1},        {"0111", 1, 0, 1},
                               {"0000 0101 0010", 0, 0, 27}, {"0000 0101 1111", 1, 20, 1}, {"0101 00", 0, 1, 2},
                               {"0000 011", 0, 0, 0}};
    for (const auto& c : intra) {
        const auto e = kIntraTcoefTable[peekOf(c.code, 12)];
        EXPECT_EQ(e.length, parseCode(c.code).length) << c.code;
        EXPECT_EQ(e.symbol.last, c.last) << c.code;
        EXPECT_EQ(e.symbol.run, c.run) << c.code;
        EXPECT_EQ(e.symbol.level, c.level) << c.code;
    }
    const TcoefCase inter[] = {{"10", 0, 0, 1},    {"110", 0, 1, 1},          {"0111", 1, 0, 1},
                               {"1111", 0, 0, 2},  {"0000 0101 1111", 1, 40, 1}, {"0000 011", 0, 0, 0}};
    for (const auto& c : inter) {
        const auto e = kInterTcoefTable[peekOf(c.code, 12)];
        EXPECT_EQ(e.length, parseCode(c.code).length) << c.code;
        EXPECT_EQ(e.symbol.last, c.last) << c.code;
        EXPECT_EQ(e.symbol.run, c.run) << c.code;
        EXPECT_EQ(e.symbol.level, c.level) << c.code;
    }
}

TEST(Mpeg4Tables, EscapeLimits) {
    // LMAX and RMAX of tables B-19 to B-22.
    EXPECT_EQ(kIntraEscape.maxLevel[0][0], 27);
    EXPECT_EQ(kIntraEscape.maxLevel[0][1], 10);
    EXPECT_EQ(kIntraEscape.maxLevel[0][14], 1);
    EXPECT_EQ(kIntraEscape.maxLevel[1][0], 8);
    EXPECT_EQ(kIntraEscape.maxRun[0][1], 14);
    EXPECT_EQ(kIntraEscape.maxRun[1][1], 20);
    EXPECT_EQ(kInterEscape.maxLevel[0][0], 12);
    EXPECT_EQ(kInterEscape.maxLevel[0][1], 6);
    EXPECT_EQ(kInterEscape.maxLevel[1][0], 3);
    EXPECT_EQ(kInterEscape.maxRun[0][1], 26);
    EXPECT_EQ(kInterEscape.maxRun[1][1], 40);
    EXPECT_EQ(kInterEscape.maxRun[0][12], 0);
}

struct SymbolCase {
    const char* code;
    int symbol;
};

template <typename Table>
void expectCodes(const Table& table, int bits, std::initializer_list<SymbolCase> cases) {
    for (const auto& c : cases) {
        const auto e = table[peekOf(c.code, bits)];
        EXPECT_EQ(e.length, parseCode(c.code).length) << c.code;
        EXPECT_EQ(int(e.symbol), c.symbol) << c.code;
    }
}

TEST(Mpeg4Tables, MacroblockCodes) {
    // MCBPC of I pictures: intra, intra with dquant, stuffing.
    expectCodes(kIntraMcbpcTable, 9, {{"1", 0}, {"001", 1}, {"011", 3}, {"0001", 4}, {"0000 11", 7}, {"0000 0000 1", 8}});
    // MCBPC of P pictures: symbol = cbpc | 4 intra | 8 dquant | 16 four vectors.
    expectCodes(kInterMcbpcTable, 9,
                {{"1", 0}, {"0001 01", 3}, {"011", 8}, {"010", 16}, {"0001 1", 4}, {"0001 00", 12},
                 {"0000 0101", 19}, {"0000 0001 0", 15}, {"0000 0000 1", 20}});
    // dct_dc_size_luminance and _chrominance.
    expectCodes(kDcSizeLumaTable, 11, {{"011", 0}, {"11", 1}, {"10", 2}, {"010", 3}, {"0000 1", 6}, {"0000 0000 001", 12}});
    expectCodes(kDcSizeChromaTable, 12, {{"11", 0}, {"10", 1}, {"01", 2}, {"001", 3}, {"0000 0000 0001", 12}});
    // B macroblock type: direct, interpolated, backward, forward.
    expectCodes(kBTypeTable, 4, {{"1", 0}, {"01", 1}, {"001", 2}, {"0001", 3}});
}

// The motion code agrees with the H.263 vector-difference table (the same codes, written there
// with their sign bit): magnitude from our table, sign from the bit after it.
TEST(Mpeg4Tables, MotionCodeAgreesWithH263) {
    for (const auto& code : h263::kMvdCodes) {
        const ParsedCode parsed = parseCode(code.bits);
        const auto e = kMotionTable[peekOf(code.bits, 13) >> 1];
        if (code.symbol == 0) {
            EXPECT_EQ(e.length, 1);
            EXPECT_EQ(e.symbol, 0);
            continue;
        }
        ASSERT_EQ(e.length, parsed.length - 1) << code.bits;
        const bool negative = parsed.value & 1;
        EXPECT_EQ(negative ? -int(e.symbol) : int(e.symbol), code.symbol) << code.bits;
    }
}

TEST(Mpeg4Tables, ScansAndMatrices) {
    EXPECT_EQ(kAlternateHorizontal[4], 8);
    EXPECT_EQ(kAlternateVertical[1], 8);
    EXPECT_EQ(kAlternateVertical[4], 1);
    EXPECT_EQ(kDefaultIntraMatrix[0], 8);
    EXPECT_EQ(kDefaultIntraMatrix[63], 45);
    EXPECT_EQ(kDefaultInterMatrix[0], 16);
    EXPECT_EQ(kDefaultInterMatrix[63], 33);
    // Each scan visits every position once.
    for (const auto* scan : {&kAlternateHorizontal, &kAlternateVertical}) {
        std::array<int, 64> seen{};
        for (uint8_t p : *scan) ++seen[p];
        for (int n : seen) EXPECT_EQ(n, 1);
    }
}

}  // namespace
}  // namespace kx::mpeg4
