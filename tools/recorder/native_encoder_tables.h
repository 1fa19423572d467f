// The H.263 variable-length codes the native encoder writes, in encode direction: transform
// coefficients (last, run, level), the luma coded pattern and the motion-vector difference,
// written as the bit strings of the standard and turned into (code, length) at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace kx::native_encoding {

struct VlcCode {
    uint32_t code = 0;
    int length = 0;  // 0: no code
};

// "0110" -> {6, 4}
constexpr VlcCode fromBits(const char* bits) {
    VlcCode result;
    for (; *bits != '\0'; ++bits) {
        result.code = (result.code << 1) | uint32_t(*bits == '1');
        ++result.length;
    }
    return result;
}

// Transform coefficients: the 102 codes of the table shared by intra and inter blocks, each
// followed in the stream by a sign bit (1 negative).
struct TcoefEntry {
    int last;
    int run;
    int level;
    const char* bits;
};
// clang-format off
inline constexpr std::array<TcoefEntry, 102> kTcoefTable{{
    {0,  0,  1, "10"},
    {0,  0,  2, "1111"},
    {0,  0,  3, "010101"},
    {0,  0,  4, "0010111"},
    {0,  0,  5, "00011111"},
    {0,  0,  6, "000100101"},
    {0,  0,  7, "000100100"},
    {0,  0,  8, "0000100001"},
    {0,  0,  9, "0000100000"},
    {0,  0, 10, "00000000111"},
    {0,  0, 11, "00000000110"},
    {0,  0, 12, "00000100000"},
    {0,  1,  1, "110"},
    {0,  1,  2, "010100"},
    {0,  1,  3, "00011110"},
    {0,  1,  4, "0000001111"},
    {0,  1,  5, "00000100001"},
    {0,  1,  6, "000001010000"},
    {0,  2,  1, "1110"},
    {0,  2,  2, "00011101"},
    {0,  2,  3, "0000001110"},
    {0,  2,  4, "000001010001"},
    {0,  3,  1, "01101"},
    {0,  3,  2, "000100011"},
    {0,  3,  3, "0000001101"},
    {0,  4,  1, "01100"},
    {0,  4,  2, "000100010"},
    {0,  4,  3, "000001010010"},
    {0,  5,  1, "01011"},
    {0,  5,  2, "0000001100"},
    {0,  5,  3, "000001010011"},
    {0,  6,  1, "010011"},
    {0,  6,  2, "0000001011"},
    {0,  6,  3, "000001010100"},
    {0,  7,  1, "010010"},
    {0,  7,  2, "0000001010"},
    {0,  8,  1, "010001"},
    {0,  8,  2, "0000001001"},
    {0,  9,  1, "010000"},
    {0,  9,  2, "0000001000"},
    {0, 10,  1, "0010110"},
    {0, 10,  2, "000001010101"},
    {0, 11,  1, "0010101"},
    {0, 12,  1, "0010100"},
    {0, 13,  1, "00011100"},
    {0, 14,  1, "00011011"},
    {0, 15,  1, "000100001"},
    {0, 16,  1, "000100000"},
    {0, 17,  1, "000011111"},
    {0, 18,  1, "000011110"},
    {0, 19,  1, "000011101"},
    {0, 20,  1, "000011100"},
    {0, 21,  1, "000011011"},
    {0, 22,  1, "000011010"},
    {0, 23,  1, "00000100010"},
    {0, 24,  1, "00000100011"},
    {0, 25,  1, "000001010110"},
    {0, 26,  1, "000001010111"},
    {1,  0,  1, "0111"},
    {1,  0,  2, "000011001"},
    {1,  0,  3, "00000000101"},
    {1,  1,  1, "001111"},
    {1,  1,  2, "00000000100"},
    {1,  2,  1, "001110"},
    {1,  3,  1, "001101"},
    {1,  4,  1, "001100"},
    {1,  5,  1, "0010011"},
    {1,  6,  1, "0010010"},
    {1,  7,  1, "0010001"},
    {1,  8,  1, "0010000"},
    {1,  9,  1, "00011010"},
    {1, 10,  1, "00011001"},
    {1, 11,  1, "00011000"},
    {1, 12,  1, "00010111"},
    {1, 13,  1, "00010110"},
    {1, 14,  1, "00010101"},
    {1, 15,  1, "00010100"},
    {1, 16,  1, "00010011"},
    {1, 17,  1, "000011000"},
    {1, 18,  1, "000010111"},
    {1, 19,  1, "000010110"},
    {1, 20,  1, "000010101"},
    {1, 21,  1, "000010100"},
    {1, 22,  1, "000010011"},
    {1, 23,  1, "000010010"},
    {1, 24,  1, "000010001"},
    {1, 25,  1, "0000000111"},
    {1, 26,  1, "0000000110"},
    {1, 27,  1, "0000000101"},
    {1, 28,  1, "0000000100"},
    {1, 29,  1, "00000100100"},
    {1, 30,  1, "00000100101"},
    {1, 31,  1, "00000100110"},
    {1, 32,  1, "00000100111"},
    {1, 33,  1, "000001011000"},
    {1, 34,  1, "000001011001"},
    {1, 35,  1, "000001011010"},
    {1, 36,  1, "000001011011"},
    {1, 37,  1, "000001011100"},
    {1, 38,  1, "000001011101"},
    {1, 39,  1, "000001011110"},
    {1, 40,  1, "000001011111"},
}};
// clang-format on

