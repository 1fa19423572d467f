// The native codec's deblocking filter, run on the output picture after every decoded picture:
// pass 1 over horizontal block edges, pass 2 over vertical ones, each edge filtered when a
// macroblock beside it was coded in this picture.
#pragma once

#include <cstdint>

#include "codec/kernel_path.h"

namespace kx {

class MacroblockPicture;

// Filter strength for quantiser q: 1 to 6 for q below 14, q / 2 above.
int deblockStrength(int quantiser);

// Filters four samples s1, s2 | s3, s4 across an edge with strength S.
void filterEdge(int16_t& s1, int16_t& s2, int16_t& s3, int16_t& s4, int strength);

// Deblocks `picture`; `coded` holds one flag per macroblock in raster order.
void deblockPicture(MacroblockPicture& picture, const uint8_t* coded, int quantiser);
// The same by the kernel `path` names; every path gives the same samples.
void deblockPicture(MacroblockPicture& picture, const uint8_t* coded, int quantiser, KernelPath path);

}  // namespace kx
