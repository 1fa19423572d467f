// Native-codec bitstream writer; codes come from the same H.263 tables the decoder uses.
#include "codec/tests/native_stream_writer.h"

#include <cassert>
#include <cstdlib>

#include "codec/native/h263_tables.h"

namespace kx {

void SyntaxBitWriter::put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (m_bits % 8 == 0) m_bytes.push_back(0);
        if ((value >> i) & 1) m_bytes.back() |= uint8_t(0x80 >> (m_bits % 8));
        ++m_bits;
    }
}

void SyntaxBitWriter::putCode(std::string_view code) {
    for (char c : code)
        if (c != ' ') put(c == '1', 1);
}

void SyntaxBitWriter::alignToEvenByte() {
    while (m_bits % 8 != 0) put(0, 1);
    if ((m_bits / 8) % 2 != 0) put(0, 8);
}

unsigned patternOf(const MacroblockCode& mb) {
    unsigned pattern = 0;
    for (int b = 0; b < 6; ++b)
        if (!mb[b].coefficients.empty()) pattern |= 32u >> b;
    return pattern;
}

void NativeStreamWriter::startPicture(int junkBits) {
    for (int i = 0; i < junkBits; ++i) m_writer.put(i % 3 == 0, 1);
    m_writer.put(16, 21);
}

void NativeStreamWriter::intraHeader(int width, int height, int quantiser) {
    m_writer.put(0, 2);
    m_writer.put(uint32_t(width), 10);
    m_writer.put(uint32_t(height), 10);
    m_writer.put(uint32_t(quantiser), 8);
    m_writer.put(1, 1);
    m_writer.alignToEvenByte();
    m_writer.put(0xA55A, 16);
}

void NativeStreamWriter::interHeader(int quantiser) {
    m_writer.put(2, 2);
    m_writer.put(1, 1);
    m_writer.put(uint32_t(quantiser), 8);
    m_writer.alignToEvenByte();
    m_writer.put(0x5AA5, 16);
}

void NativeStreamWriter::unchangedInter() {
    m_writer.put(3, 2);
    m_writer.put(0, 1);
}

void NativeStreamWriter::cbpy(unsigned intraIndex) {
    for (const auto& code : h263::kCbpyCodes)
        if (code.symbol == intraIndex) return m_writer.putCode(code.bits);
    assert(false);
}

void NativeStreamWriter::intraMacroblock(const MacroblockCode& mb) {
    const unsigned pattern = patternOf(mb);
    cbpy(pattern >> 2);  // the intra luma pattern is the code's intra index
    m_writer.put(pattern & 3, 2);
    for (int b = 0; b < 6; ++b) {
        m_writer.put(uint32_t(mb[b].dc), 8);
        if (!mb[b].coefficients.empty()) coefficients(mb[b].coefficients, mb[b].forceEscape);
    }
}

void NativeStreamWriter::interMacroblock(const MacroblockCode& mb) {
    const unsigned pattern = patternOf(mb);
    cbpy(15 - (pattern >> 2));
    m_writer.put(pattern & 3, 2);
    for (int b = 0; b < 6; ++b)
        if (!mb[b].coefficients.empty()) coefficients(mb[b].coefficients, mb[b].forceEscape);
}

void NativeStreamWriter::flatMacroblock(const std::array<int, 6>& dc) {
    MacroblockCode mb;
    for (int b = 0; b < 6; ++b) mb[b].dc = dc[b];
    intraMacroblock(mb);
}

void NativeStreamWriter::coefficients(const std::vector<Coefficient>& list, bool forceEscape) {
    for (size_t i = 0; i < list.size(); ++i) {
        const int last = i + 1 == list.size() ? 1 : 0;
        const Coefficient& c = list[i];
        bool written = false;
        if (!forceEscape) {
            for (const auto& code : h263::kTcoefCodes) {
                if (code.symbol.level != 0 && code.symbol.last == last &&
                    code.symbol.run == c.run && code.symbol.level == std::abs(c.level)) {
                    m_writer.putCode(code.bits);
                    m_writer.put(c.level < 0, 1);
                    written = true;
                    break;
                }
            }
        }
        if (!written) {
            m_writer.putCode("0000 011");
            m_writer.put(uint32_t(last), 1);
            m_writer.put(uint32_t(c.run), 6);
            m_writer.put(uint32_t(c.level) & 0xFF, 8);
        }
    }
}

void NativeStreamWriter::vectorDifference(int difference) {
    for (const auto& code : h263::kMvdCodes)
        if (code.symbol == difference) return m_writer.putCode(code.bits);
    assert(false);
}

void NativeStreamWriter::motion(int dx, int dy) {
    m_writer.put(1, 1);
    vectorDifference(dx);
    vectorDifference(dy);
}

}  // namespace kx