// Escape, then last (1 bit), run (6 bits) and level (8 bits, two's complement).
inline constexpr VlcCode kTcoefEscape = fromBits("0000011");
inline constexpr int kTcoefMaxCodedLevel = 12;

// Code of (last, run, level) without its sign bit, or length 0 where only the escape serves.
struct TcoefLookup {
    std::array<std::array<std::array<VlcCode, kTcoefMaxCodedLevel + 1>, 64>, 2> codes{};
};
inline constexpr TcoefLookup kTcoefLookup = [] {
    TcoefLookup lookup;
    for (const TcoefEntry& entry : kTcoefTable)
        lookup.codes[entry.last][entry.run][entry.level] = fromBits(entry.bits);
    return lookup;
}();

// Luma coded pattern (bit 3 Y0 .. bit 0 Y3) of an intra macroblock; an inter macroblock with
// pattern p is written as the code of 15 - p.
inline constexpr std::array<VlcCode, 16> kCbpyIntra = [] {
    // clang-format off
    constexpr std::array<const char*, 16> bits{{
        "0011",  "00101",  "00100", "1001", "00011", "0111", "000010", "1011",
        "00010", "000011", "0101",  "1010", "0100",  "1000", "0110",   "11",
    }};
    // clang-format on
    std::array<VlcCode, 16> codes{};
    for (size_t i = 0; i < bits.size(); ++i) codes[i] = fromBits(bits[i]);
    return codes;
}();

// Motion-vector difference in half samples, -32..31, indexed by difference + 32.
inline constexpr std::array<VlcCode, 64> kMvd = [] {
    // clang-format off
    constexpr std::array<const char*, 64> bits{{
    "0000000000101", "0000000000111", "000000000101", "000000000111",  // -32..-29 half samples
    "000000001001", "000000001011", "000000001101", "000000001111",  // -28..-25
    "00000001001", "00000001011", "00000001101", "00000001111",  // -24..-21
    "00000010001", "00000010011", "00000010101", "00000010111",  // -20..-17
    "00000011001", "00000011011", "00000011101", "00000011111",  // -16..-13
    "00000100001", "00000100011", "0000010011", "0000010101",  // -12..-9
    "0000010111", "00000111", "00001001", "00001011",  // -8..-5
    "0000111", "00011", "0011", "011",  // -4..-1
    "1", "010", "0010", "00010",  // 0..3
    "0000110", "00001010", "00001000", "00000110",  // 4..7
    "0000010110", "0000010100", "0000010010", "00000100010",  // 8..11
    "00000100000", "00000011110", "00000011100", "00000011010",  // 12..15
    "00000011000", "00000010110", "00000010100", "00000010010",  // 16..19
    "00000010000", "00000001110", "00000001100", "00000001010",  // 20..23
    "00000001000", "000000001110", "000000001100", "000000001010",  // 24..27
    "000000001000", "000000000110", "000000000100", "0000000000110",  // 28..31
    }};
    // clang-format on
    std::array<VlcCode, 64> codes{};
    for (size_t i = 0; i < bits.size(); ++i) codes[i] = fromBits(bits[i]);
    return codes;
}();

inline constexpr VlcCode mvdCode(int difference) {
    return kMvd[size_t(difference + 32)];
}

// Scan position -> index in a row-major 8x8 block (the classic zigzag).
// clang-format off
inline constexpr std::array<uint8_t, 64> kZigzag{{
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
}};
// clang-format on

}  // namespace kx::native_encoding
