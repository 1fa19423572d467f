// kxtool decode on recordings written with native-codec and legacy-codec frames: upright
// pictures, skipped frames without pictures, per-frame errors, the three outputs, and refused
// codecs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "codec/tests/native_stream_writer.h"
#include "recording/byte_order.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"
#include "tools/kxtool/md5.h"
#include "tools/recorder/camera_stream_encoder.h"
#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/recording_writer.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

// Code 0 of the resolution table: 160 x 112 coded, 10 x 7 macroblocks.
constexpr int kWidth = 160;
constexpr int kHeight = 112;
constexpr size_t kPictureBytes = size_t(kWidth) * kHeight * 3;

class DecodeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("kxtool_decode_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    test::ToolRun kxtool(const std::string& arguments) {
        return test::runKxtool(arguments, m_folder);
    }

    struct Frame {
        uint16_t flags;
        std::vector<uint8_t> bytes;
    };

    std::string writeRecording(const std::string& name, int kind, const std::vector<Frame>& frames,
                               uint32_t version = 0x101) {
        CRecordInfo info;
        info.SetKind(kind);
        info.SetVersion(version);
        info.SetResolutionCode(0);
        info.SetHostName("HOST");
        info.SetBoardName("Board");
        info.SetCameraName("Camera");
        info.SetStartTime(1'800'000'000);
        info.SetFirstFrameTick(1000);
        RecordingWriter writer;
        const std::string path = (m_folder / name).string();
        EXPECT_TRUE(writer.create(path, info)) << writer.errorText();
        EXPECT_TRUE(writer.beginGroup(1000));
        CRecordFrame record(kWidth, kHeight, 0);
        uint32_t tick = 1000;
        for (const Frame& f : frames) {
            std::copy(f.bytes.begin(), f.bytes.end(), record.VideoBuffer());
            EXPECT_TRUE(record.SetVideoLength(uint32_t(f.bytes.size())));
            record.SetFlags(f.flags);
            record.SetKind(0);
            record.SetTick(tick);
            tick += 40;
            EXPECT_TRUE(writer.writeFrame(record)) << writer.errorText();
        }
        EXPECT_TRUE(writer.finish(1'800'000'010)) << writer.errorText();
        return path;
    }

    fs::path m_folder;
};

// Macroblock rows 0 to 2 luma `top`, the rows below luma `bottom`, chroma 129 (B and R one
// above Y).
std::vector<uint8_t> twoBandPicture(int top, int bottom, int width = kWidth, int height = kHeight) {
    NativeStreamWriter w;
    w.startPicture(5);
    w.intraHeader(width, height, 8);
    for (int row = 0; row < height / 16; ++row)
        for (int column = 0; column < width / 16; ++column) {
            const int y = row < 3 ? top : bottom;
            w.flatMacroblock({y, y, y, y, 129, 129});
        }
    return w.bytes();
}

// A two-band picture in the legacy codec: its header, no re-aligned macroblock groups, and the
// native codec's macroblock bodies.
std::vector<uint8_t> legacyTwoBandPicture(int top, int bottom) {
    NativeStreamWriter w;
    w.startPicture(3);
    w.bits().put(0, 2);
    w.bits().put(kWidth, 10);
    w.bits().put(kHeight, 10);
    w.bits().put(8, 8);
    w.bits().put(0, 1);
    w.bits().alignToEvenByte();  // 16-bit alignment from the start of the frame
    w.bits().put(0, 16);
    for (int row = 0; row < kHeight / 16; ++row)
        for (int column = 0; column < kWidth / 16; ++column) {
            const int y = row < 3 ? top : bottom;
            w.flatMacroblock({y, y, y, y, 255, 255});  // chroma 128: green equals the luma
        }
    return w.bytes();
}

std::vector<uint8_t> unchangedPicture() {
    NativeStreamWriter w;
    w.startPicture();
    w.unchangedInter();
    return w.bytes();
}

// Pixel (x, y) of picture `index` in a raw output, as B, G, R.
std::array<int, 3> rawPixel(const std::string& raw, size_t index, int x, int y) {
    const size_t at = index * kPictureBytes + (size_t(y) * kWidth + size_t(x)) * 3;
    return {uint8_t(raw[at]), uint8_t(raw[at + 1]), uint8_t(raw[at + 2])};
}

TEST(Md5, KnownDigests) {
    EXPECT_EQ(md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    const std::string abc = "abc";
    EXPECT_EQ(md5Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
              "900150983cd24fb0d6963f7d28e17f72");
    const std::string longer =
        "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_EQ(md5Hex(reinterpret_cast<const uint8_t*>(longer.data()), longer.size()),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST_F(DecodeCommand, WritesUprightPicturesAndReportsFramesThatDoNotDecode) {
    const std::string path = writeRecording("clip.kxz", kKindClip,
                                            {
                                                {0x00, twoBandPicture(40, 200)},   // codec 0
                                                {kFrameFlagNoPicture, {1, 2, 3}},  // skipped
                                                {0x00, unchangedPicture()},  // same picture again
                                                {0x00, {0x12, 0x34, 0x56}},  // no start code
                                                {0x00, twoBandPicture(90, 10)},
                                            });
    const std::string rawPath = (m_folder / "out.bgr").string();
    const test::ToolRun run = kxtool("decode --raw " + rawPath + " " + path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("frame 3: no picture start code"), std::string::npos) << run.err;
    std::ifstream in(rawPath, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(raw.size(), 3 * kPictureBytes);
    // Codec 0 rows are stored bottom-up: the first stored band ends at the bottom.
    EXPECT_EQ(rawPixel(raw, 0, 0, 0), (std::array<int, 3>{201, 200, 201}));
    EXPECT_EQ(rawPixel(raw, 0, 159, 111), (std::array<int, 3>{41, 40, 41}));
    EXPECT_EQ(raw.compare(kPictureBytes, kPictureBytes, raw, 0, kPictureBytes), 0);
    EXPECT_EQ(rawPixel(raw, 2, 77, 3), (std::array<int, 3>{11, 10, 11}));
    EXPECT_EQ(rawPixel(raw, 2, 5, 100), (std::array<int, 3>{91, 90, 91}));

    const test::ToolRun md5 = kxtool("decode --md5 --frames 2 " + path);
    std::stringstream expected;
    for (int i = 0; i < 2; ++i)
        expected << (i == 0 ? 0 : 2) << " " << (i == 0 ? 1000 : 1080) << " "
                 << md5Hex(reinterpret_cast<const uint8_t*>(raw.data()) + i * kPictureBytes,
                           kPictureBytes)
                 << "\n";
    EXPECT_EQ(md5.out, expected.str());
    EXPECT_EQ(md5.status, 0);

    const std::string ppmFolder = (m_folder / "ppm").string();
    ASSERT_EQ(kxtool("decode --ppm " + ppmFolder + " --frames 1 " + path).status, 0);
    std::ifstream ppm(ppmFolder + "/frame_000000.ppm", std::ios::binary);
    const std::string ppmBytes((std::istreambuf_iterator<char>(ppm)),
                               std::istreambuf_iterator<char>());
    const std::string header = "P6\n160 112\n255\n";
    ASSERT_EQ(ppmBytes.size(), header.size() + kPictureBytes);
    EXPECT_EQ(ppmBytes.substr(0, header.size()), header);
    EXPECT_EQ(uint8_t(ppmBytes[header.size()]), 201);  // R of the top-left pixel
}

TEST_F(DecodeCommand, CodecOneWithTheTopDownFlagAndRefusedInput) {
    // Selector 0 of an extended recording stands for 352 x 288.
    const uint16_t topDown = 0x10 | kFrameFlagCodecOption;
    const std::string path = writeRecording("extended.ckx", kKindExtended,
                                            {{topDown, twoBandPicture(40, 200, 352, 288)}});
    const test::ToolRun run = kxtool("decode --md5 " + path);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string rawPath = (m_folder / "out.bgr").string();
    ASSERT_EQ(kxtool("decode --raw " + rawPath + " " + path).status, 0);
    std::ifstream in(rawPath, std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(raw.size(), 352u * 288 * 3);
    EXPECT_EQ(uint8_t(raw[1]), 40);  // flag 0x4000: stored top-down, the first band on top
    EXPECT_EQ(uint8_t(raw[(287 * 352 + 351) * 3 + 1]), 200);

    // As the player shows it: the same picture, with the caption's time lines (start, view and end
    // time by default) in cyan at the bottom left. ImageMagick reads the PNG back.
    const std::string shownFolder = (m_folder / "shown").string();
    ASSERT_EQ(kxtool("decode --shown " + shownFolder + " " + path).status, 0);
    const std::string shownRgb = (m_folder / "shown.rgb").string();
    ASSERT_EQ(test::runCommand(
                  "convert " + shownFolder + "/frame_000000.png -depth 8 rgb:" + shownRgb, m_folder)
                  .status,
              0);
    std::ifstream shownIn(shownRgb, std::ios::binary);
    const std::string shown((std::istreambuf_iterator<char>(shownIn)),
                            std::istreambuf_iterator<char>());
    ASSERT_EQ(shown.size(), 352u * 288 * 3);
    const auto shownPixel = [&](int x, int y) {
        const size_t at = (size_t(y) * 352 + size_t(x)) * 3;
        return std::array<int, 3>{uint8_t(shown[at]), uint8_t(shown[at + 1]),
                                  uint8_t(shown[at + 2])};
    };
    const auto rawGreen = [&](int x, int y) {
        return int(uint8_t(raw[(size_t(y) * 352 + size_t(x)) * 3 + 1]));
    };
    EXPECT_EQ(shownPixel(300, 20)[1], rawGreen(300, 20));
    EXPECT_EQ(shownPixel(300, 250)[1], rawGreen(300, 250));
    int cyan = 0;
    for (int y = 288 - 65; y < 288 - 5; ++y)
        for (int x = 5; x < 205; ++x) cyan += shownPixel(x, y) == std::array<int, 3>{0, 255, 255};
    EXPECT_GT(cyan, 100) << "three time lines";
    EXPECT_EQ(kxtool("decode --shown " + shownFolder + " --md5 " + path).status, 2)
        << "one output at a time";

    const std::string other = writeRecording("mpeg4.kxz", kKindClip, {{0x50, {1, 2, 3}}});
    const test::ToolRun noDecoder = kxtool("decode --md5 " + other);
    EXPECT_EQ(noDecoder.status, 1);
    EXPECT_NE(noDecoder.err.find("codec 5 has no decoder"), std::string::npos) << noDecoder.err;

    EXPECT_EQ(kxtool("decode " + path).status, 2);  // no output chosen
}

TEST_F(DecodeCommand, OlderKindsGoThroughTheLegacyDecoderUpright) {
    // Kinds 0 and 1 store their rows bottom-up, kind 2 top-down; version 0x1000 doubles the
    // width. The first decoded band (luma 40) belongs at the top of kind 2's picture only.
    struct Case {
        const char* name;
        int kind;
        uint32_t version;
        int width;
        int topLuma;
    };
    for (const Case& c : {Case{"old.kx", kKindLegacyKx, 0x100, kWidth, 200},
                          Case{"old.kxx", kKindLegacyKxx, 0x101, kWidth, 200},
                          Case{"old.kxq", kKindLegacyKxq, 0x101, kWidth, 40},
                          Case{"wide.kxq", kKindLegacyKxq, 0x1000, 2 * kWidth, 40}}) {
        // The codec identifier of the frames plays no part in the older kinds.
        const std::string path = writeRecording(c.name, c.kind,
                                                {{0x50, legacyTwoBandPicture(40, 200)},
                                                 {kFrameFlagNoPicture, {}},
                                                 {0x10, unchangedPicture()}},
                                                c.version);
        const std::string rawPath = (m_folder / "legacy.bgr").string();
        const test::ToolRun run = kxtool("decode --raw " + rawPath + " " + path);
        ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
        std::ifstream in(rawPath, std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        const size_t pictureBytes = size_t(c.width) * kHeight * 3;
        ASSERT_EQ(raw.size(), 2 * pictureBytes)
            << c.name;  // the frame without a picture is skipped
        const int bottomLuma = c.topLuma == 40 ? 200 : 40;
        for (size_t picture = 0; picture < 2; ++picture) {
            const size_t at = picture * pictureBytes;
            EXPECT_EQ(uint8_t(raw[at + 1]), c.topLuma) << c.name;  // green of the top left pixel
            EXPECT_EQ(uint8_t(raw[at + pictureBytes - 2]), bottomLuma) << c.name;
        }
    }

    // A legacy frame without a start code is reported, and the run goes on.
    const std::string damaged =
        writeRecording("damaged.kx", kKindLegacyKx,
                       {{0, std::vector<uint8_t>(40, 0xFF)}, {0, legacyTwoBandPicture(9, 9)}});
    const test::ToolRun run = kxtool("decode --md5 " + damaged);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("frame 0: no picture start code"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
}

// Codec 4 decodes as in normal playback (loop filter on) or, with --no-deblock, as the
// player's other paths; the first frame shows no picture yet (the display trails the decoded
// reference) and is no error; the engine's diagnostic lines stay off standard output.
TEST_F(DecodeCommand, AvcRecordingsWithAndWithoutTheLoopFilter) {
    RecordingJob job;
    job.path = (m_folder / "avc.kxz").string();
    job.kind = kKindClip;
    job.codec = 4;
    job.quantiser = 40;
    job.resolutionCode = 0;
    job.frames = 10;
    std::string error;
    ASSERT_TRUE(kx::writeRecording(job, error)) << error;
    const test::ToolRun filtered = kxtool("decode --md5 '" + job.path + "'");
    const test::ToolRun plain = kxtool("decode --md5 --no-deblock '" + job.path + "'");
    EXPECT_EQ(filtered.status, 0) << filtered.err;
    EXPECT_EQ(plain.status, 0) << plain.err;
    std::istringstream a(filtered.out), b(plain.out);
    std::string lineA, lineB;
    int lines = 0, differing = 0;
    while (std::getline(a, lineA) && std::getline(b, lineB)) {
        ++lines;
        EXPECT_EQ(lineA.rfind(std::to_string(lines) + " ", 0), 0u) << lineA;  // frames 1 to 9
        differing += lineA != lineB;
    }
    EXPECT_EQ(lines, 9);
    EXPECT_GT(differing, 0);
    EXPECT_NE(filtered.err.find("version = 4, frametype = 0"), std::string::npos);
}

// Camera streams (codecs 7 and 8) decode through the camera components; a codec-8 frame whose
// sample length runs past the frame is reported and the next frame decodes.
TEST_F(DecodeCommand, CameraStreamsDecodeAndADamagedFrameIsReported) {
    for (const int codec : {7, 8}) {
        CameraStreamEncoder encoder(codec, codec == 7 ? CameraStream::Jpeg : CameraStream::H264, kWidth, kHeight, 25);
        ASSERT_TRUE(encoder.open()) << encoder.error();
        std::vector<Frame> frames;
        for (uint32_t i = 0; i < 4; ++i) {
            YuvImage picture;
            picture.resize(kWidth, kHeight);
            for (size_t p = 0; p < picture.y.size(); ++p) picture.y[p] = uint8_t(p * 7 + i * 40);
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(encoder.encode(picture, i, i == 0, bytes)) << encoder.error();
            frames.push_back({uint16_t(codec << 4), bytes});
        }
        // Codec 7: a frame of the stream header alone gives the previous picture again.
        // Codec 8: the sample length of frame 2 is one past the end.
        if (codec == 7) {
            frames[2].bytes.resize(8);
        } else {
            const uint32_t n = loadLe32(frames[2].bytes.data());
            uint8_t* m = frames[2].bytes.data() + 28 + n;
            storeLe32(m, loadLe32(m) + 1);
        }
        const std::string path = writeRecording("camera" + std::to_string(codec) + ".kxz", kKindClip, frames);
        const test::ToolRun run = kxtool("decode --md5 " + path);
        std::vector<std::string> digests;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) digests.push_back(line.substr(line.rfind(' ') + 1));
        if (codec == 7) {
            EXPECT_EQ(run.status, 0) << run.err;
            ASSERT_EQ(digests.size(), 4u) << run.out;
            EXPECT_EQ(digests[2], digests[1]);
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("frame 2: "), std::string::npos) << run.err;
            ASSERT_EQ(digests.size(), 3u) << run.out;
        }
        EXPECT_NE(digests[0], digests[1]) << codec;
        EXPECT_NE(digests[1], digests.back()) << codec;
    }
}

}  // namespace
}  // namespace kx
