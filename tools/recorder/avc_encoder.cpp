// AvcEncoder: decisions, transform and quantisation, and the bitstream of the avc codec.
#include "tools/recorder/avc_encoder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "codec/avc/avc_prediction.h"
#include "codec/avc/avc_tables.h"
#include "tools/recorder/native_encoder_tables.h"

namespace kx {
namespace {

using avc::MbType;

// Multipliers of H.264's forward quantisation by q mod 6, for positions with both
// coordinates even, both odd, and mixed (the same classes as LevelScale).
constexpr int32_t kQuantMultiplier[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490},
                                            {10082, 4194, 6554}, {9362, 3647, 5825},
                                            {8192, 3355, 5243},  {7282, 2893, 4559}};
// Levels the encoder writes stay within what a level_prefix of at most 15 codes.
constexpr int32_t kMaxLevel = 2047;
constexpr uint8_t kRasterScan[4] = {0, 1, 2, 3};

int positionClass(int position) {
    const int row = position >> 2, column = position & 3;
    if ((row & 1) == 0 && (column & 1) == 0) return 0;
    return (row & 1) && (column & 1) ? 1 : 2;
}

// H.264's forward core transform of a 4x4 residual (raster order).
void forwardTransform(const int32_t* x, int32_t* w) {
    int32_t t[16];
    for (int i = 0; i < 4; ++i) {
        const int32_t* r = x + 4 * i;
        const int32_t a = r[0] + r[3], b = r[1] + r[2], c = r[1] - r[2], d = r[0] - r[3];
        t[4 * i] = a + b;
        t[4 * i + 1] = 2 * d + c;
        t[4 * i + 2] = a - b;
        t[4 * i + 3] = d - 2 * c;
    }
    for (int j = 0; j < 4; ++j) {
        const int32_t a = t[j] + t[12 + j], b = t[4 + j] + t[8 + j], c = t[4 + j] - t[8 + j],
                      d = t[j] - t[12 + j];
        w[j] = a + b;
        w[4 + j] = 2 * d + c;
        w[8 + j] = a - b;
        w[12 + j] = d - 2 * c;
    }
}

int32_t quantise(int32_t value, int32_t multiplier, int shift, int64_t rounding) {
    const int64_t magnitude = (int64_t(std::abs(value)) * multiplier + rounding) >> shift;
    const int32_t level = int32_t(std::min<int64_t>(magnitude, kMaxLevel));
    return value < 0 ? -level : level;
}

// SAD of two 16x16 blocks; the fixed size lets the compiler vectorise the rows.
uint32_t sad16x16(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride) {
    uint32_t sum = 0;
    for (int y = 0; y < 16; ++y) {
        uint32_t row = 0;
        for (int x = 0; x < 16; ++x) row += uint32_t(std::abs(a[x] - b[x]));
        sum += row;
        a += aStride, b += bStride;
    }
    return sum;
}

// Sum of absolute values of the 4x4 Hadamard transform of a - b, halved: the residual's cost
// after a transform, which SAD misjudges for smooth or structured differences.
uint32_t satd4x4(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride) {
    int32_t d[16];
    for (int y = 0; y < 4; ++y) {
        const int32_t s0 = a[y * aStride] - b[y * bStride],
                      s1 = a[y * aStride + 1] - b[y * bStride + 1],
                      s2 = a[y * aStride + 2] - b[y * bStride + 2],
                      s3 = a[y * aStride + 3] - b[y * bStride + 3];
        const int32_t e0 = s0 + s3, e1 = s1 + s2, e2 = s1 - s2, e3 = s0 - s3;
        d[4 * y] = e0 + e1;
        d[4 * y + 1] = e3 + e2;
        d[4 * y + 2] = e0 - e1;
        d[4 * y + 3] = e3 - e2;
    }
    uint32_t sum = 0;
    for (int x = 0; x < 4; ++x) {
        const int32_t e0 = d[x] + d[12 + x], e1 = d[4 + x] + d[8 + x], e2 = d[4 + x] - d[8 + x],
                      e3 = d[x] - d[12 + x];
        sum +=
            uint32_t(std::abs(e0 + e1) + std::abs(e3 + e2) + std::abs(e0 - e1) + std::abs(e3 - e2));
    }
    return (sum + 1) >> 1;
}

uint32_t satd(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride, int size) {
    uint32_t sum = 0;
    for (int y = 0; y < size; y += 4)
        for (int x = 0; x < size; x += 4)
            sum += satd4x4(a + y * aStride + x, aStride, b + y * bStride + x, bStride);
    return sum;
}

uint64_t ssd(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride, int width,
             int height) {
    uint64_t sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int d = a[y * aStride + x] - b[y * bStride + x];
            sum += uint64_t(d * d);
        }
    return sum;
}

// Counts the bits the syntax writers would put, for trial codings.
struct BitCounter {
    uint32_t bits = 0;
    void put(uint32_t, int count) { bits += uint32_t(count); }
};

