// NativeMotionDecoder: the native codec with motion (codec 1). Adds one motion vector per
// macroblock, coded as an H.263 difference from the median of its neighbours, half-sample
// prediction from padded reference planes, and the choice of inverse DCT by frame flag 0x4000.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codec/native/motion_prediction.h"
#include "codec/native/native_decoder.h"

namespace kx {

struct MotionVector {
    int32_t x = 0;  // half samples, -32..31
    int32_t y = 0;
    bool operator==(const MotionVector&) const = default;
};

class NativeMotionDecoder : public NativeDecoder {
public:
    // The vectors of the last inter picture, one per macroblock in raster order.
    const std::vector<MotionVector>& vectors() const { return m_vectors; }
    const PaddedReference& reference() const { return m_reference; }

protected:
    void selectTransform(uint16_t frameFlags) override;
    bool decodeIntraPicture() override;
    bool decodeInterPicture() override;

private:
    MotionVector predictor(uint32_t column, uint32_t row) const;
    // One MVD component; false for a code outside the table.
    bool readVectorDifference(int& difference);

    PaddedReference m_reference;
    std::vector<MotionVector> m_vectors;
    std::vector<uint8_t> m_changed;  // per macroblock: written by the last inter picture
    alignas(32) std::array<int16_t, MacroblockPicture::kMacroblockSamples> m_prediction{};
};

}  // namespace kx
