// The ITU-T H.263 code tables the native codec uses, transcribed from the standard: CBPY, the
// transform-coefficient code (TCOEF) with its escape, and the motion-vector difference (MVD).
// Codes are listed without their sign bit; lookups are tables built at compile time.
#pragma once

#include <array>
#include <cstdint>

#include "codec/bits/vlc_table.h"

namespace kx::h263 {

// CBPY, indexed by the intra pattern (the standard's CBPY(I) column); the inter pattern of
// the same code is 15 minus it.
inline constexpr std::array<VlcCode<uint8_t>, 16> kCbpyCodes = {{
    {"0011", 0},    {"0010 1", 1}, {"0010 0", 2},  {"1001", 3},  {"0001 1", 4}, {"0111", 5},
    {"0000 10", 6}, {"1011", 7},   {"0001 0", 8},  {"0000 11", 9}, {"0101", 10}, {"1010", 11},
    {"0100", 12},   {"1000", 13},  {"0110", 14},   {"11", 15},
}};

// A transform coefficient event: last coefficient flag, run of zeros, magnitude of the level.
struct Tcoef {
    uint8_t last = 0;
    uint8_t run = 0;
    uint8_t level = 0;  // 0 marks the escape code
};

inline constexpr std::array<VlcCode<Tcoef>, 103> kTcoefCodes = {{
    {"10", {0, 0, 1}},               {"1111", {0, 0, 2}},            {"0101 01", {0, 0, 3}},
    {"0010 111", {0, 0, 4}},         {"0001 1111", {0, 0, 5}},       {"0001 0010 1", {0, 0, 6}},
    {"0001 0010 0", {0, 0, 7}},      {"0000 1000 01", {0, 0, 8}},    {"0000 1000 00", {0, 0, 9}},
    {"0000 0000 111", {0, 0, 10}},   {"0000 0000 110", {0, 0, 11}},  {"0000 0100 000", {0, 0, 12}},
    {"110", {0, 1, 1}},              {"0101 00", {0, 1, 2}},         {"0001 1110", {0, 1, 3}},
    {"0000 0011 11", {0, 1, 4}},     {"0000 0100 001", {0, 1, 5}},   {"0000 0101 0000", {0, 1, 6}},
    {"1110", {0, 2, 1}},             {"0001 1101", {0, 2, 2}},       {"0000 0011 10", {0, 2, 3}},
    {"0000 0101 0001", {0, 2, 4}},   {"0110 1", {0, 3, 1}},          {"0001 0001 1", {0, 3, 2}},
    {"0000 0011 01", {0, 3, 3}},     {"0110 0", {0, 4, 1}},          {"0001 0001 0", {0, 4, 2}},
    {"0000 0101 0010", {0, 4, 3}},   {"0101 1", {0, 5, 1}},          {"0000 0011 00", {0, 5, 2}},
    {"0000 0101 0011", {0, 5, 3}},   {"0100 11", {0, 6, 1}},         {"0000 0010 11", {0, 6, 2}},
    {"0000 0101 0100", {0, 6, 3}},   {"0100 10", {0, 7, 1}},         {"0000 0010 10", {0, 7, 2}},
    {"0100 01", {0, 8, 1}},          {"0000 0010 01", {0, 8, 2}},    {"0100 00", {0, 9, 1}},
    {"0000 0010 00", {0, 9, 2}},     {"0010 110", {0, 10, 1}},       {"0000 0101 0101", {0, 10, 2}},
    {"0010 101", {0, 11, 1}},        {"0010 100", {0, 12, 1}},       {"0001 1100", {0, 13, 1}},
    {"0001 1011", {0, 14, 1}},       {"0001 0000 1", {0, 15, 1}},    {"0001 0000 0", {0, 16, 1}},
    {"0000 1111 1", {0, 17, 1}},     {"0000 1111 0", {0, 18, 1}},    {"0000 1110 1", {0, 19, 1}},
    {"0000 1110 0", {0, 20, 1}},     {"0000 1101 1", {0, 21, 1}},    {"0000 1101 0", {0, 22, 1}},
    {"0000 0100 010", {0, 23, 1}},   {"0000 0100 011", {0, 24, 1}},  {"0000 0101 0110", {0, 25, 1}},
    {"0000 0101 0111", {0, 26, 1}},  {"0111", {1, 0, 1}},            {"0000 1100 1", {1, 0, 2}},
    {"0000 0000 101", {1, 0, 3}},    {"0011 11", {1, 1, 1}},         {"0000 0000 100", {1, 1, 2}},
    {"0011 10", {1, 2, 1}},          {"0011 01", {1, 3, 1}},         {"0011 00", {1, 4, 1}},
    {"0010 011", {1, 5, 1}},         {"0010 010", {1, 6, 1}},        {"0010 001", {1, 7, 1}},
    {"0010 000", {1, 8, 1}},         {"0001 1010", {1, 9, 1}},       {"0001 1001", {1, 10, 1}},
    {"0001 1000", {1, 11, 1}},       {"0001 0111", {1, 12, 1}},      {"0001 0110", {1, 13, 1}},
    {"0001 0101", {1, 14, 1}},       {"0001 0100", {1, 15, 1}},      {"0001 0011", {1, 16, 1}},
    {"0000 1100 0", {1, 17, 1}},     {"0000 1011 1", {1, 18, 1}},    {"0000 1011 0", {1, 19, 1}},
    {"0000 1010 1", {1, 20, 1}},     {"0000 1010 0", {1, 21, 1}},    {"0000 1001 1", {1, 22, 1}},
    {"0000 1001 0", {1, 23, 1}},     {"0000 1000 1", {1, 24, 1}},    {"0000 0001 11", {1, 25, 1}},
    {"0000 0001 10", {1, 26, 1}},    {"0000 0001 01", {1, 27, 1}},   {"0000 0001 00", {1, 28, 1}},
    {"0000 0100 100", {1, 29, 1}},   {"0000 0100 101", {1, 30, 1}},  {"0000 0100 110", {1, 31, 1}},
    {"0000 0100 111", {1, 32, 1}},   {"0000 0101 1000", {1, 33, 1}}, {"0000 0101 1001", {1, 34, 1}},
    {"0000 0101 1010", {1, 35, 1}},  {"0000 0101 1011", {1, 36, 1}}, {"0000 0101 1100", {1, 37, 1}},
    {"0000 0101 1101", {1, 38, 1}},  {"0000 0101 1110", {1, 39, 1}}, {"0000 0101 1111", {1, 40, 1}},
    {"0000 011", {0, 0, 0}},  // escape: last (1), run (6), level (8) follow
}};

// MVD in half-sample units (-32 to 31), sign bit included as in the standard's table. Of the
// two differences a code stands for, the one that keeps the vector in range is taken by the
// wrap of the vector sum, so each code carries the difference in -32..31.
inline constexpr std::array<VlcCode<int8_t>, 64> kMvdCodes = {{
    {"0000 0000 0010 1", -32}, {"0000 0000 0011 1", -31}, {"0000 0000 0101", -30},
    {"0000 0000 0111", -29},   {"0000 0000 1001", -28},   {"0000 0000 1011", -27},
    {"0000 0000 1101", -26},   {"0000 0000 1111", -25},   {"0000 0001 001", -24},
    {"0000 0001 011", -23},    {"0000 0001 101", -22},    {"0000 0001 111", -21},
    {"0000 0010 001", -20},    {"0000 0010 011", -19},    {"0000 0010 101", -18},
    {"0000 0010 111", -17},    {"0000 0011 001", -16},    {"0000 0011 011", -15},
    {"0000 0011 101", -14},    {"0000 0011 111", -13},    {"0000 0100 001", -12},
    {"0000 0100 011", -11},    {"0000 0100 11", -10},     {"0000 0101 01", -9},
    {"0000 0101 11", -8},      {"0000 0111", -7},         {"0000 1001", -6},
    {"0000 1011", -5},         {"0000 111", -4},          {"0001 1", -3},
    {"0011", -2},              {"011", -1},               {"1", 0},
    {"010", 1},                {"0010", 2},               {"0001 0", 3},
    {"0000 110", 4},           {"0000 1010", 5},          {"0000 1000", 6},
    {"0000 0110", 7},          {"0000 0101 10", 8},       {"0000 0101 00", 9},
    {"0000 0100 10", 10},      {"0000 0100 010", 11},     {"0000 0100 000", 12},
    {"0000 0011 110", 13},     {"0000 0011 100", 14},     {"0000 0011 010", 15},
    {"0000 0011 000", 16},     {"0000 0010 110", 17},     {"0000 0010 100", 18},
    {"0000 0010 010", 19},     {"0000 0010 000", 20},     {"0000 0001 110", 21},
    {"0000 0001 100", 22},     {"0000 0001 010", 23},     {"0000 0001 000", 24},
    {"0000 0000 1110", 25},    {"0000 0000 1100", 26},    {"0000 0000 1010", 27},
    {"0000 0000 1000", 28},    {"0000 0000 0110", 29},    {"0000 0000 0100", 30},
    {"0000 0000 0011 0", 31},
}};

// Lookup tables. CBPY: 6 peeked bits. TCOEF: 12 peeked bits v, split as 512 and above by the
// top 7 bits, 128 to 511 by the top 10, 8 to 127 by all 12 (below 8 is no code). MVD: 13
// peeked bits v, split as 192 and above by the top 8 bits, 32 to 191 by the top 11, below 32
// by all 13 (below 5 is no code).
inline constexpr auto kCbpyTable = buildVlcTable<6, 64>(kCbpyCodes);
inline constexpr auto kTcoefTable7 = buildVlcTable<7, 128>(kTcoefCodes);
inline constexpr auto kTcoefTable10 = buildVlcTable<10, 128>(kTcoefCodes);
inline constexpr auto kTcoefTable12 = buildVlcTable<12, 128>(kTcoefCodes);
inline constexpr auto kMvdTable8 = buildVlcTable<8, 256>(kMvdCodes);
inline constexpr auto kMvdTable11 = buildVlcTable<11, 48>(kMvdCodes);
inline constexpr auto kMvdTable13 = buildVlcTable<13, 32>(kMvdCodes);

// Lookups on peeked bits; an entry of length 0 is no code.
constexpr VlcEntry<Tcoef> lookupTcoef(uint32_t bits12) {
    if (bits12 >= 512) return kTcoefTable7[bits12 >> 5];
    if (bits12 >= 128) return kTcoefTable10[bits12 >> 2];
    if (bits12 >= 8) return kTcoefTable12[bits12];
    return {};
}

constexpr VlcEntry<int8_t> lookupMvd(uint32_t bits13) {
    if (bits13 >= 192) return kMvdTable8[bits13 >> 5];
    if (bits13 >= 32) return kMvdTable11[bits13 >> 2];
    return kMvdTable13[bits13];
}

// CBPY as the inter pattern; 6-bit values 0, 1 (no code) and 48 to 63 (code 11) are handled
// by the caller.
constexpr VlcEntry<uint8_t> lookupCbpy(uint32_t bits6) { return kCbpyTable[bits6]; }

// The tables are complete: every peeked value reaches a code except the ones named above.
constexpr bool tablesComplete() {
    for (uint32_t v = 0; v < 4096; ++v)
        if ((lookupTcoef(v).length != 0) != (v >= 8)) return false;
    for (uint32_t v = 0; v < 8192; ++v)
        if ((lookupMvd(v).length != 0) != (v >= 5)) return false;
    for (uint32_t v = 2; v < 48; ++v)
        if (lookupCbpy(v).length == 0) return false;
    return true;
}
static_assert(tablesComplete());

// The classic 8x8 zigzag scan: scan position to row-major index.
inline constexpr std::array<uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

}  // namespace kx::h263