template <class Sink>
void writeExpGolomb(Sink& out, uint32_t codeNumber) {
    const int zeros = std::bit_width(codeNumber + 1) - 1;
    out.put(codeNumber + 1, 2 * zeros + 1);
}

template <class Sink>
void writeVector(Sink& out, int value) {
    const native_encoding::VlcCode code = native_encoding::mvdCode(value);
    out.put(code.code, code.length);
}

int vectorBits(int mvx, int mvy) {
    return native_encoding::mvdCode(mvx).length + native_encoding::mvdCode(mvy).length;
}

// The luma 4x4 intra modes with the lowest SATD, this many, are coded in trial; the best of
// them by squared error and bits wins (every mode costs the same bits in the fixed packing).
constexpr int kIntraTrials = 3;

int nCClass(int nC) {
    return nC < 0 ? 0 : nC < 2 ? 1 : nC < 4 ? 2 : nC < 8 ? 3 : 4;
}

}  // namespace

AvcEncoder::AvcEncoder(int width, int height, AvcEncoderSettings settings)
    : m_width(width),
      m_height(height),
      m_settings(settings),
      m_bits(size_t(width) * size_t(height) * 8 + 4096) {
    assert(settings.quantiser >= 10 && settings.quantiser <= 59);
    assert(settings.version == 3 || settings.version == 4);
    const bool sized = m_rec.resize(width, height);
    assert(sized);
    (void)sized;
    m_source[0].assign(size_t(width) * size_t(height), 0);
    m_source[1].assign(size_t(width / 2) * size_t(height / 2), 128);
    m_source[2].assign(size_t(width / 2) * size_t(height / 2), 128);
    m_picture.assign(m_rec.pictureBytes(), 0);
    m_kernelPath = bestKernelPath();
    m_searchVectors.assign(2 * size_t(m_rec.mbColumns()) * size_t(m_rec.mbRows()), {0, 0});
    for (uint8_t code = 0; code < 48; ++code) {
        m_intraCodeOf[avc::kIntraCbp[code]] = code;
        m_interCodeOf[avc::kInterCbp[code]] = code;
    }
}

std::vector<AvcCodedPicture> avcCodedOrder(int count, int bFrames) {
    std::vector<AvcCodedPicture> order;
    if (count <= 0) return order;
    order.reserve(size_t(count));
    order.push_back({0, AvcPictureType::I, 0});
    for (int next = 1; next < count;) {
        const int reference = std::min(next + bFrames, count - 1);
        order.push_back({reference, AvcPictureType::P, 0});
        for (int b = next; b < reference; ++b)
            order.push_back({b, AvcPictureType::B, AvcEncoder::bParameterFor(b - next + 1, reference - next + 1)});
        next = reference + 1;
    }
    return order;
}

int AvcEncoder::bParameterFor(int position, int span) {
    // Direct vectors scale the co-located vector by 1 - (b + 1) / 3 toward the earlier
    // reference: b = 1 for a third of the way, 0 for two thirds.
    const int thirds = (3 * (span - position) + span / 2) / span;  // 3 x (1 - fraction), rounded
    return std::clamp(thirds - 1, 0, 3);
}

void AvcEncoder::copySource(const YuvPictureView& picture) {
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? m_width : m_width / 2, h = plane == 0 ? m_height : m_height / 2;
        for (int y = 0; y < h; ++y)
            std::memcpy(
                m_source[size_t(plane)].data() + size_t(y) * size_t(w),
                picture.planes[size_t(plane)] + ptrdiff_t(y) * picture.strides[size_t(plane)],
                size_t(w));
    }
}

