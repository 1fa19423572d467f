// Fuzzes both native decoders (codecs 0 and 1) with a sequence of frames, pictures capped at
// 352 x 288. Input: one byte of options (bit 0 sets frame flag 0x4000), then frames, each a
// 2-byte big-endian length and its bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/native/native_decoder.h"
#include "codec/native/native_motion_decoder.h"
#include "recording/record_frame.h"

namespace {

constexpr uint32_t kMacroblockLimit = 22 * 18;
constexpr int kPictureWidth = 176;
constexpr int kPictureHeight = 144;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static kx::CRecordFrame frame(352, 288, 0);
    static kx::RgbPicture picture(kPictureWidth, kPictureHeight);
    const uint16_t option = (data[0] & 1) ? kx::kFrameFlagCodecOption : 0;

    kx::NativeDecoder native;
    kx::NativeMotionDecoder motion;
    native.setMacroblockLimit(kMacroblockLimit);
    motion.setMacroblockLimit(kMacroblockLimit);
    size_t at = 1;
    while (at + 2 <= size) {
        size_t length = size_t(data[at]) << 8 | data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        if (length > frame.VideoCapacity()) length = frame.VideoCapacity();
        if (length > 0) std::memcpy(frame.VideoBuffer(), data + at, length);
        frame.SetVideoLength(uint32_t(length));
        at += length;
        for (int codec = 0; codec < 2; ++codec) {
            kx::NativeDecoder& decoder = codec == 0 ? native : motion;
            frame.SetFlags(uint16_t(option | (codec << 4)));
            decoder.decodeToRgb(frame, picture);
            // convert writes the whole decoded picture: planes of exactly that size, so an
            // overrun shows.
            std::vector<uint8_t> planes(size_t(decoder.outputPicture().macroblockCount()) * 256 * 3);
            decoder.convert(planes.empty() ? nullptr : planes.data());
        }
    }
    return 0;
}
