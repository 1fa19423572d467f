// FaceEncoder: the luma-only native intra picture of face files.
#include "tools/recorder/face_encoder.h"

#include <cassert>
#include <cstdlib>

#include "tools/recorder/native_encoder_tables.h"
#include "tools/recorder/native_encoder_transform.h"

namespace kx {
namespace {

using namespace native_encoding;

constexpr uint32_t kStartCode = 16;  // 21 bits: sixteen 0 bits, a 1, four 0 bits
constexpr int kStartCodeBits = 21;
// Worst case of one macroblock: CBPY and chroma bits, four DCs, 63 escaped coefficients each.
constexpr size_t kMaxMacroblockBytes = (8 + 4 * (8 + 63 * 22)) / 8 + 1;

}  // namespace

FaceEncoder::FaceEncoder(int quantiser) : m_quantiser(quantiser) {
    assert(quantiser >= 1 && quantiser <= kMaxQuantiser);
}

std::span<const uint8_t> FaceEncoder::encode(const uint8_t* grey, int width, int height, ptrdiff_t stride) {
    assert(width >= 1 && width <= kMaxSide && height >= 1 && height <= kMaxSide);
    const int columns = width / 16;
    const int rows = height / 16;
    const size_t macroblocks = size_t(columns) * size_t(rows);
    if (!m_bits || macroblocks > m_capacityMacroblocks) {
        m_capacityMacroblocks = macroblocks;
        m_bits = std::make_unique<BitWriter>(16 + macroblocks * kMaxMacroblockBytes);
    }
    BitWriter& bits = *m_bits;
    bits.reset();
    bits.put(kStartCode, kStartCodeBits);
    bits.put(0, 2);  // intra picture
    bits.put(uint32_t(width), 10);
    bits.put(uint32_t(height), 10);
    bits.put(uint32_t(m_quantiser), 8);
    bits.put(0, 1);
    bits.padToEvenByte();
    bits.put(0, 16);

    alignas(16) int16_t samples[64];
    alignas(16) float coefficients[64];
    alignas(16) int16_t levels[4][64];
    int dc[4];
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            unsigned pattern = 0;  // bit 3 Y0 .. bit 0 Y3
            for (int block = 0; block < 4; ++block) {
                const uint8_t* source = grey + ptrdiff_t(row * 16 + (block >> 1) * 8) * stride + column * 16 + (block & 1) * 8;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) samples[y * 8 + x] = source[y * stride + x];
                forwardDct(samples, coefficients);
                dc[block] = intraDcValue(coefficients);
                if (quantiseIntra(coefficients, m_quantiser, levels[block])) pattern |= 8u >> block;
            }
            const VlcCode cbpy = kCbpyIntra[pattern];
            bits.put(cbpy.code, cbpy.length);
            bits.put(0, 2);  // no chroma
            for (int block = 0; block < 4; ++block) {
                bits.put(dc[block] == 128 ? 255 : uint32_t(dc[block]), 8);  // 128 would end the macroblock
                if (pattern & (8u >> block)) writeCoefficients(levels[block]);
            }
        }
    }
    bits.padToByte();
    return bits.bytes();
}

void FaceEncoder::writeCoefficients(const int16_t* levels) {
    BitWriter& bits = *m_bits;
    int last = 63;
    while (last >= 1 && levels[kZigzag[size_t(last)]] == 0) --last;
    int run = 0;
    for (int position = 1; position <= last; ++position) {
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
                bits.put((code.code << 1) | uint32_t(level < 0), code.length + 1);
                run = 0;
                continue;
            }
        }
        bits.put((kTcoefEscape.code << 15) | (uint32_t(isLast) << 14) | (uint32_t(run) << 8) | (uint32_t(level) & 0xFF),
                 kTcoefEscape.length + 15);
        run = 0;
    }
}

}  // namespace kx