// CAVLC of one block whose levels are at block[scan[first + i]].
template <class Sink>
void AvcEncoder::writeBlock(Sink& out, int nC, const int32_t* block, const uint8_t* scan, int first,
                            int maxCoefficients) {
    int32_t levels[16];  // highest frequency first
    int runs[16];
    int total = 0, zeros = 0, last = -1;
    for (int i = maxCoefficients - 1; i >= 0; --i) {
        const int32_t level = block[scan[first + i]];
        if (level == 0) {
            if (last >= 0) ++runs[total - 1];
            continue;
        }
        if (last < 0) last = i;
        levels[total] = level;
        runs[total++] = 0;
    }
    int ones = 0;
    while (ones < total && ones < 3 && std::abs(levels[ones]) == 1) ++ones;
    if (total > 0) zeros = last + 1 - total;
    if constexpr (std::is_same_v<Sink, BitWriter>) ++m_statistics.tokenTables[size_t(nCClass(nC))];

    const int symbol = total * 4 + ones;
    if (nC >= 8) {
        out.put(total == 0 ? 3u : uint32_t((total - 1) << 2 | ones), 6);
    } else if (nC < 0) {
        out.put(avc::kChromaDcTokenValue[symbol], avc::kChromaDcTokenLength[symbol]);
    } else {
        const int table = nC < 2 ? 0 : nC < 4 ? 1 : 2;
        out.put(avc::kCoeffTokenValue[table][symbol], avc::kCoeffTokenLength[table][symbol]);
    }
    if (total == 0) return;
    for (int i = 0; i < ones; ++i) out.put(levels[i] < 0 ? 1 : 0, 1);
    int suffixLength = total > 10 && ones < 3 ? 1 : 0;
    for (int i = ones; i < total; ++i) {
        const int32_t level = levels[i];
        int32_t code = level > 0 ? 2 * level - 2 : -2 * level - 1;
        if (i == ones && ones < 3) code -= 2;
        int prefix;
        uint32_t suffix = 0;
        int suffixSize;
        if (suffixLength == 0) {
            if (code < 14) {
                prefix = code, suffixSize = 0;
            } else if (code < 30) {
                prefix = 14, suffix = uint32_t(code - 14), suffixSize = 4;
            } else {
                prefix = 15, suffix = uint32_t(code - 30), suffixSize = 12;
            }
        } else if (code < (15 << suffixLength)) {
            prefix = code >> suffixLength, suffix = uint32_t(code & ((1 << suffixLength) - 1)),
            suffixSize = suffixLength;
        } else {
            prefix = 15, suffix = uint32_t(code - (15 << suffixLength)), suffixSize = 12;
        }
        assert(suffix < (1u << suffixSize) || suffixSize == 0);
        out.put(1, prefix + 1);
        if (suffixSize) out.put(suffix, suffixSize);
        if (suffixLength == 0) suffixLength = 1;
        if (std::abs(level) > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
    }
    if (total < maxCoefficients) {
        if (maxCoefficients == 4)
            out.put(avc::kChromaDcZerosValue[total - 1][zeros],
                    avc::kChromaDcZerosLength[total - 1][zeros]);
        else
            out.put(avc::kTotalZerosValue[total - 1][zeros],
                    avc::kTotalZerosLength[total - 1][zeros]);
    }
    int zerosLeft = zeros;
    for (int i = 0; i < total - 1 && zerosLeft > 0; ++i) {
        const int table = std::min(zerosLeft, 7) - 1;
        out.put(avc::kRunBeforeValue[table][runs[i]], avc::kRunBeforeLength[table][runs[i]]);
        zerosLeft -= runs[i];
    }
}

template <class Sink>
void AvcEncoder::writeResidual(Sink& out, int column, int row) {
    uint8_t* counts = m_rec.counts(column, row);
    std::memset(counts, 0, 24);
    for (int k = 0; k < 16; ++k) {
        if (!(m_mb.cbp & (1 << (k >> 2)))) continue;
        const int x = avc::kBlockX[k] >> 2, y = avc::kBlockY[k] >> 2;
        writeBlock(out, m_rec.lumaNc(column, row, x, y), m_mb.luma[k], avc::kZigzag4x4, 0, 16);
        counts[y * 4 + x] = m_mb.lumaCount[k];
    }
    const int chroma = m_mb.cbp >> 4;
    if (chroma >= 1)
        for (int plane = 0; plane < 2; ++plane)
            writeBlock(out, -1, m_mb.chromaDc[plane], kRasterScan, 0, 4);
    if (chroma >= 2)
        for (int plane = 0; plane < 2; ++plane)
            for (int b = 0; b < 4; ++b) {
                writeBlock(out, m_rec.chromaNc(column, row, plane, b & 1, b >> 1),
                           m_mb.chromaAc[plane][b], avc::kZigzag4x4, 1, 15);
                counts[16 + plane * 4 + b] = m_mb.chromaAcCount[plane][b];
            }
}

// Chroma residual of both planes against the predictions: DC levels through the 2x2
// Hadamard transform, AC levels per block; the pattern's chroma part (0, 1 DC only, 2 AC too).
void AvcEncoder::quantiseChroma(int column, int row, const uint8_t* cb, const uint8_t* cr,
                                bool intra) {
    const int q = m_rec.quantiser();
    const int shift = 15 + q / 6;
    const int64_t rounding = (int64_t(1) << shift) / (intra ? 3 : 6);
    bool anyDc = false, anyAc = false;
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t* prediction = plane == 0 ? cb : cr;
        int32_t dc[4];
        for (int b = 0; b < 4; ++b) {
            int32_t residual[16], w[16];
            const int bx = (b & 1) * 4, by = (b >> 1) * 4;
            for (int i = 0; i < 16; ++i)
                residual[i] =
                    sourceChroma(plane, column * 8 + bx + (i & 3), row * 8 + by + (i >> 2))[0] -
                    prediction[(by + (i >> 2)) * 8 + bx + (i & 3)];
            forwardTransform(residual, w);
            dc[b] = w[0];
            int count = 0;
            for (int i = 1; i < 16; ++i) {
                const int32_t level =
                    quantise(w[i], kQuantMultiplier[q % 6][positionClass(i)], shift, rounding);
                m_mb.chromaAc[plane][b][i] = level;
                count += level != 0;
            }
            m_mb.chromaAcCount[plane][b] = uint8_t(count);
            anyAc |= count != 0;
        }
        const int32_t f[4] = {dc[0] + dc[1] + dc[2] + dc[3], dc[0] - dc[1] + dc[2] - dc[3],
                              dc[0] + dc[1] - dc[2] - dc[3], dc[0] - dc[1] - dc[2] + dc[3]};
        for (int i = 0; i < 4; ++i) {
            m_mb.chromaDc[plane][i] =
                quantise(f[i], kQuantMultiplier[q % 6][0], shift + 1, 2 * rounding);
            anyDc |= m_mb.chromaDc[plane][i] != 0;
        }
    }
    if (!anyAc) {
        std::memset(m_mb.chromaAc, 0, sizeof m_mb.chromaAc);
        std::memset(m_mb.chromaAcCount, 0, sizeof m_mb.chromaAcCount);
    }
    if (!anyAc && !anyDc) std::memset(m_mb.chromaDc, 0, sizeof m_mb.chromaDc);
    m_mb.cbp = uint8_t((m_mb.cbp & 15) | (anyAc ? 2 : anyDc ? 1 : 0) << 4);
}

