// Where the pixels of a decoded RgbPicture lie: packed B, G, R rows or R, G, B planes, rows
// top-down or bottom-up, as the recording kind and the frame's codec and flags make them. The
// render targets copy pictures upright by it and the motion detector reads them by it.
#pragma once

#include <cstdint>

namespace kx {

class RgbPicture;

enum class RowOrder { TopDown, BottomUp };
enum class PictureLayout { None, PackedBgr, PlanarRgb };

struct PixelFormat {
    PictureLayout layout = PictureLayout::None;
    RowOrder rows = RowOrder::TopDown;
};

// Kinds 0 and 1: packed rows bottom-up; kind 2: packed top-down; kinds 3, 7 and 8: R, G, B planes
// for codecs 0 and 1 (top-down with frame flag 0x4000, bottom-up without) and packed top-down
// for codecs 2, 3, 4, 6, 7 and 8. Layout None for the rest.
PixelFormat pictureFormatOf(int32_t fileKind, uint16_t frameFlags);

// Row `y` of the upright picture (0 is the top) as B, G, R triples into `bgr` (width x 3
// bytes). False, with nothing written, for layout None, a row outside the picture or a picture
// without pixels.
bool readUprightRow(const RgbPicture& picture, PixelFormat format, uint32_t y, uint8_t* bgr);

}  // namespace kx
