// IMA (DVI) ADPCM decoder for the recorders' mono blocks: a 4-byte header (first sample, step
// index, a reserved byte), then two 4-bit codes per byte, low nibble first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

class ImaAdpcmDecoder {
public:
    static constexpr size_t kHeaderBytes = 4;
    static constexpr size_t kMaxBlockBytes = 508;

    // Samples a block of `bytes` bytes decodes to: 2 x bytes - 7, none below the header size.
    static constexpr size_t samplesOfBlock(size_t bytes) { return bytes < kHeaderBytes ? 0 : 2 * bytes - 7; }

    // Clears the predictor; every block's header sets it again.
    void reset();

    // Decodes one block into samplesOfBlock(size) samples and returns that count. A step index
    // beyond the table in a damaged header is taken as the largest.
    size_t decodeBlock(const uint8_t* block, size_t size, int16_t* samples);

private:
    int32_t m_predictor = 0;
    int32_t m_stepIndex = 0;
};

}  // namespace kx
