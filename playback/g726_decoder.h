// ITU-T G.726 ADPCM decoder at 24 kbit/s: 3-bit codes to 16-bit linear samples.
// The recorders pack eight codes into every 3 bytes, least significant bits first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

class G726Decoder {
public:
    static constexpr size_t kGroupBytes = 3;    // bytes of one group of codes
    static constexpr size_t kGroupSamples = 8;  // samples one group decodes to

    G726Decoder() { reset(); }

    // The initial state of the standard's decoder.
    void reset();

    // Decodes `groups` whole groups of `bytes` into `groups` x 8 samples. The state carries over
    // from one call to the next, so a stream split into blocks decodes as one.
    void decode(const uint8_t* bytes, size_t groups, int16_t* samples);

    // Decodes one 3-bit code (sign in bit 2) to a sample, clamped to 16 bits.
    int16_t decodeCode(unsigned code);

private:
    int32_t stepSize() const;
    void update(unsigned code, int32_t y, int32_t dqMagnitude, bool dqNegative, int32_t sr, int32_t dqsez);

    // Quantizer scale factors (fast, slow locked) and the adaptation speed control.
    int32_t m_yu = 0;
    int32_t m_yl = 0;
    int32_t m_dms = 0;
    int32_t m_dml = 0;
    int32_t m_ap = 0;
    bool m_toneDetected = false;
    // Predictor: two pole and six zero coefficients; past signs of dq + sez; past reconstructed
    // samples and quantized differences in the standard's 11-bit floating form.
    int32_t m_a[2] = {};
    int32_t m_b[6] = {};
    bool m_pkNegative[2] = {};
    int32_t m_sr[2] = {};
    int32_t m_dq[6] = {};
};

}  // namespace kx
