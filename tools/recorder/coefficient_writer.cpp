// Run/level coding of quantised blocks with the native code tables, and the macroblock's coded
// block pattern and intra DCs around it.
#include "tools/recorder/coefficient_writer.h"

#include <cassert>
#include <cstdlib>

#include "tools/recorder/native_encoder_tables.h"
#include "tools/recorder/native_encoder_transform.h"

namespace kx::native_encoding {

void writeCoefficients(BitWriter& bits, const int16_t* levels, BlockCoding coding) {
    const int start = coding == BlockCoding::Intra ? 1 : 0;
    int last = 63;
    while (last >= start && levels[kZigzag[size_t(last)]] == 0) --last;
    assert(last >= start);  // only blocks with a nonzero level are written
    int run = 0;
    for (int position = start; position <= last; ++position) {
        const int level = levels[kZigzag[size_t(position)]];
        if (level == 0) {
            ++run;
            continue;
        }
        const int isLast = position == last ? 1 : 0;
        const int magnitude = std::abs(level);
        if (magnitude <= kTcoefMaxCodedLevel) {
            const VlcCode code = kTcoefLookup.codes[size_t(isLast)][size_t(run)][size_t(magnitude)];
            if (code.length != 0) {
                bits.put((code.code << 1) | uint32_t(level < 0), code.length + 1);
                run = 0;
                continue;
            }
        }
        // The escape: last, a 6-bit run and an 8-bit level in two's complement.
        assert(magnitude <= kMaxLevel);
        bits.put((kTcoefEscape.code << 15) | (uint32_t(isLast) << 14) | (uint32_t(run) << 8) |
                     (uint32_t(level) & 0xFF),
                 kTcoefEscape.length + 15);
        run = 0;
    }
}

void writeIntraDc(BitWriter& bits, int dc) {
    assert(dc >= 0 && dc <= 254);
    bits.put(dc == 128 ? 255 : uint32_t(dc), 8);
}

void writeCodedBlockPattern(BitWriter& bits, unsigned pattern, BlockCoding coding) {
    const unsigned luma = pattern >> 2;
    const VlcCode cbpy = kCbpyIntra[coding == BlockCoding::Intra ? luma : 15 - luma];
    bits.put(cbpy.code, cbpy.length);
    bits.put(pattern & 3, 2);
}

int writeIntraMacroblock(BitWriter& bits, const MacroblockLevels& levels) {
    writeCodedBlockPattern(bits, levels.pattern, BlockCoding::Intra);
    int codedBlocks = 0;
    for (int block = 0; block < 6; ++block) {
        writeIntraDc(bits, levels.dc[size_t(block)]);
        if (levels.pattern & patternBit(block)) {
            writeCoefficients(bits, levels.levels[size_t(block)].data(), BlockCoding::Intra);
            ++codedBlocks;
        }
    }
    return codedBlocks;
}

int writeInterMacroblock(BitWriter& bits, const MacroblockLevels& levels) {
    writeCodedBlockPattern(bits, levels.pattern, BlockCoding::Inter);
    int codedBlocks = 0;
    for (int block = 0; block < 6; ++block) {
        if (levels.pattern & patternBit(block)) {
            writeCoefficients(bits, levels.levels[size_t(block)].data(), BlockCoding::Inter);
            ++codedBlocks;
        }
    }
    return codedBlocks;
}

}  // namespace kx::native_encoding
