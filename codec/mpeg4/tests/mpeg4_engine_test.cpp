// The MPEG-4 engine against FFmpeg: streams coded by the ffmpeg program (its mpeg4 encoder and
// XviD) with each tool the recorders' encoders use, decoded by Mpeg4VideoDecoder and by
// libavcodec in this process with the same inverse DCT, compared picture by picture after the
// same colour conversion. Then the engine's control entry and its edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/frame_decoder.h"
#include "codec/mpeg4/mpeg4_decoder.h"
#include "codec/mpeg4/mpeg4_engine.h"
#include "codec/mpeg4/tests/mpeg4_streams.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"
#include "recording/record_reader.h"
#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

constexpr uint16_t kCodec2Flags = 2 << 4;

std::unique_ptr<CRecordFrame> makeFrame(const std::vector<uint8_t>& video, bool key) {
    auto frame = std::make_unique<CRecordFrame>(16, 16, 0);
    EXPECT_TRUE(frame->ReserveVideo(std::max<size_t>(video.size(), 1)));
    if (!video.empty()) std::memcpy(frame->VideoBuffer(), video.data(), video.size());
    EXPECT_TRUE(frame->SetVideoLength(uint32_t(video.size())));
    frame->SetKind(key ? 0 : 1);
    frame->SetFlags(kCodec2Flags);
    return frame;
}

// Our pictures of a stream in display order: every picture shown, then the held anchor.
std::vector<std::vector<uint8_t>> enginePictures(const test::Mpeg4Stream& stream) {
    std::vector<std::vector<uint8_t>> pictures;
    Mpeg4VideoDecoder decoder;
    RgbPicture picture(uint32_t(stream.width), uint32_t(stream.height));
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        const auto frame = makeFrame(stream.frames[i], stream.key[i]);
        if (decoder.decodeToRgb(*frame, picture)) {
            EXPECT_FALSE(decoder.lastPictureDamaged()) << "frame " << i;
            pictures.emplace_back(picture.pixels(), picture.pixels() + picture.byteCount());
        } else {
            EXPECT_TRUE(decoder.lastPictureHeldBack()) << "frame " << i << " result " << decoder.lastResult();
        }
    }
    if (decoder.flushHeld(picture)) pictures.emplace_back(picture.pixels(), picture.pixels() + picture.byteCount());
    return pictures;
}

struct StreamCase {
    const char* name;
    test::Mpeg4StreamRecipe recipe;
    test::ReferenceIdct idct;
};

class Mpeg4AgainstFfmpeg : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Mpeg4AgainstFfmpeg, EveryPictureMatchesLibavcodec) {
    const StreamCase& c = GetParam();
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream(c.recipe, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    const auto expected = test::referenceMpeg4Pictures(stream.frames, stream.width, stream.height, c.idct);
    const auto actual = enginePictures(stream);
    ASSERT_EQ(actual.size(), expected.size());
    // XviD leaves out the B pictures at the very end (it writes not-coded placeholders).
    ASSERT_GE(expected.size() + 2, size_t(c.recipe.pictures));
    double worst = 99;
    int exact = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const double p = test::psnr(actual[i], expected[i]);
        worst = std::min(worst, p);
        exact += p >= 99;
        EXPECT_GE(p, 45.0) << "picture " << i;
    }
    RecordProperty("worst_psnr", std::to_string(worst));
    RecordProperty("bit_exact_pictures", std::to_string(exact));
    std::printf("[ %s ] %zu pictures, %d bit-exact, worst %.2f dB\n", c.name, expected.size(), exact, worst);
}

using test::Mpeg4StreamRecipe;
using test::ReferenceIdct;

