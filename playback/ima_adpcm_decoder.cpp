// IMA ADPCM: the step size table of 89 entries and the index adaptation of the IMA algorithm.
#include "playback/ima_adpcm_decoder.h"

#include <algorithm>

namespace kx {
namespace {

constexpr int kMaxStepIndex = 88;

constexpr int16_t kStepSize[kMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

void ImaAdpcmDecoder::reset() {
    m_predictor = 0;
    m_stepIndex = 0;
}

size_t ImaAdpcmDecoder::decodeBlock(const uint8_t* block, size_t size, int16_t* samples) {
    if (size < kHeaderBytes) return 0;
    m_predictor = int16_t(uint16_t(block[0] | block[1] << 8));
    m_stepIndex = std::min<int>(block[2], kMaxStepIndex);
    int16_t* out = samples;
    *out++ = int16_t(m_predictor);
    for (size_t i = kHeaderBytes; i < size; ++i) {
        for (unsigned nibble : {block[i] & 0xFu, unsigned(block[i]) >> 4}) {
            // (2 x magnitude + 1) / 8 steps: the exact form of the shifted sum of the reference
            // algorithm, as libavcodec and most current decoders compute it.
            const int32_t difference = ((2 * int32_t(nibble & 7) + 1) * kStepSize[m_stepIndex]) >> 3;
            m_predictor = std::clamp(nibble & 8 ? m_predictor - difference : m_predictor + difference, -32768, 32767);
            m_stepIndex = std::clamp(m_stepIndex + kIndexAdjust[nibble & 7], 0, kMaxStepIndex);
            *out++ = int16_t(m_predictor);
        }
    }
    return size_t(out - samples);
}

}  // namespace kx
