// Quantisation of the six blocks of a macroblock through the native forward transform.
#include "tools/recorder/macroblock_levels.h"

#include "tools/recorder/native_encoder_transform.h"

namespace kx::native_encoding {

YuvPictureView macroblockAt(const YuvPictureView& picture, int column, int row) {
    YuvPictureView macroblock = picture;
    for (size_t plane = 0; plane < 3; ++plane) {
        const int size = macroblockSize(int(plane));
        macroblock.planes[plane] +=
            ptrdiff_t(row) * size * picture.strides[plane] + ptrdiff_t(column) * size;
    }
    return macroblock;
}

namespace {

const uint8_t* blockAt(const YuvPictureView& macroblock, const BlockPlace& place) {
    const size_t plane = size_t(place.plane);
    return macroblock.planes[plane] + place.y * macroblock.strides[plane] + place.x;
}

}  // namespace

void quantiseIntraMacroblock(const YuvPictureView& source, int quantiser, MacroblockLevels& out) {
    out.pattern = 0;
    for (int block = 0; block < 6; ++block) {
        const BlockPlace& place = kBlockPlaces[size_t(block)];
        if (quantiseIntraBlock(blockAt(source, place), source.strides[size_t(place.plane)],
                               quantiser, out.dc[size_t(block)], out.levels[size_t(block)].data()))
            out.pattern |= patternBit(block);
    }
}

void quantiseInterMacroblock(const YuvPictureView& source, const YuvPictureView& prediction,
                             int quantiser, float deadZone, MacroblockLevels& out) {
    out.pattern = 0;
    for (int block = 0; block < 6; ++block) {
        const BlockPlace& place = kBlockPlaces[size_t(block)];
        const size_t plane = size_t(place.plane);
        if (quantiseInterBlock(blockAt(source, place), source.strides[plane],
                               blockAt(prediction, place), prediction.strides[plane], quantiser,
                               deadZone, out.levels[size_t(block)].data()))
            out.pattern |= patternBit(block);
    }
}

}  // namespace kx::native_encoding
