// Fuzzes the MPEG-4 engine (codec 2) through its control entry with a sequence of frames, the
// engine made for 176 x 144 (larger layers are refused). Input: frames, each one byte of
// options (bits 0-6: post-processing level when bit 7 is set), one byte of destination width
// choice, a 2-byte big-endian length and its bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/mpeg4/mpeg4_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr int kWidth = 176, kHeight = 144;
    static std::vector<uint8_t> destination(size_t(kWidth + 64) * kHeight * 3);
    kx::Mpeg4VideoEngine engine;
    kx::Mpeg4Size pictureSize{kWidth, kHeight};
    kx::Mpeg4BlockSizes sizes;
    if (engine.control(1, kx::kMpeg4QuerySizes, &pictureSize, &sizes) != kx::kMpeg4Ok) return 0;
    std::vector<uint8_t> blocks[kx::kMpeg4BlockCount];
    kx::Mpeg4InitParams init;
    init.width = kWidth;
    init.height = kHeight;
    for (int i = 0; i < kx::kMpeg4BlockCount; ++i) {
        blocks[i].assign(sizes.bytes[i], 0);
        init.blocks[i] = blocks[i].data();
    }
    if (engine.control(1, kx::kMpeg4Initialise, &init, nullptr) != kx::kMpeg4Ok) return 0;
    size_t at = 0;
    while (at + 4 <= size) {
        const uint8_t options = data[at];
        const uint32_t width = (data[at + 1] & 1) ? kWidth + 64 : kWidth;
        size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        at += 4;
        if (length > size - at) length = size - at;
        if (options & 0x80) {
            kx::Mpeg4PostParams post{options & 0x7F};
            engine.control(1, kx::kMpeg4PostProcessing, &post, nullptr);
        }
        kx::Mpeg4DecodeParams params;
        params.destination = destination.data();
        params.data = data + at;
        params.length = uint32_t(length);
        params.destinationWidth = width;
        kx::Mpeg4DecodeInfo info;
        engine.control(1, kx::kMpeg4Decode, &params, &info);
        at += length;
    }
    engine.flushHeld(destination.data(), kWidth);
    return 0;
}
