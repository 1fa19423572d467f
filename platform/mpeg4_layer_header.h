// MPEG-4 Part 2 video object layer headers: where a layer header names its picture size, so that
// the size can be checked before a decoder allocates for it, or rewritten to the size a media
// type gives. Pure byte work, no decoder behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kx {

// The picture size of a rectangular video object layer and the bit offsets (from the start of
// the bytes given) of its 13-bit width and height fields.
struct LayerPictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
    size_t widthBit = 0;
    size_t heightBit = 0;
};

// The first video object layer header (start codes 0x00000120 to 0x0000012F) in `bytes` whose
// fields up to the picture size are complete and which is rectangular; none when there is no
// such header.
std::optional<LayerPictureSize> findLayerPictureSize(std::span<const uint8_t> bytes);

// Calls `visit` with each such layer header in `bytes`, in order; stops early when it returns
// false.
template <typename Visit>
void forEachLayerPictureSize(std::span<const uint8_t> bytes, Visit&& visit);

// Rewrites the width and height of the first rectangular layer header in `bytes` to the given
// size (each 1 to 8191). False, nothing changed, when there is no such header or the size does
// not fit 13 bits.
bool setLayerPictureSize(std::span<uint8_t> bytes, uint32_t width, uint32_t height);

// The layer header starting at `at` (the first byte after its start code), parsed up to the
// size fields; bit offsets are from the start of `bytes`.
std::optional<LayerPictureSize> parseLayerPictureSize(std::span<const uint8_t> bytes, size_t at);

template <typename Visit>
void forEachLayerPictureSize(std::span<const uint8_t> bytes, Visit&& visit) {
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || (bytes[i + 3] & 0xF0) != 0x20) continue;
        if (const auto size = parseLayerPictureSize(bytes, i + 4))
            if (!visit(*size)) return;
    }
}

}  // namespace kx
