// NativeDecoder: the recorders' own DCT codec (codec 0): intra pictures and inter pictures
// without motion, H.263 entropy codes inside a picture syntax of its own, deblocked output.
// The picture and macroblock syntax live here; NativeMotionDecoder (codec 1) builds on them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/bits/bit_reader.h"
#include "codec/native/idct.h"
#include "codec/video_decoder.h"

namespace kx {

// Why the last decode returned false (for the tools; the player does not show it).
enum class DecodeFailure {
    None,
    NoStartCode,
    NoReference,       // an inter picture before any intra picture
    BadSize,           // a width or height of 0, or larger than the decoder's limit
    ZeroQuantiser,     // a quantiser of 0 has no meaning: the picture is refused
    TruncatedHeader,   // the data ended inside the picture header
};
const char* describe(DecodeFailure failure);

class NativeDecoder : public VideoDecoder {
public:
    // Pictures of up to 1023 x 1023 pixels (the 10-bit header fields) decode by default.
    static constexpr uint32_t kMaxMacroblocks = 64 * 64;

    NativeDecoder();

    bool decode(const CRecordFrame& frame) override;
    bool convert(uint8_t* destination) override;
    bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) override;
    uint32_t decodeMacroblock(const int16_t* reference, int16_t* output, unsigned pattern,
                              MacroblockMode mode) override;

    // Decodes a frame's bytes (what decode does with the frame's video buffer).
    bool decodeBytes(const uint8_t* data, size_t size, uint16_t frameFlags);

    // Intra pictures with more macroblocks are refused (fuzzing and untrusted input).
    void setMacroblockLimit(uint32_t macroblocks) { m_macroblockLimit = macroblocks; }

    DecodeFailure lastFailure() const { return m_failure; }
    bool lastPictureDamaged() const override { return m_damaged; }
    std::string failureText() const override { return describe(m_failure); }
    // The output (deblocked) picture and the reference (unfiltered) picture.
    const MacroblockPicture& outputPicture() const { return m_output; }
    const MacroblockPicture& currentPicture() const { return m_current; }
    const std::vector<uint8_t>& codedFlags() const { return m_coded; }
    int intraQuantiser() const { return m_intraQuantiser; }
    int interQuantiser() const { return m_interQuantiser; }

protected:
    enum class PictureType { Intra, Inter };

    // Codec hooks: the inverse DCT for a frame's flags (codec 0 always uses A); the picture
    // after its start code and type were read.
    virtual void selectTransform(uint16_t /*frameFlags*/) {}
    virtual bool decodeIntraPicture();
    virtual bool decodeInterPicture();

    // Starts the reader on the data and finds the picture start code; false when there is none.
    bool findPicture(const uint8_t* data, size_t size, PictureType& type);
    // Intra header and macroblocks into the current picture (sized from the header).
    bool readIntraPicture();
    // Inter header: false when refused; `unchanged` when the picture repeats the previous one.
    bool readInterHeader(bool& unchanged);
    // One intra macroblock of the stream (CBPY, CBPC, blocks) into macroblock `index`.
    void readIntraMacroblock(uint32_t index);
    // One inter macroblock onto `reference` (which may be the macroblock itself).
    void readInterMacroblock(const int16_t* reference, uint32_t index);
    // Copies the current picture into the output picture and deblocks it. `written` (one flag
    // per macroblock) names the macroblocks this picture wrote; null copies them all.
    void finishPicture(int quantiser, const uint8_t* written = nullptr);
    bool fail(DecodeFailure failure) {
        m_failure = failure;
        return false;
    }

    unsigned readCbpy();
    void setQuantiser(int quantiser);
    // Reads the coefficients of one block from scan position `start`, dequantised, into `block`.
    void readCoefficients(int16_t* block, int start);

    BitReader m_bits;
    MacroblockPicture m_current;
    MacroblockPicture m_output;
    std::vector<uint8_t> m_coded;
    IdctVariant m_idct = IdctVariant::A;
    int m_intraQuantiser = 8;
    int m_interQuantiser = 8;
    DecodeFailure m_failure = DecodeFailure::None;
    bool m_damaged = false;  // the last picture decoded ran past its data or stopped early

private:
    std::vector<uint8_t> m_input;  // the frame's bytes followed by zero padding
    std::vector<uint8_t> m_touched;  // per macroblock: the last deblocking may have changed it
    alignas(32) std::array<int16_t, MacroblockPicture::kBlockSamples> m_scratch{};  // one residual block
    std::array<int16_t, 129> m_dequant{};  // dequantised magnitude of each |level|
    uint32_t m_macroblockLimit = kMaxMacroblocks;
};

}  // namespace kx
