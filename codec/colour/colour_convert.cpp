// The YCbCr to RGB converters. The loops are branch-free per pixel so the compiler vectorises
// them; the fixed-point steps reproduce 16-bit saturating lane arithmetic exactly. The native
// converter and the planar 4:2:0 to B, G, R converter also have SSE2 versions.
#include "codec/colour/colour_convert.h"

#include <algorithm>
#include <cstring>

#include "codec/video_decoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
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

// Calls convert(macroblock, red, green, blue, stride) for each macroblock the destination
// shows, with red, green and blue at the macroblock's top-left pixel in each plane. A macroblock
// the destination shows only in part (a picture 120 lines high has half a macroblock row at the
// bottom) is converted into a 16 x 16 scratch block and its visible part copied out.
template <typename Convert>
void forEachMacroblock(uint8_t* pixels, uint32_t width, uint32_t height, const MacroblockPicture& source,
                       Convert convert) {
    const uint32_t columns = std::min(source.mbColumns(), MacroblockPicture::macroblocksOf(width));
    const uint32_t rows = std::min(source.mbRows(), MacroblockPicture::macroblocksOf(height));
    const size_t plane = size_t(width) * height;
    for (uint32_t mbRow = 0; mbRow < rows; ++mbRow) {
        const uint32_t lines = std::min<uint32_t>(16, height - mbRow * 16);
        for (uint32_t mbColumn = 0; mbColumn < columns; ++mbColumn) {
            const uint32_t across = std::min<uint32_t>(16, width - mbColumn * 16);
            const size_t offset = size_t(mbRow) * 16 * width + size_t(mbColumn) * 16;
            const int16_t* mb = source.macroblock(mbRow * source.mbColumns() + mbColumn);
            if (lines == 16 && across == 16) {
                convert(mb, pixels + offset, pixels + plane + offset, pixels + 2 * plane + offset, size_t(width));
                continue;
            }
            alignas(16) uint8_t scratch[3][16 * 16];
            convert(mb, scratch[0], scratch[1], scratch[2], size_t(16));
            for (int c = 0; c < 3; ++c)
                for (uint32_t y = 0; y < lines; ++y)
                    std::memcpy(pixels + size_t(c) * plane + offset + size_t(y) * width, scratch[c] + y * 16, across);
        }
    }
}

constexpr size_t kBlock = MacroblockPicture::kBlockSamples;

