// The copy rules from a decoded RgbPicture to a render target: which layout and row direction
// a picture has (from the file kind and the frame's codec and flags), and the copy that leaves
// it upright as B, G, R pixels. The main view, snapshots and exports all copy through here.
#pragma once

#include <cstdint>

#include "codec/picture_layout.h"

namespace kx {

class RgbPicture;

// Format flags of a picture: bit 0 file kind 3, 7 or 8; bit 1 frame flag 0x4000 (planar rows
// run top-down); bit 2 codec 2; bit 3 file kind 2; bit 4 codec 4; bit 5 codec 3; bit 6
// codec 6; bit 7 codec 7; bit 8 codec 8.
uint32_t pictureFormatFlags(int32_t fileKind, uint16_t frameFlags);

// Where the picture goes: width x height pixels of 3 or 4 bytes (the fourth set to 0), rows
// `strideBytes` apart, the first row in memory the top of the picture (TopDown) or its bottom
// (BottomUp, as in a device-independent bitmap).
struct PictureTarget {
    uint8_t* pixels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 3;
    uint32_t strideBytes = 0;
    RowOrder rows = RowOrder::TopDown;
};

// Copies `picture` into `target` upright. Source layouts: kinds 0 and 1 packed B, G, R rows
// bottom-up, kind 2 top-down; kinds 3, 7 and 8 planar R, G, B planes for codecs 0 and 1 (rows
// top-down with frame flag 0x4000, bottom-up without) and packed top-down for codecs 2, 3, 4,
// 6, 7 and 8. False, with nothing copied, when the sizes differ, the target is not 3 or 4
// bytes per pixel, or the kind and codec have no picture.
bool copyPictureUpright(const RgbPicture& picture, int32_t fileKind, uint16_t frameFlags,
                        const PictureTarget& target);

}  // namespace kx
