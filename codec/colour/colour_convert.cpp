// The YCbCr to RGB converters. The loops are branch-free per pixel so the compiler vectorises
// them; the fixed-point steps reproduce 16-bit saturating lane arithmetic exactly. The native
// converter also has an SSE2 version that does that lane arithmetic itself.
#include "codec/colour/colour_convert.h"

#include <algorithm>
#include <cstring>

#include "codec/video_decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kx {
namespace {

// Coefficients of MacroblockToPlanarRgb, scaled by 2^14 and applied to chroma scaled by 4, so
// the upper half of the 32-bit product is the term.
constexpr int kCbToBlue = 29032;
constexpr int kCrToRed = 22970;
constexpr int kCbToGreen = 5638;
constexpr int kCrToGreen = 11700;

// Coefficients of PackedYuv422ToBgr24, scaled by 2^14.
constexpr int kPackedLuma = 16384;
constexpr int kPackedUToBlue = 29033;
constexpr int kPackedVToRed = 22971;
constexpr int kPackedUToGreen = -5636;
constexpr int kPackedVToGreen = -11698;

inline uint8_t clampByte(int value) { return uint8_t(std::clamp(value, 0, 255)); }

// (chroma - 128) x 4 in 16-bit lanes (wrapping), then the upper half of the product.
inline int chromaTerm(int16_t chroma, int coefficient) {
    const auto scaled = int16_t(uint16_t((chroma - 128) * 4));
    return (scaled * coefficient) >> 16;
}

// Floor division of a possibly negative numerator by a positive denominator.
constexpr int32_t floorDiv(int32_t numerator, int32_t denominator) {
    return numerator >= 0 ? numerator / denominator : -((-numerator + denominator - 1) / denominator);
}

constexpr Yuv420Tables makeYuv420Tables() {
    Yuv420Tables t{};
    for (int32_t i = 0; i < 256; ++i) {
        // c x (i - 127.5) rounded half up is floor((2000 c (2i - 255) / 2000 + 1000) / 2000).
        t.blue[i] = floorDiv(1772 * (2 * i - 255) + 1000, 2000);
        t.red[i] = floorDiv(1402 * (2 * i - 255) + 1000, 2000);
        t.greenCb[i] = 21491 - 22554 * (i - 128);
        t.greenCr[i] = 21491 - 46793 * (i - 128);
    }
    return t;
}

constexpr Yuv420Tables kYuv420Tables = makeYuv420Tables();
static_assert(kYuv420Tables.blue[0] == -226 && kYuv420Tables.blue[128] == 1 && kYuv420Tables.blue[255] == 226);
static_assert(kYuv420Tables.red[0] == -179 && kYuv420Tables.red[128] == 1 && kYuv420Tables.red[255] == 179);

// One row of 16 pixels. Everything is in local arrays and restrict pointers, so the compiler
// knows the byte stores cannot change the samples and vectorises the loop.
inline void convertRow16(const int16_t* __restrict luma, const int16_t* __restrict redTerm,
                         const int16_t* __restrict greenTerm, const int16_t* __restrict blueTerm,
                         uint8_t* __restrict red, uint8_t* __restrict green, uint8_t* __restrict blue) {
    for (int x = 0; x < 16; ++x) {
        red[x] = clampByte(luma[x] + redTerm[x]);
        green[x] = clampByte(luma[x] - greenTerm[x]);
        blue[x] = clampByte(luma[x] + blueTerm[x]);
    }
}

// Calls convert(macroblock, red, green, blue) for each macroblock the destination holds whole,
// with red, green and blue at the macroblock's top-left pixel in each plane (rows `width` apart).
template <typename Convert>
void forEachMacroblock(uint8_t* pixels, uint32_t width, uint32_t height, const MacroblockPicture& source,
                       Convert convert) {
    const uint32_t columns = std::min(source.mbColumns(), width >> 4);
    const uint32_t rows = std::min(source.mbRows(), height >> 4);
    const size_t plane = size_t(width) * height;
    for (uint32_t mbRow = 0; mbRow < rows; ++mbRow) {
        for (uint32_t mbColumn = 0; mbColumn < columns; ++mbColumn) {
            const size_t offset = size_t(mbRow) * 16 * width + size_t(mbColumn) * 16;
            convert(source.macroblock(mbRow * source.mbColumns() + mbColumn), pixels + offset,
                    pixels + plane + offset, pixels + 2 * plane + offset);
        }
    }
}

constexpr size_t kBlock = MacroblockPicture::kBlockSamples;

void plainMacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height,
                                const MacroblockPicture& source) {
    forEachMacroblock(pixels, width, height, source, [width](const int16_t* mb, uint8_t* red, uint8_t* green,
                                                             uint8_t* blue) {
        const int16_t* cb = mb + 4 * kBlock;
        const int16_t* cr = mb + 5 * kBlock;
        for (int chromaRow = 0; chromaRow < 8; ++chromaRow) {
            // The chroma terms of this row, each repeated for the two luma columns it covers and
            // used by the two luma rows below it.
            alignas(32) int16_t redTerm[16], greenTerm[16], blueTerm[16];
            for (int x = 0; x < 8; ++x) {
                const int16_t b = cb[chromaRow * 8 + x];
                const int16_t r = cr[chromaRow * 8 + x];
                redTerm[2 * x] = redTerm[2 * x + 1] = int16_t(chromaTerm(r, kCrToRed));
                blueTerm[2 * x] = blueTerm[2 * x + 1] = int16_t(chromaTerm(b, kCbToBlue));
                greenTerm[2 * x] = greenTerm[2 * x + 1] =
                    int16_t(chromaTerm(b, kCbToGreen) + chromaTerm(r, kCrToGreen));
            }
            for (int y = 2 * chromaRow; y < 2 * chromaRow + 2; ++y) {
                // The row's two halves lie in the two luma blocks side by side, 64 samples apart.
                const int16_t* left = mb + ((y >> 3) * 2) * kBlock + (y & 7) * 8;
                alignas(32) int16_t luma[16];
                std::memcpy(luma, left, 8 * sizeof(int16_t));
                std::memcpy(luma + 8, left + kBlock, 8 * sizeof(int16_t));
                const size_t offset = size_t(y) * width;
                convertRow16(luma, redTerm, greenTerm, blueTerm, red + offset, green + offset, blue + offset);
            }
        }
    });
}

