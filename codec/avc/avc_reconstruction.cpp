// AvcReconstruction: macroblock reconstruction, the in-loop filter and the reference slots.
#include "codec/avc/avc_reconstruction.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "codec/avc/avc_prediction.h"
#include "codec/avc/avc_tables.h"

namespace kx::avc {
namespace {

constexpr int kMaxSize = 1023;  // the header's 10-bit fields

// The kernel path of the inter prediction and the loop filter.
KernelPath rowEdgePath() {
    static const KernelPath path = bestKernelPath();
    return path;
}

void fillBorders(uint8_t* plane, ptrdiff_t stride, int width, int height, int border) {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = plane + (y + border) * stride;
        std::memset(row, row[border], size_t(border));
        std::memset(row + border + width, row[border + width - 1], size_t(border));
    }
    for (int y = 0; y < border; ++y) {
        std::memcpy(plane + y * stride, plane + border * stride, size_t(stride));
        std::memcpy(plane + (border + height + y) * stride, plane + (border + height - 1) * stride,
                    size_t(stride));
    }
}

}  // namespace

bool AvcReconstruction::resize(int width, int height) {
    if (width < 16 || height < 16 || width > kMaxSize || height > kMaxSize) return false;
    if (width == m_width && height == m_height) return true;
    m_width = width;
    m_height = height;
    m_mbColumns = width >> 4;
    m_mbRows = height >> 4;
    const size_t macroblocks = size_t(m_mbColumns) * size_t(m_mbRows);
    m_counts.assign(macroblocks * 24, 0);
    m_info.assign(macroblocks, MbInfo{});
    m_vectors.assign(macroblocks, {0, 0});
    m_colocated.assign(macroblocks, {0, 0});
    for (BorderedPicture& reference : m_references) {
        reference.lumaStride = width + 2 * BorderedPicture::kLumaBorder;
        reference.chromaStride = width / 2 + 2 * BorderedPicture::kChromaBorder;
        reference.y.assign(
            size_t(reference.lumaStride) * size_t(height + 2 * BorderedPicture::kLumaBorder), 128);
        const size_t chroma = size_t(reference.chromaStride) *
                              size_t(height / 2 + 2 * BorderedPicture::kChromaBorder);
        reference.cb.assign(chroma, 128);
        reference.cr.assign(chroma, 128);
    }
    m_referenceCount = 0;
    return true;
}

void AvcReconstruction::beginPicture(int quantiser, int bParameter, bool deblock) {
    assert(quantiser >= 10 && quantiser <= 59);
    m_quantiser = quantiser;
    m_bParameter = bParameter;
    m_deblock = deblock;
    for (int i = 0; i < 16; ++i)
        m_scale[size_t(i)] = levelScale(quantiser % 6, i) << (quantiser / 6);
    m_dcScale = levelScale(quantiser % 6, 0) << (quantiser / 6 - 1);
}

int AvcReconstruction::lumaNc(int column, int row, int x, int y) const {
    const uint8_t* own = m_counts.data() + size_t(row * m_mbColumns + column) * 24;
    int a = -1, b = -1;
    if (x > 0)
        a = own[y * 4 + x - 1];
    else if (column > 0)
        a = own[-24 + y * 4 + 3];
    if (y > 0)
        b = own[(y - 1) * 4 + x];
    else if (row > 0)
        b = own[-24 * m_mbColumns + 12 + x];
    // Both neighbours: the truncating mean (H.264 rounds up here).
    if (a >= 0 && b >= 0) return (a + b) >> 1;
    return a >= 0 ? a : b >= 0 ? b : 0;
}

int AvcReconstruction::chromaNc(int column, int row, int plane, int x, int y) const {
    const uint8_t* own = m_counts.data() + size_t(row * m_mbColumns + column) * 24 + 16 + plane * 4;
    int a = -1, b = -1;
    if (x > 0)
        a = own[y * 2];
    else if (column > 0)
        a = own[-24 + y * 2 + 1];
    if (y > 0)
        b = own[x];
    else if (row > 0)
        b = own[-24 * m_mbColumns + 2 + x];
    if (a >= 0 && b >= 0) return (a + b) >> 1;
    return a >= 0 ? a : b >= 0 ? b : 0;
}