uint64_t AvcEncoder::encodeIntra(int column, int row) {
    m_mb.type = MbType::Intra;
    m_mb.cbp = 0;
    const int q = m_rec.quantiser();
    const int shift = 15 + q / 6;
    const int64_t rounding = (int64_t(1) << shift) / 3;
    // The coefficient counts of this macroblock's blocks, for the nC of the later ones.
    uint8_t* counts = m_rec.counts(column, row);
    std::memset(counts, 0, 24);
    uint64_t distortion = 0;
    for (int k = 0; k < 16; ++k) {
        const int x0 = column * 16 + avc::kBlockX[k], y0 = row * 16 + avc::kBlockY[k];
        const uint8_t* source = sourceLuma(x0, y0);
        const avc::LumaNeighbours n = m_rec.lumaNeighbours(column, row, k);
        // Rank the modes by SATD, keeping the best few.
        int ranked[kIntraTrials];
        uint32_t rankedCost[kIntraTrials];
        int kept = 0;
        for (int mode = 0; mode < 9; ++mode) {
            avc::predictLuma4x4(mode, n, m_trial, 4);
            const uint32_t cost = satd4x4(m_trial, 4, source, m_width);
            int at = kept < kIntraTrials ? kept++ : kIntraTrials;
            while (at > 0 && rankedCost[at - 1] > cost) {
                if (at < kIntraTrials)
                    ranked[at] = ranked[at - 1], rankedCost[at] = rankedCost[at - 1];
                --at;
            }
            if (at < kIntraTrials) ranked[at] = mode, rankedCost[at] = cost;
        }
        // Code each in trial: squared error of the reconstruction + lambda x the block's bits.
        const int nC = m_rec.lumaNc(column, row, avc::kBlockX[k] >> 2, avc::kBlockY[k] >> 2);
        double bestCost = 0;
        uint64_t bestError = 0;
        int bestMode = -1, bestCount = 0;
        int32_t bestLevels[16];
        uint8_t bestBlock[16];
        for (int t = 0; t < kept; ++t) {
            uint8_t block[16];
            avc::predictLuma4x4(ranked[t], n, block, 4);
            int32_t residual[16], w[16], levels[16];
            for (int i = 0; i < 16; ++i)
                residual[i] = source[(i >> 2) * m_width + (i & 3)] - block[i];
            forwardTransform(residual, w);
            int count = 0;
            for (int i = 0; i < 16; ++i) {
                levels[i] =
                    quantise(w[i], kQuantMultiplier[q % 6][positionClass(i)], shift, rounding);
                count += levels[i] != 0;
            }
            BitCounter bits;
            if (count) {
                int32_t c[16];
                for (int i = 0; i < 16; ++i) c[i] = avc::dequantise(levels[i], m_rec.scale(i));
                avc::addInverseTransform(c, block, 4);
                writeBlock(bits, nC, levels, avc::kZigzag4x4, 0, 16);
            }
            const uint64_t error = ssd(block, 4, source, m_width, 4, 4);
            const double cost = double(error) + m_lambda * bits.bits;
            if (bestMode < 0 || cost < bestCost) {
                bestCost = cost, bestError = error, bestMode = ranked[t], bestCount = count;
                std::memcpy(bestLevels, levels, sizeof levels);
                std::memcpy(bestBlock, block, sizeof block);
            }
        }
        m_mb.lumaModes[k] = uint8_t(bestMode);
        std::memcpy(m_mb.luma[k], bestLevels, sizeof bestLevels);
        m_mb.lumaCount[k] = uint8_t(bestCount);
        counts[(avc::kBlockY[k] >> 2) * 4 + (avc::kBlockX[k] >> 2)] = uint8_t(bestCount);
        if (bestCount) m_mb.cbp |= uint8_t(1 << (k >> 2));
        distortion += bestError;
        // The later blocks predict from this one as the decoder will have it.
        uint8_t* target = m_rec.lumaAt(x0, y0);
        for (int y = 0; y < 4; ++y) std::memcpy(target + y * m_width, bestBlock + 4 * y, 4);
    }
    // Chroma: every mode coded in trial (both planes share it).
    double bestCost = 0;
    uint64_t bestError = 0;
    int bestMode = -1;
    const uint8_t lumaPattern = m_mb.cbp & 15;
    for (int mode = 0; mode < 4; ++mode) {
        for (int plane = 0; plane < 2; ++plane)
            avc::predictChroma8x8(mode, m_rec.chromaNeighbours(column, row, plane),
                                  m_predictionChroma[plane], 8);
        m_mb.cbp = lumaPattern;
        quantiseChroma(column, row, m_predictionChroma[0], m_predictionChroma[1], true);
        const uint64_t error =
            chromaDistortion(column, row, m_predictionChroma[0], m_predictionChroma[1]);
        BitCounter bits;
        writeExpGolomb(bits, m_intraCodeOf[m_mb.cbp]);
        if (m_mb.cbp >> 4) {
            // Only the chroma blocks: the luma ones are the same for every chroma mode.
            const uint8_t pattern = m_mb.cbp;
            m_mb.cbp &= 0x30;
            writeResidual(bits, column, row);
            m_mb.cbp = pattern;
        }
        const double cost = double(error) + m_lambda * bits.bits;
        if (bestMode < 0 || cost < bestCost) bestCost = cost, bestError = error, bestMode = mode;
    }
    m_mb.chromaMode = uint8_t(bestMode);
    for (int plane = 0; plane < 2; ++plane)
        avc::predictChroma8x8(bestMode, m_rec.chromaNeighbours(column, row, plane),
                              m_predictionChroma[plane], 8);
    m_mb.cbp = lumaPattern;
    quantiseChroma(column, row, m_predictionChroma[0], m_predictionChroma[1], true);
    return distortion + bestError;
}

