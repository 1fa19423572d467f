// The legacy encoder's block arithmetic: its inter dead zone and the exact reconstruction the
// legacy decoder performs (its dequantisation and its inverse DCT in 32-bit arithmetic),
// so that the encoder's planes equal the decoder's sample for sample.
#pragma once

#include <cstdint>

namespace kx::legacy_encoding {

constexpr int kMaxQuantiser = 31;

// The legacy encoder's inter dead zone: half the quantiser. Its blocks are quantised with the
// native encoder's forward transform (native_encoder_transform.h).
constexpr float interDeadZone(int quantiser) {
    return float(quantiser) / 2;
}

// Replaces levels by their dequantised values: (2 |l| + 1) q, less 1 when q is even.
void dequantise(int16_t* levels, int quantiser);
// The decoder's inverse DCT, rows then columns, in place.
void inverseDct(int16_t* block);

}  // namespace kx::legacy_encoding
