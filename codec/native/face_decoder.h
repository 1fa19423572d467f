// FaceDecoder: the pictures of face files, intra pictures of the native codec (codec 0, inverse
// DCT A) that code luma only, decoded into grey samples. It reuses the native decoder's bit
// reader, start-code search, CBPY and coefficient decoding and dequantisation; only the picture
// loop (four luma blocks per macroblock, written straight into a grey plane) is its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/native/native_decoder.h"

namespace kx {

class FaceDecoder : private NativeDecoder {
public:
    // Reads the picture size from the header of a coded picture without decoding it.
    bool pictureSize(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height);

    // Decodes a coded picture into `grey`, resized to width x height bytes, rows top first of
    // width bytes. The macroblocks cover (width / 16) x (height / 16) whole macroblocks; the
    // samples right of and below them are 0. False (with lastFailure()) when the data holds no
    // face picture; a picture whose data ends early decodes as far as it goes, 0 after that.
    bool decode(const uint8_t* data, size_t size, std::vector<uint8_t>& grey, uint32_t& width, uint32_t& height);

    DecodeFailure lastFailure() const { return m_failure; }

private:
    bool readHeader(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height);
    // One macroblock's four luma blocks into m_blocks; the blocks after a DC of 128 keep what
    // they held.
    void readMacroblock();
    void storeMacroblock(uint8_t* destination, size_t stride) const;

    std::vector<uint8_t> m_data;  // the coded bytes followed by the reader's zero padding
    alignas(16) std::array<std::array<int16_t, 64>, 4> m_blocks{};
};

}  // namespace kx