INSTANTIATE_TEST_SUITE_P(
    Streams, Mpeg4AgainstFfmpeg,
    ::testing::Values(
        StreamCase{"qcif_ip", {"mpeg4", 176, 144, 12, "-g 6 -q:v 4"}, ReferenceIdct::Simple},
        StreamCase{"cif_ip", {"mpeg4", 352, 288, 10, "-g 5 -q:v 3"}, ReferenceIdct::Simple},
        StreamCase{"d1_ip", {"mpeg4", 704, 576, 6, "-g 3 -q:v 5"}, ReferenceIdct::Simple},
        StreamCase{"odd_size", {"mpeg4", 200, 120, 10, "-g 5 -q:v 4"}, ReferenceIdct::Simple},
        StreamCase{"mpeg_quant", {"mpeg4", 176, 144, 10, "-g 5 -q:v 3 -mpeg_quant 1"}, ReferenceIdct::Simple},
        StreamCase{"b_pictures", {"mpeg4", 176, 144, 14, "-g 7 -q:v 4 -bf 2"}, ReferenceIdct::Simple},
        StreamCase{"quarter_sample", {"mpeg4", 176, 144, 10, "-g 10 -q:v 3 -flags +qpel"}, ReferenceIdct::Simple},
        StreamCase{"qpel_b", {"mpeg4", 176, 144, 14, "-g 14 -q:v 3 -flags +qpel -bf 2"}, ReferenceIdct::Simple},
        StreamCase{"four_vectors", {"mpeg4", 176, 144, 10, "-g 10 -q:v 3 -flags +mv4"}, ReferenceIdct::Simple},
        StreamCase{"four_vectors_b", {"mpeg4", 176, 144, 14, "-g 14 -q:v 3 -flags +mv4 -bf 2"}, ReferenceIdct::Simple},
        StreamCase{"resync_markers", {"mpeg4", 352, 288, 8, "-g 8 -q:v 3 -ps 500 -bf 1"}, ReferenceIdct::Simple},
        StreamCase{"data_partitioning", {"mpeg4", 352, 288, 8, "-g 8 -q:v 3 -ps 500 -data_partitioning 1"},
                   ReferenceIdct::Simple},
        StreamCase{"xvid_ip", {"libxvid", 176, 144, 12, "-g 6 -q:v 4"}, ReferenceIdct::Auto},
        StreamCase{"xvid_b", {"libxvid", 352, 288, 12, "-g 12 -q:v 4 -bf 2"}, ReferenceIdct::Auto},
        StreamCase{"xvid_qpel", {"libxvid", 176, 144, 12, "-g 12 -q:v 3 -flags +qpel -bf 1"}, ReferenceIdct::Auto},
        StreamCase{"xvid_mpeg_quant", {"libxvid", 176, 144, 12, "-g 12 -q:v 3 -mpeg_quant 1"}, ReferenceIdct::Auto},
        StreamCase{"long_group", {"mpeg4", 352, 288, 250, "-g 250 -q:v 4"}, ReferenceIdct::Simple}),
    [](const ::testing::TestParamInfo<StreamCase>& param) { return std::string(param.param.name); });

// --- The control entry -------------------------------------------------------------------------

class Mpeg4EngineControl : public ::testing::Test {
protected:
    void SetUp() override {
        Mpeg4Size size{176, 144};
        ASSERT_EQ(m_engine.control(1, kMpeg4QuerySizes, &size, &m_sizes), kMpeg4Ok);
        Mpeg4InitParams init;
        init.width = 176;
        init.height = 144;
        for (int i = 0; i < kMpeg4BlockCount; ++i) {
            m_blocks[i].assign(m_sizes.bytes[i], 0);
            init.blocks[i] = m_blocks[i].data();
        }
        ASSERT_EQ(m_engine.control(1, kMpeg4Initialise, &init, nullptr), kMpeg4Ok);
    }
    int decode(const std::vector<uint8_t>& data, Mpeg4DecodeInfo& info) {
        Mpeg4DecodeParams params;
        params.destination = m_bgr.data();
        params.data = data.data();
        params.length = uint32_t(data.size());
        params.destinationWidth = 176;
        return m_engine.control(1, kMpeg4Decode, &params, &info);
    }

