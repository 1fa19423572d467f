// Video object layer header fields up to the picture size, after ISO/IEC 14496-2 6.2.3.
#include "platform/mpeg4_layer_header.h"

namespace kx {
namespace {

// Most significant bit first over a byte span; reading past the end sets `overrun`.
class Bits {
public:
    Bits(std::span<const uint8_t> bytes, size_t bit) : m_bytes(bytes), m_bit(bit) {}
    uint32_t read(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++m_bit) {
            if (m_bit / 8 >= m_bytes.size()) {
                overrun = true;
                return 0;
            }
            value = value << 1 | ((m_bytes[m_bit / 8] >> (7 - m_bit % 8)) & 1);
        }
        return value;
    }
    size_t position() const { return m_bit; }
    bool overrun = false;

private:
    std::span<const uint8_t> m_bytes;
    size_t m_bit;
};

constexpr uint32_t kRectangular = 0;
constexpr uint32_t kGreyscale = 3;
constexpr uint32_t kExtendedPar = 15;
constexpr uint32_t kMaxSide = 8191;

}  // namespace

std::optional<LayerPictureSize> parseLayerPictureSize(std::span<const uint8_t> bytes, size_t at) {
    Bits bits(bytes, at * 8);
    bits.read(1);  // random accessible layer
    bits.read(8);  // object type indication
    uint32_t verid = 1;
    if (bits.read(1)) {
        verid = bits.read(4);
        bits.read(3);  // priority
    }
    if (bits.read(4) == kExtendedPar) bits.read(16);
    if (bits.read(1)) {  // control parameters
        bits.read(3);    // chroma format, low delay
        if (bits.read(1)) bits.read(79);  // the buffer verifier's rates and sizes with their markers
    }
    const uint32_t shape = bits.read(2);
    if (shape == kGreyscale && verid != 1) bits.read(4);
    bits.read(1);
    const uint32_t resolution = bits.read(16);
    bits.read(1);
    if (bits.read(1)) {  // fixed rate: the increment takes as many bits as the resolution needs
        int increment = 1;
        while (increment < 16 && (1u << increment) < resolution) ++increment;
        bits.read(increment);
    }
    if (shape != kRectangular) return std::nullopt;
    bits.read(1);
    LayerPictureSize size;
    size.widthBit = bits.position();
    size.width = bits.read(13);
    bits.read(1);
    size.heightBit = bits.position();
    size.height = bits.read(13);
    if (bits.overrun) return std::nullopt;
    return size;
}

std::optional<LayerPictureSize> findLayerPictureSize(std::span<const uint8_t> bytes) {
    std::optional<LayerPictureSize> found;
    forEachLayerPictureSize(bytes, [&](const LayerPictureSize& size) {
        found = size;
        return false;
    });
    return found;
}

bool setLayerPictureSize(std::span<uint8_t> bytes, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return false;
    const auto size = findLayerPictureSize(bytes);
    if (!size) return false;
    const auto put = [&](size_t bit, uint32_t value) {
        for (int i = 12; i >= 0; --i, ++bit) {
            const uint8_t mask = uint8_t(0x80 >> (bit % 8));
            if ((value >> i) & 1)
                bytes[bit / 8] |= mask;
            else
                bytes[bit / 8] &= uint8_t(~mask);
        }
    };
    put(size->widthBit, width);
    put(size->heightBit, height);
    return true;
}

}  // namespace kx
