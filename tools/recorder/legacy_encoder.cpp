// Picture and macroblock syntax of the legacy encoder, its mode decisions and the
// reconstruction of the decoder's planes.
#include "tools/recorder/legacy_encoder.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "recording/record_frame.h"
#include "tools/recorder/legacy_encoder_transform.h"
#include "tools/recorder/native_encoder_tables.h"
#include "tools/recorder/native_encoder_transform.h"

namespace kx {

using native_encoding::kCbpyIntra;
using native_encoding::kTcoefEscape;
using native_encoding::kTcoefLookup;
using native_encoding::kTcoefMaxCodedLevel;
using native_encoding::kZigzag;
using native_encoding::VlcCode;

namespace {

constexpr uint32_t kStartCode = 16;  // 21 bits: sixteen 0 bits, a 1, four 0 bits
constexpr int kStartCodeBits = 21;
constexpr uint32_t kIntraPicture = 0;
constexpr uint32_t kInterPicture = 2;
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

struct BlockPlace {
    int plane;
    int x;  // relative to the macroblock's top left sample in its plane
    int y;
};
constexpr std::array<BlockPlace, 6> kBlocks{{{0, 0, 0}, {0, 8, 0}, {0, 0, 8}, {0, 8, 8}, {1, 0, 0}, {2, 0, 0}}};

constexpr unsigned patternBit(int block) { return 1u << (5 - block); }
constexpr int macroblockSize(int plane) { return plane == 0 ? 16 : 8; }

uint8_t clampSample(int value) { return uint8_t(std::clamp(value, 0, 255)); }

}  // namespace

bool LegacyEncoder::sizeFits(int width, int height) {
    return width >= 16 && height >= 16 && width % 16 == 0 && height % 16 == 0 && width <= 1023 && height <= 1023 &&
           size_t(width) * size_t(height) <= kPlaneSamples;
}

LegacyEncoder::LegacyEncoder(int width, int height, LegacyEncoderSettings settings)
    : m_width(width),
      m_height(height),
      m_mbColumns(width / 16),
      m_mbRows(height / 16),
      m_groups(settings.groups == LegacyEncoderSettings::kAllGroups ? m_mbColumns * m_mbRows / kGroupRun
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
    return const_cast<uint8_t*>(planeAt(static_cast<const std::vector<uint8_t>&>(planes), plane, x, y));
}

const uint8_t* LegacyEncoder::planeAt(const std::vector<uint8_t>& planes, int plane, int x, int y) const {
    const size_t luma = size_t(m_width) * size_t(m_height);
    if (plane == 0) return planes.data() + size_t(y) * size_t(m_width) + size_t(x);
    return planes.data() + luma + size_t(plane - 1) * (luma / 4) + size_t(y) * size_t(m_width / 2) + size_t(x);
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
            std::memcpy(planeAt(m_source, plane, 0, y),
                        picture.planes[size_t(plane)] + ptrdiff_t(y) * picture.strides[size_t(plane)], size_t(width));
    }
}

// After the picture header: the 16-bit aligned group count.
void LegacyEncoder::beginMacroblocks() {
    m_bits.padToEvenByte();
    m_bits.put(uint32_t(m_groups), 16);
    m_groupsLeft = m_groups;
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
    m_bits.put(kStartCode, kStartCodeBits);
    m_bits.put(kIntraPicture, 2);
    m_bits.put(uint32_t(m_width), 10);
    m_bits.put(uint32_t(m_height), 10);
    m_bits.put(uint32_t(quantiser), 8);
    m_bits.put(0, 1);
    beginMacroblocks();

    m_statistics.intra = true;
    MacroblockLevels levels;
    for (int row = 0; row < m_mbRows; ++row) {
        for (int column = 0; column < m_mbColumns; ++column) {
            nextMacroblock(row * m_mbColumns + column);
            quantiseIntraMacroblock(column, row, levels);
            writeIntraMacroblock(levels);
            reconstructIntra(column, row, levels);
            ++m_statistics.intraMacroblocks;
        }
    }
    m_hasReference = true;
}

