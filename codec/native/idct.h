// The two 8x8 inverse DCTs of the native codec, in 32-bit fixed point with the cosine constants
// scaled by 2^15. Rows are transformed first, then columns; every pass saturates to 16 bits.
//   A: first pass >> 14 (two fraction bits kept), second pass (+ 2^17) >> 18.
//   B: each pass (+ 2^15) >> 16.
#pragma once

#include <cstdint>

#include "codec/kernel_path.h"

namespace kx {

enum class IdctVariant { A, B };

// Transforms the 64 coefficients of `block` (row-major) into samples, in place, by the fastest
// kernel this processor runs.
void inverseDct(int16_t* block, IdctVariant variant);
// The same by the kernel `path` names; every path gives the same samples.
void inverseDct(int16_t* block, IdctVariant variant, KernelPath path);

}  // namespace kx
