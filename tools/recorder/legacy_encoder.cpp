// Picture and macroblock syntax of the legacy encoder, its mode decisions and the
// reconstruction of the decoder's planes.
#include "tools/recorder/legacy_encoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "recording/record_frame.h"
#include "tools/recorder/coefficient_writer.h"
#include "tools/recorder/legacy_encoder_transform.h"
#include "tools/recorder/motion_search.h"
#include "tools/recorder/picture_header_writer.h"

namespace kx {

// The legacy codec codes its blocks as the native codec does.
using native_encoding::BlockPlace;
using native_encoding::kBlockPlaces;
using native_encoding::macroblockSize;
using native_encoding::patternBit;

namespace {

constexpr uint16_t kInterKind = 1;
constexpr int kGroupRun = 10;
constexpr size_t kPlaneSamples = 640 * 480;
// The worst macroblock: two mode bits, CBPY and CBPC, six blocks of an 8-bit DC and 64 escaped
// coefficients of 22 bits, and a re-alignment.
constexpr size_t kMaxMacroblockBytes = (2 + 6 + 2 + 6 * (8 + 64 * 22)) / 8 + 1 + 2;
constexpr size_t kMaxHeaderBytes = 16;
// Intra coding of a macroblock in an inter picture wins when its luma deviation from its own
// mean undercuts the SAD against the previous picture by this much.
constexpr int kIntraBias = 500;

uint8_t clampSample(int value) {
    return uint8_t(std::clamp(value, 0, 255));
}

}  // namespace

bool LegacyEncoder::sizeFits(int width, int height) {
    return width >= 16 && height >= 16 && width % 16 == 0 && height % 16 == 0 && width <= 1023 &&
           height <= 1023 && size_t(width) * size_t(height) <= kPlaneSamples;
}

LegacyEncoder::LegacyEncoder(int width, int height, LegacyEncoderSettings settings)
    : m_width(width),
      m_height(height),
      m_mbColumns(width / 16),
      m_mbRows(height / 16),
      m_groups(settings.groups == LegacyEncoderSettings::kAllGroups
                   ? m_mbColumns * m_mbRows / kGroupRun
                   : settings.groups),
      m_settings(settings),
      m_bits(kMaxHeaderBytes + size_t(m_mbColumns) * size_t(m_mbRows) * kMaxMacroblockBytes),
      m_source(size_t(width) * size_t(height) * 3 / 2),
      m_planes(size_t(width) * size_t(height) * 3 / 2) {
    assert(sizeFits(width, height));
    assert(settings.quantiser >= 1 && settings.quantiser <= legacy_encoding::kMaxQuantiser);
    assert(m_groups >= 0 && m_groups <= 0xFFFF);
}

uint8_t* LegacyEncoder::planeAt(std::vector<uint8_t>& planes, int plane, int x, int y) const {
    return const_cast<uint8_t*>(
        planeAt(static_cast<const std::vector<uint8_t>&>(planes), plane, x, y));
}

const uint8_t* LegacyEncoder::planeAt(const std::vector<uint8_t>& planes, int plane, int x,
                                      int y) const {
    const size_t luma = size_t(m_width) * size_t(m_height);
    if (plane == 0) return planes.data() + size_t(y) * size_t(m_width) + size_t(x);
    return planes.data() + luma + size_t(plane - 1) * (luma / 4) + size_t(y) * size_t(m_width / 2) +
           size_t(x);
}

YuvPictureView LegacyEncoder::macroblockOf(const std::vector<uint8_t>& planes, int column,
                                           int row) const {
    return native_encoding::macroblockAt(
        {{planeAt(planes, 0, 0, 0), planeAt(planes, 1, 0, 0), planeAt(planes, 2, 0, 0)},
         {m_width, m_width / 2, m_width / 2}},
        column, row);
}

PlaneView<uint8_t> LegacyEncoder::plane(int index) const {
    assert(index >= 0 && index < 3);
    const int width = index == 0 ? m_width : m_width / 2;
    const int height = index == 0 ? m_height : m_height / 2;
    return {planeAt(m_planes, index, 0, 0), width, width, height};
}

EncodedPicture LegacyEncoder::encode(const YuvPictureView& picture, PictureChoice choice) {
    copySource(picture);
    m_statistics = {};
    m_bits.reset();
    EncodedPicture result;
    result.flags = 0;
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

void LegacyEncoder::copySource(const YuvPictureView& picture) {
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane == 0 ? m_width : m_width / 2;
        const int height = plane == 0 ? m_height : m_height / 2;
        assert(picture.planes[size_t(plane)] != nullptr);
        for (int y = 0; y < height; ++y)
            std::memcpy(
                planeAt(m_source, plane, 0, y),
                picture.planes[size_t(plane)] + ptrdiff_t(y) * picture.strides[size_t(plane)],
                size_t(width));
    }
}

// The last ten times the group count macroblocks start each run of ten on a 16-bit boundary.
void LegacyEncoder::nextMacroblock(int index) {
    if (m_groupsLeft != 0 && index == m_mbColumns * m_mbRows - kGroupRun * m_groupsLeft) {
        --m_groupsLeft;
        m_bits.padToEvenByte();
    }
}

void LegacyEncoder::encodeIntraPicture() {
    const int quantiser = m_settings.quantiser;
    native_encoding::writeIntraPictureHeader(m_bits, m_width, m_height, quantiser, m_groups);
    m_groupsLeft = m_groups;

    m_statistics.intra = true;
    MacroblockLevels levels;
    for (int row = 0; row < m_mbRows; ++row) {
        for (int column = 0; column < m_mbColumns; ++column) {
            nextMacroblock(row * m_mbColumns + column);
            native_encoding::quantiseIntraMacroblock(macroblockOf(m_source, column, row), quantiser,
                                                     levels);
            m_statistics.codedBlocks += native_encoding::writeIntraMacroblock(m_bits, levels);
            reconstructIntra(column, row, levels);
            ++m_statistics.intraMacroblocks;
        }
    }
    m_hasReference = true;
}

bool LegacyEncoder::encodeInterPicture() {
    const int quantiser = m_settings.quantiser;
    native_encoding::writeInterPictureHeader(m_bits, quantiser, m_groups);
    m_groupsLeft = m_groups;

    bool changed = false;
    MacroblockLevels levels;
    for (int row = 0; row < m_mbRows; ++row) {
        for (int column = 0; column < m_mbColumns; ++column) {
            nextMacroblock(row * m_mbColumns + column);
            const uint8_t* source = planeAt(m_source, 0, column * 16, row * 16);
            const uint8_t* shown = planeAt(m_planes, 0, column * 16, row * 16);
            const int sad = native_encoding::sad16(source, m_width, shown, m_width);
            if (native_encoding::intraDeviation(source, m_width) + kIntraBias < sad) {
                m_bits.put(0, 2);  // coded, intra
                native_encoding::quantiseIntraMacroblock(macroblockOf(m_source, column, row),
                                                         quantiser, levels);
                m_statistics.codedBlocks += native_encoding::writeIntraMacroblock(m_bits, levels);
                reconstructIntra(column, row, levels);
                ++m_statistics.intraMacroblocks;
                changed = true;
                continue;
            }
            // The prediction is the same macroblock of the planes the decoder holds.
            native_encoding::quantiseInterMacroblock(
                macroblockOf(m_source, column, row), macroblockOf(m_planes, column, row), quantiser,
                legacy_encoding::interDeadZone(quantiser), levels);
            if (levels.pattern == 0) {
                m_bits.put(1, 1);  // not coded: the decoder keeps the macroblock
                ++m_statistics.notCodedMacroblocks;
                continue;
            }
            m_bits.put(1, 2);  // coded, inter
            m_statistics.codedBlocks += native_encoding::writeInterMacroblock(m_bits, levels);
            reconstructInter(column, row, levels);
            ++m_statistics.interMacroblocks;
            changed = true;
        }
    }
    return changed;
}

void LegacyEncoder::writeUnchangedPicture() {
    m_bits.reset();
    native_encoding::writeUnchangedPicture(m_bits);
    m_statistics = {};
    m_statistics.unchanged = true;
    m_statistics.notCodedMacroblocks = m_mbColumns * m_mbRows;
}

void LegacyEncoder::reconstructIntra(int column, int row, const MacroblockLevels& levels) {
    alignas(16) int16_t block[64];
    for (int b = 0; b < 6; ++b) {
        const BlockPlace& place = kBlockPlaces[size_t(b)];
        if (levels.pattern & patternBit(b)) {
            std::memcpy(block, levels.levels[size_t(b)].data(), sizeof(block));
            legacy_encoding::dequantise(block, m_settings.quantiser);
        } else {
            std::fill(std::begin(block), std::end(block), int16_t(0));
        }
        block[0] = int16_t(levels.dc[size_t(b)] * 8);
        legacy_encoding::inverseDct(block);
        const int size = macroblockSize(place.plane);
        for (int y = 0; y < 8; ++y) {
            uint8_t* out =
                planeAt(m_planes, place.plane, column * size + place.x, row * size + place.y + y);
            for (int x = 0; x < 8; ++x) out[x] = clampSample(block[y * 8 + x]);
        }
    }
}

void LegacyEncoder::reconstructInter(int column, int row, const MacroblockLevels& levels) {
    alignas(16) int16_t block[64];
    for (int b = 0; b < 6; ++b) {
        if (!(levels.pattern & patternBit(b))) continue;  // no residual: the samples stay
        const BlockPlace& place = kBlockPlaces[size_t(b)];
        std::memcpy(block, levels.levels[size_t(b)].data(), sizeof(block));
        legacy_encoding::dequantise(block, m_settings.quantiser);
        legacy_encoding::inverseDct(block);
        const int size = macroblockSize(place.plane);
        for (int y = 0; y < 8; ++y) {
            uint8_t* out =
                planeAt(m_planes, place.plane, column * size + place.x, row * size + place.y + y);
            for (int x = 0; x < 8; ++x) out[x] = clampSample(out[x] + block[y * 8 + x]);
        }
    }
}

}  // namespace kx
