// The MPEG-4 sample kernels against the definitions they implement: the inverse DCT against the
// exact transform in double precision (the IEEE 1180 accuracy figures), the interpolation
// against the formulas written out per sample, the post-processing filters on pictures whose
// right answer is plain.
#include "codec/mpeg4/dsp/mpeg4_dsp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace kx::mpeg4 {
namespace {

std::array<double, 64> exactIdct(const std::array<int16_t, 64>& in) {
    std::array<double, 64> out{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
                    sum += cu * cv * in[v * 8 + u] * std::cos((2 * x + 1) * u * M_PI / 16) *
                           std::cos((2 * y + 1) * v * M_PI / 16);
                }
            out[y * 8 + x] = sum / 4;
        }
    return out;
}

// The IEEE 1180 procedure: 10,000 random blocks per coefficient range and sign, the output
// compared (through idctAdd onto a mid-grey block, so negative samples are seen) with the exact
// transform rounded. Peak error 1, per-sample mean square error 0.06, overall 0.02, mean 0.015.
TEST(Mpeg4Dsp, InverseDctMeetsTheAccuracyLimits) {
    for (const auto& [low, high] : {std::pair{-256, 255}, std::pair{-5, 5}, std::pair{-300, 300}}) {
        for (int sign : {1, -1}) {
            std::mt19937 random(uint32_t(low * 31 + sign));
            std::uniform_int_distribution<int> value(low, high);
            std::array<double, 64> squared{}, signedSum{};
            int peak = 0;
            const int blocks = 10000;
            for (int n = 0; n < blocks; ++n) {
                std::array<int16_t, 64> coefficients{};
                // Random samples transformed forward and rounded, as the procedure builds its inputs.
                std::array<double, 64> samples{};
                for (double& s : samples) s = sign * value(random);
                for (int v = 0; v < 8; ++v)
                    for (int u = 0; u < 8; ++u) {
                        double sum = 0;
                        const double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
                        for (int y = 0; y < 8; ++y)
                            for (int x = 0; x < 8; ++x)
                                sum += samples[y * 8 + x] * std::cos((2 * x + 1) * u * M_PI / 16) *
                                       std::cos((2 * y + 1) * v * M_PI / 16);
                        coefficients[v * 8 + u] = int16_t(std::clamp(std::lround(cu * cv * sum / 4), -2048L, 2047L));
                    }
                const std::array<double, 64> exact = exactIdct(coefficients);
                std::array<uint8_t, 64> picture;
                picture.fill(128);
                std::array<int16_t, 64> block = coefficients;
                idctAdd(IdctKind::Simple, picture.data(), 8, block.data());
                for (int i = 0; i < 64; ++i) {
                    const int want = std::clamp(int(std::lround(exact[i])), -128, 127);
                    const int error = (picture[i] - 128) - want;
                    peak = std::max(peak, std::abs(error));
                    squared[i] += error * error;
                    signedSum[i] += error;
                }
            }
            double overallSquared = 0, overallMean = 0;
            for (int i = 0; i < 64; ++i) {
                EXPECT_LE(squared[i] / blocks, 0.06) << low << " " << i;
                EXPECT_LE(std::abs(signedSum[i]) / blocks, 0.015) << low << " " << i;
                overallSquared += squared[i];
                overallMean += signedSum[i];
            }
            EXPECT_LE(peak, 1);
            EXPECT_LE(overallSquared / (64.0 * blocks), 0.02);
            EXPECT_LE(std::abs(overallMean) / (64.0 * blocks), 0.0015);
        }
    }
}

TEST(Mpeg4Dsp, InverseDctOfADcBlockIsFlatAndOfZeroIsNothing) {
    for (int dc : {-2048, -9, 0, 8, 100, 2047}) {
        std::array<int16_t, 64> block{};
        block[0] = int16_t(dc);
        std::array<uint8_t, 64> picture{};
        idctPut(IdctKind::Simple, picture.data(), 8, block.data());
        const int want = std::clamp(int(std::lround(dc / 8.0)), 0, 255);
        for (uint8_t sample : picture) EXPECT_NEAR(sample, want, dc % 8 == 4 || dc % 8 == -4 ? 1 : 0) << dc;
    }
    std::array<int16_t, 64> zero{};
    std::array<uint8_t, 64> picture;
    picture.fill(77);
    idctAdd(IdctKind::Xvid, picture.data(), 8, zero.data());
    for (uint8_t sample : picture) EXPECT_EQ(sample, 77);
}

