// FaceEncoder: the luma-only native intra picture of face files.
#include "tools/recorder/face_encoder.h"

#include <cassert>

#include "tools/recorder/coefficient_writer.h"
#include "tools/recorder/native_encoder_transform.h"
#include "tools/recorder/picture_header_writer.h"

namespace kx {
namespace {

using namespace native_encoding;

// Worst case of one macroblock: CBPY and chroma bits, four DCs, 63 escaped coefficients each.
constexpr size_t kMaxMacroblockBytes = (8 + 4 * (8 + 63 * 22)) / 8 + 1;

}  // namespace

FaceEncoder::FaceEncoder(int quantiser) : m_quantiser(quantiser) {
    assert(quantiser >= 1 && quantiser <= kMaxQuantiser);
}

std::span<const uint8_t> FaceEncoder::encode(const uint8_t* grey, int width, int height,
                                             ptrdiff_t stride) {
    assert(width >= 1 && width <= kMaxSide && height >= 1 && height <= kMaxSide);
    const int columns = width / 16;
    const int rows = height / 16;
    const size_t macroblocks = size_t(columns) * size_t(rows);
    if (!m_bits || macroblocks > m_capacityMacroblocks) {
        m_capacityMacroblocks = macroblocks;
        m_bits = std::make_unique<BitWriter>(16 + macroblocks * kMaxMacroblockBytes);
    }
    BitWriter& bits = *m_bits;
    bits.reset();
    writeIntraPictureHeader(bits, width, height, m_quantiser, 0);

    alignas(16) int16_t levels[4][64];
    int dc[4];
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            unsigned pattern = 0;  // as in a macroblock with chroma: bit 5 Y0 .. bit 2 Y3
            for (int block = 0; block < 4; ++block) {
                const uint8_t* source = grey + ptrdiff_t(row * 16 + (block >> 1) * 8) * stride +
                                        column * 16 + (block & 1) * 8;
                if (quantiseIntraBlock(source, stride, m_quantiser, dc[block], levels[block]))
                    pattern |= patternBit(block);
            }
            writeCodedBlockPattern(bits, pattern, BlockCoding::Intra);  // chroma bits 0
            for (int block = 0; block < 4; ++block) {
                writeIntraDc(bits, dc[block]);
                if (pattern & patternBit(block))
                    writeCoefficients(bits, levels[block], BlockCoding::Intra);
            }
        }
    }
    bits.padToByte();
    return bits.bytes();
}

}  // namespace kx
