// The ISO/IEC 14496-2 code tables of the MPEG-4 video engine, transcribed into our own form:
// intra and inter transform-coefficient codes (the inter table is the H.263 TCOEF table),
// MCBPC for I and P pictures, the DC size codes, the motion code, the B macroblock type,
// the scans, the default quantiser matrices and the DC scalers. Lookups are built at compile
// time; the escape limits (largest level per run, largest run per level) are derived from the
// code tables themselves so they cannot disagree with them.
#pragma once

#include <array>
#include <cstdint>

#include "codec/bits/vlc_table.h"
#include "codec/native/h263_tables.h"

namespace kx::mpeg4 {

using h263::Tcoef;

// A code given as value and length (the form the standard's tables print as bit strings).
template <typename Symbol>
struct BitCode {
    uint16_t value;
    uint8_t length;
    Symbol symbol;
};

// Table indexed by the next IndexBits bits; codes longer than IndexBits are left out.
template <int IndexBits, typename Symbol, size_t N>
constexpr std::array<VlcEntry<Symbol>, (size_t(1) << IndexBits)> buildBitTable(const std::array<BitCode<Symbol>, N>& codes) {
    std::array<VlcEntry<Symbol>, (size_t(1) << IndexBits)> table{};
    for (const auto& code : codes) {
        if (code.length == 0 || code.length > IndexBits) continue;
        const int free = IndexBits - code.length;
        const size_t first = size_t(code.value) << free;
        for (size_t i = first; i < first + (size_t(1) << free); ++i) {
            if (table[i].length != 0) throw "two codes share a prefix";
            table[i] = {code.symbol, code.length};
        }
    }
    return table;
}

// Intra TCOEF (table B-16), sign bit not included; the last entry is the escape (level 0).
inline constexpr std::array<BitCode<Tcoef>, 103> kIntraTcoefCodes = {{
    {0x2, 2, {0, 0, 1}},   {0x6, 3, {0, 0, 2}},   {0xf, 4, {0, 0, 3}},    {0xd, 5, {0, 0, 4}},
    {0xc, 5, {0, 0, 5}},   {0x15, 6, {0, 0, 6}},  {0x13, 6, {0, 0, 7}},   {0x12, 6, {0, 0, 8}},
    {0x17, 7, {0, 0, 9}},  {0x1f, 8, {0, 0, 10}}, {0x1e, 8, {0, 0, 11}},  {0x1d, 8, {0, 0, 12}},
    {0x25, 9, {0, 0, 13}}, {0x24, 9, {0, 0, 14}}, {0x23, 9, {0, 0, 15}},  {0x21, 9, {0, 0, 16}},
    {0x21, 10, {0, 0, 17}}, {0x20, 10, {0, 0, 18}}, {0xf, 10, {0, 0, 19}}, {0xe, 10, {0, 0, 20}},
    {0x7, 11, {0, 0, 21}}, {0x6, 11, {0, 0, 22}}, {0x20, 11, {0, 0, 23}}, {0x21, 11, {0, 0, 24}},
    {0x50, 12, {0, 0, 25}}, {0x51, 12, {0, 0, 26}}, {0x52, 12, {0, 0, 27}}, {0xe, 4, {0, 1, 1}},
    {0x14, 6, {0, 1, 2}},  {0x16, 7, {0, 1, 3}},  {0x1c, 8, {0, 1, 4}},   {0x20, 9, {0, 1, 5}},
    {0x1f, 9, {0, 1, 6}},  {0xd, 10, {0, 1, 7}},  {0x22, 11, {0, 1, 8}},  {0x53, 12, {0, 1, 9}},
    {0x55, 12, {0, 1, 10}}, {0xb, 5, {0, 2, 1}},  {0x15, 7, {0, 2, 2}},   {0x1e, 9, {0, 2, 3}},
    {0xc, 10, {0, 2, 4}},  {0x56, 12, {0, 2, 5}}, {0x11, 6, {0, 3, 1}},   {0x1b, 8, {0, 3, 2}},
    {0x1d, 9, {0, 3, 3}},  {0xb, 10, {0, 3, 4}},  {0x10, 6, {0, 4, 1}},   {0x22, 9, {0, 4, 2}},
    {0xa, 10, {0, 4, 3}},  {0xd, 6, {0, 5, 1}},   {0x1c, 9, {0, 5, 2}},   {0x8, 10, {0, 5, 3}},
    {0x12, 7, {0, 6, 1}},  {0x1b, 9, {0, 6, 2}},  {0x54, 12, {0, 6, 3}},  {0x14, 7, {0, 7, 1}},
    {0x1a, 9, {0, 7, 2}},  {0x57, 12, {0, 7, 3}}, {0x19, 8, {0, 8, 1}},   {0x9, 10, {0, 8, 2}},
    {0x18, 8, {0, 9, 1}},  {0x23, 11, {0, 9, 2}}, {0x17, 8, {0, 10, 1}},  {0x19, 9, {0, 11, 1}},
    {0x18, 9, {0, 12, 1}}, {0x7, 10, {0, 13, 1}}, {0x58, 12, {0, 14, 1}}, {0x7, 4, {1, 0, 1}},
    {0xc, 6, {1, 0, 2}},   {0x16, 8, {1, 0, 3}},  {0x17, 9, {1, 0, 4}},   {0x6, 10, {1, 0, 5}},
    {0x5, 11, {1, 0, 6}},  {0x4, 11, {1, 0, 7}},  {0x59, 12, {1, 0, 8}},  {0xf, 6, {1, 1, 1}},
    {0x16, 9, {1, 1, 2}},  {0x5, 10, {1, 1, 3}},  {0xe, 6, {1, 2, 1}},    {0x4, 10, {1, 2, 2}},
    {0x11, 7, {1, 3, 1}},  {0x24, 11, {1, 3, 2}}, {0x10, 7, {1, 4, 1}},   {0x25, 11, {1, 4, 2}},
    {0x13, 7, {1, 5, 1}},  {0x5a, 12, {1, 5, 2}}, {0x15, 8, {1, 6, 1}},   {0x5b, 12, {1, 6, 2}},
    {0x14, 8, {1, 7, 1}},  {0x13, 8, {1, 8, 1}},  {0x1a, 8, {1, 9, 1}},   {0x15, 9, {1, 10, 1}},
    {0x14, 9, {1, 11, 1}}, {0x13, 9, {1, 12, 1}}, {0x12, 9, {1, 13, 1}},  {0x11, 9, {1, 14, 1}},
    {0x26, 11, {1, 15, 1}}, {0x27, 11, {1, 16, 1}}, {0x5c, 12, {1, 17, 1}}, {0x5d, 12, {1, 18, 1}},
    {0x5e, 12, {1, 19, 1}}, {0x5f, 12, {1, 20, 1}}, {0x3, 7, {0, 0, 0}},
}};

// Both TCOEF tables looked up through 12 peeked bits in one step (4096 entries each).
inline constexpr auto kIntraTcoefTable = buildBitTable<12>(kIntraTcoefCodes);
inline constexpr auto kInterTcoefTable = buildVlcTable<12, 4096>(h263::kTcoefCodes);

// Escape limits: the largest level a code gives for (last, run), and the largest run for
// (last, level).
struct EscapeLimits {
    uint8_t maxLevel[2][64] = {};
    uint8_t maxRun[2][64] = {};
};

template <typename Table>
constexpr EscapeLimits escapeLimitsOf(const Table& table) {
    EscapeLimits limits;
    for (const auto& entry : table) {
        if (entry.length == 0 || entry.symbol.level == 0) continue;
        const Tcoef t = entry.symbol;
        if (t.level > limits.maxLevel[t.last][t.run]) limits.maxLevel[t.last][t.run] = t.level;
        if (t.run > limits.maxRun[t.last][t.level]) limits.maxRun[t.last][t.level] = t.run;
    }
    return limits;
}
inline constexpr EscapeLimits kIntraEscape = escapeLimitsOf(kIntraTcoefTable);
inline constexpr EscapeLimits kInterEscape = escapeLimitsOf(kInterTcoefTable);

// MCBPC of I pictures: symbol = mb_type bit 2 (IntraQ) | cbpc; 8 is stuffing.
inline constexpr std::array<BitCode<uint8_t>, 9> kIntraMcbpcCodes = {{
    {1, 1, 0}, {1, 3, 1}, {2, 3, 2}, {3, 3, 3}, {1, 4, 4}, {1, 6, 5}, {2, 6, 6}, {3, 6, 7}, {1, 9, 8},
}};
inline constexpr auto kIntraMcbpcTable = buildBitTable<9>(kIntraMcbpcCodes);

// MCBPC of P pictures: symbol = cbpc | 4 intra | 8 dquant | 16 four vectors; 20 is stuffing.
inline constexpr std::array<BitCode<uint8_t>, 21> kInterMcbpcCodes = {{
    {1, 1, 0},  {3, 4, 1},  {2, 4, 2},  {5, 6, 3},     // inter
    {3, 5, 4},  {4, 8, 5},  {3, 8, 6},  {3, 7, 7},     // intra
    {3, 3, 8},  {7, 7, 9},  {6, 7, 10}, {5, 9, 11},    // inter + dquant
    {4, 6, 12}, {4, 9, 13}, {3, 9, 14}, {2, 9, 15},    // intra + dquant
    {2, 3, 16}, {5, 7, 17}, {4, 7, 18}, {5, 8, 19},    // four vectors
    {1, 9, 20},                                        // stuffing
}};
inline constexpr auto kInterMcbpcTable = buildBitTable<9>(kInterMcbpcCodes);
inline constexpr uint8_t kMcbpcStuffingI = 8;
inline constexpr uint8_t kMcbpcStuffingP = 20;

// dct_dc_size of luma and chroma (tables B-13, B-14), sizes 0 to 12.
inline constexpr std::array<BitCode<uint8_t>, 13> kDcSizeLumaCodes = {{
    {3, 3, 0}, {3, 2, 1}, {2, 2, 2}, {2, 3, 3}, {1, 3, 4}, {1, 4, 5}, {1, 5, 6}, {1, 6, 7}, {1, 7, 8},
    {1, 8, 9}, {1, 9, 10}, {1, 10, 11}, {1, 11, 12},
}};
inline constexpr std::array<BitCode<uint8_t>, 13> kDcSizeChromaCodes = {{
    {3, 2, 0}, {2, 2, 1}, {1, 2, 2}, {1, 3, 3}, {1, 4, 4}, {1, 5, 5}, {1, 6, 6}, {1, 7, 7}, {1, 8, 8},
    {1, 9, 9}, {1, 10, 10}, {1, 11, 11}, {1, 12, 12},
}};
inline constexpr auto kDcSizeLumaTable = buildBitTable<11>(kDcSizeLumaCodes);
inline constexpr auto kDcSizeChromaTable = buildBitTable<12>(kDcSizeChromaCodes);

// Motion code magnitude 0 to 32 (table B-12 without its sign bit, which follows a nonzero code).
inline constexpr std::array<BitCode<uint8_t>, 33> kMotionCodes = {{
    {1, 1, 0},   {1, 2, 1},   {1, 3, 2},   {1, 4, 3},   {3, 6, 4},   {5, 7, 5},   {4, 7, 6},
    {3, 7, 7},   {11, 9, 8},  {10, 9, 9},  {9, 9, 10},  {17, 10, 11}, {16, 10, 12}, {15, 10, 13},
    {14, 10, 14}, {13, 10, 15}, {12, 10, 16}, {11, 10, 17}, {10, 10, 18}, {9, 10, 19}, {8, 10, 20},
    {7, 10, 21}, {6, 10, 22}, {5, 10, 23}, {4, 10, 24}, {7, 11, 25}, {6, 11, 26}, {5, 11, 27},
    {4, 11, 28}, {3, 11, 29}, {2, 11, 30}, {3, 12, 31}, {2, 12, 32},
}};
inline constexpr auto kMotionTable = buildBitTable<12>(kMotionCodes);

// B macroblock type (table B-4): 0 direct, 1 interpolated, 2 backward, 3 forward.
inline constexpr std::array<BitCode<uint8_t>, 4> kBTypeCodes = {{{1, 1, 0}, {1, 2, 1}, {1, 3, 2}, {1, 4, 3}}};
inline constexpr auto kBTypeTable = buildBitTable<4>(kBTypeCodes);

inline constexpr const std::array<uint8_t, 64>& kZigzag = h263::kZigzag;

inline constexpr std::array<uint8_t, 64> kAlternateHorizontal = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14, 13, 12, 19, 18, 24, 25,
    32, 33, 26, 27, 20, 21, 22, 23, 28, 29, 30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37,
    38, 39, 44, 45, 46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63,
};
inline constexpr std::array<uint8_t, 64> kAlternateVertical = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3,  11,
    4,  12, 19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44,
    52, 60, 37, 45, 53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
};

