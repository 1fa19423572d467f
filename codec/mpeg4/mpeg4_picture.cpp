// Mpeg4VideoEngine: the picture data -- video packets one after another, each ended by
// stuffing and a resync marker (or the picture's end), with data partitioning's three
// partitions (motion or DC, then patterns, then texture).
#include <algorithm>
#include <cstring>

#include "codec/mpeg4/mpeg4_arrays.h"
#include "codec/mpeg4/mpeg4_engine.h"
#include "codec/mpeg4/mpeg4_tables.h"

namespace kx {

using namespace mpeg4;

namespace {

constexpr uint32_t kDcMarker = 0x6B001;      // 19 bits, after partition A of I pictures
constexpr uint32_t kMotionMarker = 0x1F001;  // 17 bits, after partition A of P pictures
constexpr int8_t kDquant[4] = {-1, -2, 1, 2};
// The 16 bits at a macroblock's end that stand for stuffing then the start of a marker, by
// the bit offset within the byte.
constexpr uint16_t kResyncPrefix[8] = {0x7F00, 0x7E00, 0x7C00, 0x7800, 0x7000, 0x6000, 0x4000, 0x0000};

int bitsFor(int values) {
    int bits = 0;
    while ((1 << bits) < values) ++bits;
    return std::max(bits, 1);
}

}  // namespace

void Mpeg4VideoEngine::startPacket(int first) {
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mbX = first % s.vol.mbWidth, mbY = first / s.vol.mbWidth;
    s.resyncX = mbX;
    s.resyncY = mbY;
    s.firstSliceLine = true;
    std::memset(s.lastMv, 0, sizeof(s.lastMv));
    // The AC predictors of the blocks above and to the left that belong to earlier packets.
    const auto clearRun = [](int16_t* ac, int stride, int row, int from, int to) {
        from = std::max(from, -1);
        if (to > from) std::memset(ac + (size_t(row + 1) * stride + from + 1) * 16, 0, size_t(to - from) * 32);
    };
    const int lumaColumns = 2 * s.layout.mbWidth, chromaColumns = s.layout.mbWidth;
    clearRun(a.ac[0], a.lumaStride, 2 * mbY - 1, 2 * mbX - 1, lumaColumns);
    clearRun(a.ac[0], a.lumaStride, 2 * mbY, -1, lumaColumns);
    clearRun(a.ac[0], a.lumaStride, 2 * mbY + 1, -1, 2 * mbX);
    for (int p = 1; p < 3; ++p) {
        clearRun(a.ac[p], a.chromaStride, mbY - 1, mbX - 1, chromaColumns);
        clearRun(a.ac[p], a.chromaStride, mbY, -1, mbX);
    }
}

// After a macroblock: the number of the macroblock the next video packet starts with when a
// resync marker follows (stuffing first), the macroblock count at the picture's end, -1 for
// a marker with a bad number, 0 when the packet goes on.
int Mpeg4VideoEngine::endOfPacket() {
    Mpeg4BitReader& r = *m_reader;
    const DecoderState& s = *m_state;
    const int type = s.pic.type + 1;
    uint32_t v = r.peek(16);
    while (v <= 0xFF && s.pic.type != kPictureB && (v >> (8 - type)) == 1 && !s.vol.dataPartitioned) {
        r.skip(size_t(8 + type));  // macroblock stuffing
        v = r.peek(16);
    }
    const size_t position = r.position();
    const int count = s.vol.mbWidth * s.vol.mbHeight;
    if (position + 8 >= r.endBit()) {
        v >>= 8;
        v |= 0x7Fu >> (7 - (position & 7));
        return v == 0x7F ? count : 0;
    }
    if (v != kResyncPrefix[position & 7]) return 0;
    r.skip(1);
    r.skip((8 - (r.position() & 7)) & 7);
    int zeros = 0;
    while (zeros < 32 && r.get(1) == 0 && !r.atEnd()) ++zeros;
    int number = int(r.get(bitsFor(count)));
    if (number == 0 || number > count || r.position() + 6 > r.endBit()) number = -1;
    r.seek(position);
    return zeros >= resyncPrefixLength() ? number : 0;
}

// Moves to the next resync marker (true) or start code or end (false), byte by byte.
bool Mpeg4VideoEngine::seekResyncMarker() {
    Mpeg4BitReader& r = *m_reader;
    const int prefix = resyncPrefixLength();
    r.skip((8 - (r.position() & 7)) & 7);
    while (!r.atEnd()) {
        if (r.peek(23) == 0) return false;
        if (r.peek(prefix + 1) == 1) return true;
        r.skip(8);
    }
    return false;
}

void Mpeg4VideoEngine::decodePictureData() {
    DecoderState& s = *m_state;
    Mpeg4BitReader& r = *m_reader;
    if (s.pic.type == kPictureB) {
        m_current = bFrame();
        m_forward = anchorFrame(1 - s.newest);
        m_backward = anchorFrame(s.newest);
    } else {
        m_current = anchorFrame(1 - s.newest);
        m_forward = anchorFrame(s.newest);
    }
    m_idct = idctKind();
    s.quant = s.pic.quant;
    s.macroblocksDone = 0;
    std::memset(m_tables->blocks, 0, sizeof(m_tables->blocks));
    const int count = s.vol.mbWidth * s.vol.mbHeight;
    const bool partitioned = s.vol.dataPartitioned && s.pic.type != kPictureB;
    int first = 0;
    for (int packets = 0; packets < count; ++packets) {
        startPacket(first);
        const bool ok = partitioned ? decodePartitionedPacket(first) : decodePacket(first);
        if (!ok) {
            s.brokeOff = true;
            std::memset(m_tables->blocks, 0, sizeof(m_tables->blocks));
            if (!s.vol.resyncMarkers || !seekResyncMarker()) break;
        } else {
            if (!s.vol.resyncMarkers || r.atEnd()) break;
            // Stuffing to the byte boundary (a whole byte 0x7F when already aligned), then a
            // start code ends the picture, a resync marker starts the next packet.
            if ((r.position() & 7) == 0) {
                if (r.peek(8) == 0x7F) r.skip(8);
            } else {
                r.skip(8 - (r.position() & 7));
            }
            if (r.peek(23) == 0 || r.atEnd()) break;
        }
        if (!parseVideoPacketHeader(first)) {
            s.brokeOff = true;
            break;
        }
    }
    if (s.macroblocksDone < count) s.brokeOff = true;
}

bool Mpeg4VideoEngine::decodePacket(int first) {
    DecoderState& s = *m_state;
    const int count = s.vol.mbWidth * s.vol.mbHeight;
    const Arrays a(m_blocks[3], s.layout);
    for (int mb = first; mb < count; ++mb) {
        const int mbX = mb % s.vol.mbWidth, mbY = mb / s.vol.mbWidth;
        if (mbX == s.resyncX && mbY == s.resyncY + 1) s.firstSliceLine = false;
        const bool ok = s.pic.type == kPictureB ? decodeBMacroblock(mbX, mbY) : decodeIntraOrPMacroblock(mbX, mbY);
        if (!ok) return false;
        ++s.macroblocksDone;
        if (!s.vol.resyncMarkers) continue;
        const int next = endOfPacket();
        if (next == 0) continue;
        if (mb + 1 >= next) return true;
        // A B macroblock skipped with its future co-located one reads no bits: the marker
        // already shows before it.
        if (s.pic.type == kPictureB && mb + 1 < count && (a.flags[mb + 1] & kMbSkipped)) continue;
        return true;
    }
    return true;
}

bool Mpeg4VideoEngine::partitionA(int mbX, int mbY, bool& marker) {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mb = a.mb(mbX, mbY);
    const int idx = a.lumaIndex(mbX, mbY, 0), wrap = a.lumaStride;
    const auto setMotion = [&](int at, int mx, int my) {
        a.motion[2 * at] = int16_t(mx);
        a.motion[2 * at + 1] = int16_t(my);
    };
    const auto setAll = [&](int mx, int my) {
        for (int at : {idx, idx + 1, idx + wrap, idx + wrap + 1}) setMotion(at, mx, my);
    };
    marker = false;
    if (s.pic.type == kPictureI) {
        int symbol;
        for (;;) {
            if (r.peek(19) == kDcMarker) {
                marker = true;
                return true;
            }
            const VlcEntry<uint8_t> e = kIntraMcbpcTable[r.peek(9)];
            if (e.length == 0) return false;
            r.skip(e.length);
            symbol = e.symbol;
            if (symbol != kMcbpcStuffingI) break;
            if (r.atEnd()) return false;
        }
        a.cbp[mb] = uint8_t(symbol & 3);
        a.flags[mb] = kMbIntra;
        if (symbol & 4) s.quant = std::clamp(s.quant + kDquant[r.get(2)], 1, 31);
        a.quant[mb] = uint8_t(s.quant);
        a.dirty[mb] = 1;
        int dir = 0;
        for (int n = 0; n < 6; ++n) {
            int difference;
            if (!decodeDc(n, difference)) return false;
            bool fromTop;
            predictDc(mbX, mbY, n, difference, fromTop);
            dir = (dir << 1) | (fromTop ? 1 : 0);
        }
        a.dir[mb] = uint8_t(dir);
        return !r.overrun();
    }
    int symbol;
    for (;;) {
        const uint32_t bits = r.peek(17);
        if (bits == kMotionMarker) {
            marker = true;
            return true;
        }
        r.skip(1);
        if (bits & 0x10000) {
            a.flags[mb] = kMbSkipped;
            setAll(0, 0);
            if (a.dirty[mb]) clearIntraEntries(mbX, mbY);
            return !r.overrun();
        }
        const VlcEntry<uint8_t> e = kInterMcbpcTable[r.peek(9)];
        if (e.length == 0) return false;
        r.skip(e.length);
        symbol = e.symbol;
        if (symbol != kMcbpcStuffingP) break;
        if (r.atEnd()) return false;
    }
    a.cbp[mb] = uint8_t(symbol & 11);
    if (symbol & 4) {
        a.flags[mb] = kMbIntra;
        a.dirty[mb] = 1;
        setAll(0, 0);
        return !r.overrun();
    }
    if (a.dirty[mb]) clearIntraEntries(mbX, mbY);
    const int fcode = s.pic.fcodeForward;
    if (!(symbol & 16)) {
        int px, py, mx, my;
        predictMotion(mbX, mbY, 0, px, py);
        if (!decodeMotion(px, fcode, mx) || !decodeMotion(py, fcode, my)) return false;
        setAll(mx, my);
        a.flags[mb] = 0;
    } else {
        for (int i = 0; i < 4; ++i) {
            int px, py, mx, my;
            predictMotion(mbX, mbY, i, px, py);
            if (!decodeMotion(px, fcode, mx) || !decodeMotion(py, fcode, my)) return false;
            setMotion(idx + (i & 1) + (i >> 1) * wrap, mx, my);
        }
        a.flags[mb] = kMbFourVectors;
    }
    return !r.overrun();
}

bool Mpeg4VideoEngine::partitionB(int mbX, int mbY) {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mb = a.mb(mbX, mbY);
    const auto readCbpy = [&](int& cbpy) {
        const VlcEntry<uint8_t> e = h263::lookupCbpy(r.peek(6));
        if (e.length == 0) return false;
        r.skip(e.length);
        cbpy = e.symbol;
        return true;
    };
    int cbpy;
    if (s.pic.type == kPictureI) {
        const bool acPred = r.get(1) != 0;
        if (!readCbpy(cbpy)) return false;
        a.cbp[mb] = uint8_t(a.cbp[mb] | (cbpy << 2));
        if (acPred) a.flags[mb] |= kMbAcPred;
        return !r.overrun();
    }
    if (a.flags[mb] & kMbIntra) {
        const bool acPred = r.get(1) != 0;
        if (!readCbpy(cbpy)) return false;
        if (a.cbp[mb] & 8) s.quant = std::clamp(s.quant + kDquant[r.get(2)], 1, 31);
        a.quant[mb] = uint8_t(s.quant);
        int dir = 0;
        for (int n = 0; n < 6; ++n) {
            int difference;
            if (!decodeDc(n, difference)) return false;
            bool fromTop;
            predictDc(mbX, mbY, n, difference, fromTop);
            dir = (dir << 1) | (fromTop ? 1 : 0);
        }
        a.cbp[mb] = uint8_t((a.cbp[mb] & 3) | (cbpy << 2));
        if (acPred) a.flags[mb] |= kMbAcPred;
        a.dir[mb] = uint8_t(dir);
    } else if (a.flags[mb] & kMbSkipped) {
        a.quant[mb] = uint8_t(s.quant);
        a.cbp[mb] = 0;
    } else {
        if (!readCbpy(cbpy)) return false;
        if (a.cbp[mb] & 8) s.quant = std::clamp(s.quant + kDquant[r.get(2)], 1, 31);
        a.quant[mb] = uint8_t(s.quant);
        a.cbp[mb] = uint8_t((a.cbp[mb] & 3) | ((cbpy ^ 15) << 2));
    }
    return !r.overrun();
}

bool Mpeg4VideoEngine::partitionC(int mbX, int mbY) {
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mb = a.mb(mbX, mbY);
    const uint8_t flags = a.flags[mb];
    const int cbp = a.cbp[mb];
    s.useIntraDcVlc = s.quant < s.pic.intraDcThreshold;
    s.quant = a.quant[mb];
    if (flags & kMbIntra) {
        s.acPred = (flags & kMbAcPred) != 0;
        if (!decodeIntraBlocks(mbX, mbY, cbp, true)) return false;
        reconstructIntra(mbX, mbY);
        return true;
    }
    const int idx = a.lumaIndex(mbX, mbY, 0), wrap = a.lumaStride;
    int mv[4][2];
    for (int i = 0; i < 4; ++i) {
        const int at = idx + (i & 1) + (i >> 1) * wrap;
        mv[i][0] = a.motion[2 * at];
        mv[i][1] = a.motion[2 * at + 1];
    }
    predictMacroblock(m_forward, mbX, mbY, mv, (flags & kMbFourVectors) != 0, false);
    if (flags & kMbSkipped) return true;
    if (!decodeInterBlocks(cbp)) return false;
    addResidual(mbX, mbY, cbp);
    return true;
}

bool Mpeg4VideoEngine::decodePartitionedPacket(int first) {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    const int count = s.vol.mbWidth * s.vol.mbHeight;
    const int mbWidth = s.vol.mbWidth;
    const auto walk = [&](int n, auto&& step) {
        s.firstSliceLine = true;
        for (int mb = first; mb < first + n; ++mb) {
            const int mbX = mb % mbWidth, mbY = mb / mbWidth;
            if (mbX == s.resyncX && mbY == s.resyncY + 1) s.firstSliceLine = false;
            if (!step(mbX, mbY)) return false;
        }
        return true;
    };
    // Partition A up to its marker.
    int n = 0;
    s.firstSliceLine = true;
    for (int mb = first; mb < count; ++mb) {
        const int mbX = mb % mbWidth, mbY = mb / mbWidth;
        if (mbX == s.resyncX && mbY == s.resyncY + 1) s.firstSliceLine = false;
        bool marker;
        if (!partitionA(mbX, mbY, marker)) return false;
        if (marker) break;
        ++n;
    }
    if (n == 0) return false;
    if (s.pic.type == kPictureI) {
        while (r.peek(9) == 1 && !r.atEnd()) r.skip(9);
        if (r.get(19) != kDcMarker) return false;
    } else {
        while (r.peek(10) == 1 && !r.atEnd()) r.skip(10);
        if (r.get(17) != kMotionMarker) return false;
    }
    if (!walk(n, [&](int x, int y) { return partitionB(x, y); })) return false;
    if (!walk(n, [&](int x, int y) {
            if (!partitionC(x, y)) return false;
            ++s.macroblocksDone;
            return true;
        }))
        return false;
    return !r.overrun();
}

}  // namespace kx
