// The legacy encoder against the legacy decoder: the decoder's planes equal the encoder's
// reconstruction bit for bit over scenes with motion, cuts and still stretches, at odd and even
// quantisers and several group counts; the picture keeps its quality; recordings of the older
// kinds carry their header versions and decode at the size the player shows.
#include "tools/recorder/legacy_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "codec/colour/colour_convert.h"
#include "codec/legacy/legacy_decoder.h"
#include "recording/record_reader.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/synthetic_scene.h"
#include "tools/recorder/tests/recording_job_fixture.h"

namespace kx {
namespace {

YuvPictureView viewOf(const YuvImage& image) {
    return {{image.y.data(), image.cb.data(), image.cr.data()},
            {image.width, image.chromaWidth(), image.chromaWidth()}};
}

// Compares the decoder's planes and picture with the encoder's reconstruction; "" when equal.
std::string compare(const LegacyDecoder& decoder, const std::vector<uint8_t>& picture,
                    const LegacyEncoder& encoder) {
    const int width = encoder.width();
    const int height = encoder.height();
    if (decoder.Width() != width || decoder.Height() != height) return "decoder size differs";
    std::vector<uint8_t> planes;
    for (int p = 0; p < 3; ++p) {
        const PlaneView<uint8_t> plane = encoder.plane(p);
        for (int y = 0; y < plane.height; ++y) {
            const uint8_t* row = &plane.samples[y * plane.stride];
            const size_t at = planes.size();
            planes.insert(planes.end(), row, row + plane.width);
            if (std::memcmp(decoder.Planes() + at, row, size_t(plane.width)) != 0)
                return "plane " + std::to_string(p) + " row " + std::to_string(y) + " differs";
        }
    }
    std::vector<uint8_t> expected(size_t(width) * size_t(height) * 3);
    PlanarYuv420ToBgr(planes.data(), expected.data(), width * 3, width, height,
                      BgrPixelSize::Three);
    if (std::memcmp(expected.data(), picture.data(), expected.size()) != 0)
        return "the B, G, R picture differs";
    return "";
}

struct RoundTripCase {
    int width;
    int height;
    int quantiser;
    int groups;
};

class LegacyRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(LegacyRoundTrip, DecoderPlanesEqualTheEncoderReconstruction) {
    const RoundTripCase c = GetParam();
    LegacyEncoder encoder(c.width, c.height, {c.quantiser, c.groups});
    LegacyDecoder decoder;
    ASSERT_TRUE(decoder.Setup(LegacyDecoder::kVariantPlain));
    std::vector<uint8_t> picture(LegacyDecoder::kMaxOutputBytes);
    // A street scene, a cut to another scene coded as inter pictures, and a stretch without change.
    const SyntheticScene street(c.width, c.height, 3);
    const SyntheticScene other(c.width, c.height, 77);
    YuvImage image;
    image.resize(c.width, c.height);
    LegacyPictureStatistics totals;
    int unchanged = 0;
    double squaredError = 0;
    for (int frame = 0; frame < 60; ++frame) {
        if (frame < 30)
            street.render(uint64_t(frame) * 9, 25.0, 1'700'000'000u + uint32_t(frame / 5), image);
        else if (frame < 45)
            other.render(uint64_t(frame) * 9, 25.0, 1'700'000'100u, image);
        const PictureChoice choice =
            frame % 20 == 0 ? PictureChoice::Key : PictureChoice::Predicted;
        const EncodedPicture encoded = encoder.encode(viewOf(image), choice);
        EXPECT_EQ(encoded.flags, 0);
        EXPECT_EQ(encoded.kind, choice == PictureChoice::Key ? 0 : 1);
        LegacyDecodeResult result;
        decoder.Decode(result, encoded.bytes.data(), uint32_t(encoded.bytes.size()), picture.data(),
                       picture.size(), 0);
        ASSERT_EQ(result.error, 0u) << "frame " << frame;
        ASSERT_EQ(result.unchanged, encoder.statistics().unchanged ? 1u : 0u) << "frame " << frame;
        ASSERT_EQ(compare(decoder, picture, encoder), "") << "frame " << frame;
        const LegacyPictureStatistics& s = encoder.statistics();
        if (!s.intra) totals.intraMacroblocks += s.intraMacroblocks;
        totals.interMacroblocks += s.interMacroblocks;
        totals.notCodedMacroblocks += s.notCodedMacroblocks;
        unchanged += s.unchanged ? 1 : 0;
        const PlaneView<uint8_t> luma = encoder.plane(0);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const double error =
                    double(luma.at(x, y)) - image.y[size_t(y) * size_t(c.width) + size_t(x)];
                squaredError += error * error;
            }
    }
    EXPECT_GT(totals.intraMacroblocks, 0) << "intra macroblocks in inter pictures";
    EXPECT_GT(totals.interMacroblocks, 0);
    EXPECT_GT(totals.notCodedMacroblocks, 0);
    EXPECT_GT(unchanged, 0);
    const double psnr = 10 * std::log10(255.0 * 255.0 * 60 * c.width * c.height / squaredError);
    // Luma against the source, measured: 43.6 dB at quantiser 2 (352 x 288), 38.7 and 40.0 at 5,
    // 36.9 at 6 (176 x 144).
    EXPECT_GT(psnr, c.quantiser <= 2 ? 42.0 : 35.5);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LegacyRoundTrip,
    ::testing::Values(RoundTripCase{352, 288, 2, LegacyEncoderSettings::kAllGroups},
                      RoundTripCase{320, 240, 5, 3}, RoundTripCase{176, 144, 6, 0},
                      RoundTripCase{640, 480, 5, 1}),
    [](const auto& param) {
        const RoundTripCase& c = param.param;
        return std::to_string(c.width) + "x" + std::to_string(c.height) + "_q" +
               std::to_string(c.quantiser) + "_groups" +
               std::to_string(c.groups < 0 ? 999 : c.groups);
    });

TEST(LegacyEncoder, AllGroupsMeansEveryWholeRunOfTen) {
    EXPECT_EQ(LegacyEncoder(352, 288).groups(), 39);  // 396 macroblocks
    EXPECT_EQ(LegacyEncoder(320, 240).groups(), 30);
    EXPECT_EQ(LegacyEncoder(320, 240, {6, 3}).groups(), 3);
    EXPECT_FALSE(LegacyEncoder::sizeFits(160, 120));
    EXPECT_FALSE(LegacyEncoder::sizeFits(720, 480));
    EXPECT_TRUE(LegacyEncoder::sizeFits(720, 240));
}

class LegacyRecording : public RecordingJobFixture {
protected:
    LegacyRecording() : RecordingJobFixture("kx_legacy_job_") {}
};

TEST_F(LegacyRecording, KindsZeroToTwoCarryTheirVersionsAndDecode) {
    struct Case {
        const char* name;
        int kind;
        uint8_t code;
        uint32_t version;
        int32_t gmt;
        uint32_t shownWidth, height;
    };
    const Case cases[] = {{"a.kx", 0, 2, 0x100, 0, 320, 240},  // no GMT offset in the header
                          {"b.kxx", 1, 122, 0x101, -7, 352, 288},
                          {"c.kxq", 2, 3, 0x1000, -7, 640, 240},   // coded 320 x 240, doubled
                          {"d.kx", 0, 131, 0x101, -7, 640, 240}};  // code 131 in a .kx file
    for (const Case& c : cases) {
        RecordingJob job;
        job.path = path(c.name);
        job.kind = c.kind;
        job.resolutionCode = c.code;
        job.version = c.version;
        job.gmtOffset = -7;
        job.audio = AudioFormat::G726;
        job.frames = 30;
        job.groupMs = 500;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;

        CRecordInfo info;
        info.SetPath(job.path);
        CRecordReader reader;
        ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1)) << reader.LastError().text;
        EXPECT_EQ(info.Kind(), c.kind) << c.name;
        EXPECT_EQ(info.Version(), c.version) << c.name;
        EXPECT_EQ(info.GmtOffset(), c.gmt) << c.name;
        EXPECT_EQ(reader.TotalFrameCount(), 30u) << c.name;
        EXPECT_EQ(reader.GroupCount(), 3u) << c.name;