    Mpeg4VideoEngine m_engine;
    Mpeg4BlockSizes m_sizes;
    std::vector<uint8_t> m_blocks[kMpeg4BlockCount];
    std::vector<uint8_t> m_bgr = std::vector<uint8_t>(176 * 144 * 3);
};

TEST(Mpeg4EngineSizes, SixBlocksForAPicture) {
    Mpeg4VideoEngine engine;
    Mpeg4Size size{352, 288};
    Mpeg4BlockSizes sizes;
    ASSERT_EQ(engine.control(1, kMpeg4QuerySizes, &size, &sizes), kMpeg4Ok);
    EXPECT_EQ(sizes.bytes[0], (288u + 64) * (352 + 64) + 2 * (144u + 64) * (176 + 64));
    EXPECT_EQ(sizes.bytes[1], sizes.bytes[0]);
    EXPECT_EQ(sizes.bytes[2], 288u * 352 + 2 * (288u * 352 / 4));
    EXPECT_EQ(sizes.bytes[3], 703488u);
    EXPECT_EQ(sizes.bytes[4], 11332u);
    EXPECT_EQ(sizes.bytes[5], 2216u);
    // A picture whose prediction arrays exceed the usual state block gets a larger one
    // instead of overrunning it.
    size = {1920, 1088};
    ASSERT_EQ(engine.control(1, kMpeg4QuerySizes, &size, &sizes), kMpeg4Ok);
    EXPECT_GT(sizes.bytes[3], 703488u);
    size = {0, 288};
    EXPECT_EQ(engine.control(1, kMpeg4QuerySizes, &size, &sizes), kMpeg4Refused);
    EXPECT_EQ(engine.control(0, kMpeg4QuerySizes, &size, &sizes), kMpeg4Refused);
}

TEST_F(Mpeg4EngineControl, PostProcessingLevelsGiveTheirMasks) {
    const struct {
        int level;
        int result;
        bool on;
        int mask;
    } cases[] = {{0, kMpeg4Ok, false, 0},   {5, kMpeg4Ok, true, 1},    {15, kMpeg4Ok, true, 3},
                 {25, kMpeg4Ok, true, 19},  {35, kMpeg4Ok, true, 23},  {45, kMpeg4Ok, true, 31},
                 {50, kMpeg4Ok, true, 63},  {100, kMpeg4Ok, true, 63}, {101, kMpeg4Refused, true, 63},
                 {-1, kMpeg4Refused, true, 63}};
    for (const auto& c : cases) {
        Mpeg4PostParams post{c.level};
        EXPECT_EQ(m_engine.control(1, kMpeg4PostProcessing, &post, nullptr), c.result) << c.level;
        EXPECT_EQ(m_engine.postProcessingOn(), c.on) << c.level;
        EXPECT_EQ(m_engine.postProcessingMask(), c.mask) << c.level;
    }
}

TEST_F(Mpeg4EngineControl, OtherOperations) {
    Mpeg4ValueParams value;
    value.value = 1234;
    EXPECT_EQ(m_engine.control(1, kMpeg4StoreValue, &value, nullptr), kMpeg4Ok);
    EXPECT_EQ(m_engine.storedValue(), 1234);
    EXPECT_EQ(m_engine.control(1, kMpeg4Nothing, nullptr, nullptr), kMpeg4Ok);
    EXPECT_EQ(m_engine.control(0, kMpeg4Nothing, nullptr, nullptr), kMpeg4Refused);
}

