// AvcEncoder: decisions, transform and quantisation, and the bitstream of the avc codec.
#include "tools/recorder/avc_encoder.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

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

uint32_t sad16(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride, int size) {
    uint32_t sum = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            sum += uint32_t(std::abs(a[y * aStride + x] - b[y * bStride + x]));
    return sum;
}

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
    for (uint8_t code = 0; code < 48; ++code) {
        m_intraCodeOf[avc::kIntraCbp[code]] = code;
        m_interCodeOf[avc::kInterCbp[code]] = code;
    }
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

void AvcEncoder::writeExpGolomb(uint32_t codeNumber) {
    const int zeros = std::bit_width(codeNumber + 1) - 1;
    m_bits.put(codeNumber + 1, 2 * zeros + 1);
}

void AvcEncoder::writeVector(int value) {
    const native_encoding::VlcCode code = native_encoding::mvdCode(value);
    m_bits.put(code.code, code.length);
}

// CAVLC of one block whose levels are at block[scan[first + i]].
void AvcEncoder::writeBlock(int nC, const int32_t* block, const uint8_t* scan, int first,
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
    ++m_statistics.tokenTables[size_t(nCClass(nC))];

    const int symbol = total * 4 + ones;
    if (nC >= 8) {
        m_bits.put(total == 0 ? 3u : uint32_t((total - 1) << 2 | ones), 6);
    } else if (nC < 0) {
        m_bits.put(avc::kChromaDcTokenValue[symbol], avc::kChromaDcTokenLength[symbol]);
    } else {
        const int table = nC < 2 ? 0 : nC < 4 ? 1 : 2;
        m_bits.put(avc::kCoeffTokenValue[table][symbol], avc::kCoeffTokenLength[table][symbol]);
    }
    if (total == 0) return;
    for (int i = 0; i < ones; ++i) m_bits.put(levels[i] < 0 ? 1 : 0, 1);
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
        m_bits.put(1, prefix + 1);
        if (suffixSize) m_bits.put(suffix, suffixSize);
        if (suffixLength == 0) suffixLength = 1;
        if (std::abs(level) > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
    }
    if (total < maxCoefficients) {
        if (maxCoefficients == 4)
            m_bits.put(avc::kChromaDcZerosValue[total - 1][zeros],
                       avc::kChromaDcZerosLength[total - 1][zeros]);
        else
            m_bits.put(avc::kTotalZerosValue[total - 1][zeros],
                       avc::kTotalZerosLength[total - 1][zeros]);
    }
    int zerosLeft = zeros;
    for (int i = 0; i < total - 1 && zerosLeft > 0; ++i) {
        const int table = std::min(zerosLeft, 7) - 1;
        m_bits.put(avc::kRunBeforeValue[table][runs[i]], avc::kRunBeforeLength[table][runs[i]]);
        zerosLeft -= runs[i];
    }
}

