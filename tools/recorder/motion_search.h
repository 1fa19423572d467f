// Motion search of the native encoder (codec 1): for one 16x16 luma macroblock, the vector into
// the previous reconstruction that minimises the sum of absolute differences plus a cost for
// the bits of the vector. Integer candidates and a diamond descent first, then the eight
// half-sample positions around the best integer vector.
#pragma once

#include <cstdint>
#include <span>

#include "tools/recorder/native_encoder_picture.h"

namespace kx::native_encoding {

struct MotionSearchResult {
    HalfSampleVector vector;
    int sad = 0;      // of the chosen vector
    int zeroSad = 0;  // of the vector (0, 0)
};

// Sum of absolute differences of two 16x16 blocks.
int sad16(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride);
// Sum of absolute differences of a 16x16 block from its own rounded mean: what coding it intra
// costs, against the SAD of its prediction.
int intraDeviation(const uint8_t* block, ptrdiff_t stride);

// Searches the vector of macroblock (column, row) of `source` (16x16 luma, `sourceStride`) in
// `reference`, a luma plane padded by 16 samples. `predictor` is the vector the stream codes
// the difference from; `candidates` are vectors worth trying first (the neighbours'). The
// picture's quantiser sets the weight of a bit of the vector and the difference taken for noise.
MotionSearchResult searchMotion(const uint8_t* source, ptrdiff_t sourceStride,
                                const PaddedPlane& reference, int column, int row,
                                HalfSampleVector predictor,
                                std::span<const HalfSampleVector> candidates, int quantiser);

// Bits of the coded difference between `vector` and `predictor` (both components, wrapped).
int vectorBits(HalfSampleVector vector, HalfSampleVector predictor);
// The difference the stream codes: vector - predictor wrapped into -32..31.
int wrapDifference(int difference);

}  // namespace kx::native_encoding