bool LegacyEncoder::encodeInterPicture() {
    m_bits.put(kStartCode, kStartCodeBits);
    m_bits.put(kInterPicture, 2);
    m_bits.put(1, 1);  // the picture changed
    m_bits.put(uint32_t(m_settings.quantiser), 8);
    beginMacroblocks();

    bool changed = false;
    MacroblockLevels levels;
    for (int row = 0; row < m_mbRows; ++row) {
        for (int column = 0; column < m_mbColumns; ++column) {
            nextMacroblock(row * m_mbColumns + column);
            const int sad = lumaSad(column, row);
            if (intraDeviation(column, row) + kIntraBias < sad) {
                m_bits.put(0, 2);  // coded, intra
                quantiseIntraMacroblock(column, row, levels);
                writeIntraMacroblock(levels);
                reconstructIntra(column, row, levels);
                ++m_statistics.intraMacroblocks;
                changed = true;
                continue;
            }
            quantiseInterMacroblock(column, row, levels);
            if (levels.pattern == 0) {
                m_bits.put(1, 1);  // not coded: the decoder keeps the macroblock
                ++m_statistics.notCodedMacroblocks;
                continue;
            }
            m_bits.put(1, 2);  // coded, inter
            writeInterMacroblock(levels);
            reconstructInter(column, row, levels);
            ++m_statistics.interMacroblocks;
            changed = true;
        }
    }
    return changed;
}

void LegacyEncoder::writeUnchangedPicture() {
    m_bits.reset();
    m_bits.put(kStartCode, kStartCodeBits);
    m_bits.put(kInterPicture, 2);
    m_bits.put(0, 1);
    m_statistics = {};
    m_statistics.unchanged = true;
    m_statistics.notCodedMacroblocks = m_mbColumns * m_mbRows;
}

void LegacyEncoder::quantiseIntraMacroblock(int column, int row, MacroblockLevels& out) const {
    out.pattern = 0;
    alignas(16) int16_t samples[64];
    alignas(16) float coefficients[64];
    for (int block = 0; block < 6; ++block) {
        const BlockPlace& place = kBlocks[size_t(block)];
        const int size = macroblockSize(place.plane);
        for (int y = 0; y < 8; ++y) {
            const uint8_t* source = planeAt(m_source, place.plane, column * size + place.x, row * size + place.y + y);
            for (int x = 0; x < 8; ++x) samples[y * 8 + x] = source[x];
        }
        native_encoding::forwardDct(samples, coefficients);
        out.dc[size_t(block)] = legacy_encoding::intraDc(coefficients);
        if (legacy_encoding::quantiseIntra(coefficients, m_settings.quantiser, out.levels[size_t(block)].data()))
            out.pattern |= patternBit(block);
    }
}

void LegacyEncoder::quantiseInterMacroblock(int column, int row, MacroblockLevels& out) const {
    out.pattern = 0;
    alignas(16) int16_t residual[64];
    alignas(16) float coefficients[64];
    for (int block = 0; block < 6; ++block) {
        const BlockPlace& place = kBlocks[size_t(block)];
        const int size = macroblockSize(place.plane);
        for (int y = 0; y < 8; ++y) {
            const int x0 = column * size + place.x;
            const int y0 = row * size + place.y + y;
            const uint8_t* source = planeAt(m_source, place.plane, x0, y0);
            const uint8_t* shown = planeAt(m_planes, place.plane, x0, y0);
            for (int x = 0; x < 8; ++x) residual[y * 8 + x] = int16_t(source[x] - shown[x]);
        }
        native_encoding::forwardDct(residual, coefficients);
        if (legacy_encoding::quantiseInter(coefficients, m_settings.quantiser, out.levels[size_t(block)].data()))
            out.pattern |= patternBit(block);
    }
}

void LegacyEncoder::writeIntraMacroblock(const MacroblockLevels& levels) {
    // An intra macroblock's luma pattern is the intra reading of the CBPY code.
    const VlcCode cbpy = kCbpyIntra[levels.pattern >> 2];
    m_bits.put(cbpy.code, cbpy.length);
    m_bits.put(levels.pattern & 3, 2);
    for (int block = 0; block < 6; ++block) {
        const int dc = levels.dc[size_t(block)];
        m_bits.put(dc == 128 ? 255 : uint32_t(dc), 8);  // 128 would fail the picture
        if (levels.pattern & patternBit(block)) {
            writeCoefficients(levels.levels[size_t(block)].data(), 1);
            ++m_statistics.codedBlocks;
        }
    }
}

