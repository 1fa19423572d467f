// Copies a picture of ours into a libavcodec frame for its encoders.
#pragma once

#include <cstddef>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

#include "tools/recorder/yuv_image.h"

namespace kx {

// Makes `frame` writable and copies the three planes of `picture` into it; false when libavcodec
// cannot give a writable frame (out of memory).
inline bool fillAvFrame(AVFrame* frame, const YuvImage& picture) {
    if (av_frame_make_writable(frame) < 0) return false;
    const uint8_t* planes[3] = {picture.y.data(), picture.cb.data(), picture.cr.data()};
    const int widths[3] = {picture.width, picture.chromaWidth(), picture.chromaWidth()};
    const int heights[3] = {picture.height, picture.chromaHeight(), picture.chromaHeight()};
    for (int p = 0; p < 3; ++p)
        for (int row = 0; row < heights[p]; ++row)
            std::memcpy(frame->data[p] + ptrdiff_t(row) * frame->linesize[p],
                        planes[p] + size_t(row) * size_t(widths[p]), size_t(widths[p]));
    return true;
}

}  // namespace kx
