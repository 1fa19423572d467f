// The native encoder's block arithmetic: the forward DCT and quantisation to levels (which the
// legacy and face encoders use too), and the exact decoder-side reconstruction (dequantisation
// and the two fixed-point inverse DCTs) so that the encoder's reference pictures equal the
// decoder's sample for sample.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// The inverse DCT a stream uses: A always in codec 0; B in codec 1 frames with flag 0x4000.
enum class NativeIdct { A, B };

namespace native_encoding {

// Largest level magnitude the encoder writes: the escape holds 8 bits, and with a quantiser of
// at most kMaxQuantiser the dequantised value stays far inside 16 bits.
constexpr int kMaxLevel = 127;
constexpr int kMaxQuantiser = 31;

// Forward 8x8 DCT of row-major samples, scaled so that the inverse DCTs below undo it: a flat
// block of value v gives 8 v at position 0.
void forwardDct(const int16_t* samples, float* coefficients);

// Quantises the intra block of 8x8 samples at `source`, rows `stride` apart. `dc` gets the DC
// value written in 8 bits, 0..254 (the stream writes 128 as 255); `levels` the AC levels
// (row-major, position 0 left 0). True when any AC level is nonzero.
bool quantiseIntraBlock(const uint8_t* source, ptrdiff_t stride, int quantiser, int& dc,
                        int16_t* levels);
// Quantises the residual source - prediction of an 8x8 block to levels (row-major), taking
// `deadZone` off every coefficient's magnitude first. True when any level is nonzero.
bool quantiseInterBlock(const uint8_t* source, ptrdiff_t sourceStride, const uint8_t* prediction,
                        ptrdiff_t predictionStride, int quantiser, float deadZone, int16_t* levels);
// The native encoder's inter dead zone: half the quantiser, rounded down.
constexpr float interDeadZone(int quantiser) {
    return float(quantiser / 2);
}

// Dequantises levels in place: 0 stays 0, otherwise (2 |level| + 1) q - 1 with the sign kept.
void dequantise(int16_t* levels, int quantiser);

// The decoder's inverse DCT, rows first, in place.
void inverseDct(int16_t* block, NativeIdct idct);

}  // namespace native_encoding
}  // namespace kx
