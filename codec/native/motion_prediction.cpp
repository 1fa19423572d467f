// Padded reference planes and half-sample block prediction.
#include "codec/native/motion_prediction.h"

#include <cassert>
#include <cstring>

#include "codec/video_decoder.h"

namespace kx {
namespace {

// Copies an 8x8 block into a plane at (x, y).
void putBlock(const int16_t* block, int16_t* plane, uint32_t stride, uint32_t x, uint32_t y) {
    for (int row = 0; row < 8; ++row) std::memcpy(plane + (y + row) * stride + x, block + row * 8, 8 * sizeof(int16_t));
}

// Repeats the picture's edge rows and columns into a border of `border` samples.
void fillBorders(int16_t* plane, uint32_t stride, uint32_t height, uint32_t border) {
    const uint32_t innerWidth = stride - 2 * border;
    const uint32_t innerHeight = height - 2 * border;
    const int16_t* firstRow = plane + border * stride + border;
    const int16_t* lastRow = plane + (border + innerHeight - 1) * stride + border;
    for (uint32_t y = 0; y < border; ++y) {
        std::memcpy(plane + y * stride + border, firstRow, innerWidth * sizeof(int16_t));
        std::memcpy(plane + (border + innerHeight + y) * stride + border, lastRow, innerWidth * sizeof(int16_t));
    }
    for (uint32_t y = 0; y < height; ++y) {
        int16_t* row = plane + y * stride;
        const int16_t left = row[border];
        const int16_t right = row[border + innerWidth - 1];
        for (uint32_t x = 0; x < border; ++x) {
            row[x] = left;
            row[border + innerWidth + x] = right;
        }
    }
}

// Predicts an 8x8 block from `source` (the top-left sample of the area) with half steps. One
// loop per kind of step, with no aliasing between source and output, so the compiler vectorises
// each.
template <bool HalfX, bool HalfY>
void predictBlockWith(const int16_t* __restrict source, uint32_t stride, int16_t* __restrict output) {
    for (int y = 0; y < 8; ++y) {
        const int16_t* a = source + y * stride;
        const int16_t* c = a + stride;
        int16_t* out = output + y * 8;
        for (int x = 0; x < 8; ++x) {
            if constexpr (HalfX && HalfY)
                out[x] = int16_t(((a[x] + a[x + 1] + 1) / 2 + (c[x] + c[x + 1] + 1) / 2) / 2);
            else if constexpr (HalfX)
                out[x] = int16_t((a[x] + a[x + 1] + 1) / 2);
            else if constexpr (HalfY)
                out[x] = int16_t((a[x] + c[x] + 1) / 2);
            else
                out[x] = a[x];
        }
    }
}

void predictBlock(const int16_t* source, uint32_t stride, bool halfX, bool halfY, int16_t* output) {
    if (halfX && halfY)
        predictBlockWith<true, true>(source, stride, output);
    else if (halfX)
        predictBlockWith<true, false>(source, stride, output);
    else if (halfY)
        predictBlockWith<false, true>(source, stride, output);
    else
        predictBlockWith<false, false>(source, stride, output);
}

}  // namespace

void PaddedReference::resize(uint32_t mbColumns, uint32_t mbRows) {
    if (mbColumns == m_mbColumns && mbRows == m_mbRows && !m_luma.empty()) return;
    m_mbColumns = mbColumns;
    m_mbRows = mbRows;
    m_lumaStride = (mbColumns + 2) * 16;
    m_chromaStride = (mbColumns + 2) * 8;
    m_luma.assign(size_t(m_lumaStride) * (mbRows + 2) * 16, 0);
    m_cb.assign(size_t(m_chromaStride) * (mbRows + 2) * 8, 0);
    m_cr.assign(m_cb.size(), 0);
}

void PaddedReference::refresh(const MacroblockPicture& picture, const uint8_t* changed) {
    assert(picture.mbColumns() == m_mbColumns && picture.mbRows() == m_mbRows);
    constexpr size_t kBlock = MacroblockPicture::kBlockSamples;
    for (uint32_t r = 0; r < m_mbRows; ++r) {
        for (uint32_t c = 0; c < m_mbColumns; ++c) {
            if (changed != nullptr && !changed[r * m_mbColumns + c]) continue;
            const int16_t* mb = picture.macroblock(r * m_mbColumns + c);
            const uint32_t x = (c + 1) * 16;
            const uint32_t y = (r + 1) * 16;
            putBlock(mb, m_luma.data(), m_lumaStride, x, y);
            putBlock(mb + kBlock, m_luma.data(), m_lumaStride, x + 8, y);
            putBlock(mb + 2 * kBlock, m_luma.data(), m_lumaStride, x, y + 8);
            putBlock(mb + 3 * kBlock, m_luma.data(), m_lumaStride, x + 8, y + 8);
            putBlock(mb + 4 * kBlock, m_cb.data(), m_chromaStride, (c + 1) * 8, (r + 1) * 8);
            putBlock(mb + 5 * kBlock, m_cr.data(), m_chromaStride, (c + 1) * 8, (r + 1) * 8);
        }
    }
    fillBorders(m_luma.data(), m_lumaStride, (m_mbRows + 2) * 16, 16);
    fillBorders(m_cb.data(), m_chromaStride, (m_mbRows + 2) * 8, 8);
    fillBorders(m_cr.data(), m_chromaStride, (m_mbRows + 2) * 8, 8);
}

void PaddedReference::predict(uint32_t column, uint32_t row, int vx, int vy, int16_t* output) const {
    // The vector range keeps every sample read (with its half-step neighbour) inside the planes.
    assert(vx >= kMinVector && vx <= kMaxVector && vy >= kMinVector && vy <= kMaxVector);
    assert(column < m_mbColumns && row < m_mbRows);
    constexpr size_t kBlock = MacroblockPicture::kBlockSamples;
    const bool halfX = (vx & 1) != 0;
    const bool halfY = (vy & 1) != 0;
    const int16_t* luma = m_luma.data() + ptrdiff_t((row + 1) * 16 + (vy >> 1)) * m_lumaStride +
                          ptrdiff_t((column + 1) * 16) + (vx >> 1);
    predictBlock(luma, m_lumaStride, halfX, halfY, output);
    predictBlock(luma + 8, m_lumaStride, halfX, halfY, output + kBlock);
    predictBlock(luma + 8 * m_lumaStride, m_lumaStride, halfX, halfY, output + 2 * kBlock);
    predictBlock(luma + 8 * m_lumaStride + 8, m_lumaStride, halfX, halfY, output + 3 * kBlock);

    const bool chromaHalfX = (vx & 3) != 0;
    const bool chromaHalfY = (vy & 3) != 0;
    const ptrdiff_t chromaOffset =
        ptrdiff_t((row + 1) * 8 + (vy >> 2)) * m_chromaStride + ptrdiff_t((column + 1) * 8) + (vx >> 2);
    predictBlock(m_cb.data() + chromaOffset, m_chromaStride, chromaHalfX, chromaHalfY, output + 4 * kBlock);
    predictBlock(m_cr.data() + chromaOffset, m_chromaStride, chromaHalfX, chromaHalfY, output + 5 * kBlock);
}

}  // namespace kx
