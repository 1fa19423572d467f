// Copy rules: each source layout and row direction ends upright in top-down and bottom-up
// targets of 3 and 4 bytes per pixel.
#include "present/picture_copy.h"

#include <gtest/gtest.h>

#include <vector>

#include "codec/video_decoder.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"

namespace kx {
namespace {

constexpr uint16_t codecFlags(int codec) {
    return uint16_t(codec << 4);
}

// A 2 x 3 picture whose pixel (x, y) is B = 10 y + x, G = 100 + that, R = 200 + that, stored
// in the given layout with its first stored row being picture row 0 (top-down) or 2.
RgbPicture makePicture(bool planar, bool topDown) {
    RgbPicture picture(2, 3);
    uint8_t* p = picture.pixels();
    for (int stored = 0; stored < 3; ++stored) {
        const int y = topDown ? stored : 2 - stored;
        for (int x = 0; x < 2; ++x) {
            const uint8_t v = uint8_t(10 * y + x);
            if (planar) {
                p[stored * 2 + x] = uint8_t(200 + v);
                p[6 + stored * 2 + x] = uint8_t(100 + v);
                p[12 + stored * 2 + x] = v;
            } else {
                p[stored * 6 + 3 * x] = v;
                p[stored * 6 + 3 * x + 1] = uint8_t(100 + v);
                p[stored * 6 + 3 * x + 2] = uint8_t(200 + v);
            }
        }
    }
    return picture;
}

// The expected upright B, G, R bytes in a top-down target with `bytesPerPixel`.
std::vector<uint8_t> upright(uint32_t bytesPerPixel) {
    std::vector<uint8_t> out;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) {
            const uint8_t v = uint8_t(10 * y + x);
            out.insert(out.end(), {v, uint8_t(100 + v), uint8_t(200 + v)});
            if (bytesPerPixel == 4) out.push_back(0);
        }
    return out;
}

TEST(PictureCopy, EverySourceLayoutEndsUpright) {
    struct Case {
        int32_t kind;
        uint16_t flags;
        bool planar, topDown;
    };
    for (const Case c : {
             Case{kKindLegacyKx, 0, false, false},
             Case{kKindLegacyKxx, 0, false, false},
             Case{kKindLegacyKxq, 0, false, true},
             Case{kKindClip, codecFlags(0), true, false},
             Case{kKindExtended, codecFlags(1), true, false},
             Case{kKindExtended, uint16_t(codecFlags(1) | kFrameFlagCodecOption), true, true},
             Case{kKindFourChannel, codecFlags(0), true, false},
             Case{kKindClip, codecFlags(2), false, true},
             Case{kKindExtended, codecFlags(4), false, true},
             Case{kKindExtended, codecFlags(6), false, true},
             Case{kKindFourChannel, codecFlags(8), false, true},
         }) {
        const RgbPicture picture = makePicture(c.planar, c.topDown);
        for (uint32_t bytes : {3u, 4u}) {
            std::vector<uint8_t> out(6 * bytes, 0xEE);
            ASSERT_TRUE(
                copyPictureUpright(picture, c.kind, c.flags, {out.data(), 2, 3, bytes, 2 * bytes}));
            EXPECT_EQ(out, upright(bytes))
                << "kind " << c.kind << " flags " << c.flags << " bytes " << bytes;

            // A bottom-up target holds the bottom row first.
            std::vector<uint8_t> dib(6 * bytes, 0xEE);
            ASSERT_TRUE(
                copyPictureUpright(picture, c.kind, c.flags,
                                   {dib.data(), 2, 3, bytes, 2 * bytes, RowOrder::BottomUp}));
            const auto expected = upright(bytes);
            for (int row = 0; row < 3; ++row)
                EXPECT_TRUE(std::equal(dib.begin() + row * 2 * bytes,
                                       dib.begin() + (row + 1) * 2 * bytes,
                                       expected.begin() + (2 - row) * 2 * bytes));
        }
    }
}

TEST(PictureCopy, RefusesWhatItCannotCopy) {
    const RgbPicture picture = makePicture(true, false);
    std::vector<uint8_t> out(6 * 3, 0xEE);
    EXPECT_FALSE(
        copyPictureUpright(picture, kKindClip, codecFlags(0), {out.data(), 3, 2, 3, 9}));  // size
    EXPECT_FALSE(copyPictureUpright(picture, kKindClip, codecFlags(5),
                                    {out.data(), 2, 3, 3, 6}));  // no codec
    EXPECT_FALSE(copyPictureUpright(picture, 5, codecFlags(0), {out.data(), 2, 3, 3, 6}));  // kind
    EXPECT_FALSE(copyPictureUpright(picture, kKindClip, codecFlags(0),
                                    {out.data(), 2, 3, 2, 6}));  // 2 bytes
    EXPECT_EQ(out, std::vector<uint8_t>(18, 0xEE));
}

TEST(PictureCopy, FormatFlags) {
    EXPECT_EQ(pictureFormatFlags(kKindClip, codecFlags(1) | kFrameFlagCodecOption), 0x3u);
    EXPECT_EQ(pictureFormatFlags(kKindLegacyKxq, 0), 0x8u);
    EXPECT_EQ(pictureFormatFlags(kKindExtended, codecFlags(2)), 0x5u);
    EXPECT_EQ(pictureFormatFlags(kKindExtended, codecFlags(4)), 0x11u);
    EXPECT_EQ(pictureFormatFlags(kKindExtended, codecFlags(3)), 0x21u);
    EXPECT_EQ(pictureFormatFlags(kKindFourChannel, codecFlags(8)), 0x101u);
}

}  // namespace
}  // namespace kx
