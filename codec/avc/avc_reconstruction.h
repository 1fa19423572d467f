// AvcReconstruction: the picture-level state of the avc codec that the decoder and the
// recorder's encoder share (geometry, dequantisation scales, the two bordered reference
// slots, per-macroblock coefficient counts, types and vectors) and the reconstruction of one
// macroblock from its syntax: prediction, residual and the in-loop filter of its edges.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/avc/avc_prediction.h"

namespace kx::avc {

enum class MbType : uint8_t { Intra, Inter, Skip, Direct };

// The syntax of one macroblock as read from (or written to) the stream. Coefficient levels
// are in raster order within their 4x4 block; luma blocks in coding order. reconstruct()
// leaves every level array zero again, so one object serves a whole picture.
struct AvcMacroblock {
    MbType type = MbType::Intra;
    uint8_t lumaModes[16] = {};  // coding order
    uint8_t chromaMode = 0;
    uint8_t refSlot = 0;  // inter: 0 the first reference slot, 1 the second
    int mvx = 0;          // half samples, -32..31
    int mvy = 0;
    uint8_t cbp = 0;             // luma 8x8 quadrants in bits 0 to 3, chroma 0..2 in bits 4 and 5
    uint8_t lumaCount[16] = {};  // coding order: coefficients coded per block
    uint8_t chromaDcCount[2] = {};
    uint8_t chromaAcCount[2][4] = {};
    int32_t luma[16][16] = {};
    int32_t chromaDc[2][4] = {};
    int32_t chromaAc[2][4][16] = {};  // position 0 is the DC, unused here
};

// A picture with a border of repeated edge samples: 20 luma, 8 chroma on every side.
struct BorderedPicture {
    static constexpr int kLumaBorder = 20;
    static constexpr int kChromaBorder = 8;
    std::vector<uint8_t> y, cb, cr;
    ptrdiff_t lumaStride = 0, chromaStride = 0;
    const uint8_t* lumaAt(int x, int y0) const {
        return y.data() + (ptrdiff_t(y0) + kLumaBorder) * lumaStride + x + kLumaBorder;
    }
    const uint8_t* chromaAt(int plane, int x, int y0) const {
        return (plane == 0 ? cb : cr).data() + (ptrdiff_t(y0) + kChromaBorder) * chromaStride + x +
               kChromaBorder;
    }
};

class AvcReconstruction {
public:
    // Sizes the state for a picture (width, height at least 16 and below 1024); allocates only
    // when the size changes. Returns false when the size is out of range.
    bool resize(int width, int height);
    // Per picture: quantiser 10..59 (the scales), the B parameter, the loop filter switch.
    void beginPicture(int quantiser, int bParameter, bool deblock);
    // The 4:2:0 planar store (width x height luma, then the two chroma planes) written by
    // reconstruct().
    void setTarget(uint8_t* picture) { m_target = picture; }

    int width() const { return m_width; }
    int height() const { return m_height; }
    int mbColumns() const { return m_mbColumns; }
    int mbRows() const { return m_mbRows; }
    int chromaWidth() const { return m_width / 2; }
    int chromaHeight() const { return m_height / 2; }
    size_t pictureBytes() const {
        return size_t(m_width) * size_t(m_height) + 2 * size_t(m_width / 2) * size_t(m_height / 2);
    }
    int quantiser() const { return m_quantiser; }
    int32_t scale(int position) const { return m_scale[size_t(position)]; }
    int32_t dcScale() const { return m_dcScale; }

    // The predicted coefficient count nC of a luma block (raster x, y in 0..3) of the
    // macroblock at (column, row), and of a chroma AC block (plane 0 Cb, 1 Cr; x, y in 0..1),
    // from the counts already stored for this picture: (nA + nB) >> 1 when both neighbours
    // exist, the one that exists, or 0.
    int lumaNc(int column, int row, int x, int y) const;
    int chromaNc(int column, int row, int plane, int x, int y) const;
    // Counts of the macroblock being read: 16 luma (raster), then 4 Cb and 4 Cr (raster).
    uint8_t* counts(int column, int row) {
        return m_counts.data() + size_t(row * m_mbColumns + column) * 24;
    }

