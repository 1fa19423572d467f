// Picture and macroblock syntax of the native encoder, its mode decisions, and the bookkeeping
// of the reconstruction (reference swap, coded flags, the deblocked picture).
#include "tools/recorder/native_encoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "recording/record_frame.h"
#include "tools/recorder/coefficient_writer.h"
#include "tools/recorder/motion_search.h"
#include "tools/recorder/native_encoder_tables.h"
#include "tools/recorder/picture_header_writer.h"

namespace kx {

using namespace native_encoding;

namespace {

constexpr uint16_t kInterKind = 1;
// The worst macroblock: two mode bits, two 13-bit vector differences, CBPY and CBPC, and six
// blocks of an 8-bit DC and 64 escaped coefficients of 22 bits.
constexpr size_t kMaxMacroblockBytes = (2 + 26 + 6 + 2 + 6 * (8 + 64 * 22)) / 8 + 1;
constexpr size_t kMaxHeaderBytes = 16;
// Intra coding of a macroblock in an inter picture wins when its luma deviation from its own
// mean undercuts the prediction's SAD by this much.
constexpr int kIntraBias = 500;

uint8_t clampSample(int value) {
    return uint8_t(std::clamp(value, 0, 255));
}

}  // namespace

YuvPictureView pictureView(const YuvImage& image) {
    assert(image.width % 2 == 0 && image.height % 2 == 0);
    return {{image.y.data(), image.cb.data(), image.cr.data()},
            {image.width, image.chromaWidth(), image.chromaWidth()}};
}

NativeEncoder::NativeEncoder(int codec, int width, int height, NativeEncoderSettings settings)
    : m_codec(codec),
      m_width(width),
      m_height(height),
      m_mbColumns(((width - 1) >> 4) + 1),
      m_mbRows(((height - 1) >> 4) + 1),
      m_settings(settings),
      m_bits(kMaxHeaderBytes + size_t(m_mbColumns) * size_t(m_mbRows) * kMaxMacroblockBytes) {
    assert(codec == 0 || codec == 1);
    assert(width >= 1 && width <= 1023 && height >= 1 && height <= 1023);
    assert(settings.quantiser >= 1 && settings.quantiser <= kMaxQuantiser);
    // Codec 0 always reconstructs with transform A; asking for B there is a caller's mistake.
    assert(codec == 1 || settings.idct == NativeIdct::A);

    const size_t macroblocks = size_t(m_mbColumns) * size_t(m_mbRows);
    for (int plane = 0; plane < 3; ++plane) {
        const int size = plane == 0 ? 16 : 8;
        const int planeWidth = m_mbColumns * size;
        const int planeHeight = m_mbRows * size;
        m_sourceStride[size_t(plane)] = planeWidth;
        m_source[size_t(plane)].assign(size_t(planeWidth) * size_t(planeHeight), 0);
        m_reference[size_t(plane)].resize(planeWidth, planeHeight, size);
        m_current[size_t(plane)].resize(planeWidth, planeHeight, size);
        m_output[size_t(plane)].assign(size_t(planeWidth) * size_t(planeHeight), 0);
    }
    m_coded.assign(macroblocks, 0);
    m_pictureCoded.assign(macroblocks, 0);
    m_vectors.assign(macroblocks, {});
}

uint16_t NativeEncoder::frameFlags() const {
    uint16_t flags = uint16_t(m_codec << 4);
    if (m_codec == 1 && m_settings.idct == NativeIdct::B) flags |= kFrameFlagCodecOption;
    return flags;
}

EncodedPicture NativeEncoder::encode(const YuvPictureView& picture, PictureChoice choice) {
    copySource(picture);
    m_statistics = {};
    m_bits.reset();
    EncodedPicture result;
    result.flags = frameFlags();
    if (choice == PictureChoice::Key || !m_hasReference) {
        encodeIntraPicture();
        result.kind = kFrameKindKey;
    } else {
        if (!encodeInterPicture()) writeUnchangedPicture();
        result.kind = kInterKind;
    }
    m_bits.padToByte();
    result.bytes = m_bits.bytes();
    return result;
}

void NativeEncoder::copySource(const YuvPictureView& picture) {
    for (int plane = 0; plane < 3; ++plane) {
        const size_t p = size_t(plane);
        assert(picture.planes[p] != nullptr);
        const int inWidth = plane == 0 ? m_width : (m_width + 1) / 2;
        const int inHeight = plane == 0 ? m_height : (m_height + 1) / 2;
        const int outWidth = int(m_sourceStride[p]);
        const int outHeight = plane == 0 ? m_mbRows * 16 : m_mbRows * 8;
        for (int y = 0; y < outHeight; ++y) {
            const uint8_t* in =
                picture.planes[p] + ptrdiff_t(std::min(y, inHeight - 1)) * picture.strides[p];
            uint8_t* out = m_source[p].data() + ptrdiff_t(y) * outWidth;
            std::memcpy(out, in, size_t(inWidth));
            std::memset(out + inWidth, in[inWidth - 1], size_t(outWidth - inWidth));
        }
    }
}

void NativeEncoder::encodeIntraPicture() {
    const int quantiser = m_settings.quantiser;
    writeIntraPictureHeader(m_bits, m_width, m_height, quantiser, 0);

    m_statistics.intra = true;
    MacroblockLevels levels;
    for (int row = 0; row < m_mbRows; ++row) {
        for (int column = 0; column < m_mbColumns; ++column) {
            quantiseIntraMacroblock(sourceMacroblock(column, row), quantiser, levels);
            m_statistics.codedBlocks += writeIntraMacroblock(m_bits, levels);
            reconstructIntra(column, row, levels);
            ++m_statistics.intraMacroblocks;
        }
    }
    std::fill(m_pictureCoded.begin(), m_pictureCoded.end(), 1);
    commitPicture(quantiser);
}

bool NativeEncoder::encodeInterPicture() {
    const int quantiser = m_settings.quantiser;
    writeInterPictureHeader(m_bits, quantiser, 0);

    bool changed = false;
    MacroblockLevels levels;
    std::fill(m_vectors.begin(), m_vectors.end(), HalfSampleVector{});
    for (int row = 0; row < m_mbRows; ++row) {
        for (int column = 0; column < m_mbColumns; ++column) {
            const size_t index = size_t(row) * size_t(m_mbColumns) + size_t(column);
            const uint8_t* source = sourceAt(0, column * 16, row * 16);
            HalfSampleVector vector;
            HalfSampleVector predictor;
            int sad = 0;
            if (m_codec == 1) {
                predictor = vectorPredictor(column, row);
                std::array<HalfSampleVector, 3> candidates{};
                size_t count = 0;
                if (column > 0) candidates[count++] = m_vectors[index - 1];
                if (row > 0) candidates[count++] = m_vectors[index - size_t(m_mbColumns)];
                if (row > 0 && column + 1 < m_mbColumns)
                    candidates[count++] = m_vectors[index - size_t(m_mbColumns) + 1];
                const MotionSearchResult found =
                    searchMotion(source, m_sourceStride[0], m_reference[0], column, row, predictor,
                                 {candidates.data(), count}, quantiser);
                vector = found.vector;
                sad = found.sad;
            } else {
                sad = sad16(source, m_sourceStride[0], m_reference[0].at(column * 16, row * 16),
                            m_reference[0].stride());
            }

            if (intraDeviation(source, m_sourceStride[0]) + kIntraBias < sad) {
                // Intra macroblock: codec 0 "coded, intra"; codec 1 "no vector, residual".
                m_bits.put(0, 2);
                quantiseIntraMacroblock(sourceMacroblock(column, row), quantiser, levels);
                m_statistics.codedBlocks += writeIntraMacroblock(m_bits, levels);
                reconstructIntra(column, row, levels);
                m_pictureCoded[index] = 1;
                ++m_statistics.intraMacroblocks;
                changed = true;
                continue;
            }

            predictMacroblock(m_reference.data(), column, row, vector, m_predictionLuma.data(),
                              m_predictionChroma[0].data(), m_predictionChroma[1].data());
            quantiseInterMacroblock(sourceMacroblock(column, row), predictionMacroblock(),
                                    quantiser, interDeadZone(quantiser), levels);
            const bool moved = vector != HalfSampleVector{};
            if (levels.pattern == 0 && !moved) {
                m_bits.put(1, m_codec == 1 ? 2 : 1);  // codec 1: no vector (0), no residual (1)
                copyReferenceMacroblock(column, row);
                m_pictureCoded[index] = 0;
                ++m_statistics.notCodedMacroblocks;
                continue;
            }
            changed = true;
            if (m_codec == 1) {
                m_vectors[index] = vector;
                const VlcCode codeX = mvdCode(wrapDifference(vector.x - predictor.x));
                const VlcCode codeY = mvdCode(wrapDifference(vector.y - predictor.y));
                m_bits.put(1, 1);
                m_bits.put(codeX.code, codeX.length);
                m_bits.put(codeY.code, codeY.length);
                m_bits.put(levels.pattern == 0 ? 1 : 0, 1);
            } else {
                m_bits.put(1, 2);  // coded, inter
            }
            if (levels.pattern == 0) {
                reconstructInter(column, row, levels);
                m_pictureCoded[index] = 0;
                ++m_statistics.predictedMacroblocks;
                continue;
            }
            m_statistics.codedBlocks += writeInterMacroblock(m_bits, levels);
            reconstructInter(column, row, levels);
            m_pictureCoded[index] = 1;
            ++m_statistics.interMacroblocks;
        }
    }
    if (changed) commitPicture(quantiser);
    return changed;
}

void NativeEncoder::writeUnchangedPicture() {
    m_bits.reset();
    native_encoding::writeUnchangedPicture(m_bits);
    m_statistics = {};
    m_statistics.unchanged = true;
    m_statistics.notCodedMacroblocks = m_mbColumns * m_mbRows;
}

void NativeEncoder::commitPicture(int quantiser) {
    for (size_t plane = 0; plane < 3; ++plane) {
        std::swap(m_reference[plane], m_current[plane]);
        m_reference[plane].extendBorders();
    }
    std::swap(m_coded, m_pictureCoded);
    m_quantiser = quantiser;
    m_hasReference = true;
    m_outputStale = true;
}

YuvPictureView NativeEncoder::sourceMacroblock(int column, int row) const {
    return macroblockAt(
        {{m_source[0].data(), m_source[1].data(), m_source[2].data()}, m_sourceStride}, column,
        row);
}

// The prediction buffers hold one macroblock: 16 x 16 luma and 8 x 8 of each chroma plane.
YuvPictureView NativeEncoder::predictionMacroblock() const {
    return {{m_predictionLuma.data(), m_predictionChroma[0].data(), m_predictionChroma[1].data()},
            {16, 8, 8}};
}

void NativeEncoder::reconstructIntra(int column, int row, const MacroblockLevels& levels) {
    alignas(16) int16_t block[64];
    for (int b = 0; b < 6; ++b) {
        const BlockPlace& place = kBlockPlaces[size_t(b)];
        if (levels.pattern & patternBit(b)) {
            std::memcpy(block, levels.levels[size_t(b)].data(), sizeof(block));
            dequantise(block, m_settings.quantiser);
        } else {
            std::fill(std::begin(block), std::end(block), int16_t(0));
        }
        block[0] = int16_t(levels.dc[size_t(b)] * 8);
        inverseDct(block, m_settings.idct);
        const int size = macroblockSize(place.plane);
        native_encoding::PaddedPlane& plane = m_current[size_t(place.plane)];
        for (int y = 0; y < 8; ++y) {
            uint8_t* out = plane.at(column * size + place.x, row * size + place.y + y);
            for (int x = 0; x < 8; ++x) out[x] = clampSample(block[y * 8 + x]);
        }
    }
}

void NativeEncoder::reconstructInter(int column, int row, const MacroblockLevels& levels) {
    alignas(16) int16_t block[64];
    for (int b = 0; b < 6; ++b) {
        const BlockPlace& place = kBlockPlaces[size_t(b)];
        const uint8_t* prediction = b < 4 ? m_predictionLuma.data() + place.y * 16 + place.x
                                          : m_predictionChroma[size_t(b - 4)].data();
        const int predictionStride = b < 4 ? 16 : 8;
        const bool coded = (levels.pattern & patternBit(b)) != 0;
        if (coded) {
            std::memcpy(block, levels.levels[size_t(b)].data(), sizeof(block));
            dequantise(block, m_settings.quantiser);
            inverseDct(block, m_settings.idct);
        }
        const int size = macroblockSize(place.plane);
        native_encoding::PaddedPlane& plane = m_current[size_t(place.plane)];
        for (int y = 0; y < 8; ++y) {
            uint8_t* out = plane.at(column * size + place.x, row * size + place.y + y);
            const uint8_t* predicted = prediction + y * predictionStride;
            if (coded) {
                for (int x = 0; x < 8; ++x) out[x] = clampSample(predicted[x] + block[y * 8 + x]);
            } else {
                std::memcpy(out, predicted, 8);
            }
        }
    }
}

void NativeEncoder::copyReferenceMacroblock(int column, int row) {
    for (size_t plane = 0; plane < 3; ++plane) {
        const int size = plane == 0 ? 16 : 8;
        for (int y = 0; y < size; ++y)
            std::memcpy(m_current[plane].at(column * size, row * size + y),
                        m_reference[plane].at(column * size, row * size + y), size_t(size));
    }
}

HalfSampleVector NativeEncoder::vectorPredictor(int column, int row) const {
    const size_t index = size_t(row) * size_t(m_mbColumns) + size_t(column);
    const HalfSampleVector left = column > 0 ? m_vectors[index - 1] : HalfSampleVector{};
    if (row == 0) return left;
    const HalfSampleVector above = m_vectors[index - size_t(m_mbColumns)];
    const HalfSampleVector aboveRight =
        column + 1 < m_mbColumns ? m_vectors[index - size_t(m_mbColumns) + 1] : HalfSampleVector{};
    const auto median = [](int a, int b, int c) {
        return a + b + c - std::max({a, b, c}) - std::min({a, b, c});
    };
    return {median(left.x, above.x, aboveRight.x), median(left.y, above.y, aboveRight.y)};
}

PlaneView<uint8_t> NativeEncoder::referencePlane(int plane) const {
    assert(plane >= 0 && plane < 3);
    return m_reference[size_t(plane)].view();
}

PlaneView<int16_t> NativeEncoder::outputPlane(int plane) const {
    assert(plane >= 0 && plane < 3);
    if (m_outputStale) {
        std::array<int16_t*, 3> planes{};
        std::array<ptrdiff_t, 3> strides{};
        for (size_t p = 0; p < 3; ++p) {
            const PlaneView<uint8_t> reference = m_reference[p].view();
            int16_t* out = m_output[p].data();
            for (int y = 0; y < reference.height; ++y)
                for (int x = 0; x < reference.width; ++x)
                    out[y * reference.width + x] = reference.at(x, y);
            planes[p] = out;
            strides[p] = reference.width;
        }
        if (m_hasReference)
            deblock(planes.data(), strides.data(), m_mbColumns, m_mbRows, m_coded, m_quantiser);
        m_outputStale = false;
    }
    const PlaneView<uint8_t> reference = m_reference[size_t(plane)].view();
    return {m_output[size_t(plane)].data(), reference.width, reference.width, reference.height};
}

}  // namespace kx