// Default matrices in natural (row-major) order.
inline constexpr std::array<uint8_t, 64> kDefaultIntraMatrix = {
    8,  17, 18, 19, 21, 23, 25, 27, 17, 18, 19, 21, 23, 25, 27, 28, 20, 21, 22, 23, 24, 26,
    28, 30, 21, 22, 23, 24, 26, 28, 30, 32, 22, 23, 24, 26, 28, 30, 32, 35, 23, 24, 26, 28,
    30, 32, 35, 38, 25, 26, 28, 30, 32, 35, 38, 41, 27, 28, 30, 32, 35, 38, 41, 45,
};
inline constexpr std::array<uint8_t, 64> kDefaultInterMatrix = {
    16, 17, 18, 19, 20, 21, 22, 23, 17, 18, 19, 20, 21, 22, 23, 24, 18, 19, 20, 21, 22, 23,
    24, 25, 19, 20, 21, 22, 23, 24, 26, 27, 20, 21, 22, 23, 25, 26, 27, 28, 21, 22, 23, 24,
    26, 27, 28, 30, 22, 23, 24, 26, 27, 28, 30, 31, 23, 24, 25, 27, 28, 30, 31, 33,
};

// DC scaler by quantiser, luma and chroma.
inline constexpr std::array<uint8_t, 32> kLumaDcScale = {
    0,  8,  8,  8,  8,  10, 12, 14, 16, 17, 18, 19, 20, 21, 22, 23,
    24, 25, 26, 27, 28, 29, 30, 31, 32, 34, 36, 38, 40, 42, 44, 46,
};
inline constexpr std::array<uint8_t, 32> kChromaDcScale = {
    0,  8,  8,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14,
    14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 20, 21, 22, 23, 24, 25,
};

// intra_dc_vlc_thr: the quantiser from which intra DC is coded with the AC codes.
inline constexpr std::array<uint8_t, 8> kIntraDcThreshold = {99, 13, 15, 17, 19, 21, 23, 0};

// Chroma vector of four luma vectors: the sixteenth fraction of the sum to a half sample.
inline constexpr std::array<uint8_t, 16> kChromaRound = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};

}  // namespace kx::mpeg4