void LegacyEncoder::writeInterMacroblock(const MacroblockLevels& levels) {
    // The inter reading of a CBPY code is 15 minus its intra reading.
    const VlcCode cbpy = kCbpyIntra[15 - (levels.pattern >> 2)];
    m_bits.put(cbpy.code, cbpy.length);
    m_bits.put(levels.pattern & 3, 2);
    for (int block = 0; block < 6; ++block) {
        if (levels.pattern & patternBit(block)) {
            writeCoefficients(levels.levels[size_t(block)].data(), 0);
            ++m_statistics.codedBlocks;
        }
    }
}

void LegacyEncoder::writeCoefficients(const int16_t* levels, int start) {
    int last = 63;
    while (last >= start && levels[kZigzag[size_t(last)]] == 0) --last;
    assert(last >= start);  // only blocks with a nonzero level are written
    int run = 0;
    for (int position = start; position <= last; ++position) {
        const int level = levels[kZigzag[size_t(position)]];
        if (level == 0) {
            ++run;
            continue;
        }
        const int isLast = position == last ? 1 : 0;
        const int magnitude = std::abs(level);
        if (magnitude <= kTcoefMaxCodedLevel) {
            const VlcCode code = kTcoefLookup.codes[size_t(isLast)][size_t(run)][size_t(magnitude)];
            if (code.length != 0) {
                m_bits.put((code.code << 1) | uint32_t(level < 0), code.length + 1);
                run = 0;
                continue;
            }
        }
        assert(magnitude <= legacy_encoding::kMaxLevel);
        m_bits.put((kTcoefEscape.code << 15) | (uint32_t(isLast) << 14) | (uint32_t(run) << 8) | (uint32_t(level) & 0xFF),
                   kTcoefEscape.length + 15);
        run = 0;
    }
}

void LegacyEncoder::reconstructIntra(int column, int row, const MacroblockLevels& levels) {
    alignas(16) int16_t block[64];
    for (int b = 0; b < 6; ++b) {
        const BlockPlace& place = kBlocks[size_t(b)];
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
            uint8_t* out = planeAt(m_planes, place.plane, column * size + place.x, row * size + place.y + y);
            for (int x = 0; x < 8; ++x) out[x] = clampSample(block[y * 8 + x]);
        }
    }
}

void LegacyEncoder::reconstructInter(int column, int row, const MacroblockLevels& levels) {
    alignas(16) int16_t block[64];
    for (int b = 0; b < 6; ++b) {
        if (!(levels.pattern & patternBit(b))) continue;  // no residual: the samples stay
        const BlockPlace& place = kBlocks[size_t(b)];
        std::memcpy(block, levels.levels[size_t(b)].data(), sizeof(block));
        legacy_encoding::dequantise(block, m_settings.quantiser);
        legacy_encoding::inverseDct(block);
        const int size = macroblockSize(place.plane);
        for (int y = 0; y < 8; ++y) {
            uint8_t* out = planeAt(m_planes, place.plane, column * size + place.x, row * size + place.y + y);
            for (int x = 0; x < 8; ++x) out[x] = clampSample(out[x] + block[y * 8 + x]);
        }
    }
}

int LegacyEncoder::lumaSad(int column, int row) const {
    int sad = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* source = planeAt(m_source, 0, column * 16, row * 16 + y);
        const uint8_t* shown = planeAt(m_planes, 0, column * 16, row * 16 + y);
        for (int x = 0; x < 16; ++x) sad += std::abs(source[x] - shown[x]);
    }
    return sad;
}

int LegacyEncoder::intraDeviation(int column, int row) const {
    int sum = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* source = planeAt(m_source, 0, column * 16, row * 16 + y);
        for (int x = 0; x < 16; ++x) sum += source[x];
    }
    const int mean = (sum + 128) / 256;
    int deviation = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* source = planeAt(m_source, 0, column * 16, row * 16 + y);
        for (int x = 0; x < 16; ++x) deviation += std::abs(source[x] - mean);
    }
    return deviation;
}

}  // namespace kx
