// A picture in planar YUV 4:2:0 with 8-bit samples: the recorder's source and encoder input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

struct YuvImage {
    int width = 0;            // luma samples per row
    int height = 0;           // luma rows
    std::vector<uint8_t> y;   // width x height
    std::vector<uint8_t> cb;  // (width / 2) x (height / 2)
    std::vector<uint8_t> cr;

    void resize(int w, int h) {
        width = w;
        height = h;
        y.assign(size_t(w) * size_t(h), 16);
        cb.assign(size_t(w / 2) * size_t(h / 2), 128);
        cr.assign(size_t(w / 2) * size_t(h / 2), 128);
    }
    int chromaWidth() const { return width / 2; }
    int chromaHeight() const { return height / 2; }
};

// Where the planes of a 4:2:0 picture start, or of a part of one (such as a macroblock): their
// first samples and row strides, without a size.
struct YuvPictureView {
    std::array<const uint8_t*, 3> planes{};  // Y, Cb, Cr
    std::array<ptrdiff_t, 3> strides{};
};

}  // namespace kx
