// CAVLC (H.264 clause 9.2) reading of one block of coefficient levels, with table lookups on
// peeked bits.
#pragma once

#include <cstdint>

#include "codec/bits/bit_reader.h"

namespace kx::avc {

// Reads one block: coeff_token by `nC` (-1 for chroma DC), trailing-one signs, levels,
// total_zeros and run_before. Levels go to block[scan[first + i]] for scan positions i;
// `maxCoefficients` is 16 (luma), 15 (chroma AC, first = 1) or 4 (chroma DC). Returns the
// number of coefficients, or -1 for a code that is not in the tables or does not fit the block.
int readCavlcBlock(BitReader& bits, int nC, int32_t* block, const uint8_t* scan, int first,
                   int maxCoefficients);

}  // namespace kx::avc
