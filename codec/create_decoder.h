// Codec selection: the decoder for a codec identifier (bits 4 to 7 of a frame's flags).
#pragma once

#include <memory>

#include "codec/video_decoder.h"

namespace kx {

// The identifiers with a decoder; the others (5 and 9 to 15, and those whose decoders are not
// built yet) give none, and the caller plays no pictures for that recording.
std::unique_ptr<VideoDecoder> createDecoder(int codec);

}  // namespace kx
