// The H.264 tables the avc codec uses, in our compile-time form: the CAVLC codes (coeff_token,
// total_zeros, run_before, with the chroma DC variants), the coded block pattern mapping of
// Table 9-4, the LevelScale rows, and the loop filter's alpha, beta and tC0.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace kx::avc {

// One variable-length code: its value, its length in bits and what it stands for.
struct AvcCode {
    uint16_t value;
    uint8_t length;
    uint8_t symbol;
};

// coeff_token codes by (total coefficients, trailing ones), laid out as [4 x total + ones]; a
// length of 0 is no code. Rows 0 to 2 are the tables for nC 0..1, 2..3 and 4..7 of H.264
// Table 9-5; nC 8 and above is the 6-bit fixed-length code (see coeffTokenFixed).
// clang-format off
inline constexpr uint8_t kCoeffTokenLength[3][68] = {
    {1, 0, 0, 0, 6, 2, 0, 0, 8, 6, 3, 0, 9, 8, 7, 5, 10, 9, 8, 6,
     11, 10, 9, 7, 13, 11, 10, 8, 13, 13, 11, 9, 13, 13, 13, 10,
     14, 14, 13, 11, 14, 14, 14, 13, 15, 15, 14, 14, 15, 15, 15, 14,
     16, 15, 15, 15, 16, 16, 16, 15, 16, 16, 16, 16, 16, 16, 16, 16},
    {2, 0, 0, 0, 6, 2, 0, 0, 6, 5, 3, 0, 7, 6, 6, 4, 8, 6, 6, 4,
     8, 7, 7, 5, 9, 8, 8, 6, 11, 9, 9, 6, 11, 11, 11, 7,
     12, 11, 11, 9, 12, 12, 12, 11, 12, 12, 12, 11, 13, 13, 13, 12,
     13, 13, 13, 13, 13, 14, 13, 13, 14, 14, 14, 13, 14, 14, 14, 14},
    {4, 0, 0, 0, 6, 4, 0, 0, 6, 5, 4, 0, 6, 5, 5, 4, 7, 5, 5, 4,
     7, 5, 5, 4, 7, 6, 6, 4, 7, 6, 6, 4, 8, 7, 7, 5,
     8, 8, 7, 6, 9, 8, 8, 7, 9, 9, 8, 8, 9, 9, 9, 8,
     10, 9, 9, 9, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10},
};
inline constexpr uint16_t kCoeffTokenValue[3][68] = {
    {1, 0, 0, 0, 5, 1, 0, 0, 7, 4, 1, 0, 7, 6, 5, 3, 7, 6, 5, 3,
     7, 6, 5, 4, 15, 6, 5, 4, 11, 14, 5, 4, 8, 10, 13, 4,
     15, 14, 9, 4, 11, 10, 13, 12, 15, 14, 9, 12, 11, 10, 13, 8,
     15, 1, 9, 12, 11, 14, 13, 8, 7, 10, 9, 12, 4, 6, 5, 8},
    {3, 0, 0, 0, 11, 2, 0, 0, 7, 7, 3, 0, 7, 10, 9, 5, 7, 6, 5, 4,
     4, 6, 5, 6, 7, 6, 5, 8, 15, 6, 5, 4, 11, 14, 13, 4,
     15, 10, 9, 4, 11, 14, 13, 12, 8, 10, 9, 8, 15, 14, 13, 12,
     11, 10, 9, 12, 7, 11, 6, 8, 9, 8, 10, 1, 7, 6, 5, 4},
    {15, 0, 0, 0, 15, 14, 0, 0, 11, 15, 13, 0, 8, 12, 14, 12, 15, 10, 11, 11,
     11, 8, 9, 10, 9, 14, 13, 9, 8, 10, 9, 8, 15, 14, 13, 13,
     11, 14, 10, 12, 15, 10, 13, 12, 11, 14, 9, 12, 8, 10, 13, 8,
     13, 7, 9, 12, 9, 12, 11, 10, 5, 8, 7, 6, 1, 4, 3, 2},
};
// Chroma DC (nC = -1), [4 x total + ones] for totals 0 to 4.
inline constexpr uint8_t kChromaDcTokenLength[20] = {2, 0, 0, 0, 6, 1, 0, 0, 6, 6, 3, 0, 6, 7, 7, 6, 6, 8, 8, 7};
inline constexpr uint16_t kChromaDcTokenValue[20] = {1, 0, 0, 0, 7, 1, 0, 0, 4, 6, 1, 0, 3, 3, 2, 5, 2, 3, 2, 0};

