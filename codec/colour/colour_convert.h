// The three YCbCr to RGB converters: full-range YCbCr (luma without offset, chroma centred on
// 128) with 1.402 (Cr to red), 0.344 and 0.714 (Cb and Cr to green) and 1.772 (Cb to blue) in
// fixed point. Each is bit-exact to its integer arithmetic; none applies colour adjustment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/kernel_path.h"

namespace kx {

class MacroblockPicture;

// Native codecs: writes planar R, G, B planes of width x height bytes each (red plane first,
// pixel (x, y) at y x width + x of its plane) from a MacroblockPicture. Converts every pixel
// the source covers (a width or height that is not a multiple of 16 takes the top or left part
// of the last macroblock column or row) and leaves the rest of the destination untouched;
// does nothing for a null destination or an empty source.
void MacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height, const MacroblockPicture& source);
// The same by the kernel `path` names; every path writes the same bytes.
void MacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height, const MacroblockPicture& source,
                           KernelPath path);

// MPEG-4 decoders: interleaved U, Y0, V, Y1 (rows of 2 x width bytes) to packed B, G, R (rows
// of 3 x width bytes). A negative height reads the source rows from the last one upward; the
// destination is always written from its first row.
void PackedYuv422ToBgr24(uint8_t* destination, const uint8_t* source, int width, int height);

enum class BgrPixelSize { Four = 0, Three = 1 };

// avc decoder: planar 4:2:0 (Y plane width x height, then Cb and Cr planes of (width / 2) x
// (height / 2)) to B, G, R pixels of 3 bytes, or of 4 bytes with the fourth left as it was.
// `strideBytes` is the destination row stride; a negative stride writes the first source row
// into the last destination row (`destination` is the start of the buffer in both cases).
void PlanarYuv420ToBgr(const uint8_t* source, uint8_t* destination, ptrdiff_t strideBytes, int width, int height,
                       BgrPixelSize pixelSize);
// The same by the kernel `path` names; every path writes the same bytes.
void PlanarYuv420ToBgr(const uint8_t* source, uint8_t* destination, ptrdiff_t strideBytes,
                       int width, int height, BgrPixelSize pixelSize, KernelPath path);

// One or two rows of PlanarYuv420ToBgr's 3-byte conversion sharing one chroma row, for
// decoders whose planes have their own strides (`lumaB` and `outB` null for one row).
void PlanarRowsToBgr(const uint8_t* lumaA, uint8_t* outA, const uint8_t* lumaB, uint8_t* outB,
                     const uint8_t* cb, const uint8_t* cr, int width);

// The per-chroma-byte terms of PlanarYuv420ToBgr, exposed for tests.
struct Yuv420Tables {
    int32_t blue[256];     // 1.772 x (i - 127.5), rounded half up
    int32_t red[256];      // 1.402 x (i - 127.5), rounded half up
    int32_t greenCb[256];  // 21491 - 22554 x (i - 128), scaled by 2^16
    int32_t greenCr[256];  // 21491 - 46793 x (i - 128), scaled by 2^16
};
const Yuv420Tables& yuv420Tables();

}  // namespace kx
