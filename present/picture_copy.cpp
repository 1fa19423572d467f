// Copy rules of decoded pictures into render targets.
#include "present/picture_copy.h"

#include <cstddef>

#include "codec/video_decoder.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"

namespace kx {
uint32_t pictureFormatFlags(int32_t fileKind, uint16_t frameFlags) {
    const int codec = CodecOfFlags(frameFlags);
    uint32_t flags = 0;
    if (fileKind == kKindClip || fileKind == kKindExtended || fileKind == kKindFourChannel)
        flags |= 1u << 0;
    if (frameFlags & kFrameFlagCodecOption) flags |= 1u << 1;
    if (codec == 2) flags |= 1u << 2;
    if (fileKind == kKindLegacyKxq) flags |= 1u << 3;
    if (codec == 4) flags |= 1u << 4;
    if (codec == 3) flags |= 1u << 5;
    if (codec == 6) flags |= 1u << 6;
    if (codec == 7) flags |= 1u << 7;
    if (codec == 8) flags |= 1u << 8;
    return flags;
}

bool copyPictureUpright(const RgbPicture& picture, int32_t fileKind, uint16_t frameFlags,
                        const PictureTarget& target) {
    const PixelFormat format = pictureFormatOf(fileKind, frameFlags);
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    if (format.layout == PictureLayout::None || picture.pixels() == nullptr ||
        target.pixels == nullptr)
        return false;
    if (target.width != width || target.height != height) return false;
    if (target.bytesPerPixel != 3 && target.bytesPerPixel != 4) return false;
    if (target.strideBytes < size_t(width) * target.bytesPerPixel) return false;

    const uint8_t* source = picture.pixels();
    const size_t plane = size_t(width) * height;
    const bool reversed = format.rows != target.rows;
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t sourceRow = reversed ? height - 1 - row : row;
        uint8_t* out = target.pixels + size_t(row) * target.strideBytes;
        if (format.layout == PictureLayout::PlanarRgb) {
            const uint8_t* red = source + size_t(sourceRow) * width;
            const uint8_t* green = red + plane;
            const uint8_t* blue = green + plane;
            if (target.bytesPerPixel == 3) {
                for (uint32_t x = 0; x < width; ++x) {
                    out[3 * x] = blue[x];
                    out[3 * x + 1] = green[x];
                    out[3 * x + 2] = red[x];
                }
            } else {
                for (uint32_t x = 0; x < width; ++x) {
                    out[4 * x] = blue[x];
                    out[4 * x + 1] = green[x];
                    out[4 * x + 2] = red[x];
                    out[4 * x + 3] = 0;
                }
            }
        } else {
            const uint8_t* in = source + size_t(sourceRow) * width * 3;
            if (target.bytesPerPixel == 3) {
                for (uint32_t i = 0; i < width * 3; ++i) out[i] = in[i];
            } else {
                for (uint32_t x = 0; x < width; ++x) {
                    out[4 * x] = in[3 * x];
                    out[4 * x + 1] = in[3 * x + 1];
                    out[4 * x + 2] = in[3 * x + 2];
                    out[4 * x + 3] = 0;
                }
            }
        }
    }
    return true;
}

}  // namespace kx
