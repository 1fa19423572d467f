// Writes legacy-codec bitstreams from a description of their syntax elements: start code,
// picture headers, the group count with its re-alignments, and macroblocks (whose bodies are
// those of the native codec). Used by the decoder tests, fuzz seeds and benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codec/tests/native_stream_writer.h"

namespace kx {

class LegacyStreamWriter {
public:
    // `junkBits` bits without a start code come first (the decoder searches 161 positions).
    void startPicture(int junkBits = 0);
    void intraHeader(int width, int height, int quantiser);
    void interHeader(int quantiser);
    void unchangedInter();

    // Aligns, writes the group count and expects `macroblocks` macroblocks; each macroblock
    // call below re-aligns where the decoder does. Alignment bits are `fill` (0 or 1): the
    // decoder skips them whatever they are.
    void beginMacroblocks(int macroblocks, int groups, int fill = 0);

    // Intra picture macroblocks.
    void intraMacroblock(const MacroblockCode& mb);
    void flatMacroblock(const std::array<int, 6>& dc);
    // Inter picture macroblocks.
    void notCoded();
    void interMacroblock(const MacroblockCode& mb);
    void intraInInter(const MacroblockCode& mb);

    SyntaxBitWriter& bits() { return m_native.bits(); }
    std::vector<uint8_t> bytes() const { return m_native.bytes(); }

private:
    void align(int fill);
    void nextMacroblock();

    NativeStreamWriter m_native;
    int m_macroblocks = 0;
    int m_groups = 0;
    int m_index = 0;
    int m_fill = 0;
};

}  // namespace kx
