// The picture headers the native, legacy and face encoders share: the start code, the picture
// type and its fields, and the 16-bit aligned group count before the first macroblock.
#pragma once

#include "tools/recorder/bit_writer.h"

namespace kx::native_encoding {

// An intra picture's header up to its macroblocks, with `groups` runs of ten macroblocks
// re-aligned at the picture's end (always 0 in the native codec).
void writeIntraPictureHeader(BitWriter& bits, int width, int height, int quantiser, int groups);
// A changed inter picture's header up to its macroblocks, with its group count.
void writeInterPictureHeader(BitWriter& bits, int quantiser, int groups);
// The whole "picture unchanged" inter picture, before its padding to a byte.
void writeUnchangedPicture(BitWriter& bits);

}  // namespace kx::native_encoding
