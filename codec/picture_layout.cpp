// The layouts of decoded pictures.
#include "codec/picture_layout.h"

#include <cstring>

#include "codec/video_decoder.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"

namespace kx {

PixelFormat pictureFormatOf(int32_t fileKind, uint16_t frameFlags) {
    switch (fileKind) {
        case kKindLegacyKx:
        case kKindLegacyKxx:
            return {PictureLayout::PackedBgr, RowOrder::BottomUp};
        case kKindLegacyKxq:
            return {PictureLayout::PackedBgr, RowOrder::TopDown};
        case kKindClip:
        case kKindExtended:
        case kKindFourChannel:
            break;
        default:
            return {};
    }
    switch (CodecOfFlags(frameFlags)) {
        case 0:
        case 1:
            return {PictureLayout::PlanarRgb,
                    (frameFlags & kFrameFlagCodecOption) ? RowOrder::TopDown : RowOrder::BottomUp};
        case 2:
        case 3:
        case 4:
        case 6:
        case 7:
        case 8:
            return {PictureLayout::PackedBgr, RowOrder::TopDown};
        default:
            return {};
    }
}

bool readUprightRow(const RgbPicture& picture, PixelFormat format, uint32_t y, uint8_t* bgr) {
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    if (format.layout == PictureLayout::None || picture.pixels() == nullptr || y >= height)
        return false;
    const uint32_t row = format.rows == RowOrder::BottomUp ? height - 1 - y : y;
    const uint8_t* source = picture.pixels();
    if (format.layout == PictureLayout::PackedBgr) {
        std::memcpy(bgr, source + size_t(row) * width * 3, size_t(width) * 3);
        return true;
    }
    const size_t plane = size_t(width) * height;
    const uint8_t* red = source + size_t(row) * width;
    const uint8_t* green = red + plane;
    const uint8_t* blue = green + plane;
    for (uint32_t x = 0; x < width; ++x) {
        bgr[3 * x] = blue[x];
        bgr[3 * x + 1] = green[x];
        bgr[3 * x + 2] = red[x];
    }
    return true;
}

}  // namespace kx
