// Reference planes, prediction and deblocking of the native encoder's reconstruction.
#include "tools/recorder/native_encoder_picture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kx::native_encoding {

void PaddedPlane::resize(int width, int height, int border) {
    m_width = width;
    m_height = height;
    m_border = border;
    m_stride = width + 2 * border;
    m_samples.assign(size_t(m_stride) * size_t(height + 2 * border), 0);
}

void PaddedPlane::extendBorders() {
    for (int y = 1; y <= m_border; ++y) {
        std::memcpy(at(0, -y), at(0, 0), size_t(m_width));
        std::memcpy(at(0, m_height - 1 + y), at(0, m_height - 1), size_t(m_width));
    }
    for (int y = -m_border; y < m_height + m_border; ++y) {
        std::memset(at(-m_border, y), *at(0, y), size_t(m_border));
        std::memset(at(m_width, y), *at(m_width - 1, y), size_t(m_border));
    }
}

void predictBlock(const PaddedPlane& reference, int x, int y, bool halfX, bool halfY, int size,
                  uint8_t* out, ptrdiff_t outStride) {
    const ptrdiff_t stride = reference.stride();
    const uint8_t* source = reference.at(x, y);
    for (int row = 0; row < size; ++row, source += stride, out += outStride) {
        const uint8_t* below = source + stride;
        if (!halfX && !halfY) {
            std::memcpy(out, source, size_t(size));
        } else if (halfX && !halfY) {
            for (int i = 0; i < size; ++i) out[i] = uint8_t((source[i] + source[i + 1] + 1) >> 1);
        } else if (!halfX) {
            for (int i = 0; i < size; ++i) out[i] = uint8_t((source[i] + below[i] + 1) >> 1);
        } else {
            for (int i = 0; i < size; ++i) {
                const int upper = (source[i] + source[i + 1] + 1) >> 1;
                const int lower = (below[i] + below[i + 1] + 1) >> 1;
                out[i] = uint8_t((upper + lower) >> 1);
            }
        }
    }
}

void predictMacroblock(const PaddedPlane* reference, int column, int row, HalfSampleVector vector,
                       uint8_t* luma, uint8_t* cb, uint8_t* cr) {
    assert(vector.x >= -32 && vector.x <= 31 && vector.y >= -32 && vector.y <= 31);
    // Arithmetic shifts are floor divisions: the integer part of negative vectors rounds down.
    predictBlock(reference[0], column * 16 + (vector.x >> 1), row * 16 + (vector.y >> 1),
                 (vector.x & 1) != 0, (vector.y & 1) != 0, 16, luma, 16);
    const int chromaX = column * 8 + (vector.x >> 2);
    const int chromaY = row * 8 + (vector.y >> 2);
    const bool halfX = (vector.x & 3) != 0;
    const bool halfY = (vector.y & 3) != 0;
    predictBlock(reference[1], chromaX, chromaY, halfX, halfY, 8, cb, 8);
    predictBlock(reference[2], chromaX, chromaY, halfX, halfY, 8, cr, 8);
}

int deblockStrength(int quantiser) {
    if (quantiser < 3) return 1;
    if (quantiser < 5) return 2;
    if (quantiser < 7) return 3;
    if (quantiser < 10) return 4;
    if (quantiser < 12) return 5;
    if (quantiser < 14) return 6;
    return quantiser / 2;
}

namespace {

// Filters `count` positions of an edge. `edge` is the first sample past the edge at the first
// position; `across` steps over the edge, `along` to the next position.
void filterEdge(int16_t* edge, ptrdiff_t across, ptrdiff_t along, int count, int strength) {
    for (int i = 0; i < count; ++i, edge += along) {
        int16_t& s1 = edge[-2 * across];
        int16_t& s2 = edge[-across];
        int16_t& s3 = edge[0];
        int16_t& s4 = edge[across];
        const int d = ((s3 - s2) + ((s1 - s4) >> 2)) >> 1;
        const int magnitude = std::max(0, std::abs(d) - std::max(0, 2 * (std::abs(d) - strength)));
        const int d1 = d < 0 ? -magnitude : magnitude;
        const int limit = std::abs(d1) / 2;
        const int d2 = std::clamp((s1 - s4) >> 2, -limit, limit);
        s2 = int16_t(s2 + d1);
        s3 = int16_t(s3 - d1);
        s1 = int16_t(s1 - d2);
        s4 = int16_t(s4 + d2);
    }
}

}  // namespace

void deblock(int16_t* const planes[3], const ptrdiff_t strides[3], int mbColumns, int mbRows,
             const std::vector<uint8_t>& coded, int quantiser) {
    assert(coded.size() >= size_t(mbColumns) * size_t(mbRows));
    const int strength = deblockStrength(quantiser);
    const auto isCoded = [&](int column, int row) {
        return coded[size_t(row) * size_t(mbColumns) + size_t(column)] != 0;
    };
    const ptrdiff_t lumaStride = strides[0];

    // Horizontal edges: inside coded macroblocks, and between a macroblock and the one below.
    for (int row = 0; row < mbRows; ++row) {
        for (int column = 0; column < mbColumns; ++column) {
            int16_t* luma = planes[0] + row * 16 * lumaStride + column * 16;
            if (isCoded(column, row))
                filterEdge(luma + 8 * lumaStride, lumaStride, 1, 16, strength);
            if (row + 1 < mbRows && (isCoded(column, row) || isCoded(column, row + 1))) {
                filterEdge(luma + 16 * lumaStride, lumaStride, 1, 16, strength);
                for (int plane = 1; plane < 3; ++plane) {
                    int16_t* chroma = planes[plane] + (row * 8 + 8) * strides[plane] + column * 8;
                    filterEdge(chroma, strides[plane], 1, 8, strength);
                }
            }
        }
    }
    // Vertical edges: inside coded macroblocks, and between a macroblock and the one to the right.
    for (int column = 0; column < mbColumns; ++column) {
        for (int row = 0; row < mbRows; ++row) {
            int16_t* luma = planes[0] + row * 16 * lumaStride + column * 16;
            if (isCoded(column, row)) filterEdge(luma + 8, 1, lumaStride, 16, strength);
            if (column + 1 < mbColumns && (isCoded(column, row) || isCoded(column + 1, row))) {
                filterEdge(luma + 16, 1, lumaStride, 16, strength);
                for (int plane = 1; plane < 3; ++plane) {
                    int16_t* chroma = planes[plane] + row * 8 * strides[plane] + column * 8 + 8;
                    filterEdge(chroma, 1, strides[plane], 8, strength);
                }
            }
        }
    }
}

}  // namespace kx::native_encoding
