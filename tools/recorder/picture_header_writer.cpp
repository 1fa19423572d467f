// Picture headers of the native codec, whose layout the legacy codec shares.
#include "tools/recorder/picture_header_writer.h"

#include <cassert>
#include <cstdint>

namespace kx::native_encoding {
namespace {

constexpr uint32_t kStartCode = 16;  // 21 bits: sixteen 0 bits, a 1, four 0 bits
constexpr int kStartCodeBits = 21;
constexpr uint32_t kIntraPicture = 0;
constexpr uint32_t kInterPicture = 2;

void writeGroupCount(BitWriter& bits, int groups) {
    assert(groups >= 0 && groups <= 0xFFFF);
    bits.padToEvenByte();
    bits.put(uint32_t(groups), 16);
}

}  // namespace

void writeIntraPictureHeader(BitWriter& bits, int width, int height, int quantiser, int groups) {
    bits.put(kStartCode, kStartCodeBits);
    bits.put(kIntraPicture, 2);
    bits.put(uint32_t(width), 10);
    bits.put(uint32_t(height), 10);
    bits.put(uint32_t(quantiser), 8);
    bits.put(0, 1);
    writeGroupCount(bits, groups);
}

void writeInterPictureHeader(BitWriter& bits, int quantiser, int groups) {
    bits.put(kStartCode, kStartCodeBits);
    bits.put(kInterPicture, 2);
    bits.put(1, 1);  // the picture changed
    bits.put(uint32_t(quantiser), 8);
    writeGroupCount(bits, groups);
}

void writeUnchangedPicture(BitWriter& bits) {
    bits.put(kStartCode, kStartCodeBits);
    bits.put(kInterPicture, 2);
    bits.put(0, 1);
}

}  // namespace kx::native_encoding
