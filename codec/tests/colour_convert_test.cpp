// The three converters against values worked out by hand from their fixed-point arithmetic, and
// the SSE2 kernels of the native and planar 4:2:0 converters against their plain loops.
#include "codec/colour/colour_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/kernel_path.h"
#include "codec/video_decoder.h"

namespace kx {
namespace {

constexpr size_t kCb = 4 * 64;
constexpr size_t kCr = 5 * 64;

// One macroblock with every luma sample `y` and every chroma sample cb / cr.
MacroblockPicture uniformMacroblocks(uint32_t columns, uint32_t rows, int16_t y, int16_t cb, int16_t cr) {
    MacroblockPicture picture;
    picture.resize(columns, rows);
    for (uint32_t m = 0; m < picture.macroblockCount(); ++m) {
        int16_t* mb = picture.macroblock(m);
        for (size_t i = 0; i < 256; ++i) mb[i] = y;
        for (size_t i = 0; i < 64; ++i) {
            mb[kCb + i] = cb;
            mb[kCr + i] = cr;
        }
    }
    return picture;
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb planarPixel(const std::vector<uint8_t>& planes, uint32_t width, uint32_t height, uint32_t x, uint32_t y) {
    const size_t plane = size_t(width) * height;
    const size_t i = size_t(y) * width + x;
    return {planes[i], planes[plane + i], planes[2 * plane + i]};
}

TEST(MacroblockToPlanarRgb, ConvertsWithSaturationAndClamping) {
    struct Case {
        int16_t y, cb, cr;
        Rgb expected;
    };
    for (const Case c : {
             Case{77, 128, 128, {77, 77, 77}},     // grey
             Case{250, 128, 255, {255, 160, 250}},  // 250 + 178 saturates, not wraps
             Case{-3, 128, 128, {0, 0, 0}},         // a deblocked sample below 0
             Case{100, 200, 100, {60, 96, 227}},    // floor of each product's upper half
             Case{300, 128, 128, {255, 255, 255}},
         }) {
        const MacroblockPicture picture = uniformMacroblocks(1, 1, c.y, c.cb, c.cr);
        std::vector<uint8_t> planes(16 * 16 * 3, 0xEE);
        MacroblockToPlanarRgb(planes.data(), 16, 16, picture);
        EXPECT_EQ(planarPixel(planes, 16, 16, 5, 9), c.expected) << c.y << " " << c.cb << " " << c.cr;
    }
}

TEST(MacroblockToPlanarRgb, PlacesBlocksAndSharesChromaOverTwoByTwo) {
    MacroblockPicture picture = uniformMacroblocks(2, 1, 0, 128, 128);
    int16_t* mb = picture.macroblock(1);
    for (int b = 0; b < 4; ++b)
        for (int i = 0; i < 64; ++i) mb[b * 64 + i] = int16_t(10 * (b + 1));
    mb[kCr + 2 * 8 + 3] = 228;  // chroma sample (3, 2) of macroblock 1
    std::vector<uint8_t> planes(32 * 16 * 3, 0);
    MacroblockToPlanarRgb(planes.data(), 32, 16, picture);
    EXPECT_EQ(planarPixel(planes, 32, 16, 16, 0).g, 10);  // Y0 top left
    EXPECT_EQ(planarPixel(planes, 32, 16, 31, 7).g, 20);  // Y1 top right
    EXPECT_EQ(planarPixel(planes, 32, 16, 16, 8).g, 30);  // Y2 bottom left
    EXPECT_EQ(planarPixel(planes, 32, 16, 31, 15).g, 40); // Y3 bottom right
    EXPECT_EQ(planarPixel(planes, 32, 16, 0, 0).g, 0);    // macroblock 0
    for (uint32_t y = 3; y <= 6; ++y) {
        for (uint32_t x = 21; x <= 24; ++x) {
            const bool inside = x >= 22 && x <= 23 && y >= 4 && y <= 5;
            EXPECT_EQ(planarPixel(planes, 32, 16, x, y).r > 100, inside) << x << "," << y;
        }
    }
}

TEST(MacroblockToPlanarRgb, ConvertsTheVisiblePartOfTheLastRowAndColumn) {
    // 176 x 120 (resolution codes 99, 104, 118): 11 x 8 macroblocks, the last row half shown;
    // 23 macroblock columns into a 360-pixel destination: the last column half shown.
    struct Case { uint32_t columns, rows, width, height; };
    for (const Case c : {Case{11, 8, 176, 120}, Case{23, 1, 360, 16}}) {
        MacroblockPicture picture = uniformMacroblocks(c.columns, c.rows, 99, 128, 128);
        for (uint32_t column = 0; column < c.columns; ++column) {
            int16_t* last = picture.macroblock((c.rows - 1) * c.columns + column);
            for (int i = 0; i < 4 * 64; ++i) last[i] = 150;
        }
        int16_t* corner = picture.macroblock(c.rows * c.columns - 1);
        for (int i = 0; i < 4 * 64; ++i) corner[i] = 200;
        std::vector<uint8_t> planes(size_t(c.width) * (c.height + 1) * 3, 0xEE);
        MacroblockToPlanarRgb(planes.data(), c.width, c.height, picture);
        const uint32_t lastRow = (c.rows - 1) * 16;
        const uint32_t lastColumn = (c.columns - 1) * 16;
        if (c.rows > 1) {
            EXPECT_EQ(planarPixel(planes, c.width, c.height, 0, lastRow - 1), (Rgb{99, 99, 99}));
        }
        for (uint32_t y = lastRow; y < c.height; ++y) {
            EXPECT_EQ(planarPixel(planes, c.width, c.height, 0, y), (Rgb{150, 150, 150})) << y;
            EXPECT_EQ(planarPixel(planes, c.width, c.height, c.width - 1, y), (Rgb{200, 200, 200})) << y;
        }
        EXPECT_EQ(planarPixel(planes, c.width, c.height, lastColumn, c.height - 1), (Rgb{200, 200, 200}));
        // Nothing is written past the planes' end.
        EXPECT_EQ(planes.back(), 0xEE);
        EXPECT_EQ(planes[size_t(c.width) * c.height * 3], 0xEE);
    }

    MacroblockToPlanarRgb(nullptr, 360, 16, uniformMacroblocks(23, 1, 99, 128, 128));  // nothing happens
    std::vector<uint8_t> untouched(16 * 16 * 3, 0xEE);
    MacroblockToPlanarRgb(untouched.data(), 16, 16, MacroblockPicture{});
    EXPECT_EQ(untouched, std::vector<uint8_t>(16 * 16 * 3, 0xEE));
}

TEST(PackedYuv422ToBgr24, ConvertsPairsAndFlipsForNegativeHeight) {
    // Two rows of 8 pixels: row 0 grey U = V = 128, row 1 U = 200, V = 100.
    std::vector<uint8_t> source;
    for (int row = 0; row < 2; ++row)
        for (int pair = 0; pair < 4; ++pair) {
            const uint8_t y0 = uint8_t(40 + pair), y1 = uint8_t(100);
            if (row == 0)
                source.insert(source.end(), {128, y0, 128, y1});
            else
                source.insert(source.end(), {200, y1, 100, y1});
        }
    std::vector<uint8_t> out(8 * 2 * 3);
    PackedYuv422ToBgr24(out.data(), source.data(), 8, 2);
    EXPECT_EQ(out[6 * 2 + 0], 42);  // pixel 2 = Y0 of pair 1: B, G, R all Y
    EXPECT_EQ(out[6 * 2 + 1], 42);
    EXPECT_EQ(out[6 * 2 + 2], 42);
    EXPECT_EQ(out[24 + 0], 227);  // (16384 x 100 + 29033 x 72) >> 14
    EXPECT_EQ(out[24 + 1], 95);   // (16384 x 100 - 5636 x 72 + 11698 x 28) >> 14
    EXPECT_EQ(out[24 + 2], 60);   // (16384 x 100 - 22971 x 28) >> 14

    std::vector<uint8_t> flipped(out.size());
    PackedYuv422ToBgr24(flipped.data(), source.data(), 8, -2);
    EXPECT_TRUE(std::equal(flipped.begin(), flipped.begin() + 24, out.begin() + 24));
    EXPECT_TRUE(std::equal(flipped.begin() + 24, flipped.end(), out.begin()));
}

TEST(PlanarYuv420ToBgr, TablesAndGreenWeighting) {
    const Yuv420Tables& t = yuv420Tables();
    EXPECT_EQ(t.blue[0], -226);
    EXPECT_EQ(t.blue[128], 1);
    EXPECT_EQ(t.blue[255], 226);
    EXPECT_EQ(t.red[0], -179);
    EXPECT_EQ(t.red[128], 1);
    EXPECT_EQ(t.red[255], 179);
    EXPECT_EQ(t.red[200], 102);  // 1.402 x 72.5 = 101.645

    struct Case {
        uint8_t y, cb, cr;
        int b, g, r;
    };
    for (const Case c : {Case{100, 128, 128, 101, 100, 101}, Case{100, 128, 200, 101, 49, 202},
                         Case{100, 200, 128, 228, 75, 101}, Case{250, 255, 255, 255, 116, 255}}) {
        // 2 x 2 picture: four luma samples, one Cb, one Cr.
        const uint8_t source[6] = {c.y, c.y, c.y, c.y, c.cb, c.cr};
        uint8_t out[12] = {};
        PlanarYuv420ToBgr(source, out, 6, 2, 2, BgrPixelSize::Three);
        EXPECT_EQ(out[9], c.b);
        EXPECT_EQ(out[10], c.g) << int(c.y) << " " << int(c.cb) << " " << int(c.cr);
        EXPECT_EQ(out[11], c.r);
    }
}

TEST(PlanarYuv420ToBgr, FourBytePixelsNegativeStrideAndOddSizes) {
    // 2 x 2 luma 10, 20 / 30, 40 with grey chroma.
    const uint8_t source[6] = {10, 20, 30, 40, 128, 128};
    uint8_t out[16];
    std::fill(std::begin(out), std::end(out), 0x77);
    PlanarYuv420ToBgr(source, out, -8, 2, 2, BgrPixelSize::Four);
    EXPECT_EQ(out[0], 31);    // first destination row holds the last source row (blue + 1)
    EXPECT_EQ(out[1], 30);
    EXPECT_EQ(out[3], 0x77);  // the fourth byte is left as it was
    EXPECT_EQ(out[8 + 4 + 1], 20);

    // 3 x 3: one chroma sample serves the odd last column and row.
    std::vector<uint8_t> odd(9 + 1 + 1, 128);
    std::vector<uint8_t> oddOut(27, 0);
    PlanarYuv420ToBgr(odd.data(), oddOut.data(), 9, 3, 3, BgrPixelSize::Three);
    EXPECT_EQ(oddOut[26], 129);
}

// Every pixel against the per-pixel sums of the tables, for even and odd sizes, both pixel
// sizes and both stride signs, on random samples over the whole byte range.
TEST(PlanarYuv420ToBgr, EveryPixelIsLumaPlusTheTermsOfItsChromaPair) {
    std::mt19937 random(31);
    std::uniform_int_distribution<int> byte(0, 255);
    const Yuv420Tables& t = yuv420Tables();
    const auto clamp = [](int v) { return std::clamp(v, 0, 255); };
    for (const auto& [width, height] : {std::pair{2, 2}, std::pair{3, 5}, std::pair{16, 16},
                                        std::pair{37, 6}, std::pair{64, 9}, std::pair{352, 4}}) {
        const int chromaWidth = width / 2, chromaHeight = height / 2;
        std::vector<uint8_t> source(size_t(width) * height +
                                    2 * size_t(chromaWidth) * chromaHeight);
        for (uint8_t& v : source) v = uint8_t(byte(random));
        const uint8_t* cbPlane = source.data() + size_t(width) * height;
        const uint8_t* crPlane = cbPlane + size_t(chromaWidth) * chromaHeight;
        for (const BgrPixelSize size : {BgrPixelSize::Three, BgrPixelSize::Four}) {
            const int step = size == BgrPixelSize::Three ? 3 : 4;
            const ptrdiff_t stride = ptrdiff_t(width) * step + 5;
            for (const ptrdiff_t signedStride : {stride, -stride}) {
                std::vector<uint8_t> out(size_t(stride) * size_t(height), 0x5A);
                PlanarYuv420ToBgr(source.data(), out.data(), signedStride, width, height, size);
                for (int y = 0; y < height; ++y) {
                    const size_t row =
                        size_t(signedStride > 0 ? y : height - 1 - y) * size_t(stride);
                    for (int x = 0; x < width; ++x) {
                        const size_t c =
                            size_t(std::min(y / 2, chromaHeight - 1)) * size_t(chromaWidth) +
                            size_t(std::min(x / 2, chromaWidth - 1));
                        const int luma = source[size_t(y) * size_t(width) + size_t(x)];
                        const uint8_t* p = out.data() + row + size_t(x) * size_t(step);
                        ASSERT_EQ(p[0], clamp(luma + t.blue[cbPlane[c]]))
                            << width << "x" << height << " " << x;
                        ASSERT_EQ(
                            p[1],
                            clamp(luma + ((t.greenCb[cbPlane[c]] + t.greenCr[crPlane[c]]) >> 16)));
                        ASSERT_EQ(p[2], clamp(luma + t.red[crPlane[c]]));
                        if (step == 4) {
                            ASSERT_EQ(p[3], 0x5A);
                        }
                    }
                    for (int pad = 0; pad < 5; ++pad)
                        ASSERT_EQ(out[row + size_t(width) * size_t(step) + size_t(pad)], 0x5A);
                }
            }
        }
    }
}

// The SSE2 kernel against the plain loops on samples over the whole 16-bit range and in the
// usual 0..255, into a destination wider and taller than the whole macroblocks it takes.
TEST(MacroblockToPlanarRgb, Sse2KernelWritesThePlainBytes) {
    std::mt19937 random(23);
    for (int trial = 0; trial < 20; ++trial) {
        MacroblockPicture picture;
        picture.resize(4, 3);
        std::uniform_int_distribution<int> wide(-32768, 32767), usual(-20, 275);
        for (size_t i = 0; i < size_t(picture.macroblockCount()) * 384; ++i)
            picture.samples()[i] = int16_t(trial % 2 ? wide(random) : usual(random));
        const uint32_t width = 16 * 4 + uint32_t(trial % 3) * 7;
        const uint32_t height = 16 * 3 - uint32_t(trial % 4) * 8;
        std::vector<uint8_t> plain(size_t(width) * height * 3, 0xA5), sse2 = plain;
        MacroblockToPlanarRgb(plain.data(), width, height, picture, KernelPath::Plain);
        MacroblockToPlanarRgb(sse2.data(), width, height, picture, KernelPath::Sse2);
        ASSERT_EQ(sse2, plain) << "trial " << trial;
    }
}

// The SSE2 kernel and its SSSE3 interleave, where this processor runs them.
std::vector<KernelPath> simdPaths() {
    std::vector<KernelPath> paths{KernelPath::Sse2};
    if (bestKernelPathWithSsse3() == KernelPath::Ssse3) paths.push_back(KernelPath::Ssse3);
    return paths;
}

// The SSE2 kernel computes the chroma terms itself: every (cb, cr) pair once (Cb the column,
// Cr the row), under random luma and under luma 0 and 255, against the plain loops.
TEST(PlanarYuv420ToBgr, SimdKernelsGiveThePlainBytesForEveryChromaPair) {
    constexpr int kWidth = 512, kHeight = 512;
    std::vector<uint8_t> source(size_t(kWidth) * kHeight * 3 / 2);
    uint8_t* cb = source.data() + size_t(kWidth) * kHeight;
    uint8_t* cr = cb + size_t(kWidth / 2) * (kHeight / 2);
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth / 2; ++x) {
            cb[y * kWidth / 2 + x] = uint8_t(x);
            cr[y * kWidth / 2 + x] = uint8_t(y);
        }
    std::mt19937 random(37);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int lumaKind = 0; lumaKind < 3; ++lumaKind) {
        for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i)
            source[i] = uint8_t(lumaKind == 0 ? byte(random) : lumaKind == 1 ? 0 : 255);
        std::vector<uint8_t> plain(size_t(kWidth) * kHeight * 3, 0);
        PlanarYuv420ToBgr(source.data(), plain.data(), kWidth * 3, kWidth, kHeight,
                          BgrPixelSize::Three, KernelPath::Plain);
        for (const KernelPath path : simdPaths()) {
            std::vector<uint8_t> simd(plain.size(), 0);
            PlanarYuv420ToBgr(source.data(), simd.data(), kWidth * 3, kWidth, kHeight,
                              BgrPixelSize::Three, path);
            ASSERT_EQ(simd, plain) << "luma kind " << lumaKind << " path " << int(path);
        }
    }
}