// total_zeros for 4x4 blocks, [total coefficients - 1][total_zeros] (Tables 9-7, 9-8).
inline constexpr uint8_t kTotalZerosLength[15][16] = {
    {1, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 9}, {3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 6, 6},
    {4, 3, 3, 3, 4, 4, 3, 3, 4, 5, 5, 6, 5, 6},       {5, 3, 4, 4, 3, 3, 3, 4, 3, 4, 5, 5, 5},
    {4, 4, 4, 3, 3, 3, 3, 3, 4, 5, 4, 5},             {6, 5, 3, 3, 3, 3, 3, 3, 4, 3, 6},
    {6, 5, 3, 3, 3, 2, 3, 4, 3, 6},                   {6, 4, 5, 3, 2, 2, 3, 3, 6},
    {6, 6, 4, 2, 2, 3, 2, 5},                         {5, 5, 3, 2, 2, 2, 4},
    {4, 4, 3, 3, 1, 3},                               {4, 4, 2, 1, 3},
    {3, 3, 1, 2},                                     {2, 2, 1},
    {1, 1},
};
inline constexpr uint8_t kTotalZerosValue[15][16] = {
    {1, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 1}, {7, 6, 5, 4, 3, 5, 4, 3, 2, 3, 2, 3, 2, 1, 0},
    {5, 7, 6, 5, 4, 3, 4, 3, 2, 3, 2, 1, 1, 0},       {3, 7, 5, 4, 6, 5, 4, 3, 3, 2, 2, 1, 0},
    {5, 4, 3, 7, 6, 5, 4, 3, 2, 1, 1, 0},             {1, 1, 7, 6, 5, 4, 3, 2, 1, 1, 0},
    {1, 1, 5, 4, 3, 3, 2, 1, 1, 0},                   {1, 1, 1, 3, 3, 2, 2, 1, 0},
    {1, 0, 1, 3, 2, 1, 1, 1},                         {1, 0, 1, 3, 2, 1, 1},
    {0, 1, 1, 2, 1, 3},                               {0, 1, 1, 1, 1},
    {0, 1, 1, 1},                                     {0, 1, 1},
    {0, 1},
};
// total_zeros for chroma DC, [total coefficients - 1][total_zeros] (Table 9-9a).
inline constexpr uint8_t kChromaDcZerosLength[3][4] = {{1, 2, 3, 3}, {1, 2, 2, 0}, {1, 1, 0, 0}};
inline constexpr uint8_t kChromaDcZerosValue[3][4] = {{1, 1, 1, 0}, {1, 1, 0, 0}, {1, 0, 0, 0}};
// run_before, [min(zeros left, 7) - 1][run_before] (Table 9-10).
inline constexpr uint8_t kRunBeforeLength[7][15] = {
    {1, 1}, {1, 2, 2}, {2, 2, 2, 2}, {2, 2, 2, 3, 3}, {2, 2, 3, 3, 3, 3}, {2, 3, 3, 3, 3, 3, 3},
    {3, 3, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
inline constexpr uint8_t kRunBeforeValue[7][15] = {
    {1, 0}, {1, 1, 0}, {3, 2, 1, 0}, {3, 2, 1, 1, 0}, {3, 2, 3, 2, 1, 0}, {3, 0, 1, 3, 2, 5, 4},
    {7, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},
};

// Table 9-4 (4:2:0): codeNum to coded_block_pattern, luma in bits 0 to 3, chroma 0..2 above.
inline constexpr uint8_t kIntraCbp[48] = {
    47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
    16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
    8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
inline constexpr uint8_t kInterCbp[48] = {
    0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
    14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
    17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};

// LevelScale of the flat 4x4 matrix: for q mod 6, the values of positions whose row and
// column are both even, both odd, and mixed.
inline constexpr uint8_t kLevelScale[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                              {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
constexpr int levelScale(int qMod6, int position) {
    const int row = position >> 2, column = position & 3;
    if ((row & 1) == 0 && (column & 1) == 0) return kLevelScale[qMod6][0];
    if ((row & 1) == 1 && (column & 1) == 1) return kLevelScale[qMod6][1];
    return kLevelScale[qMod6][2];
}

// Loop filter thresholds by quantiser 0 to 51 (Tables 8-16 and 8-17).
inline constexpr uint8_t kAlpha[52] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,   0,   0,   0,   4,   4,   5,   6,   7,   8,   9,   10, 12, 13,
    15, 17, 20, 22, 25, 28, 32, 36, 40, 45, 50, 56, 63, 71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
inline constexpr uint8_t kBeta[52] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  0,  2,  2,  2,  3,  3,  3,  3,  4,  4,  4,
    6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
inline constexpr uint8_t kTc0[52][3] = {
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},    {0, 0, 0},
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},    {0, 0, 0},
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 1},    {0, 0, 1},    {0, 0, 1},    {0, 0, 1},
    {0, 1, 1},   {0, 1, 1},   {1, 1, 1},   {1, 1, 1},    {1, 1, 1},    {1, 1, 1},    {1, 1, 2},
    {1, 1, 2},   {1, 1, 2},   {1, 1, 2},   {1, 2, 3},    {1, 2, 3},    {2, 2, 3},    {2, 2, 4},
    {2, 3, 4},   {2, 3, 4},   {3, 3, 5},   {3, 4, 6},    {3, 4, 6},    {4, 5, 7},    {4, 5, 8},
    {4, 6, 9},   {5, 7, 10},  {6, 8, 11},  {6, 8, 13},   {7, 10, 14},  {8, 11, 16},  {9, 12, 18},
    {10, 13, 20}, {11, 15, 23}, {13, 17, 25}};
// clang-format on

// The 4x4 zigzag scan: scan position to raster position in the block.
inline constexpr uint8_t kZigzag4x4[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};

// Luma 4x4 blocks in coding order: the 8x8 quadrants in raster order, each with its four
// blocks in raster order. Offsets in samples within the macroblock.
inline constexpr uint8_t kBlockX[16] = {0, 4, 0, 4, 8, 12, 8, 12, 0, 4, 0, 4, 8, 12, 8, 12};
inline constexpr uint8_t kBlockY[16] = {0, 0, 4, 4, 0, 0, 4, 4, 8, 8, 12, 12, 8, 8, 12, 12};
// Coding order index of the block at raster position (x / 4) + 4 x (y / 4).
inline constexpr uint8_t kBlockOfRaster[16] = {0, 1, 4,  5,  2,  3,  6,  7,
                                               8, 9, 12, 13, 10, 11, 14, 15};

// A table indexed by the number of leading zeros (up to MaxZeros) and the next SuffixBits bits
// after the first 1: each entry the symbol and the code's whole length (0: no code).
struct PrefixEntry {
    uint8_t symbol = 0;
    uint8_t length = 0;
};

template <int MaxZeros, int SuffixBits>
struct PrefixTable {
    using Entry = PrefixEntry;
    std::array<std::array<Entry, (1u << SuffixBits)>, MaxZeros + 1> entries{};
    Entry allZeros{};  // a code of zeros only: every stream that starts with its zeros
    int codes = 0;

    constexpr void add(uint32_t value, int length, uint8_t symbol) {
        if (length == 0) return;
        if (value == 0) {
            if (allZeros.length != 0 || length > MaxZeros + 1) throw "a second all-zero code";
            allZeros = {symbol, uint8_t(length)};
            for (int z = length; z <= MaxZeros; ++z)
                for (Entry& entry : entries[size_t(z)]) {
                    if (entry.length != 0) throw "two codes share a prefix";
                    entry = allZeros;
                }
            ++codes;
            return;
        }
        const int zeros = length - std::bit_width(value);
        const int suffixLength = length - zeros - 1;
        if (zeros > MaxZeros || suffixLength > SuffixBits) throw "a code is too long for its table";
        const uint32_t suffix = value & ((1u << suffixLength) - 1);
        const int free = SuffixBits - suffixLength;
        for (uint32_t i = 0; i < (1u << free); ++i) {
            Entry& entry = entries[size_t(zeros)][(suffix << free) | i];
            if (entry.length != 0) throw "two codes share a prefix";
            entry = {symbol, uint8_t(length)};
        }
        ++codes;
    }

    // `bits24` holds the next 24 bits of the stream.
    constexpr Entry lookup(uint32_t bits24) const {
        const int zeros = std::countl_zero(bits24 << 8);
        if (zeros > MaxZeros) return allZeros;
        return entries[size_t(zeros)]
                      [(bits24 >> (23 - zeros - SuffixBits)) & ((1u << SuffixBits) - 1)];
    }
};

using CoeffTokenTable = PrefixTable<15, 4>;
constexpr CoeffTokenTable buildCoeffTokenTable(int table) {
    CoeffTokenTable t;
    for (int i = 0; i < 68; ++i)
        if (i >> 2 >= (i & 3))
            t.add(kCoeffTokenValue[table][i], kCoeffTokenLength[table][i], uint8_t(i));
    return t;
}
constexpr PrefixTable<7, 2> buildChromaDcTokenTable() {
    PrefixTable<7, 2> t;
    for (int i = 0; i < 20; ++i)
        if (i >> 2 >= (i & 3)) t.add(kChromaDcTokenValue[i], kChromaDcTokenLength[i], uint8_t(i));
    return t;
}
using TotalZerosTable = PrefixTable<8, 2>;
constexpr std::array<TotalZerosTable, 15> buildTotalZerosTables() {
    std::array<TotalZerosTable, 15> tables{};
    for (int total = 1; total <= 15; ++total)
        for (int zeros = 0; zeros <= 16 - total; ++zeros)
            tables[size_t(total - 1)].add(kTotalZerosValue[total - 1][zeros],
                                          kTotalZerosLength[total - 1][zeros], uint8_t(zeros));
    return tables;
}
constexpr std::array<PrefixTable<3, 1>, 3> buildChromaDcZerosTables() {
    std::array<PrefixTable<3, 1>, 3> tables{};
    for (int total = 1; total <= 3; ++total)
        for (int zeros = 0; zeros <= 4 - total; ++zeros)
            tables[size_t(total - 1)].add(kChromaDcZerosValue[total - 1][zeros],
                                          kChromaDcZerosLength[total - 1][zeros], uint8_t(zeros));
    return tables;
}
using RunBeforeTable = PrefixTable<10, 2>;
constexpr std::array<RunBeforeTable, 7> buildRunBeforeTables() {
    std::array<RunBeforeTable, 7> tables{};
    for (int z = 1; z <= 7; ++z)
        for (int run = 0; run <= (z < 7 ? z : 14); ++run)
            tables[size_t(z - 1)].add(kRunBeforeValue[z - 1][run], kRunBeforeLength[z - 1][run],
                                      uint8_t(run));
    return tables;
}

inline constexpr std::array<CoeffTokenTable, 3> kCoeffTokenTables = {
    buildCoeffTokenTable(0), buildCoeffTokenTable(1), buildCoeffTokenTable(2)};
inline constexpr auto kChromaDcTokenTable = buildChromaDcTokenTable();
inline constexpr auto kTotalZerosTables = buildTotalZerosTables();
inline constexpr auto kChromaDcZerosTables = buildChromaDcZerosTables();
inline constexpr auto kRunBeforeTables = buildRunBeforeTables();

// Every code of the standard's tables found its entry: 62 coeff_tokens per table, 14 chroma
// DC tokens, 135 total_zeros, 9 chroma DC total_zeros, 42 run_before codes.
static_assert(kCoeffTokenTables[0].codes == 62 && kCoeffTokenTables[1].codes == 62 &&
              kCoeffTokenTables[2].codes == 62 && kChromaDcTokenTable.codes == 14);

// The 6-bit coeff_token of nC 8 and above: 000011 for no coefficient, else (total - 1, ones).
// Returns the symbol 4 x total + ones, or -1 for a value that is no code.
constexpr int coeffTokenFixed(uint32_t bits6) {
    if (bits6 == 3) return 0;
    const int total = int(bits6 >> 2) + 1, ones = int(bits6 & 3);
    return ones > total ? -1 : total * 4 + ones;
}

}  // namespace kx::avc
