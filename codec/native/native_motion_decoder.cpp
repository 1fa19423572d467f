// NativeMotionDecoder: the inter picture of codec 1 and the upkeep of its reference planes.
#include "codec/native/native_motion_decoder.h"

#include <algorithm>

#include "codec/native/h263_tables.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr int wrapVector(int value) {
    if (value > kMaxVector) return value - 64;
    if (value < kMinVector) return value + 64;
    return value;
}

constexpr int median(int a, int b, int c) {
    return a + b + c - std::max({a, b, c}) - std::min({a, b, c});
}

}  // namespace

void NativeMotionDecoder::selectTransform(uint16_t frameFlags) {
    m_idct = (frameFlags & kFrameFlagCodecOption) ? IdctVariant::B : IdctVariant::A;
}

bool NativeMotionDecoder::decodeIntraPicture() {
    if (!readIntraPicture()) return false;
    m_reference.resize(m_current.mbColumns(), m_current.mbRows());
    m_vectors.assign(m_current.macroblockCount(), MotionVector{});
    finishPicture(m_intraQuantiser);
    m_reference.refresh(m_current);
    return true;
}

MotionVector NativeMotionDecoder::predictor(uint32_t column, uint32_t row) const {
    const uint32_t columns = m_current.mbColumns();
    const uint32_t index = row * columns + column;
    const MotionVector left = column > 0 ? m_vectors[index - 1] : MotionVector{};
    if (row == 0) return left;
    const MotionVector above = m_vectors[index - columns];
    const MotionVector aboveRight = column + 1 < columns ? m_vectors[index - columns + 1] : MotionVector{};
    return {median(left.x, above.x, aboveRight.x), median(left.y, above.y, aboveRight.y)};
}

bool NativeMotionDecoder::readVectorDifference(int& difference) {
    const VlcEntry<int8_t> entry = h263::lookupMvd(m_bits.peek(13));
    if (entry.length == 0) return false;
    m_bits.skip(entry.length);
    difference = entry.symbol;
    return true;
}

bool NativeMotionDecoder::decodeInterPicture() {
    if (m_current.empty()) return fail(DecodeFailure::NoReference);
    bool unchanged = false;
    if (!readInterHeader(unchanged)) return false;
    if (unchanged) return true;
    const uint32_t columns = m_current.mbColumns();
    const uint32_t rows = m_current.mbRows();
    // Only the macroblocks this picture writes are copied into the reference planes again. A
    // prediction with the zero vector copies the planes' own samples, so it changes nothing.
    m_changed.assign(m_current.macroblockCount(), 0);
    bool stopped = false;
    for (uint32_t r = 0; r < rows && !stopped; ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t index = r * columns + c;
            const bool moved = m_bits.get(1) != 0;
            MotionVector vector;
            if (moved) {
                const MotionVector predicted = predictor(c, r);
                int dx = 0, dy = 0;
                // A difference outside the table would give a vector outside the planes: the
                // picture's decoding stops here and the rest keeps the previous picture.
                if (!readVectorDifference(dx) || !readVectorDifference(dy)) {
                    stopped = true;
                    break;
                }
                vector = {wrapVector(predicted.x + dx), wrapVector(predicted.y + dy)};
            }
            m_vectors[index] = vector;
            int16_t* mb = m_current.macroblock(index);
            m_changed[index] = vector != MotionVector{};
            if (m_bits.get(1)) {  // no residual
                if (moved) m_reference.predict(c, r, vector.x, vector.y, mb);
            } else if (!moved) {
                readIntraMacroblock(index);
                m_coded[index] = 1;
            } else {
                m_reference.predict(c, r, vector.x, vector.y, m_prediction.data());
                readInterMacroblock(m_prediction.data(), index);
                m_coded[index] = 1;
            }
        }
    }
    // Data that ends early decodes on as zeros (see readIntraPicture); a stop at a vector
    // outside the table leaves the rest as it was. Either way the picture is damaged.
    m_damaged = stopped || m_bits.overrun();
    for (size_t i = 0; i < m_changed.size(); ++i) m_changed[i] |= m_coded[i];
    finishPicture(m_interQuantiser, m_changed.data());
    m_reference.refresh(m_current, m_changed.data());
    return true;
}

}  // namespace kx
