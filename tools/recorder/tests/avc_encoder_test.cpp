// The avc encoder against the avc decoder: every coded picture decodes to the encoder's own
// reconstruction, bit for bit, over sizes, quantisers, versions, GOP shapes and the loop
// filter switch; and the encoder reaches every syntax element the decoder reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include "codec/avc/avc_decoder.h"
#include "codec/avc/avc_engine.h"
#include "recording/record_frame.h"
#include "recording/record_reader.h"
#include "recording/resolution.h"
#include "tools/recorder/avc_encoder.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/synthetic_scene.h"

namespace kx {
namespace {

struct Shape {
    int width, height, quantiser, version;
    bool deblock;
    int bFrames;  // B pictures between references (version 3 uses both slots and direct)
};

YuvPictureView viewOf(const YuvImage& image) {
    return {{image.y.data(), image.cb.data(), image.cr.data()},
            {image.width, image.width / 2, image.width / 2}};
}

class AvcRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(AvcRoundTrip, DecoderReproducesTheEncodersPictures) {
    const Shape shape = GetParam();
    SyntheticScene scene(shape.width, shape.height, 7);
    AvcEncoder encoder(shape.width, shape.height, {shape.quantiser, shape.version, shape.deblock});
    AvcEngine engine;
    YuvImage image;
    const int count = 7;
    uint32_t tick = 1000;
    for (const AvcCodedPicture& coded : avcCodedOrder(count, shape.bFrames)) {
        scene.render(uint64_t(coded.source) * 3, 25, 0, image);
        const std::span<const uint8_t> bytes =
            encoder.encode(viewOf(image), coded.type, coded.bParameter);
        std::vector<uint8_t> frame(bytes.begin(), bytes.end());
        ASSERT_EQ(engine.Decode(frame.data(), frame.size(), coded.type == AvcPictureType::I ? 0 : 1,
                                tick += 40, shape.deblock),
                  kAvcOk)
            << "picture of source " << coded.source;
        ASSERT_NE(engine.lastDecoded(), nullptr);
        const std::vector<uint8_t>& expected = encoder.reconstruction();
        ASSERT_EQ(0, std::memcmp(engine.lastDecoded(), expected.data(), expected.size()))
            << "picture of source " << coded.source << " type " << int(coded.type);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, AvcRoundTrip,
    ::testing::Values(Shape{64, 48, 28, 4, true, 0}, Shape{64, 48, 28, 4, false, 0},
                      Shape{48, 32, 10, 4, true, 0}, Shape{48, 32, 59, 4, true, 0},
                      Shape{80, 64, 40, 3, true, 0}, Shape{72, 40, 24, 3, true, 2},
                      Shape{72, 40, 24, 3, false, 1}, Shape{64, 48, 30, 4, true, 2},
                      Shape{176, 144, 20, 4, true, 1}, Shape{40, 24, 34, 3, true, 2}));

// Smooth chroma slopes in the top-left macroblocks, where plane prediction wins.
void paintSlopes(YuvImage& image) {
    const int cw = image.width / 2;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            image.cb[size_t(y * cw + x)] = uint8_t(60 + 5 * x + 3 * y);
            image.cr[size_t(y * cw + x)] = uint8_t(200 - 4 * x - 2 * y);
        }
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// Over a moving scene with a cut (pictures 0 to 2 from one scene, then another) the encoder uses
// every luma and chroma mode, every coeff_token table, intra, inter (half-sample) and skipped
// macroblocks in P pictures, and both slots and direct macroblocks in version-3 B pictures; its
// pictures stay close to the source.
TEST(AvcEncoder, ReachesEverySyntaxElementAndKeepsThePicture) {
    const int width = 176, height = 144;
    AvcPictureStatistics total;
    for (int version : {3, 4}) {
        const SyntheticScene before(width, height, 3), after(width, height, 11);
        AvcEncoder encoder(width, height, {version == 3 ? 10 : 16, version, true});
        YuvImage image;
        for (const AvcCodedPicture& coded : avcCodedOrder(7, 2)) {
            (coded.source < 3 ? before : after).render(uint64_t(coded.source), 25, 0, image);
            paintSlopes(image);
            encoder.encode(viewOf(image), coded.type, coded.bParameter);
            EXPECT_GT(psnr(encoder.reconstruction().data(), image.y.data(), image.y.size()), 36.0);
            const AvcPictureStatistics& s = encoder.statistics();
            for (size_t i = 0; i < 9; ++i) total.lumaModes[i] += s.lumaModes[i];
            for (size_t i = 0; i < 4; ++i) total.chromaModes[i] += s.chromaModes[i];
            for (size_t i = 0; i < 5; ++i) total.tokenTables[i] += s.tokenTables[i];
            if (coded.type != AvcPictureType::I) total.intra += s.intra;
            total.inter += s.inter;
            total.skipped += s.skipped;
            total.direct += s.direct;
            total.secondSlot += s.secondSlot;
            total.halfSampleVectors += s.halfSampleVectors;
        }
    }
    for (int count : total.lumaModes) EXPECT_GT(count, 0);
    for (size_t i = 0; i < 4; ++i) EXPECT_GT(total.chromaModes[i], 0) << "chroma mode " << i;
    for (int count : total.tokenTables) EXPECT_GT(count, 0);
    EXPECT_GT(total.intra, 0);
    EXPECT_GT(total.inter, 0);
    EXPECT_GT(total.skipped, 0);
    EXPECT_GT(total.direct, 0);
    EXPECT_GT(total.secondSlot, 0);
    EXPECT_GT(total.halfSampleVectors, 0);
}

// A moving pattern, different in every picture.
void patternPicture(int index, int width, int height, YuvImage& out) {
    out.resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out.y[size_t(y * width + x)] = uint8_t(128 + 100 * std::sin((x + 5 * index) / 9.0) *
                                                             std::cos((y - 3 * index) / 7.0));
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            out.cb[size_t(y * (width / 2) + x)] =
                uint8_t(128 + 60 * std::sin((x + y + 4 * index) / 11.0));
            out.cr[size_t(y * (width / 2) + x)] =
                uint8_t(128 + 60 * std::cos((x - y - 2 * index) / 13.0));
        }
}

// Decisions weigh error against bits. Coded again, a picture equal to its references (a
// version-4 P picture, a version-3 B picture) is mostly skipped or direct, costs next to nothing
// and loses nothing (the few macroblocks coded refine the picture); moved by whole samples, it
// is predicted (no intra macroblock) at a fraction of the intra picture's bytes and about its
// quality.
TEST(AvcEncoder, DecisionsWeighErrorAgainstBits) {
    const int width = 176, height = 144, macroblocks = (width / 16) * (height / 16);
    YuvImage first, moved;
    patternPicture(0, width, height, first);
    patternPicture(1, width, height, moved);  // 5 samples left and 3 down
    const auto lumaPsnr = [](const AvcEncoder& encoder, const YuvImage& source) {
        return psnr(encoder.reconstruction().data(), source.y.data(), source.y.size());
    };
    for (const int quantiser : {20, 28, 36}) {
        for (const int version : {3, 4}) {
            AvcEncoder encoder(width, height, {quantiser, version, true});
            const size_t intraBytes = encoder.encode(viewOf(first), AvcPictureType::I).size();
            const double intraPsnr = lumaPsnr(encoder, first);
            encoder.encode(viewOf(first), AvcPictureType::P);
            // Version 3 has no skipped macroblocks: its B picture between the two is the case.
            const size_t againBytes =
                version == 3 ? encoder.encode(viewOf(first), AvcPictureType::B, 1).size()
                             : encoder.encode(viewOf(first), AvcPictureType::P).size();
            const AvcPictureStatistics& s = encoder.statistics();
            EXPECT_GE(version == 3 ? s.direct : s.skipped, macroblocks * 3 / 4)
                << "q " << quantiser << " version " << version;
            EXPECT_LT(againBytes * 20, intraBytes) << "q " << quantiser << " version " << version;
            EXPECT_GT(lumaPsnr(encoder, first), intraPsnr - 0.05)
                << "q " << quantiser << " version " << version;
        }
        AvcEncoder encoder(width, height, {quantiser, 4, true});
        const size_t intraBytes = encoder.encode(viewOf(first), AvcPictureType::I).size();
        const double intraPsnr = lumaPsnr(encoder, first);
        const size_t movedBytes = encoder.encode(viewOf(moved), AvcPictureType::P).size();
        EXPECT_EQ(encoder.statistics().intra, 0) << "q " << quantiser;
        EXPECT_LT(movedBytes * 2, intraBytes) << "q " << quantiser;
        EXPECT_GT(lumaPsnr(encoder, moved), intraPsnr - 0.5) << "q " << quantiser;
    }
}

// Recordings of codec 4 with B pictures: the frames keep their time order while the pictures
// are coded out of order, and the player's decoder shows source picture n - 1 at frame n
// (the display trails the last reference), with kind 3 on B pictures.
TEST(AvcRecording, PicturesShowInSourceOrder) {
    const std::string stem =
        (std::filesystem::temp_directory_path() / ("kx_avc_" + std::to_string(::getpid())))
            .string();
    CRecordInfo sized;
    sized.SetKind(kKindClip);
    sized.SetResolutionCode(0);
    const int width = sized.Width(), height = sized.Height();
    const uint32_t frames = 16;
    {
        std::ofstream y4m(stem + ".y4m", std::ios::binary);
        y4m << "YUV4MPEG2 W" << width << " H" << height << " F25:1 Ip A1:1 C420jpeg\n";
        YuvImage image;
        for (uint32_t k = 0; k < frames; ++k) {
            patternPicture(int(k), width, height, image);
            y4m << "FRAME\n";
            y4m.write(reinterpret_cast<const char*>(image.y.data()),
                      std::streamsize(image.y.size()));
            y4m.write(reinterpret_cast<const char*>(image.cb.data()),
                      std::streamsize(image.cb.size()));
            y4m.write(reinterpret_cast<const char*>(image.cr.data()),
                      std::streamsize(image.cr.size()));
        }
    }
    for (const auto& [version, bFrames, gop] :
         {std::tuple{3, 2, 7u}, std::tuple{4, 1, 0u}, std::tuple{3, 0, 5u}}) {
        RecordingJob job;
        job.path = stem + ".kxz";
        job.inputY4m = stem + ".y4m";
        job.kind = kKindClip;
        job.codec = 4;
        job.quantiser = 24;
        job.avcVersion = version;
        job.bFrames = bFrames;
        job.gop = gop;
        job.resolutionCode = 0;
        job.frames = frames;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;

        CRecordInfo info;
        info.SetPath(job.path);
        CRecordReader reader;
        ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1)) << reader.LastError().text;
        CRecordFrame frame(width, height, 65536);
        RgbPicture picture{uint32_t(width), uint32_t(height)};
        AvcDecoder decoder;
        decoder.setDiagnostics(stderr);
        YuvImage source;
        uint32_t lastTick = 0;
        int bPictures = 0;
        for (uint32_t n = 0; n < frames; ++n) {
            ASSERT_TRUE(reader.ReadFrame(frame, -1, 0)) << n;
            EXPECT_GT(frame.Tick(), lastTick);
            lastTick = frame.Tick();
            bPictures += frame.Kind() == 3;
            uint32_t status = 0;
            const bool shown = decoder.decodeInto(frame, picture, &status, Deblocking::On);
            EXPECT_EQ(decoder.lastResult(), kAvcOk) << n;
            EXPECT_EQ(shown, n > 0) << n;
            if (!shown) continue;
            const uint8_t* display = nullptr;
            ASSERT_EQ(decoder.engine()->GetPicture(&display), kAvcOk);
            const auto distance = [&](int index) {
                patternPicture(index, width, height, source);
                return psnr(display, source.y.data(), source.y.size());
            };
            const double own = distance(int(n) - 1);
            EXPECT_GT(own, 30.0) << "frame " << n << " version " << version;
            EXPECT_GT(own, distance(int(n) - 2) + 3) << "frame " << n << " version " << version;
            EXPECT_GT(own, distance(int(n)) + 3) << "frame " << n << " version " << version;
        }
        EXPECT_EQ(bPictures > 0, bFrames > 0);
        std::filesystem::remove(job.path);
    }
    std::filesystem::remove(stem + ".y4m");
}

}  // namespace
}  // namespace kx