void plainMacroblockToPlanarRgb(uint8_t* pixels, uint32_t width, uint32_t height,
                                const MacroblockPicture& source) {
    forEachMacroblock(pixels, width, height, source, [](const int16_t* mb, uint8_t* red, uint8_t* green,
                                                        uint8_t* blue, size_t stride) {
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
                const size_t offset = size_t(y) * stride;
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
                                                         uint8_t* blue, size_t stride) {
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
                const size_t offset = size_t(y) * stride;
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

namespace {

// The three terms of chroma samples cb and cr: blue and red from their tables, green from the
// sum of its two.
struct ChromaTerms {
    int blue, green, red;
};
inline ChromaTerms chromaTerms(uint8_t cb, uint8_t cr) {
    const Yuv420Tables& t = kYuv420Tables;
    return {t.blue[cb], (t.greenCb[cb] + t.greenCr[cr]) >> 16, t.red[cr]};
}

inline void putBgr(uint8_t* p, int lumaSample, const ChromaTerms& terms) {
    p[0] = clampByte(lumaSample + terms.blue);
    p[1] = clampByte(lumaSample + terms.green);
    p[2] = clampByte(lumaSample + terms.red);
}

// Pixels `first` to width - 1 of one row with pixels `Step` bytes apart: each chroma pair's
// terms are looked up once for the two luma samples they cover; an odd width's last column
// takes the last chroma sample. `first` is even.
template <size_t Step>
void plainRowToBgr(const uint8_t* __restrict luma, const uint8_t* __restrict cb,
                   const uint8_t* __restrict cr, uint8_t* __restrict out, int first, int width,
                   int chromaWidth) {
    for (int c = first / 2; c < chromaWidth; ++c) {
        const ChromaTerms terms = chromaTerms(cb[c], cr[c]);
        putBgr(out + size_t(2 * c) * Step, luma[2 * c], terms);
        putBgr(out + size_t(2 * c + 1) * Step, luma[2 * c + 1], terms);
    }
    if (width > 2 * chromaWidth)
        putBgr(out + size_t(width - 1) * Step, luma[width - 1],
               chromaTerms(cb[chromaWidth - 1], cr[chromaWidth - 1]));
}

#if defined(__SSE2__)

// Sixteen pixels of 3 bytes from sixteen luma samples and the terms of their eight chroma pairs
// (each in a 16-bit lane). Luma + term lies in -226..481, so the 16-bit sum is exact and the
// unsigned saturating pack is the clamp to 0..255. Writes 50 bytes: the last two belong to the
// next pixel and are written again with it, so the caller keeps a pixel after these sixteen.
// The blue, green and red bytes of sixteen pixels, one plane each.
inline void sse2Channels16(const uint8_t* luma, __m128i blueTerm, __m128i greenTerm, __m128i redTerm,
                           __m128i& b, __m128i& g, __m128i& r) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
    const __m128i yLow = _mm_unpacklo_epi8(y, zero);
    const __m128i yHigh = _mm_unpackhi_epi8(y, zero);
    const auto channel = [&](__m128i term) {
        return _mm_packus_epi16(_mm_add_epi16(yLow, _mm_unpacklo_epi16(term, term)),
                                _mm_add_epi16(yHigh, _mm_unpackhi_epi16(term, term)));
    };
    b = channel(blueTerm);
    g = channel(greenTerm);
    r = channel(redTerm);
}

inline void sse2Bgr16(const uint8_t* luma, __m128i blueTerm, __m128i greenTerm, __m128i redTerm,
                      uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i b, g, r;
    sse2Channels16(luma, blueTerm, greenTerm, redTerm, b, g, r);
    // B, G, R, 0 for pixels 0-3, 4-7, 8-11, 12-15.
    const __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i rLow = _mm_unpacklo_epi8(r, zero), rHigh = _mm_unpackhi_epi8(r, zero);
    const __m128i quads[4] = {_mm_unpacklo_epi16(bgLow, rLow), _mm_unpackhi_epi16(bgLow, rLow),
                              _mm_unpacklo_epi16(bgHigh, rHigh), _mm_unpackhi_epi16(bgHigh, rHigh)};
    // In each 64-bit half, pixel 1's three bytes moved down next to pixel 0's: six bytes.
    const __m128i firstPixel = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i secondPixel =
        _mm_set_epi32(0x0000FFFF, int(0xFF000000u), 0x0000FFFF, int(0xFF000000u));
    for (int k = 0; k < 4; ++k) {
        const __m128i six = _mm_or_si128(_mm_and_si128(quads[k], firstPixel),
                                         _mm_and_si128(_mm_srli_epi64(quads[k], 8), secondPixel));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12 * k), six);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12 * k + 6), _mm_srli_si128(six, 8));
    }
}

// Blue and red terms as floor((a i + b) / 2^14): a and b chosen so that this gives the tables'
// values for every byte i (the tests compare every chroma pair with the plain conversion).
constexpr int kBlueSlope = 29032;
constexpr int kBlueOffset = -3693388;
constexpr int kRedSlope = 22969;
constexpr int kRedOffset = -2920355;
// Green: greenCb[cb] + greenCr[cr] is 8919398 - 22554 cb - 46793 cr, with 46793 = 65536 - 18743.
constexpr int kGreenOffset = 8919398;
constexpr int kCbToGreenTerm = -22554;
constexpr int kCrToGreenTerm = 18743;

// The terms of eight chroma pairs, one per 16-bit lane (each lies in -226..226), from 32-bit
// lanes holding (cb, cr) pairs.
inline void loadTerms8(const uint8_t* cb, const uint8_t* cr, __m128i& blueTerm, __m128i& greenTerm,
                       __m128i& redTerm) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i cb16 =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero);
    const __m128i cr16 =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero);
    const __m128i pairs[2] = {_mm_unpacklo_epi16(cb16, cr16), _mm_unpackhi_epi16(cb16, cr16)};
    const __m128i blueFactors = _mm_set1_epi32(kBlueSlope);
    const __m128i redFactors = _mm_set1_epi32(int(uint32_t(kRedSlope) << 16));
    const __m128i greenFactors =
        _mm_set1_epi32(int((uint32_t(kCrToGreenTerm) << 16) | uint16_t(kCbToGreenTerm)));
    const __m128i crHigh = _mm_set1_epi32(int(0xFFFF0000u));
    __m128i blue[2], green[2], red[2];
    for (int k = 0; k < 2; ++k) {
        blue[k] = _mm_srai_epi32(
            _mm_add_epi32(_mm_madd_epi16(pairs[k], blueFactors), _mm_set1_epi32(kBlueOffset)), 14);
        red[k] = _mm_srai_epi32(
            _mm_add_epi32(_mm_madd_epi16(pairs[k], redFactors), _mm_set1_epi32(kRedOffset)), 14);
        const __m128i sum =
            _mm_sub_epi32(_mm_madd_epi16(pairs[k], greenFactors), _mm_and_si128(pairs[k], crHigh));
        green[k] = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(kGreenOffset)), 16);
    }
    blueTerm = _mm_packs_epi32(blue[0], blue[1]);
    greenTerm = _mm_packs_epi32(green[0], green[1]);
    redTerm = _mm_packs_epi32(red[0], red[1]);
}

