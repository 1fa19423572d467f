// Block arithmetic of the legacy codec: its dequantisation (odd and even quantisers differ) and
// its inverse DCT, a butterfly with constants of its own in wrapping 32-bit arithmetic.
#pragma once

#include <cstdint>

namespace kx::legacy {

// The dequantised value of a coefficient level with quantiser q: (2 |level| + 1) q for odd q,
// (2 |level| + 1) q - 1 for even q, with the level's sign; 0 stays 0. Saturated to 16 bits,
// the size of a block's entries.
int16_t dequantise(int level, int quantiser);

// Transforms a row-major block in place: the eight rows, then the eight columns, each pass
// rounding to 16 bits with (v + 65536) >> 17.
void inverseDct(int16_t* block);

}  // namespace kx::legacy
