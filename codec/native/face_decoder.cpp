// FaceDecoder: the luma-only intra picture of face files over the native decoder's syntax.
#include "codec/native/face_decoder.h"

#include <algorithm>
#include <cstring>

namespace kx {
namespace {

constexpr int kDcEndsMacroblock = 128;
constexpr int kDcStandsFor128 = 255;

}  // namespace

bool FaceDecoder::readHeader(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
    m_failure = DecodeFailure::None;
    if (size == 0) return fail(DecodeFailure::NoStartCode);
    if (m_data.size() < size + BitReader::kPadding) m_data.resize(size + BitReader::kPadding);
    std::memcpy(m_data.data(), data, size);
    std::memset(m_data.data() + size, 0, BitReader::kPadding);
    PictureType type;
    if (!findPicture(m_data.data(), size, type)) return false;
    // Face pictures are intra pictures of type 0 only; findPicture takes 0 and 1 alike.
    m_bits.seek(m_bits.position() - 2);
    if (m_bits.get(2) != 0) return fail(DecodeFailure::NoStartCode);
    width = m_bits.get(10);
    height = m_bits.get(10);
    if (m_bits.overrun()) return fail(DecodeFailure::TruncatedHeader);
    if (width == 0 || height == 0) return fail(DecodeFailure::BadSize);
    return true;
}

bool FaceDecoder::pictureSize(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height) {
    return readHeader(data, size, width, height);
}

bool FaceDecoder::decode(const uint8_t* data, size_t size, std::vector<uint8_t>& grey, uint32_t& width,
                         uint32_t& height) {
    if (!readHeader(data, size, width, height)) return false;
    const int quantiser = int(m_bits.get(8));
    m_bits.skip(1);
    m_bits.alignToEvenByte();
    m_bits.skip(16);
    if (m_bits.overrun()) return fail(DecodeFailure::TruncatedHeader);
    if (quantiser == 0) return fail(DecodeFailure::ZeroQuantiser);
    setQuantiser(quantiser);

    grey.assign(size_t(width) * height, 0);
    const uint32_t columns = width / 16;
    const uint32_t rows = height / 16;
    for (uint32_t r = 0; r < rows && !m_bits.overrun(); ++r) {
        uint8_t* row = grey.data() + size_t(r) * 16 * width;
        for (uint32_t c = 0; c < columns; ++c) {
            readMacroblock();
            storeMacroblock(row + size_t(c) * 16, width);
        }
    }
    return true;
}

void FaceDecoder::readMacroblock() {
    const unsigned luma = 15 - (readCbpy() & 15);  // the intra reading of the CBPY code
    m_bits.skip(2);                                // the chroma pattern: no chroma is coded
    for (int b = 0; b < 4; ++b) {
        int16_t* block = m_blocks[size_t(b)].data();
        std::memset(block, 0, 64 * sizeof(int16_t));
        int dc = int(m_bits.get(8));
        if (dc == kDcEndsMacroblock) return;
        if (dc == kDcStandsFor128) dc = 128;
        if (luma & (8u >> b)) readCoefficients(block, 1);
        block[0] = int16_t(dc * 8);
        inverseDct(block, IdctVariant::A);
    }
}

void FaceDecoder::storeMacroblock(uint8_t* destination, size_t stride) const {
    for (int b = 0; b < 4; ++b) {
        const int16_t* block = m_blocks[size_t(b)].data();
        uint8_t* out = destination + size_t(b >> 1) * 8 * stride + size_t(b & 1) * 8;
        for (int y = 0; y < 8; ++y, out += stride)
            for (int x = 0; x < 8; ++x) out[x] = uint8_t(std::clamp<int16_t>(block[y * 8 + x], 0, 255));
    }
}

}  // namespace kx
