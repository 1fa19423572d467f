// Fuzzes AxisDecoder (codec 8) through the player's own media viewer with a sequence of frames,
// pictures capped at 256 x 256. Input: frames, each a 2-byte big-endian length and its bytes
// (n, media-type block, kind, flags, times, m, sample).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "codec/camera/axis_decoder.h"
#include "platform/camera_components.h"
#include "recording/record_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool limited = (kx::setCameraPictureLimit(256), true);
    (void)limited;
    static kx::CRecordFrame frame(176, 144, 0);
    static kx::RgbPicture picture(176, 144);
    kx::AxisDecoder decoder(176, 144, kx::ControlRegistry::process(), std::chrono::milliseconds(0));
    for (size_t at = 0; at + 2 <= size;) {
        size_t length = size_t(data[at]) << 8 | data[at + 1];
        at += 2;
        length = std::min({length, size - at, frame.VideoCapacity()});
        if (length > 0) std::memcpy(frame.VideoBuffer(), data + at, length);
        frame.SetVideoLength(uint32_t(length));
        frame.SetFlags(8 << 4);
        at += length;
        decoder.decodeToRgb(frame, picture);
        decoder.takeMessage();
    }
    return 0;
}
