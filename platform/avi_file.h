// The AVI file library: writes AVI files of video, audio and text streams, and compresses video
// with a compressor chosen from a fixed list. Used by the AVI export on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx {

constexpr uint32_t aviFourCc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

enum class AviStreamType { Video, Audio, Text };

struct AviRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// A stream description, as the stream header stores it.
struct AviStreamInfo {
    AviStreamType type = AviStreamType::Video;
    uint32_t handler = 0;  // four-character code
    uint32_t scale = 1;    // rate / scale = samples per second
    uint32_t rate = 1;
    uint32_t initialFrames = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t sampleSize = 0;  // bytes per sample for audio; 0 when every sample is one chunk
    AviRect frame;
};

enum class AviSampleFlags { None, KeyFrame };

// Bytes of one row of a 24-bit bitmap `width` pixels wide (rows padded to 4 bytes).
constexpr uint32_t aviBitmapStride(uint32_t width) {
    return (width * 3 + 3) & ~3u;
}

// The 40-byte bitmap information header of 24-bit bottom-up pictures (the uncompressed format
// given to a compressed stream), and the 18-byte PCM wave format.
std::vector<uint8_t> aviBitmapFormat(int32_t width, int32_t height);
std::vector<uint8_t> aviPcmFormat(uint16_t channels, uint32_t samplesPerSecond,
                                  uint16_t bitsPerSample);

class AviStream {
public:
    virtual ~AviStream() = default;
    virtual const AviStreamInfo& info() const = 0;
    // Sets the format block (bitmap header, wave format, or the text stream's block). Only
    // before the file's first sample is written.
    virtual bool setFormat(const void* format, size_t bytes) = 0;
    // Writes `count` samples starting at sample `start`. One chunk per call; a start past the
    // stream's end is reached with empty chunks (dropped frames); a start before it, or a
    // sample-size stream whose bytes are not `count` samples, is refused.
    virtual bool write(int64_t start, int32_t count, const void* buffer, size_t bytes,
                       AviSampleFlags flags) = 0;
    // Samples written so far (including the empty ones).
    virtual int64_t length() const = 0;
    // Writes out what the stream still holds (a compressor's delayed pictures). Call it before
    // the file is closed; later writes are refused. False when something could not be written.
    virtual bool release() = 0;
};

class AviFile {
public:
    virtual ~AviFile() = default;
    // A new stream, numbered in creation order; owned by the file. Null once samples have been
    // written or for a description without a rate or scale.
    virtual AviStream* createStream(const AviStreamInfo& info) = 0;
    // Writes the indexes and headers and renames the file into place. False, with no file left
    // at the name and the previous file of that name untouched, when anything failed to be
    // written. Destroying a file that was not closed discards what was written.
    virtual bool close() = 0;
    // Why the last operation failed.
    virtual const std::string& errorText() const = 0;
};

// Where the file starts a new RIFF part ('AVIX', with OpenDML indexes) once the current one
// has grown past `riffBytes`; the tests lower it.
struct AviFileLimits {
    uint64_t riffBytes = uint64_t(1) << 30;
};

// Creates the file under a temporary name beside `path`; null with `error` set on failure.
std::unique_ptr<AviFile> openAviFile(const std::string& path, std::string& error,
                                     AviFileLimits limits = {});

// The video compressors on offer, in the order a user would be shown them.
// A compressor's quality setting: a quantiser or rate factor, lower is better and larger.
struct AviQuality {
    int best = 0;
    int smallest = 0;
    int standard = 0;  // what the compressor uses when none is given
    std::string label;
};
struct AviCompressor {
    std::string name;  // what makeCompressedStream takes: "dib", "mjpeg", "mpeg4", "ffv1", ...
    std::string description;
    uint32_t fourCc = 0;
    std::optional<AviQuality> quality;  // none: the compressor has no quality to choose
};
std::vector<AviCompressor> aviCompressors();

// A stream that compresses the pictures written to it into `video` (a video stream of an
// AviFile of this library). Its format is set with the uncompressed picture's bitmap header
// (24-bit, bottom-up); it then gives `video` the compressor's format and handler. Samples are
// 24-bit bottom-up pictures with rows padded to 4 bytes; the key-frame flag is the
// compressor's. `quality`, for a compressor that has one, is clamped to its range (none: its
// standard). Null with `error` set for an unknown compressor or another stream.
std::unique_ptr<AviStream> makeCompressedStream(AviStream& video, const std::string& compressor,
                                                std::string& error, std::optional<int> quality = std::nullopt);

}  // namespace kx