LumaNeighbours AvcReconstruction::lumaNeighbours(int column, int row, int k) const {
    const int bx = kBlockX[k], by = kBlockY[k];
    const int x0 = column * 16 + bx, y0 = row * 16 + by;
    const bool left = column > 0 || bx > 0;
    const bool above = row > 0 || by > 0;
    LumaNeighbours n;
    n.above = above;
    n.left = left;
    if (above) {
        std::memcpy(n.samples + 1, lumaAt(x0, y0 - 1), 4);
        // Above-right as in H.264: from the macroblock row above (for the top-right block
        // only when a macroblock lies above-right), or from a block of this macroblock
        // that comes earlier in coding order; otherwise the last sample above repeats.
        bool aboveRight;
        if (by == 0)
            aboveRight = bx < 12 ? row > 0 : row > 0 && column + 1 < m_mbColumns;
        else
            aboveRight = bx < 12 && kBlockOfRaster[(bx + 4) / 4 + (by - 4)] < k;
        if (aboveRight)
            std::memcpy(n.samples + 5, lumaAt(x0 + 4, y0 - 1), 4);
        else
            std::memset(n.samples + 5, n.samples[4], 4);
    } else {
        // Samples outside the picture read as 128 (only DC predicts without them in a
        // well-formed stream).
        std::memset(n.samples + 1, 128, 8);
    }
    for (int i = 0; i < 4; ++i) n.samples[9 + i] = left ? lumaAt(x0 - 1, y0 + i)[0] : 128;
    n.samples[0] = left && above ? lumaAt(x0 - 1, y0 - 1)[0] : 128;
    return n;
}

ChromaNeighbours AvcReconstruction::chromaNeighbours(int column, int row, int plane) const {
    const int cw = m_width / 2;
    // Samples outside the picture read as 128, as for luma: DC predicts without them, and
    // horizontal, vertical and plane need the sides they use in a well-formed stream.
    ChromaNeighbours n;
    n.hasAbove = row > 0;
    n.hasLeft = column > 0;
    const uint8_t* origin = chromaAt(plane, column * 8, row * 8);
    if (n.hasAbove)
        std::memcpy(n.above, origin - cw, 8);
    else
        std::memset(n.above, 128, 8);
    for (int i = 0; i < 8; ++i) n.left[i] = n.hasLeft ? origin[i * cw - 1] : 128;
    n.aboveLeft = n.hasAbove && n.hasLeft ? origin[-cw - 1] : 128;
    return n;
}

void AvcReconstruction::predictIntra(int column, int row, AvcMacroblock& mb) {
    for (int k = 0; k < 16; ++k) {
        uint8_t* block = lumaAt(column * 16 + kBlockX[k], row * 16 + kBlockY[k]);
        predictLuma4x4(mb.lumaModes[k], lumaNeighbours(column, row, k), block, m_width);
        if (mb.lumaCount[k]) {
            int32_t c[16];
            for (int i = 0; i < 16; ++i) c[i] = dequantise(mb.luma[k][i], m_scale[size_t(i)]);
            addInverseTransform(c, block, m_width);
            std::memset(mb.luma[k], 0, sizeof mb.luma[k]);
        }
    }
    for (int plane = 0; plane < 2; ++plane)
        predictChroma8x8(mb.chromaMode, chromaNeighbours(column, row, plane),
                         chromaAt(plane, column * 8, row * 8), m_width / 2);
}

