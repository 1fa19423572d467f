// Legacy-codec bitstream writer over the native writer's macroblock bodies.
#include "codec/tests/legacy_stream_writer.h"

namespace kx {

void LegacyStreamWriter::startPicture(int junkBits) { m_native.startPicture(junkBits); }

void LegacyStreamWriter::intraHeader(int width, int height, int quantiser) {
    bits().put(0, 2);
    bits().put(uint32_t(width), 10);
    bits().put(uint32_t(height), 10);
    bits().put(uint32_t(quantiser), 8);
    bits().put(1, 1);
}

void LegacyStreamWriter::interHeader(int quantiser) {
    bits().put(2, 2);
    bits().put(1, 1);
    bits().put(uint32_t(quantiser), 8);
}

void LegacyStreamWriter::unchangedInter() {
    bits().put(3, 2);
    bits().put(0, 1);
}

void LegacyStreamWriter::align(int fill) {
    while (bits().bitCount() % 16 != 0) bits().put(uint32_t(fill), 1);
}

void LegacyStreamWriter::beginMacroblocks(int macroblocks, int groups, int fill) {
    m_fill = fill;
    align(fill);
    bits().put(uint32_t(groups), 16);
    m_macroblocks = macroblocks;
    m_groups = groups;
    m_index = 0;
}

void LegacyStreamWriter::nextMacroblock() {
    if (m_groups != 0 && m_index == m_macroblocks - 10 * m_groups) {
        --m_groups;
        align(m_fill);
    }
    ++m_index;
}

void LegacyStreamWriter::intraMacroblock(const MacroblockCode& mb) {
    nextMacroblock();
    m_native.intraMacroblock(mb);
}

void LegacyStreamWriter::flatMacroblock(const std::array<int, 6>& dc) {
    nextMacroblock();
    m_native.flatMacroblock(dc);
}

void LegacyStreamWriter::notCoded() {
    nextMacroblock();
    m_native.notCoded();
}

void LegacyStreamWriter::interMacroblock(const MacroblockCode& mb) {
    nextMacroblock();
    m_native.codedInter();
    m_native.interMacroblock(mb);
}

void LegacyStreamWriter::intraInInter(const MacroblockCode& mb) {
    nextMacroblock();
    m_native.codedIntra();
    m_native.intraMacroblock(mb);
}

}  // namespace kx