#if defined(__SSE2__)

// The plain converter's steps in 16-bit lanes: chroma - 128 and x 4 wrap, the upper half of the
// product is _mm_mulhi_epi16, and luma + term clamped to 0..255 is the saturating 16-bit sum
// packed with unsigned saturation (saturating to 16 bits first keeps which side of 0..255 a sum
// lies on).
void sse2MacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height,
                               const MacroblockPicture& source) {
    const auto load = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const auto store = [](uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
    forEachMacroblock(pixels, width, height, source, [&](const int16_t* mb, uint8_t* red, uint8_t* green,
                                                         uint8_t* blue) {
        const __m128i centre = _mm_set1_epi16(128);
        const int16_t* cb = mb + 4 * kBlock;
        const int16_t* cr = mb + 5 * kBlock;
        for (int chromaRow = 0; chromaRow < 8; ++chromaRow) {
            const __m128i b = _mm_slli_epi16(_mm_sub_epi16(load(cb + chromaRow * 8), centre), 2);
            const __m128i r = _mm_slli_epi16(_mm_sub_epi16(load(cr + chromaRow * 8), centre), 2);
            const __m128i redTerm = _mm_mulhi_epi16(r, _mm_set1_epi16(kCrToRed));
            const __m128i blueTerm = _mm_mulhi_epi16(b, _mm_set1_epi16(kCbToBlue));
            const __m128i greenTerm = _mm_add_epi16(_mm_mulhi_epi16(b, _mm_set1_epi16(kCbToGreen)),
                                                    _mm_mulhi_epi16(r, _mm_set1_epi16(kCrToGreen)));
            // Each term repeated for the two luma columns it covers.
            const __m128i redLeft = _mm_unpacklo_epi16(redTerm, redTerm);
            const __m128i redRight = _mm_unpackhi_epi16(redTerm, redTerm);
            const __m128i greenLeft = _mm_unpacklo_epi16(greenTerm, greenTerm);
            const __m128i greenRight = _mm_unpackhi_epi16(greenTerm, greenTerm);
            const __m128i blueLeft = _mm_unpacklo_epi16(blueTerm, blueTerm);
            const __m128i blueRight = _mm_unpackhi_epi16(blueTerm, blueTerm);
            for (int y = 2 * chromaRow; y < 2 * chromaRow + 2; ++y) {
                const int16_t* left = mb + ((y >> 3) * 2) * kBlock + (y & 7) * 8;
                const __m128i lumaLeft = load(left);
                const __m128i lumaRight = load(left + kBlock);
                const size_t offset = size_t(y) * width;
                store(red + offset,
                      _mm_packus_epi16(_mm_adds_epi16(lumaLeft, redLeft), _mm_adds_epi16(lumaRight, redRight)));
                store(green + offset, _mm_packus_epi16(_mm_subs_epi16(lumaLeft, greenLeft),
                                                       _mm_subs_epi16(lumaRight, greenRight)));
                store(blue + offset,
                      _mm_packus_epi16(_mm_adds_epi16(lumaLeft, blueLeft), _mm_adds_epi16(lumaRight, blueRight)));
            }
        }
    });
}

#endif

}  // namespace

