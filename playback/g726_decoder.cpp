// G.726 at 24 kbit/s: inverse adaptive quantizer, adaptive predictor, scale factor and speed
// control adaptation, tone and transition detection, in the standard's fixed-point arithmetic.
#include "playback/g726_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <iterator>

namespace kx {
namespace {

// Per code (3 bits, sign in bit 2): log2 of the quantized difference magnitude (the standard's
// DQLN, -2048 standing for zero), the scale factor multiplier W (x32) and the rate F (x512).
constexpr int16_t kLogDq[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int16_t kScaleWeight[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int16_t kSpeedRate[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

// The standard's floating form: sign in bit 10, a 4-bit exponent and a 6-bit mantissa.
constexpr int32_t kFloatNegative = 0x400;

int32_t toFloat(int32_t magnitude, bool negative) {
    if (magnitude == 0) return negative ? kFloatNegative | 0x20 : 0x20;
    const int exponent = std::bit_width(uint32_t(magnitude));
    const int32_t mantissa = (magnitude << 6) >> exponent;
    return (negative ? kFloatNegative : 0) | exponent << 6 | mantissa;
}

// FMULT: a predictor coefficient (two's complement, already >> 2) times a value in floating form.
int32_t floatMultiply(int32_t coefficient, int32_t value) {
    const int32_t magnitude = coefficient >= 0 ? coefficient : (-coefficient) & 0x1FFF;
    const int exponent = std::bit_width(uint32_t(magnitude));
    const int32_t mantissa = magnitude == 0 ? 32 : (magnitude << 6) >> exponent;
    const int productExponent = exponent + ((value >> 6) & 0xF) - 19;
    const int32_t productMantissa = (mantissa * (value & 0x3F) + 0x30) >> 4;
    const int32_t product = productExponent >= 0 ? (productMantissa << productExponent) & 0x7FFF
                                                 : productMantissa >> -productExponent;
    const bool negative = (coefficient < 0) != ((value & kFloatNegative) != 0);
    return negative ? -product : product;
}

}  // namespace

void G726Decoder::reset() {
    m_yl = 34816;
    m_yu = 544;
    m_dms = 0;
    m_dml = 0;
    m_ap = 0;
    m_toneDetected = false;
    std::fill(std::begin(m_a), std::end(m_a), 0);
    std::fill(std::begin(m_b), std::end(m_b), 0);
    std::fill(std::begin(m_pkNegative), std::end(m_pkNegative), false);
    std::fill(std::begin(m_sr), std::end(m_sr), 0x20);
    std::fill(std::begin(m_dq), std::end(m_dq), 0x20);
}

void G726Decoder::decode(const uint8_t* bytes, size_t groups, int16_t* samples) {
    for (size_t g = 0; g < groups; ++g, bytes += kGroupBytes, samples += kGroupSamples) {
        uint32_t codes = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16;
        for (size_t i = 0; i < kGroupSamples; ++i, codes >>= 3) samples[i] = decodeCode(codes & 7);
    }
}

// MIX: the quantizer scale factor, between the fast and the locked factor by the speed control.
// The locked factor keeps its six extra fraction bits until the sum is taken and the sum is
// rounded down once, as FFmpeg's decoder does, so that our samples are identical to FFmpeg's.
int32_t G726Decoder::stepSize() const {
    const int32_t weight = m_ap >= 256 ? 64 : m_ap >> 2;
    return (m_yl + (m_yu - (m_yl >> 6)) * weight) >> 6;
}

int16_t G726Decoder::decodeCode(unsigned code) {
    code &= 7;
    int32_t sezi = 0;
    for (int i = 0; i < 6; ++i) sezi += floatMultiply(m_b[i] >> 2, m_dq[i]);
    const int32_t sez = sezi >> 1;
    const int32_t se = (sezi + floatMultiply(m_a[0] >> 2, m_sr[0]) + floatMultiply(m_a[1] >> 2, m_sr[1])) >> 1;
    const int32_t y = stepSize();

    // Inverse quantizer: log magnitude plus the scale factor, back to linear.
    const bool negative = (code & 4) != 0;
    const int32_t logDq = kLogDq[code] + (y >> 2);
    int32_t dqMagnitude = 0;
    if (logDq >= 0) {
        const int exponent = (logDq >> 7) & 15;
        const int32_t mantissa = 128 + (logDq & 127);
        dqMagnitude = (mantissa << 7) >> (14 - exponent);
    }
    const int32_t sr = negative ? se - dqMagnitude : se + dqMagnitude;
    const int32_t dqsez = sr - se + sez;
    update(code, y, dqMagnitude, negative, sr, dqsez);
    // Saturated: a sum beyond 16 bits never wraps around to the other sign.
    return int16_t(std::clamp(sr * 4, -32768, 32767));
}

void G726Decoder::update(unsigned code, int32_t y, int32_t dqMagnitude, bool dqNegative, int32_t sr, int32_t dqsez) {
    const bool pk0Negative = dqsez < 0;

    // TRANS: a transition from a partial band signal ends tone mode.
    const int32_t ylInteger = m_yl >> 15;
    const int32_t ylFraction = (m_yl >> 10) & 0x1F;
    const int32_t threshold = ylInteger > 9 ? 31 << 10 : (32 + ylFraction) << ylInteger;
    const int32_t dqThreshold = (threshold + (threshold >> 1)) >> 1;
    const bool transition = m_toneDetected && dqMagnitude > dqThreshold;

    // Scale factor adaptation.
    m_yu = std::clamp(y + ((kScaleWeight[code] - y) >> 5), 544, 5120);
    m_yl += m_yu + ((-m_yl) >> 6);

    int32_t a2 = 0;
    if (transition) {
        std::fill(std::begin(m_a), std::end(m_a), 0);
        std::fill(std::begin(m_b), std::end(m_b), 0);
    } else {
        // UPA2, then UPA1 limited by the new a2.
        const bool signsDiffer1 = pk0Negative != m_pkNegative[0];
        a2 = m_a[1] - (m_a[1] >> 7);
        if (dqsez != 0) {
            const int32_t fa1 = signsDiffer1 ? m_a[0] : -m_a[0];
            if (fa1 < -8191)
                a2 -= 0x100;
            else if (fa1 > 8191)
                a2 += 0xFF;
            else
                a2 += fa1 >> 5;
            a2 += pk0Negative != m_pkNegative[1] ? -0x80 : 0x80;
            a2 = std::clamp(a2, -12288, 12288);
        }
        m_a[1] = a2;
        m_a[0] -= m_a[0] >> 8;
        if (dqsez != 0) m_a[0] += signsDiffer1 ? -192 : 192;
        const int32_t a1Limit = 15360 - a2;
        m_a[0] = std::clamp(m_a[0], -a1Limit, a1Limit);

        // UPB: each zero coefficient leaks and moves towards the sign agreement of dq.
        for (int i = 0; i < 6; ++i) {
            m_b[i] -= m_b[i] >> 8;
            if (dqMagnitude != 0) m_b[i] += dqNegative == ((m_dq[i] & kFloatNegative) != 0) ? 128 : -128;
        }
    }

    for (int i = 5; i > 0; --i) m_dq[i] = m_dq[i - 1];
    m_dq[0] = toFloat(dqMagnitude, dqNegative);
    m_sr[1] = m_sr[0];
    m_sr[0] = sr <= -32768 ? kFloatNegative | 0x20 : toFloat(std::abs(sr), sr < 0);
    m_pkNegative[1] = m_pkNegative[0];
    m_pkNegative[0] = pk0Negative;

    // TONE: a partial band signal is a2 below -0.71875.
    m_toneDetected = !transition && a2 < -11776;

    // Adaptation speed control.
    const int32_t rate = kSpeedRate[code];
    m_dms += (rate - m_dms) >> 5;
    m_dml += ((rate << 2) - m_dml) >> 7;
    if (transition)
        m_ap = 256;
    else if (y < 1536 || m_toneDetected || std::abs((m_dms << 2) - m_dml) >= (m_dml >> 3))
        m_ap += (0x200 - m_ap) >> 4;
    else
        m_ap += (-m_ap) >> 4;
}

}  // namespace kx