template <class Sink>
void AvcEncoder::writeIntraSyntax(Sink& out, int column, int row) {
    for (int group = 0; group < 4; ++group) {
        const uint8_t* d = m_mb.lumaModes + group * 4;
        out.put(uint32_t(d[0] * 729 + d[1] * 81 + d[2] * 9 + d[3]), 13);
    }
    out.put(m_mb.chromaMode, 2);
    writeExpGolomb(out, m_intraCodeOf[m_mb.cbp]);
    writeResidual(out, column, row);
}

template <class Sink>
void AvcEncoder::writeInterSyntax(Sink& out, int column, int row) {
    writeVector(out, m_mb.mvx);
    writeVector(out, m_mb.mvy);
    writeExpGolomb(out, m_interCodeOf[m_mb.cbp]);
    writeResidual(out, column, row);
}

void AvcEncoder::quantiseInter(int column, int row) {
    const int q = m_rec.quantiser();
    const int shift = 15 + q / 6;
    const int64_t rounding = (int64_t(1) << shift) / 6;
    m_mb.cbp = 0;
    for (int k = 0; k < 16; ++k) {
        const int bx = avc::kBlockX[k], by = avc::kBlockY[k];
        int32_t residual[16], w[16];
        for (int i = 0; i < 16; ++i)
            residual[i] = sourceLuma(column * 16 + bx + (i & 3), row * 16 + by + (i >> 2))[0] -
                          m_predictionLuma[(by + (i >> 2)) * 16 + bx + (i & 3)];
        forwardTransform(residual, w);
        int count = 0;
        for (int i = 0; i < 16; ++i) {
            m_mb.luma[k][i] =
                quantise(w[i], kQuantMultiplier[q % 6][positionClass(i)], shift, rounding);
            count += m_mb.luma[k][i] != 0;
        }
        m_mb.lumaCount[k] = uint8_t(count);
        if (count) m_mb.cbp |= uint8_t(1 << (k >> 2));
    }
    quantiseChroma(column, row, m_predictionChroma[0], m_predictionChroma[1], false);
}