// The SSE2 and SSSE3 kernels against the plain loops over widths around its sixteen-pixel steps, odd
// heights, both stride signs, random samples and the extremes (luma and chroma 0 and 255).
TEST(PlanarYuv420ToBgr, SimdKernelsWriteThePlainBytes) {
    std::mt19937 random(29);
    std::uniform_int_distribution<int> byte(0, 255), extreme(0, 1);
    for (const int width : {2, 3, 15, 16, 17, 18, 31, 32, 33, 34, 49, 64, 352, 705}) {
        for (const int height : {2, 3, 7, 16}) {
            for (int trial = 0; trial < 3; ++trial) {
                const int chromaWidth = width / 2, chromaHeight = height / 2;
                std::vector<uint8_t> source(size_t(width) * height +
                                            2 * size_t(chromaWidth) * chromaHeight);
                for (uint8_t& v : source)
                    v = uint8_t(trial == 0 ? byte(random) : 255 * extreme(random));
                const ptrdiff_t stride = ptrdiff_t(width) * 3 + trial;
                for (const ptrdiff_t signedStride : {stride, -stride}) {
                    std::vector<uint8_t> plain(size_t(stride) * size_t(height), 0xC3);
                    PlanarYuv420ToBgr(source.data(), plain.data(), signedStride, width, height,
                                      BgrPixelSize::Three, KernelPath::Plain);
                    for (const KernelPath path : simdPaths()) {
                        std::vector<uint8_t> simd(plain.size(), 0xC3);
                        PlanarYuv420ToBgr(source.data(), simd.data(), signedStride, width, height,
                                          BgrPixelSize::Three, path);
                        ASSERT_EQ(simd, plain) << width << "x" << height << " trial " << trial << " path " << int(path);
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace kx
