// Codec selection: the decoder for a codec identifier (bits 4 to 7 of a frame's flags).
#pragma once

#include <cstdint>
#include <memory>

#include "codec/video_decoder.h"

namespace kx {

// The identifiers with a decoder; the others (5 and 9 to 15, and those whose decoders are not
// built yet) give none, and the caller plays no pictures for that recording.
std::unique_ptr<VideoDecoder> createDecoder(int codec);
// The same, with the recording's picture size, which the XviD decoder (codec 6) and the camera
// decoders (codecs 7 and 8) need;
// the player, the tools and the integrity pass create decoders through this one.
std::unique_ptr<VideoDecoder> createDecoder(int codec, uint32_t width, uint32_t height);
// Whether createDecoder gives a decoder for the identifier, without making one.
bool hasDecoder(int codec);

}  // namespace kx