void AvcReconstruction::addResidual(int column, int row, AvcMacroblock& mb) {
    if (mb.type != MbType::Intra) {
        for (int k = 0; k < 16; ++k) {
            if (!mb.lumaCount[k]) continue;
            int32_t c[16];
            for (int i = 0; i < 16; ++i) c[i] = dequantise(mb.luma[k][i], m_scale[size_t(i)]);
            addInverseTransform(c, lumaAt(column * 16 + kBlockX[k], row * 16 + kBlockY[k]),
                                m_width);
            std::memset(mb.luma[k], 0, sizeof mb.luma[k]);
        }
    }
    if ((mb.cbp >> 4) == 0) return;
    // Chroma as in H.264: the four DC levels of a component through the 2x2 Hadamard transform
    // and the DC scale, each becoming coefficient 0 of its 4x4 block.
    for (int plane = 0; plane < 2; ++plane) {
        int32_t dc[4];
        for (int i = 0; i < 4; ++i) dc[i] = mb.chromaDc[plane][i];
        inverseChromaDc(dc, 1);
        for (int i = 0; i < 4; ++i) dc[i] = dequantise(dc[i], m_dcScale);
        std::memset(mb.chromaDc[plane], 0, sizeof mb.chromaDc[plane]);
        for (int b = 0; b < 4; ++b) {
            int32_t c[16];
            c[0] = dc[b];
            bool any = c[0] != 0;
            if (mb.chromaAcCount[plane][b]) {
                for (int i = 1; i < 16; ++i)
                    c[i] = dequantise(mb.chromaAc[plane][b][i], m_scale[size_t(i)]);
                std::memset(mb.chromaAc[plane][b], 0, sizeof mb.chromaAc[plane][b]);
                any = true;
            } else {
                std::fill(c + 1, c + 16, 0);
            }
            if (any)
                addInverseTransform(
                    c, chromaAt(plane, column * 8 + (b & 1) * 4, row * 8 + (b >> 1) * 4),
                    m_width / 2);
        }
    }
}

void AvcReconstruction::predictInter(int column, int row, int slot, int mvx, int mvy,
                                     const PredictionTarget& out) const {
    const BorderedPicture& ref = m_references[size_t(slot)];
    const int ix = mvx / 2, iy = mvy / 2;
    const int hx = mvx - 2 * ix, hy = mvy - 2 * iy;
    // The six taps reach 3 samples before and 3 after the 16 samples: keep them in the border.
    const int x = std::clamp(column * 16 + ix, -17, m_width + 1);
    const int y = std::clamp(row * 16 + iy, -17, m_height + 1);
    predictLumaInter(ref.lumaAt(x, y), ref.lumaStride, hx, hy, out.luma, out.lumaStride, rowEdgePath());
    // Chroma: half the integer part, and a half step from the luma half flag plus the odd
    // sample the halving dropped (signed like the vector).
    const int cx = hx + ix % 2, cy = hy + iy % 2;
    const int sx = std::clamp(column * 8 + ix / 2 - (cx < 0 ? 1 : 0), -8, m_width / 2 - 1);
    const int sy = std::clamp(row * 8 + iy / 2 - (cy < 0 ? 1 : 0), -8, m_height / 2 - 1);
    for (int plane = 0; plane < 2; ++plane)
        predictChromaInter(ref.chromaAt(plane, sx, sy), ref.chromaStride, cx != 0, cy != 0,
                           out.chroma[plane], out.chromaStride);
}

void AvcReconstruction::directVectors(int column, int row, int& x1, int& y1, int& x2,
                                      int& y2) const {
    const std::array<int8_t, 2> v = m_colocated[size_t(row * m_mbColumns + column)];
    const int s1 = -256 * (m_bParameter + 1) / 3;
    const int s2 = s1 + 256;
    x1 = (s1 * v[0] + 128) >> 8;
    y1 = (s1 * v[1] + 128) >> 8;
    x2 = (s2 * v[0] + 128) >> 8;
    y2 = (s2 * v[1] + 128) >> 8;
}

