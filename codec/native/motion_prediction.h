// Motion-compensated prediction of the native codec with motion (codec 1): the reference
// picture kept as raster planes with a border of repeated edge samples (16 for luma, 8 for
// chroma), and half-sample prediction of a macroblock from them.
#pragma once

#include <cstdint>
#include <vector>

namespace kx {

class MacroblockPicture;

// Vectors are in half-sample units, each component within kMinVector..kMaxVector.
constexpr int kMinVector = -32;
constexpr int kMaxVector = 31;

class PaddedReference {
public:
    // Planes for a picture of mbColumns x mbRows macroblocks, allocated again only when the
    // dimensions change.
    void resize(uint32_t mbColumns, uint32_t mbRows);
    // Copies `picture` (of the size given to resize) into the planes and fills the borders.
    // With `changed` (one flag per macroblock in raster order) only the flagged macroblocks are
    // copied: the caller promises the others are as the planes hold them.
    void refresh(const MacroblockPicture& picture, const uint8_t* changed = nullptr);
    // Writes the prediction of macroblock (column, row) with vector (vx, vy) into `output`
    // (a macroblock record of six blocks).
    void predict(uint32_t column, uint32_t row, int vx, int vy, int16_t* output) const;

    uint32_t lumaStride() const { return m_lumaStride; }
    const int16_t* luma() const { return m_luma.data(); }
    const int16_t* cb() const { return m_cb.data(); }
    const int16_t* cr() const { return m_cr.data(); }

private:
    uint32_t m_mbColumns = 0;
    uint32_t m_mbRows = 0;
    uint32_t m_lumaStride = 0;
    uint32_t m_chromaStride = 0;
    std::vector<int16_t> m_luma;
    std::vector<int16_t> m_cb;
    std::vector<int16_t> m_cr;
};

}  // namespace kx
