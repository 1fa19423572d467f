// Fuzzes both ADPCM decoders the way the audio outputs feed them: the input is one audio
// block, cut into the pieces that 2048-byte buffers take, decoded as G.726 and as IMA ADPCM.
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "playback/audio_block_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kBufferBytes = 2048;
    alignas(int16_t) static uint8_t buffer[kBufferBytes];
    for (const kx::AudioCodec codec : {kx::AudioCodec::G726, kx::AudioCodec::Ima}) {
        kx::AudioBlockDecoder decoder(codec);
        size_t at = 0;
        size_t outputBytes = 0;
        while (const size_t consumed =
                   decoder.decodePiece(data + at, size - at, buffer, kBufferBytes, outputBytes)) {
            assert(consumed <= size - at && outputBytes <= kBufferBytes);
            at += consumed;
        }
    }
    return 0;
}
