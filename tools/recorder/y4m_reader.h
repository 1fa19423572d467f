// Reads pictures from a YUV4MPEG2 stream (what `ffmpeg -f yuv4mpegpipe` writes), 4:2:0 only.
#pragma once

#include <cstdio>
#include <string>

#include "tools/recorder/yuv_image.h"

namespace kx {

class Y4mReader {
public:
    ~Y4mReader();
    // Opens the file and reads its stream header; on failure error() says why.
    bool open(const std::string& path);
    // Reads the next picture; false at the end of the stream or on an error (error() non-empty).
    bool read(YuvImage& picture);

    int width() const { return m_width; }
    int height() const { return m_height; }
    double framesPerSecond() const { return m_fps; }
    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& text);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_error;
    int m_width = 0;
    int m_height = 0;
    double m_fps = 25;
};

}  // namespace kx
