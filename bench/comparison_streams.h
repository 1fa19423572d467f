// The streams the native and legacy decoders and FFmpeg's H.263 decoder are measured on: the
// recorder's built-in scene encoded by the native (or legacy) encoder at its default quantiser, and the same pictures
// encoded by FFmpeg's H.263 encoder at the fixed quantiser whose bit rate comes nearest the
// native stream's. Made once per codec and size.
#pragma once

#include <cstdint>
#include <vector>

namespace kx {

struct CodedStream {
    struct Picture {
        std::vector<uint8_t> bytes;
        uint16_t kind = 0;   // frame kind (native): 0 key, 1 inter
        uint16_t flags = 0;  // frame flags (native): the codec, and 0x4000 for IDCT B
    };
    std::vector<Picture> pictures;
    double kilobitsPerSecond = 0;  // at the scene's 25 pictures per second
    double lumaPsnr = 0;           // of the decoded pictures against the source, in dB
};

struct ComparisonStreams {
    int codec = 0;
    int width = 0;
    int height = 0;
    CodedStream native;
    CodedStream h263;
    int h263Quantiser = 0;
    bool ok = false;
    const char* error = "";
};

constexpr int kComparisonPictures = 500;    // twenty seconds: a whole traffic cycle of the scene
constexpr int kComparisonKeyInterval = 25;  // a key picture per second
constexpr double kComparisonFps = 25;

// The legacy codec of the older kinds, given in place of a native codec; its decoder holds at
// most 640 x 480 samples, so it is measured at 352 x 288 only.
constexpr int kComparisonLegacyCodec = -1;

// The streams for a native codec (0 or 1, or kComparisonLegacyCodec) at a standard H.263 size,
// made on first use and kept.
const ComparisonStreams& comparisonStreams(int codec, int width, int height);

}  // namespace kx