    // Predicts, adds the residual, records the macroblock for its neighbours and filters its
    // edges when the picture's loop filter is on. The counts must already be stored (counts()).
    void reconstruct(int column, int row, AvcMacroblock& mb);

    // After the last macroblock of an I or P picture: the previous first slot becomes the
    // second, the picture (with borders) the first, and its vectors the co-located ones
    // (intra and skipped macroblocks (0, 0)). So P pictures, and B pictures of version 4,
    // predict from the newest reference, and a B picture of version 3 has the newest (the
    // picture shown after it) in the first slot and the one before in the second, matching
    // the direct vectors: the first scaled by s1 <= 0, the second by s2 >= 0 (for B
    // parameters 0 to 2). The slots swap in every version: which picture each slot holds is
    // this codec's choice, and one order for both versions keeps P pictures alike.
    void storeReference();
    bool hasReference() const { return m_referenceCount > 0; }
    void forgetReferences() { m_referenceCount = 0; }

    // Prediction sources, also used by the encoder's search.
    const BorderedPicture& reference(int slot) const { return m_references[size_t(slot)]; }
    // Where a macroblock's predictions go: a 16x16 luma block and two 8x8 chroma blocks.
    struct PredictionTarget {
        uint8_t* luma;
        ptrdiff_t lumaStride;
        uint8_t* chroma[2];
        ptrdiff_t chromaStride;
    };
    // The prediction of an inter macroblock at (column, row) with vector (mvx, mvy) from
    // `slot`. Positions are clamped to the bordered reference, which never moves a vector of
    // -32..31 half samples.
    void predictInter(int column, int row, int slot, int mvx, int mvy,
                      const PredictionTarget& out) const;
    // The direct macroblock's prediction from the co-located vector and the B parameter.
    void predictDirect(int column, int row, const PredictionTarget& out) const;
    // The vectors of a direct macroblock into the first and second slot, in half samples.
    void directVectors(int column, int row, int& x1, int& y1, int& x2, int& y2) const;

    // The intra neighbours of luma block k (coding order) and of a chroma plane's 8x8 block, as
    // the picture holds them now: outside samples 128, missing above-right samples repeated.
    LumaNeighbours lumaNeighbours(int column, int row, int k) const;
    ChromaNeighbours chromaNeighbours(int column, int row, int plane) const;
    uint8_t* lumaAt(int x, int y) const { return m_target + ptrdiff_t(y) * m_width + x; }
    uint8_t* chromaAt(int plane, int x, int y) const {
        return m_target + size_t(m_width) * m_height +
               size_t(plane) * size_t(m_width / 2) * (m_height / 2) + ptrdiff_t(y) * (m_width / 2) +
               x;
    }

private:
    // What the loop filter compares across a macroblock edge: intra or not, the reference
    // (0, 1, or 2 for both, direct) and the vector into each (half samples; a direct
    // macroblock has one into each slot, the others only the first), packed by motionOf into
    // one word so that it is written and compared whole.
    struct MbInfo {
        bool intra = false;
        uint8_t ref = 0;
        uint64_t motion = 0;
    };
    static uint64_t motionOf(int x1, int y1, int x2 = 0, int y2 = 0) {
        return uint64_t(uint16_t(x1)) | uint64_t(uint16_t(y1)) << 16 | uint64_t(uint16_t(x2)) << 32 |
               uint64_t(uint16_t(y2)) << 48;
    }

    void predictIntra(int column, int row, AvcMacroblock& mb);
    void addResidual(int column, int row, AvcMacroblock& mb);
    void filterEdges(int column, int row);

    int m_width = 0, m_height = 0, m_mbColumns = 0, m_mbRows = 0;
    int m_quantiser = 0, m_bParameter = 0;
    bool m_deblock = false;
    std::array<int32_t, 16> m_scale{};
    int32_t m_dcScale = 0;
    uint8_t* m_target = nullptr;
    std::vector<uint8_t> m_counts;  // 24 per macroblock
    std::vector<MbInfo> m_info;
    std::vector<std::array<int8_t, 2>> m_vectors;    // of the picture being made
    std::vector<std::array<int8_t, 2>> m_colocated;  // of the picture in the first slot
    std::array<BorderedPicture, 2> m_references;
    int m_referenceCount = 0;
};

}  // namespace kx::avc
