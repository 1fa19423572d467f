// Turns the audio blocks of a recording into 16-bit PCM piece by piece, the way the audio outputs
// fill their buffers: G.726 in whole groups of 3 bytes (the decoder state carrying over from
// block to block), IMA ADPCM in blocks of at most 508 bytes, PCM copied in whole frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "playback/g726_decoder.h"
#include "playback/ima_adpcm_decoder.h"

namespace kx {

enum class AudioCodec {
    None,  // PCM as stored
    G726,  // G.726 at 24 kbit/s
    Ima,   // IMA ADPCM blocks
};

class AudioBlockDecoder {
public:
    explicit AudioBlockDecoder(AudioCodec codec = AudioCodec::None, size_t pcmFrameBytes = 2)
        : m_codec(codec), m_frameBytes(pcmFrameBytes == 0 ? 1 : pcmFrameBytes) {}

    void reset() {
        m_g726.reset();
        m_ima.reset();
    }

    // Decodes the first piece of `bytes` that fits in `capacity` output bytes (a multiple of 16;
    // at least 2018 for IMA). Returns the input bytes consumed and sets `outputBytes`; 0 when
    // what remains is too short to decode (fewer than 3 bytes of G.726, 4 of IMA, one PCM frame):
    // those bytes are dropped.
    size_t decodePiece(const uint8_t* bytes, size_t size, uint8_t* out, size_t capacity, size_t& outputBytes);

private:
    AudioCodec m_codec;
    size_t m_frameBytes;
    G726Decoder m_g726;
    ImaAdpcmDecoder m_ima;
};

}  // namespace kx