// A reference plane with a border of 8 samples of noise on every side.
struct Reference {
    static constexpr int kStride = 48;
    std::vector<uint8_t> samples = std::vector<uint8_t>(kStride * kStride);
    explicit Reference(uint32_t seed) {
        std::mt19937 random(seed);
        for (uint8_t& s : samples) s = uint8_t(random());
    }
    const uint8_t* at(int x, int y) const { return samples.data() + (8 + y) * kStride + 8 + x; }
};

TEST(Mpeg4Dsp, HalfSamplePredictionFollowsTheRoundingType) {
    const Reference ref(7);
    for (int size : {8, 16})
        for (int hy = 0; hy < 2; ++hy)
            for (int hx = 0; hx < 2; ++hx)
                for (int rounding = 0; rounding < 2; ++rounding) {
                    uint8_t out[16 * 16];
                    predictHalf(out, 16, ref.at(0, 0), Reference::kStride, size, size, hx, hy, rounding);
                    for (int y = 0; y < size; ++y)
                        for (int x = 0; x < size; ++x) {
                            const int a = *ref.at(x, y), b = *ref.at(x + 1, y), c = *ref.at(x, y + 1),
                                      d = *ref.at(x + 1, y + 1);
                            const int want = hx && hy ? (a + b + c + d + 2 - rounding) >> 2
                                             : hx     ? (a + b + 1 - rounding) >> 1
                                             : hy     ? (a + c + 1 - rounding) >> 1
                                                      : a;
                            ASSERT_EQ(out[y * 16 + x], want) << size << hx << hy << rounding << " at " << x << "," << y;
                        }
                }
}

// The quarter-sample filter written from its definition: the 8-tap half-sample value at a
// position between samples i and i+1 of a row of size+1 samples mirrored at both ends.
int halfSample(const int* row, int i, int size, int rounding) {
    static constexpr int kTaps[8] = {-1, 3, -6, 20, 20, -6, 3, -1};
    int sum = 0;
    for (int k = 0; k < 8; ++k) {
        int j = i - 3 + k;
        if (j < 0) j = -1 - j;
        if (j > size) j = 2 * size + 1 - j;
        sum += kTaps[k] * row[j];
    }
    return std::clamp((sum + 16 - rounding) >> 5, 0, 255);
}

