// The block syntax the native, legacy and face encoders share: coded block patterns, the 8-bit
// intra DC, and a block's levels as run/level codes in zigzag order with the escape for what
// the code table lacks.
#pragma once

#include <cstdint>

#include "tools/recorder/bit_writer.h"
#include "tools/recorder/macroblock_levels.h"

namespace kx::native_encoding {

// An intra block's position 0 is its DC, written apart by writeIntraDc; its levels start at 1.
// An inter block's levels start at 0.
enum class BlockCoding { Intra, Inter };

// Writes the levels (row-major) of a block that has a nonzero level where its coding starts.
// Every level is at most kMaxLevel in magnitude (native_encoder_transform.h).
void writeCoefficients(BitWriter& bits, const int16_t* levels, BlockCoding coding);

// Writes an intra DC value 0..254 in 8 bits; 128 goes as 255, since 128 would end the
// macroblock.
void writeIntraDc(BitWriter& bits, int dc);

// Writes the CBPY code of the pattern's four luma bits (the inter reading of a code is 15 minus
// its intra reading) and its two chroma bits.
void writeCodedBlockPattern(BitWriter& bits, unsigned pattern, BlockCoding coding);

// Write a macroblock's coded block pattern and its blocks (an intra macroblock's six DCs with
// them); return how many blocks carried levels.
int writeIntraMacroblock(BitWriter& bits, const MacroblockLevels& levels);
int writeInterMacroblock(BitWriter& bits, const MacroblockLevels& levels);

}  // namespace kx::native_encoding
