// AvcEncoder: writes the avc codec (codec 4) with the tools the decoder reads: I pictures of
// 4x4 intra blocks (all nine luma and four chroma modes), P pictures with one half-sample
// vector per macroblock from a motion search, intra and (version 4) skipped macroblocks, and B
// pictures of both version families (version 3 with both reference slots and direct
// macroblocks). Decisions weigh distortion against rate: the motion search by SAD (whole
// samples) and SATD (half samples) plus lambda_motion x vector bits, intra modes and macroblock
// types by the squared error of the reconstruction plus lambda x the bits actually coded. It
// reconstructs every picture through the decoder's own AvcReconstruction, so its pictures are
// the decoder's bit for bit. One object per stream, used on one thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/avc/avc_reconstruction.h"
#include "codec/kernel_path.h"
#include "tools/recorder/bit_writer.h"
#include "tools/recorder/yuv_image.h"

namespace kx {

struct AvcEncoderSettings {
    int quantiser = 28;   // 10..59
    int version = 4;      // 3 or 4
    bool deblock = true;  // whether the player filters (normal playback does)
};

enum class AvcPictureType { I = 0, P = 1, B = 2 };

// One picture of a group in coded order: which source picture (counted from the group's
// first) it codes, as which type, with which B parameter.
struct AvcCodedPicture {
    int source = 0;
    AvcPictureType type = AvcPictureType::I;
    int bParameter = 0;
};
// The coded order of a group of `count` pictures with up to `bFrames` B pictures between
// references: the I picture, then for each run the reference after it, then its B pictures.
std::vector<AvcCodedPicture> avcCodedOrder(int count, int bFrames);

// What the last picture was made of.
struct AvcPictureStatistics {
    int intra = 0, inter = 0, skipped = 0, direct = 0, secondSlot = 0;
    std::array<int, 9> lumaModes{};
    std::array<int, 4> chromaModes{};
    std::array<int, 5> tokenTables{};  // coded blocks by nC class: chroma DC, 0-1, 2-3, 4-7, 8+
    int halfSampleVectors = 0;
};

class AvcEncoder {
public:
    // Width and height 16..1023 (the macroblocks cover (width >> 4) x (height >> 4)).
    AvcEncoder(int width, int height, AvcEncoderSettings settings = {});

    // Encodes one picture; a P or B picture before any I picture is coded as I. `bParameter`
    // (0..3) places a version-3 B picture between its references for direct macroblocks:
    // 1 a third of the way from the earlier reference, 0 two thirds. No allocation here.
    std::span<const uint8_t> encode(const YuvPictureView& picture, AvcPictureType type,
                                    int bParameter = 0);

    // The B parameter of a version-3 B picture `position` pictures after the earlier reference
    // of a run of `span` (the later reference at `span`): the third nearest its place.
    static int bParameterFor(int position, int span);

    // The last picture as the decoder reconstructs it: 4:2:0 planar, width x height luma then
    // the two chroma planes.
    const std::vector<uint8_t>& reconstruction() const { return m_picture; }
    const AvcPictureStatistics& statistics() const { return m_statistics; }
    AvcPictureType lastType() const { return m_lastType; }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    struct Candidate {
        int slot = 0, mvx = 0, mvy = 0;
        uint32_t cost = 0;  // distortion + lambda_motion x vector bits
        uint32_t sad = 0;   // of the luma prediction
    };

    void copySource(const YuvPictureView& picture);
    // Chooses the modes and levels of an intra macroblock into m_mb, leaving its luma
    // reconstructed in the picture; returns its squared error (luma and chroma).
    uint64_t encodeIntra(int column, int row);
    void countIntra();
    Candidate search(int column, int row, int slot);
    uint32_t motionCost(int column, int row, int slot, int mvx, int mvy, bool hadamard);
    uint32_t intraEstimate(int column, int row) const;
    // Predicts an inter macroblock into m_prediction*, quantises its residual into m_mb and
    // returns the rate-distortion cost of coding it with `typeBits` bits of macroblock type.
    double interCost(int column, int row, int slot, int mvx, int mvy, int typeBits);
    // Quantises the residual of the prediction in m_prediction* into m_mb and sets the pattern.
    void quantiseInter(int column, int row);
    void quantiseChroma(int column, int row, const uint8_t* cb, const uint8_t* cr, bool intra);
    // Squared error against the source of the prediction in m_prediction* plus the residual
    // in m_mb, as the decoder will add it (luma, then chroma only).
    uint64_t interDistortion(int column, int row) const;
    uint64_t chromaDistortion(int column, int row, const uint8_t* cb, const uint8_t* cr) const;
    // Squared error against the source of a 16x16 luma and two 8x8 chroma blocks.
    uint64_t predictionDistortion(int column, int row, const uint8_t* luma,
                                  const uint8_t* const chroma[2]) const;

    // The syntax writers serve both the stream (BitWriter) and trial counts (BitCounter).
    template <class Sink>
    void writeIntraSyntax(Sink& out, int column, int row);
    template <class Sink>
    void writeInterSyntax(Sink& out, int column, int row);
    template <class Sink>
    void writeResidual(Sink& out, int column, int row);
    template <class Sink>
    void writeBlock(Sink& out, int nC, const int32_t* levels, const uint8_t* scan, int first,
                    int maxCoefficients);

    const uint8_t* sourceLuma(int x, int y) const { return m_source[0].data() + y * m_width + x; }
    const uint8_t* sourceChroma(int plane, int x, int y) const {
        return m_source[size_t(1 + plane)].data() + y * (m_width / 2) + x;
    }

    int m_width, m_height;
    AvcEncoderSettings m_settings;
    avc::AvcReconstruction m_rec;
    avc::AvcMacroblock m_mb;
    BitWriter m_bits;
    std::array<std::vector<uint8_t>, 3> m_source;
    std::vector<uint8_t> m_picture;
    AvcPictureType m_type = AvcPictureType::I;
    AvcPictureType m_lastType = AvcPictureType::I;
    bool m_hasReference = false;
    int m_references = 0;
    AvcPictureStatistics m_statistics;
    std::array<uint8_t, 48> m_intraCodeOf{}, m_interCodeOf{};
    double m_lambda = 0;            // for squared error: 0.85 x 2^((q - 12) / 3)
    uint32_t m_lambdaMotion16 = 0;  // sqrt(m_lambda) x 16, for SAD and SATD
    // The vector each search found, per slot and macroblock: starts for its neighbours' search.
    std::vector<std::array<int8_t, 2>> m_searchVectors;
    avc::AvcMacroblock m_kept;  // the best macroblock so far while another is tried
    KernelPath m_kernelPath = KernelPath::Plain;  // of the search's half-sample prediction
    alignas(16) uint8_t m_predictionLuma[256];
    alignas(16) uint8_t m_predictionChroma[2][64];
    alignas(16) uint8_t m_trial[256];
    alignas(16) uint8_t m_trialChroma[2][64];
};

}  // namespace kx
