// Fuzzes the avc decoder (codec 4) with a sequence of frames, pictures capped at 352 x 288.
// Input: frames, each one byte of kind (low 3 bits), one byte of options (bit 0: loop filter),
// a 2-byte big-endian length and its bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "codec/avc/avc_decoder.h"
#include "recording/record_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kx::CRecordFrame frame(352, 288, 0);
    static kx::RgbPicture picture(352, 288);
    static std::FILE* quiet = std::fopen("/dev/null", "w");
    kx::AvcDecoder decoder;
    decoder.setDiagnostics(quiet ? quiet : stderr);
    decoder.setSizeLimit(352, 288);
    uint32_t tick = 1000;
    size_t at = 0;
    while (at + 4 <= size) {
        const uint16_t kind = data[at] & 7;
        const bool deblock = data[at + 1] & 1;
        size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        at += 4;
        if (length > size - at) length = size - at;
        if (length > frame.VideoCapacity()) length = frame.VideoCapacity();
        if (length > 0) std::memcpy(frame.VideoBuffer(), data + at, length);
        frame.SetVideoLength(uint32_t(length));
        frame.SetKind(kind);
        frame.SetTick(tick += 40);
        frame.SetFlags(4 << 4);
        at += length;
        uint32_t status = 0;
        decoder.decodeInto(frame, picture, &status,
                           deblock ? kx::Deblocking::On : kx::Deblocking::Off);
    }
    return 0;
}
