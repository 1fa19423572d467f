// The legacy encoder's block arithmetic: quantisation to levels and the exact reconstruction
// the legacy decoder performs (its dequantisation and its inverse DCT in 32-bit arithmetic),
// so that the encoder's planes equal the decoder's sample for sample.
#pragma once

#include <cstdint>

namespace kx::legacy_encoding {

constexpr int kMaxLevel = 127;  // the escape holds 8 bits
constexpr int kMaxQuantiser = 31;

// Levels (row-major) of an intra block's AC coefficients; position 0 is left 0. True when any
// level is nonzero.
bool quantiseIntra(const float* coefficients, int quantiser, int16_t* levels);
// The 8-bit intra DC: the block mean, 0..254 (the stream writes 128 as 255, and 255 cannot be
// said).
int intraDc(const float* coefficients);
// Levels (row-major) of an inter block, with a dead zone. True when any level is nonzero.
bool quantiseInter(const float* coefficients, int quantiser, int16_t* levels);

// Replaces levels by their dequantised values: (2 |l| + 1) q, less 1 when q is even.
void dequantise(int16_t* levels, int quantiser);
// The decoder's inverse DCT, rows then columns, in place.
void inverseDct(int16_t* block);

}  // namespace kx::legacy_encoding
