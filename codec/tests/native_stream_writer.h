// Writes native-codec bitstreams (codecs 0 and 1) from a description of their syntax
// elements: start code, picture headers, macroblocks with coefficient events and motion
// vector differences. Used to build test pictures, fuzz seeds and benchmark streams.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kx {

class SyntaxBitWriter {
public:
    void put(uint32_t value, int bits);
    // A code written as text, "0000 0101 11".
    void putCode(std::string_view code);
    // Zero bits up to the start of the next byte at an even offset.
    void alignToEvenByte();
    size_t bitCount() const { return m_bits; }
    // The bytes written, the last one filled with 0 bits.
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_bits = 0;
};

// One coefficient: `run` zeros before it in scan order, then `level` (nonzero).
struct Coefficient {
    int run = 0;
    int level = 0;
};

// A block: the intra DC (1 to 254, or 255 for 128; ignored in inter blocks) and its
// coefficients; a block with coefficients has its pattern bit set.
struct BlockCode {
    int dc = 128 + 1;
    std::vector<Coefficient> coefficients;
    bool forceEscape = false;  // write every coefficient with the escape code
};
using MacroblockCode = std::array<BlockCode, 6>;

class NativeStreamWriter {
public:
    // `junkBits` arbitrary bits (a pattern without a start code) come before the start code.
    void startPicture(int junkBits = 0);
    void intraHeader(int width, int height, int quantiser);
    void interHeader(int quantiser);
    void unchangedInter();

    // Macroblock bodies (CBPY, CBPC and blocks).
    void intraMacroblock(const MacroblockCode& mb);
    void interMacroblock(const MacroblockCode& mb);
    // An intra macroblock of six DC-only blocks.
    void flatMacroblock(const std::array<int, 6>& dc);

    // Codec 0 inter macroblock prefixes.
    void notCoded() { m_writer.put(1, 1); }
    void codedIntra() { m_writer.put(0, 2); }
    void codedInter() { m_writer.put(1, 2); }

    // Codec 1: motion flag with differences, and the residual flag.
    void motion(int dx, int dy);
    void noMotion() { m_writer.put(0, 1); }
    void residual(bool present) { m_writer.put(present ? 0 : 1, 1); }

    void coefficients(const std::vector<Coefficient>& coefficients, bool forceEscape = false);
    void vectorDifference(int difference);
    SyntaxBitWriter& bits() { return m_writer; }
    // The finished frame, padded to whole bytes.
    std::vector<uint8_t> bytes() const { return m_writer.bytes(); }

private:
    void cbpy(unsigned intraIndex);
    SyntaxBitWriter m_writer;
};

// Pattern bits of a macroblock: bit 5 for Y0 down to bit 0 for Cr.
unsigned patternOf(const MacroblockCode& mb);

}  // namespace kx
