// CAVLC block reading.
#include "codec/avc/avc_residual.h"

#include <bit>

#include "codec/avc/avc_tables.h"

namespace kx::avc {
namespace {

constexpr int kMaxLevelPrefix = 25;

}  // namespace

int readCavlcBlock(BitReader& bits, int nC, int32_t* block, const uint8_t* scan, int first,
                   int maxCoefficients) {
    int symbol;
    if (nC >= 8) {
        symbol = coeffTokenFixed(bits.get(6));
        if (symbol < 0) return -1;
    } else {
        const PrefixEntry entry = nC < 0   ? kChromaDcTokenTable.lookup(bits.peek(24))
                                  : nC < 2 ? kCoeffTokenTables[0].lookup(bits.peek(24))
                                  : nC < 4 ? kCoeffTokenTables[1].lookup(bits.peek(24))
                                           : kCoeffTokenTables[2].lookup(bits.peek(24));
        if (entry.length == 0) return -1;
        bits.skip(entry.length);
        symbol = entry.symbol;
    }
    const int total = symbol >> 2, ones = symbol & 3;
    if (total == 0) return 0;
    if (total > maxCoefficients) return -1;

    int32_t levels[16];
    const uint32_t signs = ones ? bits.get(ones) : 0;
    for (int i = 0; i < ones; ++i) levels[i] = (signs >> (ones - 1 - i)) & 1 ? -1 : 1;
    int suffixLength = total > 10 && ones < 3 ? 1 : 0;
    for (int i = ones; i < total; ++i) {
        const uint32_t ahead = bits.peek(32);
        const int prefix = ahead == 0 ? 32 : std::countl_zero(ahead);
        if (prefix > kMaxLevelPrefix) return -1;
        bits.skip(size_t(prefix) + 1);
        const int suffixSize = prefix == 14 && suffixLength == 0 ? 4
                               : prefix >= 15                    ? prefix - 3
                                                                 : suffixLength;
        int32_t code =
            (std::min(prefix, 15) << suffixLength) + int32_t(suffixSize ? bits.get(suffixSize) : 0);
        if (prefix >= 15 && suffixLength == 0) code += 15;
        if (prefix >= 16) code += (1 << (prefix - 3)) - 4096;
        if (i == ones && ones < 3) code += 2;
        const int32_t level = (code & 1) ? (-code - 1) >> 1 : (code + 2) >> 1;
        levels[i] = level;
        if (suffixLength == 0) suffixLength = 1;
        if ((level < 0 ? -level : level) > (3 << (suffixLength - 1)) && suffixLength < 6)
            ++suffixLength;
    }

    int zerosLeft = 0;
    if (total < maxCoefficients) {
        const PrefixEntry entry =
            maxCoefficients == 4 ? kChromaDcZerosTables[size_t(total - 1)].lookup(bits.peek(24))
                                 : kTotalZerosTables[size_t(total - 1)].lookup(bits.peek(24));
        if (entry.length == 0) return -1;
        bits.skip(entry.length);
        zerosLeft = entry.symbol;
        if (zerosLeft > maxCoefficients - total) return -1;
    }
    int runs[16];
    for (int i = 0; i < total - 1; ++i) {
        runs[i] = 0;
        if (zerosLeft > 0) {
            const auto entry =
                kRunBeforeTables[size_t(std::min(zerosLeft, 7) - 1)].lookup(bits.peek(24));
            if (entry.length == 0 || entry.symbol > zerosLeft) return -1;
            bits.skip(entry.length);
            runs[i] = entry.symbol;
            zerosLeft -= entry.symbol;
        }
    }
    runs[total - 1] = zerosLeft;
    int position = -1;
    for (int i = total - 1; i >= 0; --i) {
        position += runs[i] + 1;
        block[scan[first + position]] = levels[i];
    }
    return total;
}

}  // namespace kx::avc