TEST(Mpeg4Dsp, QuarterSamplePredictionOnOneAxisIsTheHalfSampleFilterAndItsMeans) {
    const Reference ref(11);
    for (int size : {8, 16})
        for (int rounding = 0; rounding < 2; ++rounding)
            for (int q = 1; q < 4; ++q) {
                uint8_t across[16 * 16], down[16 * 16];
                predictQuarter(across, 16, ref.at(0, 0), Reference::kStride, size, q, 0, rounding);
                predictQuarter(down, 16, ref.at(0, 0), Reference::kStride, size, 0, q, rounding);
                for (int line = 0; line < size; ++line) {
                    int row[17], column[17];
                    for (int i = 0; i <= size; ++i) {
                        row[i] = *ref.at(i, line);
                        column[i] = *ref.at(line, i);
                    }
                    for (int i = 0; i < size; ++i) {
                        const auto want = [&](const int* samples) {
                            const int half = halfSample(samples, i, size, rounding);
                            if (q == 2) return half;
                            return (half + samples[q == 1 ? i : i + 1] + 1 - rounding) >> 1;
                        };
                        ASSERT_EQ(across[line * 16 + i], want(row)) << size << " q" << q << " r" << rounding;
                        ASSERT_EQ(down[i * 16 + line], want(column)) << size << " q" << q << " r" << rounding;
                    }
                }
            }
    // Position (0, 0) is a copy, and (2, 2) the vertical filter over the horizontal one.
    uint8_t out[16 * 16];
    predictQuarter(out, 16, ref.at(0, 0), Reference::kStride, 16, 0, 0, 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(out[y * 16 + x], *ref.at(x, y));
    predictQuarter(out, 16, ref.at(0, 0), Reference::kStride, 8, 2, 2, 0);
    int halves[9][8];
    for (int y = 0; y <= 8; ++y) {
        int row[17];
        for (int i = 0; i <= 8; ++i) row[i] = *ref.at(i, y);
        for (int x = 0; x < 8; ++x) halves[y][x] = halfSample(row, x, 8, 0);
    }
    for (int x = 0; x < 8; ++x) {
        int column[17];
        for (int y = 0; y <= 8; ++y) column[y] = halves[y][x];
        for (int y = 0; y < 8; ++y) ASSERT_EQ(out[y * 16 + x], halfSample(column, y, 8, 0)) << x << "," << y;
    }
}

TEST(Mpeg4Dsp, AveragingAndBorders) {
    uint8_t a[2 * 8] = {0, 1, 2, 255, 254, 10, 11, 12, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t b[2 * 8] = {1, 1, 3, 255, 255, 11, 12, 12, 1, 2, 3, 4, 5, 6, 7, 8};
    averageInto(a, 8, b, 8, 8, 2);
    const uint8_t want[2 * 8] = {1, 1, 3, 255, 255, 11, 12, 12, 1, 1, 2, 2, 3, 3, 4, 4};
    EXPECT_TRUE(std::equal(a, a + 16, want));

    // A 3 x 2 picture in a plane with a border of 2: edges repeat, corners take the corner sample.
    constexpr int kStride = 7;
    std::vector<uint8_t> plane(kStride * 6, 0);
    uint8_t* picture = plane.data() + 2 * kStride + 2;
    const uint8_t samples[2][3] = {{1, 2, 3}, {4, 5, 6}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) picture[y * kStride + x] = samples[y][x];
    extendBorders(picture, kStride, 3, 2, 2);
    const std::vector<uint8_t> extended = {1, 1, 1, 2, 3, 3, 3,  //
                                           1, 1, 1, 2, 3, 3, 3,  //
                                           1, 1, 1, 2, 3, 3, 3,  //
                                           4, 4, 4, 5, 6, 6, 6,  //
                                           4, 4, 4, 5, 6, 6, 6,  //
                                           4, 4, 4, 5, 6, 6, 6};
    EXPECT_EQ(plane, extended);
}

// A 32 x 32 picture (2 x 2 macroblocks) and its planes, for the post-processing filters.
struct Picture {
    std::vector<uint8_t> y = std::vector<uint8_t>(32 * 32), cb = std::vector<uint8_t>(16 * 16, 128),
                         cr = std::vector<uint8_t>(16 * 16, 128);
    std::array<Plane, 3> planes() { return {Plane{y.data(), 32, 32, 32}, Plane{cb.data(), 16, 16, 16}, Plane{cr.data(), 16, 16, 16}}; }
};

Picture filtered(Picture in, int quantiser, int mask) {
    Picture out;
    const uint8_t quantisers[4] = {uint8_t(quantiser), uint8_t(quantiser), uint8_t(quantiser), uint8_t(quantiser)};
    const auto source = in.planes();
    const auto target = out.planes();
    postProcess(source.data(), target.data(), quantisers, 2, mask);
    return out;
}

TEST(Mpeg4Dsp, DeblockingSmoothsSmallStepsAtBlockEdgesOnly) {
    // Columns 0 to 7 at 100, 8 to 15 at 120 (a blocking step), 16 to 23 at 120, 24 to 31 at 200
    // (a real edge).
    Picture in;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) in.y[y * 32 + x] = uint8_t(x < 8 ? 100 : x < 24 ? 120 : 200);
    EXPECT_EQ(filtered(in, 20, 0).y, in.y);  // mask 0 copies

    const Picture out = filtered(in, 20, kDeblockLumaVertical | kDeblockLumaHorizontal);
    for (int y = 0; y < 32; ++y) {
        const uint8_t* row = &out.y[y * 32];
        EXPECT_GT(row[7], 100) << y;  // the step is spread over the samples beside the edge
        EXPECT_LT(row[8], 120) << y;
        EXPECT_EQ(row[24], 200) << y;  // the real edge stays
        EXPECT_EQ(row[23], 120) << y;
        EXPECT_EQ(row[3], 100) << y;  // block interiors stay
        EXPECT_EQ(row[12], 120) << y;
    }
    // A low quantiser means fine quantisation: the same step is then taken as real.
    EXPECT_EQ(filtered(in, 1, kDeblockLumaVertical).y[7], 100);
}

TEST(Mpeg4Dsp, DeringingLeavesFlatBlocksAndEdgesAndCalmsRipples) {
    Picture flat;
    std::fill(flat.y.begin(), flat.y.end(), 90);
    EXPECT_EQ(filtered(flat, 31, kDeringLuma | kDeringChroma).y, flat.y);

    // A vertical edge with ripples beside it on the dark side.
    Picture rings;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) rings.y[y * 32 + x] = uint8_t((x % 8) < 4 ? 40 + 6 * ((x + y) % 2) : 200);
    const Picture out = filtered(rings, 16, kDeringLuma);
    int rippleBefore = 0, rippleAfter = 0;
    for (int y = 1; y < 31; ++y) {
        rippleBefore += std::abs(rings.y[y * 32 + 1] - rings.y[(y + 1) * 32 + 1]);
        rippleAfter += std::abs(out.y[y * 32 + 1] - out.y[(y + 1) * 32 + 1]);
        EXPECT_EQ(out.y[y * 32 + 6], 200);  // the bright side of the edge
    }
    EXPECT_LT(rippleAfter, rippleBefore / 2);
}

}  // namespace
}  // namespace kx::mpeg4