uint64_t AvcEncoder::chromaDistortion(int column, int row, const uint8_t* cb,
                                      const uint8_t* cr) const {
    uint64_t sum = 0;
    const bool coded = (m_mb.cbp >> 4) != 0;
    for (int plane = 0; plane < 2; ++plane) {
        const uint8_t* prediction = plane == 0 ? cb : cr;
        const uint8_t* source = sourceChroma(plane, column * 8, row * 8);
        if (!coded) {
            sum += ssd(prediction, 8, source, m_width / 2, 8, 8);
            continue;
        }
        // As the decoder adds it: DC levels through the 2x2 transform and the DC scale.
        int32_t dc[4];
        for (int i = 0; i < 4; ++i) dc[i] = m_mb.chromaDc[plane][i];
        avc::inverseChromaDc(dc, 1);
        for (int i = 0; i < 4; ++i) dc[i] = avc::dequantise(dc[i], m_rec.dcScale());
        for (int b = 0; b < 4; ++b) {
            const int bx = (b & 1) * 4, by = (b >> 1) * 4;
            uint8_t block[16];
            for (int y = 0; y < 4; ++y)
                std::memcpy(block + 4 * y, prediction + (by + y) * 8 + bx, 4);
            int32_t c[16];
            c[0] = dc[b];
            bool any = c[0] != 0;
            if (m_mb.chromaAcCount[plane][b]) {
                for (int i = 1; i < 16; ++i)
                    c[i] = avc::dequantise(m_mb.chromaAc[plane][b][i], m_rec.scale(i));
                any = true;
            } else {
                std::fill(c + 1, c + 16, 0);
            }
            if (any) avc::addInverseTransform(c, block, 4);
            sum += ssd(block, 4, source + by * (m_width / 2) + bx, m_width / 2, 4, 4);
        }
    }
    return sum;
}

uint64_t AvcEncoder::interDistortion(int column, int row) const {
    uint64_t sum = 0;
    for (int k = 0; k < 16; ++k) {
        const int bx = avc::kBlockX[k], by = avc::kBlockY[k];
        uint8_t block[16];
        for (int y = 0; y < 4; ++y)
            std::memcpy(block + 4 * y, m_predictionLuma + (by + y) * 16 + bx, 4);
        if (m_mb.lumaCount[k]) {
            int32_t c[16];
            for (int i = 0; i < 16; ++i) c[i] = avc::dequantise(m_mb.luma[k][i], m_rec.scale(i));
            avc::addInverseTransform(c, block, 4);
        }
        sum += ssd(block, 4, sourceLuma(column * 16 + bx, row * 16 + by), m_width, 4, 4);
    }
    return sum + chromaDistortion(column, row, m_predictionChroma[0], m_predictionChroma[1]);
}

uint64_t AvcEncoder::predictionDistortion(int column, int row, const uint8_t* luma,
                                          const uint8_t* const chroma[2]) const {
    uint64_t sum = ssd(luma, 16, sourceLuma(column * 16, row * 16), m_width, 16, 16);
    for (int plane = 0; plane < 2; ++plane)
        sum += ssd(chroma[plane], 8, sourceChroma(plane, column * 8, row * 8), m_width / 2, 8, 8);
    return sum;
}

double AvcEncoder::interCost(int column, int row, int slot, int mvx, int mvy, int typeBits) {
    const avc::AvcReconstruction::PredictionTarget out{
        m_predictionLuma, 16, {m_predictionChroma[0], m_predictionChroma[1]}, 8};
    m_rec.predictInter(column, row, slot, mvx, mvy, out);
    quantiseInter(column, row);
    m_mb.type = MbType::Inter;
    m_mb.refSlot = uint8_t(slot);
    m_mb.mvx = mvx;
    m_mb.mvy = mvy;
    const auto cost = [&] {
        BitCounter bits;
        writeInterSyntax(bits, column, row);
        return double(interDistortion(column, row)) + m_lambda * (typeBits + bits.bits);
    };
    double best = cost();
    // A few small levels can cost more bits than the error they remove: drop the residual of
    // each luma 8x8 quadrant, then of the chroma, where that lowers the cost.
    for (int part = 0; part < 5; ++part) {
        if (part < 4 ? !(m_mb.cbp & (1 << part)) : !(m_mb.cbp >> 4)) continue;
        const avc::AvcMacroblock coded = m_mb;
        if (part < 4) {
            for (int k = 4 * part; k < 4 * part + 4; ++k) {
                std::memset(m_mb.luma[k], 0, sizeof m_mb.luma[k]);
                m_mb.lumaCount[k] = 0;
            }
            m_mb.cbp &= uint8_t(~(1 << part));
        } else {
            std::memset(m_mb.chromaDc, 0, sizeof m_mb.chromaDc);
            std::memset(m_mb.chromaAc, 0, sizeof m_mb.chromaAc);
            std::memset(m_mb.chromaAcCount, 0, sizeof m_mb.chromaAcCount);
            m_mb.cbp &= 15;
        }
        const double without = cost();
        if (without < best)
            best = without;
        else
            m_mb = coded;
    }
    return best;
}

