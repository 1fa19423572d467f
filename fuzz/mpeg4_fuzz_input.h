// The input form of the MPEG-4 fuzz targets: frames, each a 2-byte big-endian length and its
// bytes, fed one after another to one decoder of a 176 x 144 recording.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/video_decoder.h"
#include "recording/record_frame.h"

namespace kx::fuzz {

inline constexpr uint32_t kMpeg4FuzzWidth = 176;
inline constexpr uint32_t kMpeg4FuzzHeight = 144;

inline void feedMpeg4Frames(VideoDecoder& decoder, int codec, const uint8_t* data, size_t size) {
    static CRecordFrame frame(int(kMpeg4FuzzWidth), int(kMpeg4FuzzHeight), 0);
    static RgbPicture picture(kMpeg4FuzzWidth, kMpeg4FuzzHeight);
    for (size_t at = 0; at + 2 <= size;) {
        size_t length = size_t(data[at]) << 8 | data[at + 1];
        at += 2;
        length = std::min({length, size - at, frame.VideoCapacity()});
        if (length > 0) std::memcpy(frame.VideoBuffer(), data + at, length);
        frame.SetVideoLength(uint32_t(length));
        frame.SetFlags(uint16_t(codec << 4));
        at += length;
        decoder.decodeToRgb(frame, picture);
    }
}

}  // namespace kx::fuzz