void AvcEncoder::writeResidual(int column, int row) {
    uint8_t* counts = m_rec.counts(column, row);
    std::memset(counts, 0, 24);
    for (int k = 0; k < 16; ++k) {
        if (!(m_mb.cbp & (1 << (k >> 2)))) continue;
        const int x = avc::kBlockX[k] >> 2, y = avc::kBlockY[k] >> 2;
        writeBlock(m_rec.lumaNc(column, row, x, y), m_mb.luma[k], avc::kZigzag4x4, 0, 16);
        counts[y * 4 + x] = m_mb.lumaCount[k];
    }
    const int chroma = m_mb.cbp >> 4;
    if (chroma >= 1)
        for (int plane = 0; plane < 2; ++plane)
            writeBlock(-1, m_mb.chromaDc[plane], kRasterScan, 0, 4);
    if (chroma >= 2)
        for (int plane = 0; plane < 2; ++plane)
            for (int b = 0; b < 4; ++b) {
                writeBlock(m_rec.chromaNc(column, row, plane, b & 1, b >> 1),
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

void AvcEncoder::encodeIntra(int column, int row) {
    m_mb.type = MbType::Intra;
    m_mb.cbp = 0;
    const int q = m_rec.quantiser();
    const int shift = 15 + q / 6;
    const int64_t rounding = (int64_t(1) << shift) / 3;
    for (int k = 0; k < 16; ++k) {
        const int x0 = column * 16 + avc::kBlockX[k], y0 = row * 16 + avc::kBlockY[k];
        const avc::LumaNeighbours n = m_rec.lumaNeighbours(column, row, k);
        int bestMode = 2;
        uint32_t bestCost = ~0u;
        for (int mode = 0; mode < 9; ++mode) {
            avc::predictLuma4x4(mode, n, m_trial, 4);
            const uint32_t cost = sad16(m_trial, 4, sourceLuma(x0, y0), m_width, 4);
            if (cost < bestCost) bestCost = cost, bestMode = mode;
        }
        m_mb.lumaModes[k] = uint8_t(bestMode);
        ++m_statistics.lumaModes[size_t(bestMode)];
        uint8_t* block = m_rec.lumaAt(x0, y0);
        avc::predictLuma4x4(bestMode, n, block, m_width);
        int32_t residual[16], w[16];
        for (int i = 0; i < 16; ++i)
            residual[i] =
                sourceLuma(x0 + (i & 3), y0 + (i >> 2))[0] - block[(i >> 2) * m_width + (i & 3)];
        forwardTransform(residual, w);
        int count = 0;
        for (int i = 0; i < 16; ++i) {
            m_mb.luma[k][i] =
                quantise(w[i], kQuantMultiplier[q % 6][positionClass(i)], shift, rounding);
            count += m_mb.luma[k][i] != 0;
        }
        m_mb.lumaCount[k] = uint8_t(count);
        if (count) {
            m_mb.cbp |= uint8_t(1 << (k >> 2));
            // The later blocks predict from this one as the decoder will have it.
            int32_t c[16];
            for (int i = 0; i < 16; ++i) c[i] = avc::dequantise(m_mb.luma[k][i], m_rec.scale(i));
            avc::addInverseTransform(c, block, m_width);
        }
    }
    uint32_t bestCost = ~0u;
    int bestMode = 0;
    for (int mode = 0; mode < 4; ++mode) {
        uint32_t cost = 0;
        for (int plane = 0; plane < 2; ++plane) {
            avc::predictChroma8x8(mode, m_rec.chromaNeighbours(column, row, plane),
                                  m_predictionChroma[plane], 8);
            cost += sad16(m_predictionChroma[plane], 8, sourceChroma(plane, column * 8, row * 8),
                          m_width / 2, 8);
        }
        if (cost < bestCost) bestCost = cost, bestMode = mode;
    }
    m_mb.chromaMode = uint8_t(bestMode);
    ++m_statistics.chromaModes[size_t(bestMode)];
    for (int plane = 0; plane < 2; ++plane)
        avc::predictChroma8x8(bestMode, m_rec.chromaNeighbours(column, row, plane),
                              m_predictionChroma[plane], 8);
    quantiseChroma(column, row, m_predictionChroma[0], m_predictionChroma[1], true);
    ++m_statistics.intra;
}

void AvcEncoder::writeIntraSyntax(int column, int row) {
    for (int group = 0; group < 4; ++group) {
        const uint8_t* d = m_mb.lumaModes + group * 4;
        m_bits.put(uint32_t(d[0] * 729 + d[1] * 81 + d[2] * 9 + d[3]), 13);
    }
    m_bits.put(m_mb.chromaMode, 2);
    writeExpGolomb(m_intraCodeOf[m_mb.cbp]);
    writeResidual(column, row);
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

uint32_t AvcEncoder::interCost(int column, int row, int slot, int mvx, int mvy) {
    const avc::AvcReconstruction::PredictionTarget out{
        m_trial, 16, {m_predictionChroma[0], m_predictionChroma[1]}, 8};
    m_rec.predictInter(column, row, slot, mvx, mvy, out);
    // A rough rate term: longer vectors cost bits.
    return sad16(m_trial, 16, sourceLuma(column * 16, row * 16), m_width, 16) +
           uint32_t(std::abs(mvx) + std::abs(mvy)) * 2;
}

AvcEncoder::Candidate AvcEncoder::search(int column, int row, int slot) {
    Candidate best{slot, 0, 0, interCost(column, row, slot, 0, 0)};
    // Diamond steps of 8, 4 and 2 half samples over whole samples, then the half samples.
    for (int step : {8, 4, 2, 1}) {
        bool moved = true;
        while (moved) {
            moved = false;
            const int cx = best.mvx, cy = best.mvy;
            const int offsets[8][2] = {{step, 0},    {-step, 0},    {0, step},     {0, -step},
                                       {step, step}, {-step, step}, {step, -step}, {-step, -step}};
            for (int i = 0; i < (step == 1 ? 8 : 4); ++i) {
                const int x = cx + offsets[i][0], y = cy + offsets[i][1];
                if (x < -32 || x > 31 || y < -32 || y > 31) continue;
                const uint32_t cost = interCost(column, row, slot, x, y);
                if (cost < best.cost) {
                    best = {slot, x, y, cost};
                    moved = step != 1;
                }
            }
        }
    }
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

    m_rec.beginPicture(q, bParameter & 3, m_settings.deblock);
    m_rec.setTarget(m_picture.data());
    const bool oldB = type == AvcPictureType::B && m_settings.version < 4;
    for (int row = 0; row < m_rec.mbRows(); ++row) {
        for (int column = 0; column < m_rec.mbColumns(); ++column) {
            std::memset(m_mb.lumaCount, 0, sizeof m_mb.lumaCount);
            std::memset(m_mb.chromaAcCount, 0, sizeof m_mb.chromaAcCount);
            if (type == AvcPictureType::I) {
                m_bits.put(0, 1);
                encodeIntra(column, row);
                writeIntraSyntax(column, row);
                m_rec.reconstruct(column, row, m_mb);
                continue;
            }
            Candidate best = search(column, row, 0);
            bool direct = false;
            if (oldB) {
                const Candidate second = search(column, row, 1);
                if (second.cost < best.cost) best = second;
                const avc::AvcReconstruction::PredictionTarget out{
                    m_trial, 16, {m_predictionChroma[0], m_predictionChroma[1]}, 8};
                m_rec.predictDirect(column, row, out);
                const uint32_t directCost =
                    sad16(m_trial, 16, sourceLuma(column * 16, row * 16), m_width, 16);
                // A direct macroblock costs two bits and carries no residual.
                direct = directCost <= best.cost + 64 && directCost < 16 * 256;
            }
            if (direct) {
                m_bits.put(3, 2);
                m_mb.type = MbType::Direct;
                std::memset(m_rec.counts(column, row), 0, 24);
                ++m_statistics.direct;
                m_rec.reconstruct(column, row, m_mb);
                continue;
            }
            if (intraEstimate(column, row) < best.cost) {
                m_bits.put(0, oldB ? 2 : m_settings.version >= 4 ? 2 : 1);
                encodeIntra(column, row);
                writeIntraSyntax(column, row);
                m_rec.reconstruct(column, row, m_mb);
                continue;
            }
            m_mb.type = MbType::Inter;
            m_mb.refSlot = uint8_t(best.slot);
            m_mb.mvx = best.mvx;
            m_mb.mvy = best.mvy;
            const avc::AvcReconstruction::PredictionTarget out{
                m_predictionLuma, 16, {m_predictionChroma[0], m_predictionChroma[1]}, 8};
            m_rec.predictInter(column, row, best.slot, best.mvx, best.mvy, out);
            quantiseInter(column, row);
            if (m_settings.version >= 4 && best.slot == 0 && best.mvx == 0 && best.mvy == 0 &&
                m_mb.cbp == 0) {
                m_bits.put(1, 2);  // 0 then 1: skipped
                m_mb.type = MbType::Skip;
                std::memset(m_rec.counts(column, row), 0, 24);
                ++m_statistics.skipped;
                m_rec.reconstruct(column, row, m_mb);
                continue;
            }
            if (oldB)
                m_bits.put(uint32_t(1 + best.slot), 2);
            else
                m_bits.put(1, 1);
            writeVector(best.mvx);
            writeVector(best.mvy);
            writeExpGolomb(m_interCodeOf[m_mb.cbp]);
            writeResidual(column, row);
            ++m_statistics.inter;
            m_statistics.secondSlot += best.slot;
            m_statistics.halfSampleVectors += (best.mvx & 1) || (best.mvy & 1);
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

}  // namespace kx
