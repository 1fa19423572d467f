// Block arithmetic of the legacy codec: its dequantisation (odd and even quantisers differ), its
// inverse DCT (a butterfly with constants of its own in wrapping 32-bit arithmetic), and the
// writing of a transformed block into a plane.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_path.h"

namespace kx::legacy {

// The dequantised value of a coefficient level with quantiser q: (2 |level| + 1) q for odd q,
// (2 |level| + 1) q - 1 for even q, with the level's sign; 0 stays 0. Saturated to 16 bits,
// the size of a block's entries.
int16_t dequantise(int level, int quantiser);

// Transforms a row-major block in place: the eight rows, then the eight columns, each pass
// rounding to 16 bits with (v + 65536) >> 17 (keeping the low 16 bits), by the fastest kernel
// this processor runs.
void inverseDct(int16_t* block);
// The same by the kernel `path` names; every path gives the same samples.
void inverseDct(int16_t* block, KernelPath path);

// Writes an 8x8 block into the plane rows `stride` bytes apart from `samples`: each sample the
// block's entry clamped to 0..255 (kind Put), or the sample plus the entry clamped (kind Add).
enum class BlockWrite { Put, Add };
void writeBlock(uint8_t* samples, size_t stride, const int16_t* block, BlockWrite kind);
// The same by the kernel `path` names; every path writes the same samples.
void writeBlock(uint8_t* samples, size_t stride, const int16_t* block, BlockWrite kind,
                KernelPath path);

// The sample every entry of a block holding only `dc` at [0] becomes: the two passes of
// inverseDct on a lone DC, so inverseDct of such a block fills it with this value.
int16_t dcOnlySample(int16_t dc);

}  // namespace kx::legacy