// One or two rows of 3-byte pixels sharing one chroma row (`lumaB` and `outB` null for one):
// the terms of eight chroma pairs are looked up once for both rows, then sixteen pixels of each
// row are converted in 16-bit lanes (through a buffer when they end the row); the plain loop
// does the rest.
void sse2RowsToBgr(const uint8_t* lumaA, uint8_t* outA, const uint8_t* lumaB, uint8_t* outB,
                   const uint8_t* cb, const uint8_t* cr, int width, int chromaWidth) {
    int x = 0;
    for (; x + 17 <= width; x += 16) {
        __m128i blueTerm, greenTerm, redTerm;
        loadTerms8(cb + x / 2, cr + x / 2, blueTerm, greenTerm, redTerm);
        sse2Bgr16(lumaA + x, blueTerm, greenTerm, redTerm, outA + size_t(x) * 3);
        if (lumaB != nullptr)
            sse2Bgr16(lumaB + x, blueTerm, greenTerm, redTerm, outB + size_t(x) * 3);
    }
    // Sixteen pixels end the row: converted into a buffer with room for the two extra bytes.
    if (x + 16 <= width) {
        __m128i blueTerm, greenTerm, redTerm;
        loadTerms8(cb + x / 2, cr + x / 2, blueTerm, greenTerm, redTerm);
        uint8_t last[50];
        sse2Bgr16(lumaA + x, blueTerm, greenTerm, redTerm, last);
        std::memcpy(outA + size_t(x) * 3, last, 48);
        if (lumaB != nullptr) {
            sse2Bgr16(lumaB + x, blueTerm, greenTerm, redTerm, last);
            std::memcpy(outB + size_t(x) * 3, last, 48);
        }
        x += 16;
    }
    plainRowToBgr<3>(lumaA, cb, cr, outA, x, width, chromaWidth);
    if (lumaB != nullptr) plainRowToBgr<3>(lumaB, cb, cr, outB, x, width, chromaWidth);
}

// SSSE3: the same bytes as sse2Bgr16, interleaved by three byte shuffles per 16-byte store, and
// exactly 48 bytes written.
struct BgrShuffles {
    alignas(16) uint8_t masks[3][3][16];  // [store][channel][byte]
};
constexpr BgrShuffles makeBgrShuffles() {
    BgrShuffles table{};
    for (int store = 0; store < 3; ++store)
        for (int channel = 0; channel < 3; ++channel)
            for (int j = 0; j < 16; ++j) {
                const int index = 16 * store + j;
                table.masks[store][channel][j] = index % 3 == channel ? uint8_t(index / 3) : uint8_t(0x80);
            }
    return table;
}
constexpr BgrShuffles kBgrShuffles = makeBgrShuffles();

__attribute__((target("ssse3"))) inline void ssse3Bgr16(const uint8_t* luma, __m128i blueTerm,
                                                        __m128i greenTerm, __m128i redTerm,
                                                        uint8_t* out) {
    __m128i planes[3];
    sse2Channels16(luma, blueTerm, greenTerm, redTerm, planes[0], planes[1], planes[2]);
    for (int store = 0; store < 3; ++store) {
        __m128i bytes = _mm_setzero_si128();
        for (int channel = 0; channel < 3; ++channel)
            bytes = _mm_or_si128(bytes, _mm_shuffle_epi8(planes[channel],
                                                          _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                              kBgrShuffles.masks[store][channel]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * store), bytes);
    }
}

