// The MP4 file writer of the evidence export: H.264 pictures at the times given (a variable
// frame rate: the recorder's own timeline), AAC sound, a timed-text subtitle track and the
// container's metadata. Written under a temporary name and renamed into place by close(). One
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kx {

struct Mp4Options {
    int width = 0;  // even
    int height = 0;
    int quality = 23;  // the H.264 constant rate factor: 0 lossless .. 51 worst
    bool audio = false;  // an 8000 Hz mono AAC track
    std::vector<std::pair<std::string, std::string>> metadata;  // UTF-8 keys and values
};

class Mp4File {
public:
    virtual ~Mp4File() = default;
    // One picture: 24-bit B, G, R rows of `stride` bytes, the bottom row first, shown from
    // `timeMs` (after the previous picture's time) until the next picture's time.
    virtual bool writePicture(const uint8_t* bitmap, size_t stride, int64_t timeMs) = 0;
    // 8000 Hz mono samples starting at sample `at` (time x 8); a gap since the last samples is
    // filled with silence, samples that overlap the last ones follow them.
    virtual bool writeAudio(const int16_t* samples, size_t count, int64_t at) = 0;
    // A subtitle shown from `startMs` to `endMs` (UTF-8, lines separated by '\n'); in time order.
    virtual bool writeSubtitle(int64_t startMs, int64_t endMs, const std::string& text) = 0;
    // Writes out the encoders' last packets and the index, then renames the file into place.
    // False (no file at the name, a previous one untouched) when anything failed. Destroying a
    // file that was not closed discards it.
    virtual bool close() = 0;
    virtual const std::string& errorText() const = 0;
};

// Null with `error` set when the encoders or the file cannot be set up.
std::unique_ptr<Mp4File> openMp4File(const std::string& path, const Mp4Options& options,
                                     std::string& error);

// The versions of the libraries that write the file, for the export's record.
std::string mp4WriterVersion();

}  // namespace kx
