// AudioBlockDecoder: the piece of a block that one output buffer takes.
#include "playback/audio_block_decoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

namespace kx {

static_assert(std::endian::native == std::endian::little, "16-bit PCM is handed to the device as stored");

size_t AudioBlockDecoder::decodePiece(const uint8_t* bytes, size_t size, uint8_t* out, size_t capacity,
                                      size_t& outputBytes) {
    assert(reinterpret_cast<uintptr_t>(out) % 2 == 0);
    outputBytes = 0;
    switch (m_codec) {
        case AudioCodec::G726: {
            const size_t groups = std::min(size / G726Decoder::kGroupBytes, capacity / (2 * G726Decoder::kGroupSamples));
            m_g726.decode(bytes, groups, reinterpret_cast<int16_t*>(out));
            outputBytes = groups * 2 * G726Decoder::kGroupSamples;
            return groups * G726Decoder::kGroupBytes;
        }
        case AudioCodec::Ima: {
            const size_t block = std::min(size, ImaAdpcmDecoder::kMaxBlockBytes);
            if (block < ImaAdpcmDecoder::kHeaderBytes) return 0;
            assert(capacity >= 2 * ImaAdpcmDecoder::samplesOfBlock(block));
            outputBytes = 2 * m_ima.decodeBlock(bytes, block, reinterpret_cast<int16_t*>(out));
            return block;
        }
        case AudioCodec::None: {
            outputBytes = std::min(size, capacity) / m_frameBytes * m_frameBytes;
            if (outputBytes > 0) std::memcpy(out, bytes, outputBytes);
            return outputBytes;
        }
    }
    return 0;
}

}  // namespace kx
