// Fitting decoded pictures to the AVI export's video format. The tables and buffers are built
// again only when the picture or format size changes.
#include "output/avi_picture_fitter.h"

#include "codec/video_decoder.h"
#include "platform/avi_file.h"

namespace kx {

void AviPictureFitter::buildTaps(uint32_t in, uint32_t out, std::vector<Tap>& taps) {
    taps.resize(out);
    for (uint32_t o = 0; o < out; ++o) {
        if (out == in) {
            taps[o] = {o, o};
        } else if (out == 2 * in) {
            const uint32_t k = o / 2;
            taps[o] = {k, (o % 2 == 0 || k + 1 >= in) ? k : k + 1};
        } else {
            const auto nearest = uint32_t(uint64_t(o) * in / out);
            taps[o] = {nearest, nearest};
        }
    }
}

bool AviPictureFitter::fit(const RgbPicture& picture, PixelFormat format, uint32_t width,
                           uint32_t height, uint8_t* dib) {
    const uint32_t inWidth = picture.width();
    const uint32_t inHeight = picture.height();
    if (format.layout == PictureLayout::None || picture.pixels() == nullptr || inWidth == 0 ||
        inHeight == 0 || width == 0 || height == 0)
        return false;
    if (inWidth != m_inWidth || inHeight != m_inHeight || width != m_outWidth ||
        height != m_outHeight) {
        m_inWidth = inWidth;
        m_inHeight = inHeight;
        m_outWidth = width;
        m_outHeight = height;
        buildTaps(inWidth, width, m_columns);
        buildTaps(inHeight, height, m_rows);
        m_row.resize(size_t(inWidth) * 3);
        m_widened.resize(size_t(inHeight) * width * 3);
    }
    const size_t outRowBytes = size_t(width) * 3;
    for (uint32_t y = 0; y < inHeight; ++y) {
        if (!readUprightRow(picture, format, y, m_row.data())) return false;
        uint8_t* out = m_widened.data() + y * outRowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* a = m_row.data() + size_t(m_columns[x].a) * 3;
            const uint8_t* b = m_row.data() + size_t(m_columns[x].b) * 3;
            for (int c = 0; c < 3; ++c) out[3 * x + c] = uint8_t((a[c] + b[c]) >> 1);
        }
    }
    const uint32_t stride = aviBitmapStride(width);
    for (uint32_t j = 0; j < height; ++j) {
        const uint8_t* a = m_widened.data() + size_t(inHeight - 1 - m_rows[j].a) * outRowBytes;
        const uint8_t* b = m_widened.data() + size_t(inHeight - 1 - m_rows[j].b) * outRowBytes;
        uint8_t* out = dib + size_t(j) * stride;
        for (size_t i = 0; i < outRowBytes; ++i) out[i] = uint8_t((a[i] + b[i]) >> 1);
    }
    return true;
}

}  // namespace kx