void AvcReconstruction::predictDirect(int column, int row, const PredictionTarget& out) const {
    int x1, y1, x2, y2;
    directVectors(column, row, x1, y1, x2, y2);
    const BorderedPicture& first = m_references[0];
    const BorderedPicture& second = m_references[1];
    // Integer parts only; the scaled vectors may reach past the border, so positions are held
    // inside it.
    const auto lumaPos = [](int base, int v, int size) {
        return std::clamp(base + v / 2, -20, size + 4);
    };
    const auto chromaPos = [](int base, int v, int size) {
        return std::clamp(base + v / 2 / 2, -8, size);
    };
    averageBlocks(first.lumaAt(lumaPos(column * 16, x1, m_width), lumaPos(row * 16, y1, m_height)),
                  second.lumaAt(lumaPos(column * 16, x2, m_width), lumaPos(row * 16, y2, m_height)),
                  first.lumaStride, 16, out.luma, out.lumaStride);
    for (int plane = 0; plane < 2; ++plane)
        averageBlocks(first.chromaAt(plane, chromaPos(column * 8, x1, m_width / 2),
                                     chromaPos(row * 8, y1, m_height / 2)),
                      second.chromaAt(plane, chromaPos(column * 8, x2, m_width / 2),
                                      chromaPos(row * 8, y2, m_height / 2)),
                      first.chromaStride, 8, out.chroma[plane], out.chromaStride);
}

void AvcReconstruction::reconstruct(int column, int row, AvcMacroblock& mb) {
    assert(m_target && column < m_mbColumns && row < m_mbRows);
    const size_t index = size_t(row * m_mbColumns + column);
    const PredictionTarget here{
        lumaAt(column * 16, row * 16),
        m_width,
        {chromaAt(0, column * 8, row * 8), chromaAt(1, column * 8, row * 8)},
        m_width / 2};
    MbInfo info;
    std::array<int8_t, 2> vector{0, 0};
    switch (mb.type) {
        case MbType::Intra:
            info.intra = true;
            predictIntra(column, row, mb);
            addResidual(column, row, mb);
            break;
        case MbType::Inter:
            predictInter(column, row, mb.refSlot, mb.mvx, mb.mvy, here);
            addResidual(column, row, mb);
            info.ref = mb.refSlot;
            info.motion = motionOf(mb.mvx, mb.mvy);
            vector = {int8_t(mb.mvx), int8_t(mb.mvy)};
            break;
        case MbType::Skip:
            predictInter(column, row, 0, 0, 0, here);
            break;
        case MbType::Direct: {
            predictDirect(column, row, here);
            int x1, y1, x2, y2;
            directVectors(column, row, x1, y1, x2, y2);
            // Both vectors: two direct macroblocks whose vectors into the first slot agree
            // may still differ in the second.
            info.ref = 2;
            info.motion = motionOf(x1, y1, x2, y2);
            break;
        }
    }
    m_info[index] = info;
    m_vectors[index] = vector;
    if (m_deblock) filterEdges(column, row);
}

