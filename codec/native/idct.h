// The two 8x8 inverse DCTs of the native codec, in 32-bit fixed point with the cosine constants
// scaled by 2^15. Rows are transformed first, then columns; every pass saturates to 16 bits.
//   A: first pass >> 14 (two fraction bits kept), second pass (+ 2^17) >> 18.
//   B: each pass (+ 2^15) >> 16.
#pragma once

#include <cstdint>

namespace kx {

enum class IdctVariant { A, B };

// Transforms the 64 coefficients of `block` (row-major) into samples, in place.
void inverseDct(int16_t* block, IdctVariant variant);

}  // namespace kx
