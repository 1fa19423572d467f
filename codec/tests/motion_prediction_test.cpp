// Padded reference and half-sample prediction, against a direct computation on the raster
// picture where the border is the nearest edge sample.
#include "codec/native/motion_prediction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec/video_decoder.h"

namespace kx {
namespace {

constexpr size_t kBlock = 64;

// Sample (x, y) of a raster view of one component, with coordinates clamped to the picture.
int16_t rasterSample(const MacroblockPicture& picture, bool chroma, int component, int x, int y) {
    const int size = chroma ? 8 : 16;
    x = std::clamp(x, 0, int(picture.mbColumns()) * size - 1);
    y = std::clamp(y, 0, int(picture.mbRows()) * size - 1);
    const int16_t* mb = picture.macroblock(uint32_t(y / size) * picture.mbColumns() + uint32_t(x / size));
    int block = component, bx = x % size, by = y % size;
    if (!chroma) {
        block = (by >= 8 ? 2 : 0) + (bx >= 8 ? 1 : 0);
        bx %= 8;
        by %= 8;
    }
    return mb[block * kBlock + by * 8 + bx];
}

// The expected prediction of one sample: top-left at (x, y) in full samples, half steps as given.
int16_t expectedSample(const MacroblockPicture& p, bool chroma, int component, int x, int y, bool hx, bool hy) {
    const int a = rasterSample(p, chroma, component, x, y);
    const int b = rasterSample(p, chroma, component, x + 1, y);
    const int c = rasterSample(p, chroma, component, x, y + 1);
    const int d = rasterSample(p, chroma, component, x + 1, y + 1);
    if (hx && hy) return int16_t(((a + b + 1) / 2 + (c + d + 1) / 2) / 2);
    if (hx) return int16_t((a + b + 1) / 2);
    if (hy) return int16_t((a + c + 1) / 2);
    return int16_t(a);
}

int floorDiv(int v, int d) { return v >= 0 ? v / d : -((-v + d - 1) / d); }

TEST(MotionPrediction, MatchesTheEdgeExtendedPictureForEveryHalfStep) {
    MacroblockPicture picture;
    picture.resize(3, 2);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> value(-20, 275);  // samples may lie outside 0..255
    for (size_t i = 0; i < 6 * 384; ++i) picture.samples()[i] = int16_t(value(random));
    PaddedReference reference;
    reference.resize(3, 2);
    reference.refresh(picture);

    const std::pair<int, int> vectors[] = {{0, 0},   {1, 0},    {0, 1},   {1, 1},    {-1, -1}, {-3, 5},
                                           {31, 31}, {-32, -32}, {-32, 31}, {2, -7}, {6, 4},   {-5, 2}};
    int16_t out[384];
    for (uint32_t row = 0; row < 2; ++row) {
        for (uint32_t column = 0; column < 3; ++column) {
            for (const auto& [vx, vy] : vectors) {
                reference.predict(column, row, vx, vy, out);
                for (int b = 0; b < 4; ++b)
                    for (int i = 0; i < 64; ++i) {
                        const int x = int(column) * 16 + (b & 1) * 8 + i % 8 + floorDiv(vx, 2);
                        const int y = int(row) * 16 + (b >> 1) * 8 + i / 8 + floorDiv(vy, 2);
                        ASSERT_EQ(out[b * 64 + i], expectedSample(picture, false, 0, x, y, vx & 1, vy & 1))
                            << "mb " << column << "," << row << " v " << vx << "," << vy << " block " << b;
                    }
                for (int b = 4; b < 6; ++b)
                    for (int i = 0; i < 64; ++i) {
                        const int x = int(column) * 8 + i % 8 + floorDiv(vx, 4);
                        const int y = int(row) * 8 + i / 8 + floorDiv(vy, 4);
                        ASSERT_EQ(out[b * 64 + i],
                                  expectedSample(picture, true, b, x, y, (vx & 3) != 0, (vy & 3) != 0))
                            << "mb " << column << "," << row << " v " << vx << "," << vy << " block " << b;
                    }
            }
        }
    }
}

TEST(MotionPrediction, BothHalfStepsAverageTheRowAveragesTruncated) {
    // a, b = -1, -2 and c, d = -2, -3: ((-2) / 2 + (-4) / 2) / 2 = -3 / 2 = -1 (toward zero),
    // where the four-sample rounding (a + b + c + d + 2) >> 2 would give -2.
    MacroblockPicture picture;
    picture.resize(1, 1);
    int16_t* y0 = picture.macroblock(0);
    y0[0] = -1;
    y0[1] = -2;
    y0[8] = -2;
    y0[9] = -3;
    PaddedReference reference;
    reference.resize(1, 1);
    reference.refresh(picture);
    int16_t out[384];
    reference.predict(0, 0, 1, 1, out);
    EXPECT_EQ(out[0], -1);
}

}  // namespace
}  // namespace kx
