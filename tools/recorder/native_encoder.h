// NativeEncoder: writes the recorders' own DCT codec, codec 0 (intra pictures and inter
// pictures without motion) and codec 1 (one half-sample motion vector per macroblock, and the
// choice of inverse DCT by frame flag 0x4000). One object per stream: it keeps the reference
// picture the decoder will hold, reconstructed with the decoder's exact arithmetic, so that
// every inter picture predicts from what the player shows. Used by the recorder on one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/recorder/bit_writer.h"
#include "tools/recorder/macroblock_levels.h"
#include "tools/recorder/native_encoder_picture.h"
#include "tools/recorder/native_encoder_transform.h"
#include "tools/recorder/yuv_image.h"

namespace kx {

struct NativeEncoderSettings {
    static constexpr int kDefaultQuantiser = 6;

    int quantiser = kDefaultQuantiser;  // 1..31, for intra and inter pictures alike
    NativeIdct idct = NativeIdct::A;    // B only in codec 1, where it sets frame flag 0x4000
};

// The encoder reads a picture through a YuvPictureView (yuv_image.h): a luma plane of its width
// x height and two chroma planes of ((width + 1) / 2) x ((height + 1) / 2). This is the view of a
// recorder picture; its width and height are even, so its chroma planes have that size.
YuvPictureView pictureView(const YuvImage& image);

enum class PictureChoice { Key, Predicted };

struct EncodedPicture {
    std::span<const uint8_t> bytes;  // valid until the next encode
    uint16_t kind = 0;               // frame kind: 0 key (intra) picture, 1 inter picture
    uint16_t flags = 0;              // frame flags: the codec in bits 4 to 7, and 0x4000 for IDCT B
};

// What the last picture was made of, in macroblocks and 8x8 blocks.
struct NativePictureStatistics {
    bool intra = false;
    bool unchanged = false;  // written as the three-byte "picture unchanged" picture
    int intraMacroblocks = 0;
    int interMacroblocks = 0;      // prediction plus residual
    int predictedMacroblocks = 0;  // prediction only, with a nonzero vector (codec 1)
    int notCodedMacroblocks = 0;
    int codedBlocks = 0;  // blocks with coefficients beyond an intra DC
};

class NativeEncoder {
public:
    // `codec` is 0 or 1; width and height are 1..1023 pixels.
    NativeEncoder(int codec, int width, int height, NativeEncoderSettings settings = {});

    // Encodes one picture. A predicted picture before any key picture is encoded as a key
    // picture. No allocation happens here.
    EncodedPicture encode(const YuvPictureView& picture, PictureChoice choice);

    // The reconstruction, (mb columns x 16) x (mb rows x 16) luma and half that chroma:
    // the unfiltered picture the next inter picture predicts from (the decoder's current
    // picture), and the deblocked picture the player shows (its samples may leave 0..255).
    PlaneView<uint8_t> referencePlane(int plane) const;
    PlaneView<int16_t> outputPlane(int plane) const;

    const NativePictureStatistics& statistics() const { return m_statistics; }
    // Codec 1: the vectors of the last inter picture, one per macroblock in raster order.
    const std::vector<HalfSampleVector>& vectors() const { return m_vectors; }

    int codec() const { return m_codec; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int mbColumns() const { return m_mbColumns; }
    int mbRows() const { return m_mbRows; }
    uint16_t frameFlags() const;

private:
    using MacroblockLevels = native_encoding::MacroblockLevels;

    void copySource(const YuvPictureView& picture);
    void encodeIntraPicture();
    bool encodeInterPicture();  // false when nothing changed
    void writeUnchangedPicture();
    void commitPicture(int quantiser);

    YuvPictureView sourceMacroblock(int column, int row) const;
    YuvPictureView predictionMacroblock() const;
    void reconstructIntra(int column, int row, const MacroblockLevels& levels);
    void reconstructInter(int column, int row, const MacroblockLevels& levels);
    void copyReferenceMacroblock(int column, int row);
    HalfSampleVector vectorPredictor(int column, int row) const;

    const uint8_t* sourceAt(int plane, int x, int y) const {
        return m_source[size_t(plane)].data() + ptrdiff_t(y) * m_sourceStride[size_t(plane)] + x;
    }

    int m_codec;
    int m_width;
    int m_height;
    int m_mbColumns;
    int m_mbRows;
    NativeEncoderSettings m_settings;
    bool m_hasReference = false;

    BitWriter m_bits;
    std::array<std::vector<uint8_t>, 3> m_source;  // the input, repeated out to whole macroblocks
    std::array<ptrdiff_t, 3> m_sourceStride{};
    std::array<native_encoding::PaddedPlane, 3> m_reference;  // the decoder's current picture
    std::array<native_encoding::PaddedPlane, 3> m_current;    // the picture being encoded
    std::vector<uint8_t> m_coded;         // per macroblock: decoded from data in the last picture
    std::vector<uint8_t> m_pictureCoded;  // the same, for the picture being encoded
    int m_quantiser = 0;                  // of the last picture, for its deblocking
    std::vector<HalfSampleVector> m_vectors;
    NativePictureStatistics m_statistics;

    // The deblocked picture, made when asked for after a picture changed.
    mutable std::array<std::vector<int16_t>, 3> m_output;
    mutable bool m_outputStale = true;

    // Per macroblock scratch.
    alignas(16) std::array<uint8_t, 256> m_predictionLuma{};
    alignas(16) std::array<std::array<uint8_t, 64>, 2> m_predictionChroma{};
};

}  // namespace kx
