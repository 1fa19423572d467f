// LegacyDecoder: start code search, picture headers, macroblock groups, macroblock syntax and
// reconstruction into the planes, the horizontal doubling and the conversion to B, G, R.
#include "codec/legacy/legacy_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/colour/colour_convert.h"
#include "codec/legacy/legacy_transform.h"
#include "codec/native/h263_tables.h"

namespace kx {
namespace {

constexpr uint32_t kStartCode = 16;  // sixteen 0 bits, a 1, four 0 bits
constexpr int kStartCodeBits = 21;
// The start code must begin at one of the bit offsets 0 to this one.
constexpr size_t kLastStartCodeOffset = 160;
constexpr int kDcFailsPicture = 128;
constexpr int kDcStandsFor128 = 255;
constexpr int kGroupRun = 10;  // macroblocks per re-aligned run

constexpr size_t kPlanesBytes = LegacyDecoder::kPlaneSamples * 3 / 2;

// One row doubled: output 2k is input k, output 2k + 1 the mean of inputs k and k + 1 (rounded
// down), the last two outputs the last input. `outWidth` is 2 x inWidth, or one more when the
// chroma of an odd width needs it (the extra sample repeats the last).
void doubleRow(const uint8_t* in, int inWidth, uint8_t* out, int outWidth) {
    if (inWidth == 0) {
        std::fill(out, out + outWidth, uint8_t(128));
        return;
    }
    for (int k = 0; k + 1 < inWidth; ++k) {
        out[2 * k] = in[k];
        out[2 * k + 1] = uint8_t((in[k] + in[k + 1]) >> 1);
    }
    std::fill(out + 2 * (inWidth - 1), out + outWidth, in[inWidth - 1]);
}

}  // namespace

const char* describe(LegacyFailure failure) {
    switch (failure) {
        case LegacyFailure::None: return "no failure";
        case LegacyFailure::NotSetUp: return "the legacy decoder is not set up";
        case LegacyFailure::FrameTooLong: return "the frame is longer than the 614400 bytes a legacy frame may hold";
        case LegacyFailure::NoStartCode: return "no picture start code in the first 161 bit positions";
        case LegacyFailure::PictureTooLarge: return "the picture has more samples than 640 x 480";
        case LegacyFailure::BadMacroblock: return "a damaged macroblock: the picture is decoded only up to it";
        case LegacyFailure::DataEndsEarly: return "the frame's data ends inside the picture";
        case LegacyFailure::DestinationTooSmall: return "the picture is larger than the destination";
    }
    return "unknown failure";
}

bool LegacyDecoder::Setup(uint32_t variant) {
    m_data.clear();
    m_planes.clear();
    m_upscaled.clear();
    if (variant != kVariantPlain && variant != kVariantDoubled) return false;
    try {
        m_data.assign(kDataBytes + BitReader::kPadding, 0);
        m_planes.assign(kPlanesBytes, 0);
        m_upscaled.assign(2 * kPlanesBytes, 0);
    } catch (const std::bad_alloc&) {
        m_data = {};
        m_planes = {};
        m_upscaled = {};
        return false;
    }
    m_dataLength = 0;
    m_variant = variant;
    return true;
}

void LegacyDecoder::Decode(LegacyDecodeResult& result, const uint8_t* data, uint32_t length, uint8_t* destination,
                           size_t destinationBytes, int /*mode*/) {
    result = {};
    result.width = uint32_t(m_width);
    result.height = uint32_t(m_height);
    m_failure = LegacyFailure::None;
    // Not set up, or a frame the data buffer cannot hold: refused.
    if (m_data.empty() || length > kDataBytes || (length > 0 && data == nullptr)) {
        m_failure = m_data.empty() ? LegacyFailure::NotSetUp : LegacyFailure::FrameTooLong;
        result.error = 1;
        return;
    }
    // The buffer stays zero past the copied bytes: clear only what the last frame left there.
    if (m_dataLength > length) std::memset(m_data.data() + length, 0, m_dataLength - length);
    if (length > 0) std::memcpy(m_data.data(), data, length);
    m_dataLength = length;
    m_bits.reset(m_data.data(), length);

    size_t offset = 0;
    for (;; ++offset) {
        if (offset > kLastStartCodeOffset) {
            m_failure = LegacyFailure::NoStartCode;
            result.error = 1;  // no picture: the destination keeps its contents
            return;
        }
        m_bits.seek(offset);
        if (m_bits.peek(kStartCodeBits) == kStartCode) break;
    }
    m_bits.skip(kStartCodeBits);
    result.pictureType = m_bits.get(2);

    bool decoded = true;
    if (result.pictureType < 2) {
        const auto width = int(m_bits.get(10));
        const auto height = int(m_bits.get(10));
        const auto quantiser = int(m_bits.get(8));
        // A picture the planes cannot hold is refused before anything changes.
        if (size_t(width) * size_t(height) > kPlaneSamples) {
            m_failure = LegacyFailure::PictureTooLarge;
            result.error = 1;
            return;
        }
        m_intraQuantiser = m_interQuantiser = quantiser;
        if (width != m_width || height != m_height) {
            m_width = width;
            m_height = height;
            m_mbRows = height / 16;
            m_mbColumns = width / 16;
            m_mbCount = m_mbRows * m_mbColumns;
            result.sizeChanged = 1;
            result.width = uint32_t(width);
            result.height = uint32_t(height);
        }
        m_bits.skip(1);
        decoded = decodeIntraPicture();
    } else {
        result.pictureType = 2;
        if (m_bits.get(1) == 0) {
            result.unchanged = 1;
        } else {
            m_interQuantiser = int(m_bits.get(8));
            decoded = decodeInterPicture();
        }
    }
    if (!decoded) {
        // Bits past the end read as zeros, which no macroblock survives: a picture that fails
        // there was cut short rather than coded wrongly.
        m_failure = m_bits.overrun() || m_bits.position() >= m_bits.endBit() ? LegacyFailure::DataEndsEarly
                                                                             : LegacyFailure::BadMacroblock;
        result.error = 1;
    }
    alignTo16Bits();
    output(result, destination, destinationBytes);
}

void LegacyDecoder::alignTo16Bits() { m_bits.seek((m_bits.position() + 15) & ~size_t(15)); }

template <class Macroblock>
bool LegacyDecoder::forEachMacroblock(Macroblock&& macroblock) {
    alignTo16Bits();
    // The last 10 x groups macroblocks come in runs of ten, each on a 16-bit boundary.
    int groups = int(m_bits.get(16));
    for (int i = 0; i < m_mbCount; ++i) {
        if (groups != 0 && i == m_mbCount - kGroupRun * groups) {
            --groups;
            alignTo16Bits();
        }
        if (!macroblock(i)) return false;
    }
    return true;
}

bool LegacyDecoder::decodeIntraPicture() {
    return forEachMacroblock([this](int index) { return readIntraMacroblock(index, m_intraQuantiser); });
}

bool LegacyDecoder::decodeInterPicture() {
    return forEachMacroblock([this](int index) {
        if (m_bits.get(1)) return true;  // not coded: the planes keep the macroblock
        if (m_bits.get(1)) return readInterMacroblock(index);
        return readIntraMacroblock(index, m_interQuantiser);
    });
}

unsigned LegacyDecoder::readCbpy() {
    const uint32_t bits = m_bits.peek(6);
    if (bits < 2 || bits >= 48) {  // 11 (inter pattern 0), or no code
        m_bits.skip(2);
        return 0;
    }
    const auto& entry = h263::kCbpyTable[bits];
    m_bits.skip(entry.length);
    return 15u - entry.symbol;
}

bool LegacyDecoder::readCoefficients(int16_t* block, int start, int quantiser) {
    int position = start;
    for (;;) {
        const uint32_t bits = m_bits.peek(12);
        if (bits < 8) return false;  // no such code
        const VlcEntry<h263::Tcoef> entry = h263::lookupTcoef(bits);
        m_bits.skip(entry.length);
        int last, run, level;
        if (entry.symbol.level == 0) {  // escape
            last = int(m_bits.get(1));
            run = int(m_bits.get(6));
            level = int8_t(uint8_t(m_bits.get(8)));
        } else {
            last = entry.symbol.last;
            run = entry.symbol.run;
            level = m_bits.get(1) ? -entry.symbol.level : entry.symbol.level;
        }
        position += run;
        if (position >= 64) return false;
        block[h263::kZigzag[size_t(position)]] = legacy::dequantise(level, quantiser);
        ++position;
        if (last) return true;
    }
}

bool LegacyDecoder::readIntraMacroblock(int index, int quantiser) {
    const unsigned cbpy = readCbpy() & 15;
    const unsigned cbpc = m_bits.get(2);
    const unsigned pattern = (cbpc & 3) | ((15 - cbpy) << 2);
    for (int b = 0; b < 6; ++b) {
        int16_t* block = m_macroblock.data() + 64 * b;
        std::fill(block + 1, block + 64, int16_t(0));
        int dc = int(m_bits.get(8));
        if (dc == kDcFailsPicture) return false;
        if (dc == kDcStandsFor128) dc = 128;
        block[0] = int16_t(dc * 8);  // not dequantised
        if (pattern & (32u >> b)) {
            if (!readCoefficients(block, 1, quantiser)) return false;
            legacy::inverseDct(block);
        } else {
            // A lone DC transforms to one value everywhere.
            std::fill(block, block + 64, legacy::dcOnlySample(block[0]));
        }
    }
    writeMacroblock(index);
    return true;
}

bool LegacyDecoder::readInterMacroblock(int index) {
    const unsigned cbpy = readCbpy() & 15;
    const unsigned cbpc = m_bits.get(2);
    const unsigned pattern = (cbpc & 3) | (cbpy << 2);
    for (int b = 0; b < 6; ++b) {
        if (!(pattern & (32u >> b))) continue;
        int16_t* block = m_macroblock.data() + 64 * b;
        std::fill(block, block + 64, int16_t(0));
        if (!readCoefficients(block, 0, m_interQuantiser)) return false;
        legacy::inverseDct(block);
    }
    // The residual goes onto the macroblock's samples; blocks without coefficients add nothing.
    const int column = index % m_mbColumns;
    const int row = index / m_mbColumns;
    for (int b = 0; b < 6; ++b)
        if (pattern & (32u >> b)) writeBlock(column, row, b, legacy::BlockWrite::Add);
    return true;
}

void LegacyDecoder::writeBlock(int column, int row, int b, legacy::BlockWrite kind) {
    const int16_t* block = m_macroblock.data() + 64 * b;
    if (b < 4)
        legacy::writeBlock(lumaAt(column * 16 + (b & 1) * 8, row * 16 + (b >> 1) * 8),
                           size_t(m_width), block, kind);
    else
        legacy::writeBlock(chromaAt(b - 4, column * 8, row * 8), size_t(m_width / 2), block, kind);
}

void LegacyDecoder::writeMacroblock(int index) {
    const int column = index % m_mbColumns;
    const int row = index / m_mbColumns;
    for (int b = 0; b < 6; ++b) writeBlock(column, row, b, legacy::BlockWrite::Put);
}

void LegacyDecoder::output(LegacyDecodeResult& result, uint8_t* destination, size_t destinationBytes) {
    int width = m_width;
    const int height = m_height;
    const uint8_t* source = m_planes.data();
    if (m_variant == kVariantDoubled) {
        const int chromaWidth = m_width / 2;
        const int chromaHeight = m_height / 2;
        width = 2 * m_width;
        uint8_t* out = m_upscaled.data();
        for (int y = 0; y < height; ++y, out += width) doubleRow(lumaAt(0, y), m_width, out, width);
        for (int plane = 0; plane < 2; ++plane)
            for (int y = 0; y < chromaHeight; ++y, out += m_width)
                doubleRow(chromaAt(plane, 0, y), chromaWidth, out, m_width);
        source = m_upscaled.data();
        result.width = uint32_t(width);
        result.height = uint32_t(height);
    }
    const size_t bytes = size_t(width) * size_t(height) * 3;
    if (bytes == 0) return;
    if (destination == nullptr || bytes > destinationBytes) {
        m_failure = LegacyFailure::DestinationTooSmall;
        result.error = 1;
        return;
    }
    PlanarYuv420ToBgr(source, destination, ptrdiff_t(width) * 3, width, height, BgrPixelSize::Three);
}

}  // namespace kx