TEST_F(Mpeg4EngineControl, FramesWithoutAPictureGiveThree) {
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream({"mpeg4", 176, 144, 2, "-g 2"}, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    // The stream's headers (everything before the first picture start code).
    const auto& first = stream.frames[0];
    size_t picture = 0;
    while (picture + 4 < first.size() && !(first[picture] == 0 && first[picture + 1] == 0 &&
                                           first[picture + 2] == 1 && first[picture + 3] == 0xB6))
        ++picture;
    const std::vector<uint8_t> headers(first.begin(), first.begin() + std::ptrdiff_t(picture));
    std::vector<uint8_t> group = {0, 0, 1, 0xB3, 0x00, 0x10, 0x40};  // time code 0:0:1, closed
    std::vector<uint8_t> headersAndGroup = headers;
    headersAndGroup.insert(headersAndGroup.end(), group.begin(), group.end());
    const std::vector<uint8_t> cases[] = {{}, group, headers, headersAndGroup, {0, 0, 1}, {0xFF, 0xFF, 0xFF, 0xFF}};
    std::fill(m_bgr.begin(), m_bgr.end(), 0xAB);
    for (const auto& data : cases) {
        Mpeg4DecodeInfo info;
        EXPECT_EQ(decode(data, info), kMpeg4NoPicture) << data.size();
        EXPECT_EQ(info.outcome, Mpeg4Outcome::NoPicture);
    }
    EXPECT_TRUE(std::all_of(m_bgr.begin(), m_bgr.end(), [](uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(m_engine.pictureCount(), 0u);
    // The group's header was read all the same.
    Mpeg4DecodeInfo info;
    EXPECT_EQ(decode(first, info), kMpeg4Ok);
    EXPECT_EQ(info.outcome, Mpeg4Outcome::Shown);
    EXPECT_EQ(m_engine.pictureCount(), 1u);
}

TEST_F(Mpeg4EngineControl, ToolsLeftOutAreRefusedCleanly) {
    const Mpeg4StreamRecipe recipes[] = {{"libxvid", 176, 144, 6, "-g 6 -gmc 1"},
                                     {"mpeg4", 176, 144, 4, "-g 4 -flags +ildct"}};
    for (const auto& recipe : recipes) {
        std::string error;
        const test::Mpeg4Stream stream = test::encodeMpeg4Stream(recipe, error);
        ASSERT_FALSE(stream.frames.empty()) << error;
        bool refused = false;
        for (const auto& frame : stream.frames) {
            Mpeg4DecodeInfo info;
            if (decode(frame, info) == kMpeg4NoPicture && info.outcome == Mpeg4Outcome::Unsupported) refused = true;
        }
        EXPECT_TRUE(refused) << recipe.options;
    }
}

// Post-processing filters the shown picture only: the reference pictures stay as decoded, so
// pictures after it is switched off again are FFmpeg's once more.
TEST_F(Mpeg4EngineControl, PostProcessingLeavesTheReferencesAlone) {
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream({"mpeg4", 176, 144, 8, "-g 8 -q:v 6 -bf 1"}, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    const auto expected = test::referenceMpeg4Pictures(stream.frames, 176, 144, ReferenceIdct::Simple);
    size_t shown = 0;
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        Mpeg4PostParams post{i < 4 ? 60 : 0};
        ASSERT_EQ(m_engine.control(1, kMpeg4PostProcessing, &post, nullptr), kMpeg4Ok);
        Mpeg4DecodeInfo info;
        ASSERT_EQ(decode(stream.frames[i], info), kMpeg4Ok);
        if (info.outcome != Mpeg4Outcome::Shown) continue;
        const double p = test::psnr(m_bgr, expected[shown]);
        if (i >= 4) {
            EXPECT_GE(p, 45.0) << "picture " << shown;
        }
        EXPECT_GE(p, 25.0) << "picture " << shown;  // filtered, still the same picture
        ++shown;
    }
    EXPECT_GE(shown, stream.frames.size() - 1);
}

// --- The decoder ---------------------------------------------------------------------------------

TEST(Mpeg4VideoDecoder, FirstFrameNotAKeyFrameShowsNothing) {
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream({"mpeg4", 176, 144, 6, "-g 6"}, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    const auto expected = test::referenceMpeg4Pictures(stream.frames, 176, 144, ReferenceIdct::Simple);
    Mpeg4VideoDecoder decoder;
    RgbPicture picture(176, 144);
    // The intra picture, in a frame not marked as a key frame: nothing is decoded.
    EXPECT_FALSE(decoder.decodeToRgb(*makeFrame(stream.frames[0], false), picture));
    EXPECT_TRUE(decoder.lastPictureHeldBack());
    EXPECT_TRUE(std::all_of(picture.pixels(), picture.pixels() + picture.byteCount(), [](uint8_t b) { return b == 0; }));
    // The frames after it are decoded.
    ASSERT_TRUE(decoder.decodeToRgb(*makeFrame(stream.frames[0], true), picture));
    EXPECT_GE(test::psnr(std::vector<uint8_t>(picture.pixels(), picture.pixels() + picture.byteCount()), expected[0]),
              45.0);
    for (size_t i = 1; i < stream.frames.size(); ++i) {
        ASSERT_TRUE(decoder.decodeToRgb(*makeFrame(stream.frames[i], false), picture)) << i;
        EXPECT_GE(test::psnr(std::vector<uint8_t>(picture.pixels(), picture.pixels() + picture.byteCount()),
                             expected[i]),
                  45.0);
    }
}

// An engine that cannot be made gives no picture, and is tried again with the next frame.
TEST(Mpeg4VideoDecoder, EngineCreationIsTriedAgain) {
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream({"mpeg4", 176, 144, 3, "-g 1"}, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    Mpeg4VideoDecoder decoder;
    RgbPicture picture(176, 144);
    decoder.setSizeLimit(160, 120);  // the blocks for 176 x 144 are not made
    EXPECT_FALSE(decoder.decodeToRgb(*makeFrame(stream.frames[0], true), picture));
    EXPECT_FALSE(decoder.lastPictureHeldBack());
    EXPECT_EQ(decoder.engine(), nullptr);
    EXPECT_FALSE(decoder.decodeToBuffer(*makeFrame(stream.frames[0], true), picture.pixels(), 176));
    decoder.setSizeLimit(176, 144);
    EXPECT_TRUE(decoder.decodeToRgb(*makeFrame(stream.frames[1], true), picture));
    ASSERT_NE(decoder.engine(), nullptr);
    EXPECT_EQ(decoder.engine()->pictureCount(), 1u);
}

TEST(Mpeg4VideoDecoder, DecodeToBufferWritesRowsOfTheGivenWidth) {
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream({"mpeg4", 176, 144, 2, "-g 2"}, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    Mpeg4VideoDecoder decoder;
    RgbPicture picture(176, 144);
    ASSERT_TRUE(decoder.decodeToRgb(*makeFrame(stream.frames[0], true), picture));
    // Rows of 200 pixels: the picture's 176 columns, the rest untouched.
    std::vector<uint8_t> buffer(200 * 3 * 144, 0x5A);
    ASSERT_TRUE(decoder.decodeToBuffer(*makeFrame(stream.frames[1], false), buffer.data(), 200));
    RgbPicture second(176, 144);
    Mpeg4VideoDecoder other;
    ASSERT_TRUE(other.decodeToRgb(*makeFrame(stream.frames[0], true), second));
    ASSERT_TRUE(other.decodeToRgb(*makeFrame(stream.frames[1], false), second));
    for (int y = 0; y < 144; ++y) {
        EXPECT_EQ(std::memcmp(buffer.data() + y * 600, second.pixels() + y * 528, 528), 0) << y;
        EXPECT_TRUE(std::all_of(buffer.begin() + y * 600 + 528, buffer.begin() + (y + 1) * 600,
                                [](uint8_t b) { return b == 0x5A; }));
    }
}

// Damaged frames: cut short, bytes changed, frames of another stream; none may crash (the
// sanitizers watch every read) and the decoder goes on with the next whole frame.
TEST(Mpeg4VideoDecoder, DamagedFramesDoNotCrash) {
    const Mpeg4StreamRecipe recipes[] = {{"mpeg4", 176, 144, 8, "-g 8 -bf 2 -flags +qpel+mv4"},
                                     {"mpeg4", 176, 144, 6, "-g 6 -ps 200 -data_partitioning 1"},
                                     {"libxvid", 176, 144, 8, "-g 8 -bf 1 -mpeg_quant 1"}};
    for (const auto& recipe : recipes) {
        std::string error;
        const test::Mpeg4Stream stream = test::encodeMpeg4Stream(recipe, error);
        ASSERT_FALSE(stream.frames.empty()) << error;
        const auto expected = test::referenceMpeg4Pictures(stream.frames, 176, 144, ReferenceIdct::Auto);
        Mpeg4VideoDecoder decoder;
        RgbPicture picture(176, 144);
        uint32_t seed = 12345;
        for (size_t i = 0; i < stream.frames.size(); ++i) {
            std::vector<uint8_t> cut(stream.frames[i].begin(), stream.frames[i].begin() + std::ptrdiff_t(stream.frames[i].size() / 2));
            decoder.decodeToRgb(*makeFrame(cut, stream.key[i]), picture);
            std::vector<uint8_t> flipped = stream.frames[i];
            for (int k = 0; k < 8; ++k) {
                seed = seed * 1103515245 + 12345;
                flipped[(seed >> 8) % flipped.size()] ^= uint8_t(seed >> 24);
            }
            decoder.decodeToRgb(*makeFrame(flipped, stream.key[i]), picture);
        }
        // A fresh start at the first key frame decodes whole again.
        Mpeg4VideoDecoder fresh;
        ASSERT_TRUE(fresh.decodeToRgb(*makeFrame(stream.frames[0], true), picture) || fresh.lastPictureHeldBack());
    }
}

// A recording of codec 2 read back and decoded as kxtool and the player do: held-back
// pictures are NotYet, never failures.
TEST(Mpeg4Recording, DecodesThroughTheFrameDecoder) {
    std::string error;
    const test::Mpeg4Stream stream = test::encodeMpeg4Stream({"mpeg4", 352, 288, 12, "-g 6 -bf 2"}, error);
    ASSERT_FALSE(stream.frames.empty()) << error;
    test::HeaderFields header;
    header.resolution = 130;  // 352 x 288
    std::vector<test::GroupContent> groups(2);
    for (size_t i = 0; i < stream.frames.size(); ++i) {
        test::FrameContent f;
        f.kind = stream.key[i] ? 0 : 1;
        f.flags = kCodec2Flags;
        f.tick = uint32_t(90000 + 40 * i);
        f.video = stream.frames[i];
        auto& group = groups[i < 6 ? 0 : 1];
        if (group.frames.empty()) group.tick = f.tick;
        group.frames.push_back(f);
    }
    test::TempFolder folder;
    CRecordInfo info;
    info.SetPath(folder.write("codec2.kxz", test::recordingBytes(3, header, groups)));
    CRecordReader reader;
    ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1));
    CRecordFrame frame(352, 288, 0);
    FrameDecoder decoder;
    RgbPicture picture(352, 288);
    const auto expected = test::referenceMpeg4Pictures(stream.frames, 352, 288, ReferenceIdct::Simple);
    size_t shown = 0, notYet = 0;
    while (reader.ReadFrame(frame, -1, 0)) {
        if (!decoder.ready()) {
            std::string reason;
            ASSERT_TRUE(decoder.setup(info.Kind(), info.Version(), frame.Codec(), reason, 352, 288)) << reason;
        }
        const FrameDecode result = decoder.decode(frame, picture);
        if (result == FrameDecode::NotYet) {
            ++notYet;
            continue;
        }
        ASSERT_EQ(result, FrameDecode::Whole) << decoder.failureText();
        ASSERT_LT(shown, expected.size());
        EXPECT_GE(test::psnr(std::vector<uint8_t>(picture.pixels(), picture.pixels() + picture.byteCount()),
                             expected[shown]),
                  45.0);
        ++shown;
    }
    // Only the first anchor is held back at the start; the last anchor stays held at the end.
    EXPECT_EQ(notYet, 1u);
    EXPECT_EQ(shown, stream.frames.size() - 1);
}

}  // namespace
}  // namespace kx