uint32_t AvcEncoder::motionCost(int column, int row, int slot, int mvx, int mvy, bool hadamard) {
    // The luma prediction only, placed as AvcReconstruction::predictInter places it; whole
    // sample positions are read in place.
    const avc::BorderedPicture& reference = m_rec.reference(slot);
    const int ix = mvx / 2, iy = mvy / 2, hx = mvx - 2 * ix, hy = mvy - 2 * iy;
    const uint8_t* at = reference.lumaAt(std::clamp(column * 16 + ix, -17, m_width + 1),
                                         std::clamp(row * 16 + iy, -17, m_height + 1));
    const uint8_t* prediction = at;
    ptrdiff_t stride = reference.lumaStride;
    if (hx != 0 || hy != 0) {
        avc::predictLumaInter(at, stride, hx, hy, m_trial, 16, m_kernelPath);
        prediction = m_trial, stride = 16;
    }
    const uint8_t* source = sourceLuma(column * 16, row * 16);
    const uint32_t distortion = hadamard ? satd(prediction, stride, source, m_width, 16)
                                         : sad16x16(prediction, stride, source, m_width);
    return distortion + (m_lambdaMotion16 * uint32_t(vectorBits(mvx, mvy)) + 8) / 16;
}

AvcEncoder::Candidate AvcEncoder::search(int column, int row, int slot) {
    const auto at = [&](int x, int y) -> Candidate {
        return {slot, x, y, motionCost(column, row, slot, x, y, false), 0};
    };
    Candidate best = at(0, 0);
    // Likely starts too: the vectors found here in the last searched picture and for the left,
    // upper and upper-right neighbours in this one.
    const int columns = m_rec.mbColumns();
    const size_t here =
        size_t(slot) * size_t(columns * m_rec.mbRows()) + size_t(row * columns + column);
    const bool available[4] = {true, column > 0, row > 0, row > 0 && column + 1 < columns};
    const ptrdiff_t places[4] = {0, -1, -columns, 1 - columns};
    for (int i = 0; i < 4; ++i) {
        if (!available[i]) continue;
        const std::array<int8_t, 2> v = m_searchVectors[size_t(ptrdiff_t(here) + places[i])];
        if ((v[0] == 0 && v[1] == 0) || (v[0] == best.mvx && v[1] == best.mvy)) continue;
        const Candidate c = at(v[0], v[1]);
        if (c.cost < best.cost) best = c;
    }
    // Diamond steps of 8, 4 and 2 half samples by SAD.
    for (int step : {8, 4, 2}) {
        bool moved = true;
        while (moved) {
            moved = false;
            const int cx = best.mvx, cy = best.mvy;
            const int offsets[4][2] = {{step, 0}, {-step, 0}, {0, step}, {0, -step}};
            for (const auto& offset : offsets) {
                const int x = cx + offset[0], y = cy + offset[1];
                if (x < -32 || x > 31 || y < -32 || y > 31) continue;
                const Candidate c = at(x, y);
                if (c.cost < best.cost) {
                    best = c;
                    moved = true;
                }
            }
        }
    }
    // The eight neighbours one half sample away, by SATD.
    const int cx = best.mvx, cy = best.mvy;
    best.cost = motionCost(column, row, slot, cx, cy, true);
    for (int y = cy - 1; y <= cy + 1; ++y)
        for (int x = cx - 1; x <= cx + 1; ++x) {
            if ((x == cx && y == cy) || x < -32 || x > 31 || y < -32 || y > 31) continue;
            const uint32_t cost = motionCost(column, row, slot, x, y, true);
            if (cost < best.cost) best = {slot, x, y, cost, 0};
        }
    m_searchVectors[here] = {int8_t(best.mvx), int8_t(best.mvy)};
    // The chosen prediction's SAD, for the intra check.
    best.sad = motionCost(column, row, slot, best.mvx, best.mvy, false) -
               (m_lambdaMotion16 * uint32_t(vectorBits(best.mvx, best.mvy)) + 8) / 16;
    return best;
}

uint32_t AvcEncoder::intraEstimate(int column, int row) const {
    uint32_t sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) sum += sourceLuma(column * 16 + x, row * 16 + y)[0];
    const int mean = int(sum / 256);
    uint32_t deviation = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            deviation += uint32_t(std::abs(sourceLuma(column * 16 + x, row * 16 + y)[0] - mean));
    return deviation + 256;
}

