// FaceEncoder: codes grey pictures as the face pictures of version 1 face files: intra pictures
// of the native codec (codec 0, inverse DCT A) with four luma blocks per macroblock and no
// chroma. It follows the native encoder's intra coding, with its transform and block syntax.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "tools/recorder/bit_writer.h"

namespace kx {

class FaceEncoder {
public:
    static constexpr int kMaxSide = 1023;  // the picture header's 10-bit fields

    explicit FaceEncoder(int quantiser = 4);

    // Codes a grey picture of width x height samples (1 to 1023 each; rows `stride` bytes
    // apart). Only whole macroblocks are coded: (width / 16) x (height / 16) of them. The bytes
    // stay valid until the next encode; the output buffer is allocated again only for a larger
    // picture.
    std::span<const uint8_t> encode(const uint8_t* grey, int width, int height, ptrdiff_t stride);

private:
    int m_quantiser;
    size_t m_capacityMacroblocks = 0;
    std::unique_ptr<BitWriter> m_bits;
};

}  // namespace kx
