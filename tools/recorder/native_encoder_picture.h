// The native encoder's picture stores and the decoder-side operations on them: reference planes
// with repeated borders, half-sample motion-compensated prediction, and the deblocking filter
// of the shown picture. Each follows the decoder's rules exactly.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kx {

// A motion vector in half samples, each component -32..31.
struct HalfSampleVector {
    int x = 0;
    int y = 0;
    bool operator==(const HalfSampleVector&) const = default;
};

// A read-only view of one picture plane.
template <class Sample>
struct PlaneView {
    const Sample* samples = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
    Sample at(int x, int y) const { return samples[y * stride + x]; }
};

namespace native_encoding {

// An 8-bit plane of width x height samples surrounded by a border of `border` samples.
class PaddedPlane {
public:
    void resize(int width, int height, int border);

    int width() const { return m_width; }
    int height() const { return m_height; }
    ptrdiff_t stride() const { return m_stride; }
    // Sample (x, y) of the picture; x and y may reach into the border.
    uint8_t* at(int x, int y) {
        return m_samples.data() + (y + m_border) * m_stride + (x + m_border);
    }
    const uint8_t* at(int x, int y) const {
        return m_samples.data() + (y + m_border) * m_stride + (x + m_border);
    }
    PlaneView<uint8_t> view() const { return {at(0, 0), m_stride, m_width, m_height}; }

    // Repeats the first and last picture rows into the top and bottom borders, then the first
    // and last columns of every row (border rows included) into the side borders.
    void extendBorders();

private:
    std::vector<uint8_t> m_samples;
    ptrdiff_t m_stride = 0;
    int m_width = 0;
    int m_height = 0;
    int m_border = 0;
};

// Predicts a size x size block from `reference` at integer position (x, y) of the picture,
// with half-sample steps where halfX / halfY: rows averaged first, then the two rows, each
// average rounded up, the last truncated.
void predictBlock(const PaddedPlane& reference, int x, int y, bool halfX, bool halfY, int size,
                  uint8_t* out, ptrdiff_t outStride);

// Motion-compensated prediction of macroblock (column, row) into 16x16 luma and two 8x8 chroma
// blocks (row-major, strides 16 and 8).
void predictMacroblock(const PaddedPlane* reference, int column, int row, HalfSampleVector vector,
                       uint8_t* luma, uint8_t* cb, uint8_t* cr);

// Deblocks the planes of a shown picture in place: horizontal edges, then vertical edges, of
// the macroblocks whose `coded` flag (or a neighbour's) is set, with the strength of `quantiser`.
void deblock(int16_t* const planes[3], const ptrdiff_t strides[3], int mbColumns, int mbRows,
             const std::vector<uint8_t>& coded, int quantiser);

// The filter strength of a quantiser.
int deblockStrength(int quantiser);

}  // namespace native_encoding
}  // namespace kx
