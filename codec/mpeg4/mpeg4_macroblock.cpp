// Mpeg4VideoEngine: the macroblock layer of I, P and B pictures -- MCBPC, CBPY, DC and AC
// coefficient decoding with the three escapes, intra DC/AC prediction, motion vector
// prediction and decoding, direct mode, inverse quantisation of both quantiser types -- and
// the reconstruction of each macroblock.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>

#include "codec/mpeg4/mpeg4_arrays.h"
#include "codec/mpeg4/mpeg4_engine.h"
#include "codec/mpeg4/mpeg4_tables.h"

namespace kx {

using namespace mpeg4;

namespace {

constexpr int8_t kDquant[4] = {-1, -2, 1, 2};

int median(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

int roundedDiv(int a, int b) { return (a >= 0 ? a + b / 2 : a - b / 2) / b; }

int clampQuant(int q) { return std::clamp(q, 1, 31); }

int16_t clampCoefficient(int v) { return int16_t(std::clamp(v, -2048, 2047)); }

}  // namespace

// --- Coefficients ----------------------------------------------------------------------------

namespace {

// One block's coefficient events: the code and its sign bit read in one step from 13 peeked
// bits, the three escapes, each level turned into a coefficient by level * qmul + qadd (qmul 1,
// qadd 0: the quantised level). False for an invalid code or a run past the block's end.
template <bool Intra>
bool readCoefficients(mpeg4::Mpeg4BitReader& r, int16_t* block, int position, const uint8_t* scan, int qmul,
                      int qadd) {
    const auto& table = Intra ? kIntraTcoefTable : kInterTcoefTable;
    const EscapeLimits& limits = Intra ? kIntraEscape : kInterEscape;
    for (;;) {
        const uint32_t bits = r.peek(13);
        VlcEntry<Tcoef> e = table[bits >> 1];
        if (e.length == 0) return false;
        int last, run, level;
        if (e.symbol.level != 0) {
            // The sign bit follows the code: both come from the same peek.
            const bool negative = (bits >> (12 - e.length)) & 1;
            r.skip(size_t(e.length) + 1);
            last = e.symbol.last;
            run = e.symbol.run;
            level = e.symbol.level * qmul + qadd;
            if (negative) level = -level;
        } else {
            r.skip(e.length);
            if (r.get(1) == 0) {
                // Escape 1: the level exceeds the largest the code's (last, run) has.
                e = table[r.peek(12)];
                if (e.length == 0 || e.symbol.level == 0) return false;
                r.skip(e.length);
                last = e.symbol.last;
                run = e.symbol.run;
                level = (e.symbol.level + limits.maxLevel[last][run]) * qmul + qadd;
                if (r.get(1)) level = -level;
            } else if (r.get(1) == 0) {
                // Escape 2: the run exceeds the largest the code's (last, level) has.
                e = table[r.peek(12)];
                if (e.length == 0 || e.symbol.level == 0) return false;
                r.skip(e.length);
                last = e.symbol.last;
                run = e.symbol.run + limits.maxRun[last][e.symbol.level] + 1;
                level = e.symbol.level * qmul + qadd;
                if (r.get(1)) level = -level;
            } else {
                // Escape 3: last, run and a 12-bit level between marker bits.
                last = int(r.get(1));
                run = int(r.get(6));
                r.skip(1);
                level = int(int32_t(r.get(12) << 20) >> 20);
                r.skip(1);
                if (level > 0)
                    level = level * qmul + qadd;
                else if (level < 0)
                    level = level * qmul - qadd;
                level = clampCoefficient(level);
            }
        }
        position += run;
        if (position > 63 || (position == 63 && !last)) return false;
        block[scan[position]] = int16_t(std::clamp(level, -32768, 32767));
        ++position;
        if (last) return !r.overrun();
    }
}

}  // namespace

bool Mpeg4VideoEngine::decodeBlockCoefficients(int16_t* block, bool intra, int first, const uint8_t* scan, int qmul,
                                               int qadd) {
    return intra ? readCoefficients<true>(*m_reader, block, first, scan, qmul, qadd)
                 : readCoefficients<false>(*m_reader, block, first, scan, qmul, qadd);
}

bool Mpeg4VideoEngine::decodeDc(int block, int& level) {
    Mpeg4BitReader& r = *m_reader;
    const VlcEntry<uint8_t> e = block < 4 ? kDcSizeLumaTable[r.peek(11)] : kDcSizeChromaTable[r.peek(12)];
    if (e.length == 0) return false;
    r.skip(e.length);
    const int size = e.symbol;
    level = 0;
    if (size == 0) return true;
    const int value = int(r.get(size));
    level = (value >> (size - 1)) ? value : value - (1 << size) + 1;
    if (size > 8) r.skip(1);  // marker
    return true;
}

// DC prediction from the left (A), above-left (B) and above (C) blocks; blocks outside the
// video packet or not intra count as 1024. Returns the quantised DC and keeps the
// reconstructed one (clipped to 0..2047) as the predictor of the blocks that follow.
int Mpeg4VideoEngine::predictDc(int mbX, int mbY, int n, int level, bool& fromTop) {
    const DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int scale = n < 4 ? kLumaDcScale[s.quant] : kChromaDcScale[s.quant];
    int16_t* dc = a.dc[a.plane(n)];
    const int idx = a.index(mbX, mbY, n), wrap = a.wrap(n);
    int left = dc[idx - 1], aboveLeft = dc[idx - 1 - wrap], above = dc[idx - wrap];
    if (s.firstSliceLine && n != 3) {
        if (n != 2) aboveLeft = above = 1024;
        if (n != 1 && mbX == s.resyncX) aboveLeft = left = 1024;
    }
    if (mbX == s.resyncX && mbY == s.resyncY + 1 && (n == 0 || n == 4 || n == 5)) aboveLeft = 1024;
    int prediction;
    if (std::abs(left - aboveLeft) < std::abs(aboveLeft - above)) {
        prediction = above;
        fromTop = true;
    } else {
        prediction = left;
        fromTop = false;
    }
    prediction = (prediction + (scale >> 1)) / scale;
    level += prediction;
    int reconstructed = level * scale;
    if (reconstructed & ~2047) reconstructed = reconstructed < 0 ? 0 : 2047;
    dc[idx] = int16_t(reconstructed);
    return level;
}

// AC prediction of the first row (from above) or column (from the left) of quantised
// coefficients, rescaled when the neighbour's quantiser differs; then the block's own first
// row and column are kept for the blocks that follow.
void Mpeg4VideoEngine::predictAc(int mbX, int mbY, int n, int16_t* block, bool fromTop) {
    const DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    int16_t* ac = a.ac[a.plane(n)] + size_t(a.index(mbX, mbY, n)) * 16;
    if (s.acPred) {
        if (!fromTop) {
            const int16_t* left = ac - 16;
            const int q = mbX > 0 ? a.quant[a.mb(mbX - 1, mbY)] : s.quant;
            if (mbX == 0 || q == s.quant || n == 1 || n == 3) {
                for (int i = 1; i < 8; ++i) block[i << 3] = int16_t(block[i << 3] + left[i]);
            } else {
                for (int i = 1; i < 8; ++i) block[i << 3] = int16_t(block[i << 3] + roundedDiv(left[i] * q, s.quant));
            }
        } else {
            const int16_t* above = ac - 16 * a.wrap(n);
            const int q = mbY > 0 ? a.quant[a.mb(mbX, mbY - 1)] : s.quant;
            if (mbY == 0 || q == s.quant || n == 2 || n == 3) {
                for (int i = 1; i < 8; ++i) block[i] = int16_t(block[i] + above[i + 8]);
            } else {
                for (int i = 1; i < 8; ++i) block[i] = int16_t(block[i] + roundedDiv(above[i + 8] * q, s.quant));
            }
        }
    }
    for (int i = 1; i < 8; ++i) {
        ac[i] = block[i << 3];
        ac[8 + i] = block[i];
    }
}

void Mpeg4VideoEngine::clearIntraEntries(int mbX, int mbY) {
    const Arrays a(m_blocks[3], m_state->layout);
    const int idx = a.lumaIndex(mbX, mbY, 0), wrap = a.lumaStride;
    a.dc[0][idx] = a.dc[0][idx + 1] = a.dc[0][idx + wrap] = a.dc[0][idx + 1 + wrap] = 1024;
    std::memset(a.ac[0] + size_t(idx) * 16, 0, 32 * sizeof(int16_t));
    std::memset(a.ac[0] + size_t(idx + wrap) * 16, 0, 32 * sizeof(int16_t));
    const int c = a.chromaIndex(mbX, mbY);
    a.dc[1][c] = a.dc[2][c] = 1024;
    std::memset(a.ac[1] + size_t(c) * 16, 0, 16 * sizeof(int16_t));
    std::memset(a.ac[2] + size_t(c) * 16, 0, 16 * sizeof(int16_t));
    a.dirty[a.mb(mbX, mbY)] = 0;
}

// Intra blocks: DC (from its own code, or from partition A), AC coefficients as quantised
// levels, DC and AC prediction.
bool Mpeg4VideoEngine::decodeIntraBlocks(int mbX, int mbY, int cbp, bool partitioned) {
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    for (int n = 0; n < 6; ++n) {
        int16_t* block = m_tables->blocks[n];
        bool fromTop = false;
        int first;
        if (s.useIntraDcVlc || partitioned) {
            int level;
            if (partitioned) {
                const int scale = n < 4 ? kLumaDcScale[s.quant] : kChromaDcScale[s.quant];
                level = (a.dc[a.plane(n)][a.index(mbX, mbY, n)] + (scale >> 1)) / scale;
                fromTop = ((a.dir[a.mb(mbX, mbY)] << n) & 32) != 0;
            } else {
                int difference;
                if (!decodeDc(n, difference)) return false;
                level = predictDc(mbX, mbY, n, difference, fromTop);
            }
            block[0] = int16_t(level);
            first = 1;
        } else {
            predictDc(mbX, mbY, n, 0, fromTop);
            first = 0;
        }
        if (cbp & (32 >> n)) {
            const uint8_t* scan = !s.acPred ? kZigzag.data() : fromTop ? kAlternateHorizontal.data()
                                                                       : kAlternateVertical.data();
            if (!decodeBlockCoefficients(block, true, first, scan, 1, 0)) return false;
        }
        if (first == 0) block[0] = int16_t(predictDc(mbX, mbY, n, block[0], fromTop));
        predictAc(mbX, mbY, n, block, fromTop);
    }
    return true;
}

// Inter blocks: H.263 levels are dequantised as they are read; MPEG levels afterwards with the
// matrix and the mismatch control.
bool Mpeg4VideoEngine::decodeInterBlocks(int cbp) {
    const DecoderState& s = *m_state;
    const int q = s.quant;
    for (int n = 0; n < 6; ++n) {
        if (!(cbp & (32 >> n))) continue;
        int16_t* block = m_tables->blocks[n];
        if (!s.vol.mpegQuant) {
            if (!decodeBlockCoefficients(block, false, 0, kZigzag.data(), 2 * q, (q - 1) | 1)) return false;
            continue;
        }
        if (!decodeBlockCoefficients(block, false, 0, kZigzag.data(), 1, 0)) return false;
        int sum = 0;
        for (int i = 0; i < 64; ++i) {
            const int level = block[i];
            if (level == 0) continue;
            const int magnitude = ((2 * std::abs(level) + 1) * q * s.vol.interMatrix[i]) >> 4;
            const int value = clampCoefficient(level < 0 ? -magnitude : magnitude);
            block[i] = int16_t(value);
            sum += value;
        }
        if ((sum & 1) == 0) block[63] = int16_t(block[63] ^ 1);
    }
    return true;
}

void Mpeg4VideoEngine::reconstructIntra(int mbX, int mbY) {
    const DecoderState& s = *m_state;
    const int q = s.quant;
    for (int n = 0; n < 6; ++n) {
        int16_t* block = m_tables->blocks[n];
        const int scale = n < 4 ? kLumaDcScale[q] : kChromaDcScale[q];
        block[0] = clampCoefficient(block[0] * scale);
        if (s.vol.mpegQuant) {
            for (int i = 1; i < 64; ++i) {
                const int level = block[i];
                if (level == 0) continue;
                const int magnitude = (std::abs(level) * q * s.vol.intraMatrix[i]) >> 3;
                block[i] = clampCoefficient(level < 0 ? -magnitude : magnitude);
            }
        } else {
            const int add = (q - 1) | 1;
            for (int i = 1; i < 64; ++i) {
                const int level = block[i];
                if (level == 0) continue;
                block[i] = clampCoefficient(level < 0 ? level * 2 * q - add : level * 2 * q + add);
            }
        }
        ptrdiff_t stride;
        uint8_t* dst = blockTarget(n, mbX, mbY, stride);
        idctPut(m_idct, dst, stride, block);
    }
    std::memset(m_tables->blocks, 0, sizeof(m_tables->blocks));
}

// Where block n (0 to 3 luma, 4 Cb, 5 Cr) of macroblock (mbX, mbY) lies in the current picture,
// and the row stride of its plane.
uint8_t* Mpeg4VideoEngine::blockTarget(int n, int mbX, int mbY, ptrdiff_t& stride) const {
    if (n < 4) {
        stride = m_current.lumaStride;
        return m_current.y + (mbY * 16 + (n >> 1) * 8) * stride + mbX * 16 + (n & 1) * 8;
    }
    stride = m_current.chromaStride;
    return (n == 4 ? m_current.cb : m_current.cr) + (mbY * 8) * stride + mbX * 8;
}

void Mpeg4VideoEngine::addResidual(int mbX, int mbY, int cbp) {
    for (int n = 0; n < 6; ++n) {
        if (!(cbp & (32 >> n))) continue;
        int16_t* block = m_tables->blocks[n];
        ptrdiff_t stride;
        uint8_t* dst = blockTarget(n, mbX, mbY, stride);
        idctAdd(m_idct, dst, stride, block);
        std::memset(block, 0, 64 * sizeof(int16_t));
    }
}

// --- Motion vectors --------------------------------------------------------------------------

// The prediction of block `block` (0 to 3) from the vectors left (A), above (B) and above-right
// (C); in the first row of a video packet the candidates outside it are left out as the
// standard says (one missing counts as zero, two missing give the third).
void Mpeg4VideoEngine::predictMotion(int mbX, int mbY, int block, int& px, int& py) {
    static constexpr int kOffset[4] = {2, 1, 1, -1};
    const DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int wrap = a.lumaStride;
    const int idx = a.lumaIndex(mbX, mbY, block);
    int16_t* mv = a.motion;
    int16_t* left = mv + 2 * (idx - 1);
    const auto candidate = [&](int at) { return mv + 2 * at; };
    if (s.firstSliceLine && block < 3) {
        if (block == 0) {
            if (mbX == s.resyncX) {
                px = py = 0;
            } else if (mbX + 1 == s.resyncX) {
                const int16_t* c = candidate(idx + kOffset[0] - wrap);
                if (mbX == 0) {
                    px = c[0];
                    py = c[1];
                } else {
                    px = median(left[0], 0, c[0]);
                    py = median(left[1], 0, c[1]);
                }
            } else {
                px = left[0];
                py = left[1];
            }
        } else if (block == 1) {
            if (mbX + 1 == s.resyncX) {
                const int16_t* c = candidate(idx + kOffset[1] - wrap);
                px = median(left[0], 0, c[0]);
                py = median(left[1], 0, c[1]);
            } else {
                px = left[0];
                py = left[1];
            }
        } else {
            const int16_t* b = candidate(idx - wrap);
            const int16_t* c = candidate(idx + kOffset[2] - wrap);
            // The left macroblock lies in another packet: its vector is taken as zero (and kept
            // so, as the reference decoder does, for B pictures' direct mode).
            if (mbX == s.resyncX) left[0] = left[1] = 0;
            px = median(left[0], b[0], c[0]);
            py = median(left[1], b[1], c[1]);
        }
    } else {
        const int16_t* b = candidate(idx - wrap);
        const int16_t* c = candidate(idx + kOffset[block] - wrap);
        px = median(left[0], b[0], c[0]);
        py = median(left[1], b[1], c[1]);
    }
}

// A motion vector component: the motion code, f_code - 1 residual bits, added to the
// prediction and wrapped into the range the f_code allows.
bool Mpeg4VideoEngine::decodeMotion(int prediction, int fcode, int& value) {
    Mpeg4BitReader& r = *m_reader;
    const VlcEntry<uint8_t> e = kMotionTable[r.peek(12)];
    if (e.length == 0) return false;
    r.skip(e.length);
    if (e.symbol == 0) {
        value = prediction;
        return true;
    }
    const bool negative = r.get(1) != 0;
    const int shift = fcode - 1;
    int v = e.symbol;
    if (shift) v = (((v - 1) << shift) | int(r.get(shift))) + 1;
    if (negative) v = -v;
    v += prediction;
    const int bits = 5 + fcode;
    value = int(uint32_t(v) << (32 - bits)) >> (32 - bits);
    return true;
}

// --- I and P macroblocks ---------------------------------------------------------------------

bool Mpeg4VideoEngine::decodeIntraOrPMacroblock(int mbX, int mbY) {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mb = a.mb(mbX, mbY);
    const int idx = a.lumaIndex(mbX, mbY, 0), wrap = a.lumaStride;
    int16_t* motion = a.motion;
    const auto setMotion = [&](int mx, int my) {
        for (int at : {idx, idx + 1, idx + wrap, idx + wrap + 1}) {
            motion[2 * at] = int16_t(mx);
            motion[2 * at + 1] = int16_t(my);
        }
    };
    int symbol;
    if (s.pic.type == kPictureP) {
        for (;;) {
            if (r.get(1)) {
                // Not coded: the reference's macroblock, no residual.
                a.flags[mb] = kMbSkipped;
                a.quant[mb] = uint8_t(s.quant);
                setMotion(0, 0);
                if (a.dirty[mb]) clearIntraEntries(mbX, mbY);
                static constexpr int kZero[4][2] = {};
                predictMacroblock(m_forward, mbX, mbY, kZero, false, false);
                return !r.overrun();
            }
            const VlcEntry<uint8_t> e = kInterMcbpcTable[r.peek(9)];
            if (e.length == 0) return false;
            r.skip(e.length);
            if (e.symbol != kMcbpcStuffingP) {
                symbol = e.symbol;
                break;
            }
            if (r.atEnd()) return false;
        }
    } else {
        for (;;) {
            const VlcEntry<uint8_t> e = kIntraMcbpcTable[r.peek(9)];
            if (e.length == 0) return false;
            r.skip(e.length);
            if (e.symbol != kMcbpcStuffingI) {
                symbol = (e.symbol & 3) | 4 | ((e.symbol & 4) << 1);
                break;
            }
            if (r.atEnd()) return false;
        }
    }
    const bool intra = symbol & 4;
    const bool dquant = symbol & 8;
    if (intra) {
        s.acPred = r.get(1) != 0;
        const VlcEntry<uint8_t> cbpy = h263::lookupCbpy(r.peek(6));
        if (cbpy.length == 0) return false;
        r.skip(cbpy.length);
        const int cbp = (symbol & 3) | (cbpy.symbol << 2);
        s.useIntraDcVlc = s.quant < s.pic.intraDcThreshold;
        if (dquant) s.quant = clampQuant(s.quant + kDquant[r.get(2)]);
        a.flags[mb] = uint8_t(kMbIntra | (s.acPred ? kMbAcPred : 0));
        a.quant[mb] = uint8_t(s.quant);
        a.dirty[mb] = 1;
        setMotion(0, 0);
        if (!decodeIntraBlocks(mbX, mbY, cbp, false)) return false;
        reconstructIntra(mbX, mbY);
        return !r.overrun();
    }
    const VlcEntry<uint8_t> cbpy = h263::lookupCbpy(r.peek(6));
    if (cbpy.length == 0) return false;
    r.skip(cbpy.length);
    const int cbp = (symbol & 3) | ((cbpy.symbol ^ 15) << 2);
    if (dquant) s.quant = clampQuant(s.quant + kDquant[r.get(2)]);
    a.quant[mb] = uint8_t(s.quant);
    if (a.dirty[mb]) clearIntraEntries(mbX, mbY);
    bool ok = true;
    decodeInterMacroblockMotion(mbX, mbY, symbol & 16, ok);
    if (!ok) return false;
    if (!decodeInterBlocks(cbp)) return false;
    addResidual(mbX, mbY, cbp);
    return !r.overrun();
}

// Reads the one or four vectors of an inter macroblock of a P picture, keeps them for the
// prediction of later vectors and for B pictures, and predicts the macroblock.
void Mpeg4VideoEngine::decodeInterMacroblockMotion(int mbX, int mbY, bool fourVectors, bool& ok) {
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mb = a.mb(mbX, mbY);
    const int idx = a.lumaIndex(mbX, mbY, 0), wrap = a.lumaStride;
    int16_t* motion = a.motion;
    int mv[4][2];
    const int fcode = s.pic.fcodeForward;
    if (!fourVectors) {
        int px, py;
        predictMotion(mbX, mbY, 0, px, py);
        if (!decodeMotion(px, fcode, mv[0][0]) || !decodeMotion(py, fcode, mv[0][1])) {
            ok = false;
            return;
        }
        for (int at : {idx, idx + 1, idx + wrap, idx + wrap + 1}) {
            motion[2 * at] = int16_t(mv[0][0]);
            motion[2 * at + 1] = int16_t(mv[0][1]);
        }
        a.flags[mb] = 0;
    } else {
        for (int i = 0; i < 4; ++i) {
            int px, py;
            predictMotion(mbX, mbY, i, px, py);
            if (!decodeMotion(px, fcode, mv[i][0]) || !decodeMotion(py, fcode, mv[i][1])) {
                ok = false;
                return;
            }
            const int at = idx + (i & 1) + (i >> 1) * wrap;
            motion[2 * at] = int16_t(mv[i][0]);
            motion[2 * at + 1] = int16_t(mv[i][1]);
        }
        a.flags[mb] = kMbFourVectors;
    }
    predictMacroblock(m_forward, mbX, mbY, mv, fourVectors, false);
}

// --- B macroblocks -----------------------------------------------------------------------------

bool Mpeg4VideoEngine::decodeBMacroblock(int mbX, int mbY) {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    const Arrays a(m_blocks[3], s.layout);
    const int mb = a.mb(mbX, mbY);
    if (mbX == 0) std::memset(s.lastMv, 0, sizeof(s.lastMv));
    const uint8_t colocated = a.flags[mb];
    int fwd[4][2] = {}, bwd[4][2] = {};
    if (colocated & kMbSkipped) {
        // Skipped in the future anchor: skipped here too, the past anchor's macroblock.
        a.quant[mb] = uint8_t(s.quant);
        predictMacroblock(m_forward, mbX, mbY, fwd, false, false);
        return true;
    }
    enum { kDirect, kInterpolated, kBackward, kForward };
    int type = kDirect, cbp = 0;
    bool directSkip = false;
    if (r.get(1)) {
        directSkip = true;
    } else {
        const bool noPattern = r.get(1) != 0;
        const VlcEntry<uint8_t> e = kBTypeTable[r.peek(4)];
        if (e.length == 0) return false;
        r.skip(e.length);
        type = e.symbol;
        if (!noPattern) cbp = int(r.get(6));
        if (type != kDirect && cbp && r.get(1)) s.quant = clampQuant(s.quant + int(r.get(1)) * 4 - 2);
        if (type == kForward || type == kInterpolated) {
            int mx, my;
            if (!decodeMotion(s.lastMv[0][0], s.pic.fcodeForward, mx) ||
                !decodeMotion(s.lastMv[0][1], s.pic.fcodeForward, my))
                return false;
            s.lastMv[0][0] = fwd[0][0] = mx;
            s.lastMv[0][1] = fwd[0][1] = my;
        }
        if (type == kBackward || type == kInterpolated) {
            int mx, my;
            if (!decodeMotion(s.lastMv[1][0], s.pic.fcodeBackward, mx) ||
                !decodeMotion(s.lastMv[1][1], s.pic.fcodeBackward, my))
                return false;
            s.lastMv[1][0] = bwd[0][0] = mx;
            s.lastMv[1][1] = bwd[0][1] = my;
        }
    }
    a.quant[mb] = uint8_t(s.quant);
    bool fourVectors = false;
    if (type == kDirect) {
        int dx = 0, dy = 0;
        if (!directSkip && (!decodeMotion(0, 1, dx) || !decodeMotion(0, 1, dy))) return false;
        // The future anchor's vectors scaled by the temporal distances, plus the delta.
        const int pp = s.ppTime, pb = s.pbTime;
        const int idx = a.lumaIndex(mbX, mbY, 0), wrap = a.lumaStride;
        const int count = (colocated & kMbFourVectors) ? 4 : 1;
        for (int i = 0; i < count; ++i) {
            const int at = idx + (i & 1) + (i >> 1) * wrap;
            const int delta[2] = {dx, dy};
            for (int c = 0; c < 2; ++c) {
                const int p = a.motion[2 * at + c];
                fwd[i][c] = int(int64_t(p) * pb / pp) + delta[c];
                bwd[i][c] = delta[c] ? fwd[i][c] - p : int(int64_t(p) * (pb - pp) / pp);
            }
        }
        if (count == 1)
            for (int i = 1; i < 4; ++i) {
                fwd[i][0] = fwd[0][0], fwd[i][1] = fwd[0][1];
                bwd[i][0] = bwd[0][0], bwd[i][1] = bwd[0][1];
            }
        fourVectors = count == 4 || s.vol.quarterSample;
    }
    if (!decodeInterBlocks(cbp)) return false;
    const bool useForward = type != kBackward;
    const bool useBackward = type != kForward;
    if (useForward) predictMacroblock(m_forward, mbX, mbY, fwd, fourVectors, false);
    if (useBackward) predictMacroblock(m_backward, mbX, mbY, bwd, fourVectors, useForward);
    addResidual(mbX, mbY, cbp);
    return !r.overrun();
}

}  // namespace kx