void AvcReconstruction::filterEdges(int column, int row) {
    const FilterThresholds t = filterThresholds(m_quantiser);
    if (t.alpha == 0) return;
    const size_t index = size_t(row * m_mbColumns + column);
    const MbInfo& own = m_info[index];
    const uint8_t* counts = m_counts.data() + index * 24;
    const auto differ = [](const MbInfo& a, const MbInfo& b) {
        return a.ref != b.ref || a.motion != b.motion;
    };
    // Strengths of the four vertical and four horizontal edges, four segments each: 4 on a
    // macroblock edge with an intra side, 3 inside an intra macroblock, 2 where a side has
    // coefficients, 1 across macroblocks that differ in motion or reference. "Differ in
    // motion" is any difference of the vectors, not H.264's threshold of one whole sample: the
    // strengths are this codec's own rule, only the sample formulas follow H.264. A macroblock
    // edge is 4 when either side is intra, as in H.264.
    uint8_t vertical[4][4] = {}, horizontal[4][4] = {};
    uint32_t coded = 0;  // bit y * 4 + x: the luma block at (x, y) has coefficients
    for (int i = 0; i < 16; ++i) coded |= uint32_t(counts[i] != 0) << i;
    if (own.intra) {
        std::memset(vertical[1], 3, 12);
        std::memset(horizontal[1], 3, 12);
    } else if (coded) {
        for (int e = 1; e < 4; ++e)
            for (int s = 0; s < 4; ++s) {
                vertical[e][s] = (coded >> (s * 4 + e) | coded >> (s * 4 + e - 1)) & 1 ? 2 : 0;
                horizontal[e][s] = (coded >> (e * 4 + s) | coded >> ((e - 1) * 4 + s)) & 1 ? 2 : 0;
            }
    }
    if (column > 0) {
        const MbInfo& left = m_info[index - 1];
        const uint8_t* leftCounts = counts - 24;
        if (own.intra || left.intra) {
            std::memset(vertical[0], 4, 4);
        } else {
            const uint8_t moved = differ(own, left) ? 1 : 0;
            for (int s = 0; s < 4; ++s)
                vertical[0][s] = (counts[s * 4] || leftCounts[s * 4 + 3]) ? 2 : moved;
        }
    }
    if (row > 0) {
        const MbInfo& above = m_info[index - size_t(m_mbColumns)];
        const uint8_t* aboveCounts = counts - 24 * m_mbColumns;
        if (own.intra || above.intra) {
            std::memset(horizontal[0], 4, 4);
        } else {
            const uint8_t moved = differ(own, above) ? 1 : 0;
            for (int s = 0; s < 4; ++s)
                horizontal[0][s] = (counts[s] || aboveCounts[12 + s]) ? 2 : moved;
        }
    }
    // Edges whose four strengths are all 0 change nothing (most edges of a still scene).
    const auto active = [](const uint8_t* strengths) {
        return (strengths[0] | strengths[1] | strengths[2] | strengths[3]) != 0;
    };
    const int cw = m_width / 2;
    for (int e = 0; e < 4; ++e)
        if ((e > 0 || column > 0) && active(vertical[e]))
            filterLumaColumnEdge(lumaAt(column * 16 + 4 * e, row * 16), m_width, vertical[e], t, rowEdgePath());
    for (int e = 0; e < 4; ++e)
        if ((e > 0 || row > 0) && active(horizontal[e]))
            filterLumaRowEdge(lumaAt(column * 16, row * 16 + 4 * e), m_width, horizontal[e], t, rowEdgePath());
    for (int plane = 0; plane < 2; ++plane) {
        for (int e = 0; e < 2; ++e)
            if ((e > 0 || column > 0) && active(vertical[2 * e]))
                filterChromaEdge(chromaAt(plane, column * 8 + 4 * e, row * 8), 1, cw,
                                 vertical[2 * e], t);
        for (int e = 0; e < 2; ++e)
            if ((e > 0 || row > 0) && active(horizontal[2 * e]))
                filterChromaEdge(chromaAt(plane, column * 8, row * 8 + 4 * e), cw, 1,
                                 horizontal[2 * e], t);
    }
}

void AvcReconstruction::storeReference() {
    std::swap(m_references[0], m_references[1]);
    BorderedPicture& ref = m_references[0];
    const int lb = BorderedPicture::kLumaBorder, cb = BorderedPicture::kChromaBorder;
    for (int y = 0; y < m_height; ++y)
        std::memcpy(ref.y.data() + (y + lb) * ref.lumaStride + lb, lumaAt(0, y), size_t(m_width));
    fillBorders(ref.y.data(), ref.lumaStride, m_width, m_height, lb);
    for (int plane = 0; plane < 2; ++plane) {
        uint8_t* dst = (plane == 0 ? ref.cb : ref.cr).data();
        for (int y = 0; y < m_height / 2; ++y)
            std::memcpy(dst + (y + cb) * ref.chromaStride + cb, chromaAt(plane, 0, y),
                        size_t(m_width / 2));
        fillBorders(dst, ref.chromaStride, m_width / 2, m_height / 2, cb);
    }
    m_colocated = m_vectors;
    m_referenceCount = std::min(m_referenceCount + 1, 2);
}

}  // namespace kx::avc