const Yuv420Tables& yuv420Tables() { return kYuv420Tables; }

void MacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height, const MacroblockPicture& source,
                           KernelPath path) {
    if (pixels == nullptr || source.empty()) return;
#if defined(__SSE2__)
    if (path == KernelPath::Sse2) {
        sse2MacroblockToPlanarRgb(pixels, width, height, source);
        return;
    }
#endif
    (void)path;
    plainMacroblockToPlanarRgb(pixels, width, height, source);
}

void MacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height, const MacroblockPicture& source) {
    static const KernelPath path = bestKernelPath();
    MacroblockToPlanarRgb(pixels, width, height, source, path);
}

void PackedYuv422ToBgr24(uint8_t* destination, const uint8_t* source, int width, int height) {
    if (destination == nullptr || source == nullptr || width <= 0 || height == 0) return;
    const int rows = height < 0 ? -height : height;
    const size_t sourceStride = size_t(width) * 2;
    for (int row = 0; row < rows; ++row) {
        const uint8_t* in = source + sourceStride * size_t(height < 0 ? rows - 1 - row : row);
        uint8_t* out = destination + size_t(row) * width * 3;
        for (int pair = 0; pair < width / 2; ++pair) {
            const int u = in[4 * pair] - 128;
            const int y0 = in[4 * pair + 1];
            const int v = in[4 * pair + 2] - 128;
            const int y1 = in[4 * pair + 3];
            const int blueTerm = kPackedUToBlue * u;
            const int greenTerm = kPackedUToGreen * u + kPackedVToGreen * v;
            const int redTerm = kPackedVToRed * v;
            uint8_t* p = out + 6 * pair;
            p[0] = clampByte((kPackedLuma * y0 + blueTerm) >> 14);
            p[1] = clampByte((kPackedLuma * y0 + greenTerm) >> 14);
            p[2] = clampByte((kPackedLuma * y0 + redTerm) >> 14);
            p[3] = clampByte((kPackedLuma * y1 + blueTerm) >> 14);
            p[4] = clampByte((kPackedLuma * y1 + greenTerm) >> 14);
            p[5] = clampByte((kPackedLuma * y1 + redTerm) >> 14);
        }
    }
}

void PlanarYuv420ToBgr(const uint8_t* source, uint8_t* destination, ptrdiff_t strideBytes, int width, int height,
                       BgrPixelSize pixelSize) {
    if (source == nullptr || destination == nullptr || width < 2 || height < 2) return;
    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    const uint8_t* cbPlane = source + size_t(width) * height;
    const uint8_t* crPlane = cbPlane + size_t(chromaWidth) * chromaHeight;
    const size_t step = pixelSize == BgrPixelSize::Three ? 3 : 4;
    const Yuv420Tables& t = kYuv420Tables;
    for (int y = 0; y < height; ++y) {
        const uint8_t* luma = source + size_t(y) * width;
        // Odd sizes: the last luma column or row takes the last chroma sample.
        const int chromaRow = std::min(y / 2, chromaHeight - 1);
        const uint8_t* cb = cbPlane + size_t(chromaRow) * chromaWidth;
        const uint8_t* cr = crPlane + size_t(chromaRow) * chromaWidth;
        const ptrdiff_t outRow = strideBytes >= 0 ? y : height - 1 - y;
        uint8_t* out = destination + outRow * (strideBytes >= 0 ? strideBytes : -strideBytes);
        for (int x = 0; x < width; ++x) {
            const int c = std::min(x / 2, chromaWidth - 1);
            const int lumaSample = luma[x];
            uint8_t* p = out + size_t(x) * step;
            p[0] = clampByte(lumaSample + t.blue[cb[c]]);
            p[1] = clampByte(lumaSample + ((t.greenCb[cb[c]] + t.greenCr[cr[c]]) >> 16));
            p[2] = clampByte(lumaSample + t.red[cr[c]]);
        }
    }
}

}  // namespace kx
