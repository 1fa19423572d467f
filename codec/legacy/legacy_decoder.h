// LegacyDecoder: the decoder of the older recording kinds (.kx, .kxx, .kxq), an earlier form of
// the native codec. It shares that codec's start code, picture types, CBPY and coefficient
// codes, and differs in its picture geometry (whole macroblocks only), its dequantisation and
// inverse DCT, the 16-bit re-alignment of macroblock groups, and its output: three YUV 4:2:0
// planes (the reference pictures) converted straight to packed B, G, R with no deblocking.
// The play engine and kxtool hold it beside the VideoDecoder classes; one object per recording,
// used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/bits/bit_reader.h"
#include "codec/legacy/legacy_transform.h"

namespace kx {

// What one Decode call did, six 32-bit words in this order.
struct LegacyDecodeResult {
    uint32_t error = 0;        // 1 when no picture was decoded (or a picture failed part way)
    uint32_t sizeChanged = 0;  // 1 when an intra picture changed the width or height
    uint32_t width = 0;        // of the picture written (doubled by the 0x20020219 variant)
    uint32_t height = 0;
    uint32_t pictureType = 0;  // 0 or 1 intra, 2 inter
    uint32_t unchanged = 0;    // 1 for an inter picture that carries no change
};

// Why the last Decode reported an error (for the tools; the player does not show it).
enum class LegacyFailure {
    None,
    NotSetUp,
    FrameTooLong,         // more than kDataBytes
    NoStartCode,          // none at bit offsets 0 to 160: nothing written
    PictureTooLarge,      // more samples than the planes hold: nothing written
    BadMacroblock,        // a DC of 128, an invalid coefficient code, a scan position past 63
    DataEndsEarly,        // the frame's data ends inside the macroblocks (read on as zeros)
    DestinationTooSmall,  // the picture was decoded but not written
};
const char* describe(LegacyFailure failure);

class LegacyDecoder {
public:
    // Identification constants given to Setup: the plain decoder, and the variant whose output
    // is doubled horizontally.
    static constexpr uint32_t kVariantPlain = 0x20020114;
    static constexpr uint32_t kVariantDoubled = 0x20020219;
    // The legacy header's version field is the only header field that can hold 0x1000 (the
    // largest version a legacy header may carry); recorders mark the doubled variant with it.
    static constexpr uint32_t kDoubledVersion = 0x1000;
    static uint32_t VariantOfVersion(uint32_t version) {
        return version == kDoubledVersion ? kVariantDoubled : kVariantPlain;
    }

    // The data buffer: longer frames are refused.
    static constexpr size_t kDataBytes = 614400;
    // Samples of the luma plane (640 x 480): pictures of more samples are refused.
    static constexpr size_t kPlaneSamples = 640 * 480;
    // The largest picture Decode writes: a doubled picture of kPlaneSamples luma samples.
    static constexpr size_t kMaxOutputBytes = 2 * kPlaneSamples * 3;

    LegacyDecoder() = default;
    LegacyDecoder(const LegacyDecoder&) = delete;
    LegacyDecoder& operator=(const LegacyDecoder&) = delete;

    // Stores the variant (kVariantPlain or kVariantDoubled) and allocates the planes and the
    // data buffer. False, with nothing allocated, for another variant or when memory runs out.
    bool Setup(uint32_t variant);

    // Decodes one frame's video bytes and writes the picture into `destination` as packed B, G,
    // R, rows of 3 x width bytes, the first decoded macroblock row first. `mode` 0 is the only
    // mode there is; other values are treated as 0. Frames longer than kDataBytes, pictures of
    // more than kPlaneSamples samples, and output larger than `destinationBytes` are refused
    // (error 1, nothing written). A picture that fails part way is still written: the planes
    // hold what was decoded up to the failure.
    void Decode(LegacyDecodeResult& result, const uint8_t* data, uint32_t length, uint8_t* destination,
                size_t destinationBytes, int mode = 0);

    LegacyFailure LastFailure() const { return m_failure; }
    uint32_t Variant() const { return m_variant; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int MacroblockColumns() const { return m_mbColumns; }
    int MacroblockRows() const { return m_mbRows; }
    int IntraQuantiser() const { return m_intraQuantiser; }
    int InterQuantiser() const { return m_interQuantiser; }
    // The reference planes: Y (Width() x Height()), then Cb and Cr (Width() / 2 x Height() / 2),
    // one after the other.
    const uint8_t* Planes() const { return m_planes.data(); }

private:
    bool decodeIntraPicture();
    bool decodeInterPicture();
    // Aligns, reads the group count and runs `macroblock(i)` over the picture's macroblocks,
    // re-aligning before each of the last runs of ten; false as soon as one fails.
    template <class Macroblock>
    bool forEachMacroblock(Macroblock&& macroblock);
    void alignTo16Bits();
    bool readIntraMacroblock(int index, int quantiser);
    bool readInterMacroblock(int index);
    unsigned readCbpy();
    bool readCoefficients(int16_t* block, int start, int quantiser);
    // Puts or adds block b (0 to 3 luma, 4 Cb, 5 Cr) of m_macroblock into the planes.
    void writeBlock(int column, int row, int b, legacy::BlockWrite kind);
    void writeMacroblock(int index);
    void output(LegacyDecodeResult& result, uint8_t* destination, size_t destinationBytes);

    uint8_t* lumaAt(int x, int y) { return m_planes.data() + size_t(y) * size_t(m_width) + size_t(x); }
    uint8_t* chromaAt(int plane, int x, int y) {
        const size_t luma = size_t(m_width) * size_t(m_height);
        const size_t chroma = size_t(m_width / 2) * size_t(m_height / 2);
        return m_planes.data() + luma + size_t(plane) * chroma + size_t(y) * size_t(m_width / 2) + size_t(x);
    }

    int m_height = 0;
    int m_width = 0;
    int m_mbRows = 0;
    int m_mbColumns = 0;
    int m_mbCount = 0;
    int m_intraQuantiser = 0;
    int m_interQuantiser = 0;
    std::vector<uint8_t> m_data;  // kDataBytes and the reader's padding; zero past m_dataLength
    uint32_t m_dataLength = 0;
    BitReader m_bits;
    std::vector<uint8_t> m_planes;     // Y, Cb, Cr of the current size, one after the other
    std::vector<uint8_t> m_upscaled;   // the doubled planes, laid out the same way
    uint32_t m_variant = kVariantPlain;
    LegacyFailure m_failure = LegacyFailure::None;
    // One macroblock: Y0, Y1, Y2, Y3, Cb, Cr, 64 samples each, row-major.
    alignas(32) std::array<int16_t, 6 * 64> m_macroblock{};
};

}  // namespace kx
