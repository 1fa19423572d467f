// The transcribed H.263 tables, checked code by code against the standard's tables (CBPY
// Table 13, TCOEF Table 16, MVD Table 14 of ITU-T H.263), through the lookups the decoder uses.
#include "codec/native/h263_tables.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

// The code left-aligned in `width` bits, as the decoder peeks it.
uint32_t peeked(std::string_view code, int width) {
    const ParsedCode parsed = parseCode(code);
    return parsed.value << (width - parsed.length);
}

TEST(H263Tables, CbpyCodesGiveTheStandardPatterns) {
    struct Case {
        const char* code;
        int intra;  // CBPY(I) of the standard; the inter pattern is 15 minus it
    };
    for (const Case c : {Case{"0011", 0}, Case{"0010 1", 1}, Case{"1001", 3}, Case{"0000 10", 6},
                         Case{"0000 11", 9}, Case{"1010", 11}, Case{"0110", 14}}) {
        const auto entry = h263::lookupCbpy(peeked(c.code, 6));
        EXPECT_EQ(entry.symbol, c.intra) << c.code;
        EXPECT_EQ(entry.length, parseCode(c.code).length) << c.code;
    }
}

TEST(H263Tables, TcoefCodesGiveTheStandardEvents) {
    struct Case {
        const char* code;  // without the sign bit
        int last, run, level;
    };
    for (const Case c : {Case{"10", 0, 0, 1}, Case{"1111", 0, 0, 2}, Case{"0000 0100 000", 0, 0, 12},
                         Case{"110", 0, 1, 1}, Case{"0000 0101 0000", 0, 1, 6}, Case{"0110 1", 0, 3, 1},
                         Case{"0000 0100 011", 0, 24, 1}, Case{"0000 0101 0111", 0, 26, 1},
                         Case{"0111", 1, 0, 1}, Case{"0000 0000 101", 1, 0, 3}, Case{"0011 11", 1, 1, 1},
                         Case{"0000 1000 1", 1, 24, 1}, Case{"0000 0001 00", 1, 28, 1},
                         Case{"0000 0101 1111", 1, 40, 1}}) {
        const auto entry = h263::lookupTcoef(peeked(c.code, 12));
        EXPECT_EQ(entry.length, parseCode(c.code).length) << c.code;
        EXPECT_EQ(entry.symbol.last, c.last) << c.code;
        EXPECT_EQ(entry.symbol.run, c.run) << c.code;
        EXPECT_EQ(entry.symbol.level, c.level) << c.code;
    }
    const auto escape = h263::lookupTcoef(peeked("0000 011", 12));
    EXPECT_EQ(escape.length, 7);
    EXPECT_EQ(escape.symbol.level, 0);
    EXPECT_EQ(h263::lookupTcoef(7).length, 0);  // 0000 0000 0111: no code
    size_t codes = 0;
    for (const auto& code : h263::kTcoefCodes) codes += code.symbol.level != 0;
    EXPECT_EQ(codes, 102u);
}

TEST(H263Tables, MvdCodesGiveTheStandardDifferences) {
    struct Case {
        const char* code;  // with the sign bit, as the standard lists them
        int halfSamples;
    };
    for (const Case c : {Case{"1", 0}, Case{"010", 1}, Case{"011", -1}, Case{"0010", 2}, Case{"0000 111", -4},
                         Case{"0000 0110", 7}, Case{"0000 0101 11", -8}, Case{"0000 0100 000", 12},
                         Case{"0000 0000 1111", -25}, Case{"0000 0000 0100", 30},
                         Case{"0000 0000 0011 0", 31}, Case{"0000 0000 0010 1", -32}}) {
        const auto entry = h263::lookupMvd(peeked(c.code, 13));
        EXPECT_EQ(entry.length, parseCode(c.code).length) << c.code;
        EXPECT_EQ(entry.symbol, c.halfSamples) << c.code;
    }
    for (uint32_t outside = 0; outside < 5; ++outside) EXPECT_EQ(h263::lookupMvd(outside).length, 0);
}

TEST(H263Tables, ZigzagIsThePermutationOfTheClassicScan) {
    EXPECT_EQ(h263::kZigzag[1], 1);
    EXPECT_EQ(h263::kZigzag[2], 8);
    EXPECT_EQ(h263::kZigzag[3], 16);
    EXPECT_EQ(h263::kZigzag[35], 56);
    EXPECT_EQ(h263::kZigzag[63], 63);
    std::array<bool, 64> seen{};
    for (uint8_t index : h263::kZigzag) seen[index] = true;
    for (bool s : seen) EXPECT_TRUE(s);
}

}  // namespace
}  // namespace kx