        LegacyDecoder decoder;
        ASSERT_TRUE(decoder.Setup(LegacyDecoder::VariantOfVersion(info.Version())));
        std::vector<uint8_t> picture(LegacyDecoder::kMaxOutputBytes);
        CRecordFrame frame(info.Width(), info.Height(), 65536);
        for (int n = 0; n < 30; ++n) {
            ASSERT_TRUE(reader.ReadFrame(frame, -1, 0)) << reader.LastError().text;
            EXPECT_EQ(frame.Flags(), kFrameFlagAudio) << c.name;  // no codec identifier, sound
            EXPECT_EQ(frame.Kind() == kFrameKindKey, frame.PositionInGroup() == 0) << c.name;
            LegacyDecodeResult result;
            decoder.Decode(result, frame.VideoBuffer(), frame.VideoLength(), picture.data(),
                           picture.size(), 0);
            ASSERT_EQ(result.error, 0u) << c.name << " frame " << n;
            EXPECT_EQ(result.width, c.shownWidth) << c.name;
            EXPECT_EQ(result.height, c.height) << c.name;
        }
    }
}

TEST_F(LegacyRecording, JobsTheLegacyCodecCannotCarryAreRefused) {
    struct Case {
        int kind;
        uint8_t code;
        uint32_t version;
        bool idctB;
        const char* text;
    };
    const Case cases[] = {{0, 99, 0x101, false, "whole macroblocks"},          // 160 x 120
                          {1, 123, 0x101, false, "at most 640 x 480"},         // 720 x 576
                          {2, 8, 0x1000, false, "360 x 240 (half the width"},  // 720 x 240 halved
                          {1, 2, 0x1001, false, "versions up to 0x1000"},
                          {2, 2, 0x101, true, "option of the native codec 1"}};
    for (const Case& c : cases) {
        RecordingJob job;
        job.path = path("bad.kx");
        job.kind = c.kind;
        job.resolutionCode = c.code;
        job.version = c.version;
        job.idctB = c.idctB;
        job.frames = 3;
        expectRefused(job, c.text);
    }
}

}  // namespace
}  // namespace kx