std::span<const uint8_t> AvcEncoder::encode(const YuvPictureView& picture, AvcPictureType type,
                                            int bParameter) {
    if (m_references == 0) type = AvcPictureType::I;
    m_type = type;
    m_lastType = type;
    m_statistics = {};
    copySource(picture);
    m_bits.reset();
    m_bits.put(16, 21);
    m_bits.put(uint32_t(m_settings.version), 4);
    m_bits.put(uint32_t(type), 2);
    const int q = m_settings.quantiser;
    if (type == AvcPictureType::I) {
        m_bits.put(uint32_t(m_width), 10);
        m_bits.put(uint32_t(m_height), 10);
    }
    m_bits.put(uint32_t(q), 8);
    if (type == AvcPictureType::B) m_bits.put(uint32_t(bParameter & 3), 2);
    m_bits.put(0, int((16 - m_bits.bitCount() % 16) % 16));

    // H.264's reference-encoder lambdas, the quantiser being on the H.264 QP scale.
    m_lambda = 0.85 * std::exp2((q - 12) / 3.0);
    // Nothing predicts from a B picture, so its error does not spread: its bits weigh more.
    if (type == AvcPictureType::B) m_lambda *= std::clamp((q - 12) / 6.0, 2.0, 4.0);
    m_lambdaMotion16 = uint32_t(std::lround(16 * std::sqrt(m_lambda)));

    m_rec.beginPicture(q, bParameter & 3, m_settings.deblock);
    m_rec.setTarget(m_picture.data());
    const bool oldB = type == AvcPictureType::B && m_settings.version < 4;
    // Macroblock type bits: version-3 B pictures 2 for every type; otherwise inter 1, intra 2
    // (1 before version 4), skipped 2.
    const int interBits = oldB ? 2 : 1;
    const int intraBits = oldB || m_settings.version >= 4 ? 2 : 1;
    for (int row = 0; row < m_rec.mbRows(); ++row) {
        for (int column = 0; column < m_rec.mbColumns(); ++column) {
            if (type == AvcPictureType::I) {
                m_bits.put(0, 1);
                encodeIntra(column, row);
                writeIntraSyntax(m_bits, column, row);
                countIntra();
                m_rec.reconstruct(column, row, m_mb);
                continue;
            }
            // Each candidate's cost: squared error of its reconstruction + lambda x its bits.
            enum class Choice { Inter, Intra, Skip, Direct } choice = Choice::Inter;
            Candidate best = search(column, row, 0);
            double bestCost = interCost(column, row, 0, best.mvx, best.mvy, interBits);
            m_kept = m_mb;
            if (oldB) {
                const Candidate second = search(column, row, 1);
                const double cost = interCost(column, row, 1, second.mvx, second.mvy, interBits);
                if (cost < bestCost) {
                    best = second, bestCost = cost;
                    m_kept = m_mb;
                }
                const avc::AvcReconstruction::PredictionTarget out{
                    m_trial, 16, {m_trialChroma[0], m_trialChroma[1]}, 8};
                m_rec.predictDirect(column, row, out);
                const uint8_t* const chroma[2] = {m_trialChroma[0], m_trialChroma[1]};
                const double direct =
                    double(predictionDistortion(column, row, m_trial, chroma)) + m_lambda * 2;
                if (direct < bestCost) choice = Choice::Direct, bestCost = direct;
            }
            if (m_settings.version >= 4) {
                const avc::AvcReconstruction::PredictionTarget out{
                    m_trial, 16, {m_trialChroma[0], m_trialChroma[1]}, 8};
                m_rec.predictInter(column, row, 0, 0, 0, out);
                const uint8_t* const chroma[2] = {m_trialChroma[0], m_trialChroma[1]};
                const double skip =
                    double(predictionDistortion(column, row, m_trial, chroma)) + m_lambda * 2;
                if (skip < bestCost) choice = Choice::Skip, bestCost = skip;
            }
            // Intra is coded in trial unless the inter prediction's SAD is well below the
            // macroblock's own spread (where intra practically never wins, and the trial costs
            // as much as the rest of the macroblock's decisions).
            if (intraEstimate(column, row) < 3 * best.sad) {
                const uint64_t error = encodeIntra(column, row);
                BitCounter bits;
                writeIntraSyntax(bits, column, row);
                const double cost = double(error) + m_lambda * (intraBits + bits.bits);
                if (cost < bestCost) choice = Choice::Intra, bestCost = cost;
            }
            switch (choice) {
                case Choice::Intra:
                    m_bits.put(0, intraBits);
                    writeIntraSyntax(m_bits, column, row);
                    countIntra();
                    break;
                case Choice::Skip:
                    m_bits.put(1, 2);  // 0 then 1: skipped
                    m_mb.type = MbType::Skip;
                    std::memset(m_rec.counts(column, row), 0, 24);
                    ++m_statistics.skipped;
                    break;
                case Choice::Direct:
                    m_bits.put(3, 2);
                    m_mb.type = MbType::Direct;
                    std::memset(m_rec.counts(column, row), 0, 24);
                    ++m_statistics.direct;
                    break;
                case Choice::Inter:
                    m_mb = m_kept;
                    m_bits.put(oldB ? uint32_t(1 + best.slot) : 1u, interBits);
                    writeInterSyntax(m_bits, column, row);
                    ++m_statistics.inter;
                    m_statistics.secondSlot += best.slot;
                    m_statistics.halfSampleVectors += (best.mvx & 1) || (best.mvy & 1);
                    break;
            }
            m_rec.reconstruct(column, row, m_mb);
        }
    }
    m_bits.padToByte();
    if (type != AvcPictureType::B) {
        m_rec.storeReference();
        m_references = std::min(m_references + 1, 2);
    }
    return m_bits.bytes();
}

void AvcEncoder::countIntra() {
    for (int k = 0; k < 16; ++k) ++m_statistics.lumaModes[m_mb.lumaModes[k]];
    ++m_statistics.chromaModes[m_mb.chromaMode];
    ++m_statistics.intra;
}

}  // namespace kx