// sse2RowsToBgr with the SSSE3 interleave: every full sixteen pixels in place.
__attribute__((target("ssse3"))) void ssse3RowsToBgr(const uint8_t* lumaA, uint8_t* outA,
                                                     const uint8_t* lumaB, uint8_t* outB,
                                                     const uint8_t* cb, const uint8_t* cr, int width,
                                                     int chromaWidth) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i blueTerm, greenTerm, redTerm;
        loadTerms8(cb + x / 2, cr + x / 2, blueTerm, greenTerm, redTerm);
        ssse3Bgr16(lumaA + x, blueTerm, greenTerm, redTerm, outA + size_t(x) * 3);
        if (lumaB != nullptr) ssse3Bgr16(lumaB + x, blueTerm, greenTerm, redTerm, outB + size_t(x) * 3);
    }
    plainRowToBgr<3>(lumaA, cb, cr, outA, x, width, chromaWidth);
    if (lumaB != nullptr) plainRowToBgr<3>(lumaB, cb, cr, outB, x, width, chromaWidth);
}

#endif

}  // namespace

void PlanarYuv420ToBgr(const uint8_t* source, uint8_t* destination, ptrdiff_t strideBytes,
                       int width, int height, BgrPixelSize pixelSize, KernelPath path) {
    if (source == nullptr || destination == nullptr || width < 2 || height < 2) return;
    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    const uint8_t* cbPlane = source + size_t(width) * height;
    const uint8_t* crPlane = cbPlane + size_t(chromaWidth) * chromaHeight;
    const auto lumaRow = [&](int y) { return source + size_t(y) * width; };
    const auto outRow = [&](int y) {
        const ptrdiff_t row = strideBytes >= 0 ? y : height - 1 - y;
        return destination + row * (strideBytes >= 0 ? strideBytes : -strideBytes);
    };
#if defined(__SSE2__)
    if ((path == KernelPath::Sse2 || path == KernelPath::Ssse3) && pixelSize == BgrPixelSize::Three) {
        // Rows 2 c and 2 c + 1 share chroma row c; an odd height's last row takes the last one.
        const auto rows = path == KernelPath::Ssse3 ? ssse3RowsToBgr : sse2RowsToBgr;
        for (int y = 0; y < height; y += 2) {
            const int chromaRow = std::min(y / 2, chromaHeight - 1);
            const bool pair = y + 1 < height;
            rows(lumaRow(y), outRow(y), pair ? lumaRow(y + 1) : nullptr, pair ? outRow(y + 1) : nullptr,
                 cbPlane + size_t(chromaRow) * chromaWidth, crPlane + size_t(chromaRow) * chromaWidth, width,
                 chromaWidth);
        }
        return;
    }
#endif
    (void)path;
    for (int y = 0; y < height; ++y) {
        // Odd sizes: the last luma row takes the last chroma row.
        const int chromaRow = std::min(y / 2, chromaHeight - 1);
        const uint8_t* cb = cbPlane + size_t(chromaRow) * chromaWidth;
        const uint8_t* cr = crPlane + size_t(chromaRow) * chromaWidth;
        if (pixelSize == BgrPixelSize::Three)
            plainRowToBgr<3>(lumaRow(y), cb, cr, outRow(y), 0, width, chromaWidth);
        else
            plainRowToBgr<4>(lumaRow(y), cb, cr, outRow(y), 0, width, chromaWidth);
    }
}

void PlanarRowsToBgr(const uint8_t* lumaA, uint8_t* outA, const uint8_t* lumaB, uint8_t* outB,
                     const uint8_t* cb, const uint8_t* cr, int width) {
    if (width < 2) return;
#if defined(__SSE2__)
    static const KernelPath path = bestKernelPath();
    if (path == KernelPath::Sse2) {
        sse2RowsToBgr(lumaA, outA, lumaB, outB, cb, cr, width, width / 2);
        return;
    }
#endif
    plainRowToBgr<3>(lumaA, cb, cr, outA, 0, width, width / 2);
    if (lumaB != nullptr) plainRowToBgr<3>(lumaB, cb, cr, outB, 0, width, width / 2);
}

void PlanarYuv420ToBgr(const uint8_t* source, uint8_t* destination, ptrdiff_t strideBytes,
                       int width, int height, BgrPixelSize pixelSize) {
    static const KernelPath path = bestKernelPathWithSsse3();
    PlanarYuv420ToBgr(source, destination, strideBytes, width, height, pixelSize, path);
}

}  // namespace kx
