// The AVI file library checked by FFmpeg: every compressor's file read by ffprobe and decoded
// by ffmpeg without errors (streams, codecs, frame counts, sizes, durations, the pictures and
// the sound), the OpenDML split into AVIX parts, and files replaced only when complete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/avi_file.h"
#include "tools/kxtool/tests/tool_run.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr size_t kPictureBytes = size_t(kWidth) * kHeight * 3;
constexpr size_t kAudioBytesPerPicture = 640;  // 320 samples: 8000 per second at 25 pictures

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Picture `n` as a 24-bit bottom-up bitmap: smooth gradients, so lossy compressors keep it close.
std::vector<uint8_t> picture(int n) {
    std::vector<uint8_t> p(kPictureBytes);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                p[(size_t(y) * kWidth + size_t(x)) * 3 + size_t(c)] =
                    uint8_t(x * 2 + y * (c + 1) + n * 4 + c * 60);
    return p;
}

// The same picture top row first, as ffmpeg writes raw bgr24.
std::string uprightPicture(int n) {
    const std::vector<uint8_t> p = picture(n);
    std::string out;
    for (int y = kHeight - 1; y >= 0; --y)
        out.append(reinterpret_cast<const char*>(p.data()) + size_t(y) * kWidth * 3, kWidth * 3);
    return out;
}

std::vector<uint8_t> sound(int n) {
    std::vector<uint8_t> s(kAudioBytesPerPicture);
    for (size_t i = 0; i < s.size(); ++i) s[i] = uint8_t(i * 3 + size_t(n) * 17);
    return s;
}

// A field of ffprobe's output, or "missing".
nlohmann::json field(const nlohmann::json& object, const char* key) {
    return object.is_object() && object.contains(key) ? object[key] : nlohmann::json("missing");
}

class AviFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("kx_avi_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // Writes `pictures` pictures with sound and a text sample each; `skip` is a picture left out.
    bool writeFile(const std::string& path, const std::string& compressor, int pictures,
                   AviFileLimits limits = {}, int skip = -1) {
        std::string error;
        std::unique_ptr<AviFile> file = openAviFile(path, error, limits);
        if (!file) return false;
        AviStreamInfo video{AviStreamType::Video,   0, 1, 25, 1, kPictureBytes, 0,
                            {0, 0, kWidth, kHeight}};
        AviStream* raw = file->createStream(video);
        EXPECT_NE(raw, nullptr);
        std::unique_ptr<AviStream> compressed = makeCompressedStream(*raw, compressor, error);
        EXPECT_NE(compressed, nullptr) << error;
        const std::vector<uint8_t> bitmap = aviBitmapFormat(kWidth, kHeight);
        EXPECT_TRUE(compressed->setFormat(bitmap.data(), bitmap.size()));
        AviStream* audio = file->createStream({AviStreamType::Audio, 0, 2, 16000, 1, 1920, 2, {}});
        const std::vector<uint8_t> wave = aviPcmFormat(1, 8000, 16);
        EXPECT_TRUE(audio->setFormat(wave.data(), wave.size()));
        AviStream* text = file->createStream({AviStreamType::Text,
                                              aviFourCc('D', 'R', 'A', 'W'),
                                              1,
                                              5,
                                              0,
                                              16,
                                              0,
                                              {0, kHeight, kWidth, kHeight + 20}});
        const uint8_t textFormat[4] = {};
        EXPECT_TRUE(text->setFormat(textFormat, sizeof textFormat));
        for (int n = 0; n < pictures; ++n) {
            const std::vector<uint8_t> s = sound(n);
            EXPECT_TRUE(audio->write(audio->length(), int32_t(s.size() / 2), s.data(), s.size(),
                                     AviSampleFlags::KeyFrame));
            if (n != skip) {
                const std::vector<uint8_t> p = picture(n);
                EXPECT_TRUE(compressed->write(n, 1, p.data(), p.size(), AviSampleFlags::KeyFrame));
            }
            char sample[16] = {};
            std::snprintf(sample, sizeof sample, "text %03d", n % 1000);
            EXPECT_TRUE(text->write(n, 1, sample, sizeof sample, AviSampleFlags::KeyFrame));
        }
        EXPECT_TRUE(compressed->release());
        return file->close();
    }

    nlohmann::json probe(const std::string& path) {
        const test::ToolRun run = test::runCommand(
            "ffprobe -v error -count_packets -show_streams -show_format -of json '" + path + "'",
            m_folder);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return nlohmann::json::parse(run.out.empty() ? "{}" : run.out);
    }

    // ffmpeg decodes the whole file without a message; returns the pictures as raw bgr24.
    std::string decodedPictures(const std::string& path) {
        const std::string raw = (m_folder / "pictures.bgr").string();
        const test::ToolRun run = test::runCommand(
            "ffmpeg -v error -y -i '" + path + "' -map 0:v -f rawvideo -pix_fmt bgr24 '" + raw +
                "' -map 0:a -f s16le '" + raw + ".pcm'",
            m_folder);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return readText(raw);
    }

    fs::path m_folder;
};

TEST_F(AviFileTest, EveryCompressorWritesAFileFfmpegReads) {
    struct Expected {
        const char* codec;
        bool lossless;
    };
    const std::map<std::string, Expected> expected = {{"dib", {"rawvideo", true}},
                                                      {"mjpeg", {"mjpeg", false}},
                                                      {"mpeg4", {"mpeg4", false}},
                                                      {"ffv1", {"ffv1", true}},
                                                      {"h264", {"h264", false}}};
    const std::vector<AviCompressor> compressors = aviCompressors();
    ASSERT_GE(compressors.size(), 4u);
    constexpr int kPictures = 30;
    for (const AviCompressor& compressor : compressors) {
        SCOPED_TRACE(compressor.name);
        ASSERT_TRUE(expected.count(compressor.name));
        const std::string path = (m_folder / (compressor.name + ".avi")).string();
        ASSERT_TRUE(writeFile(path, compressor.name, kPictures));
        EXPECT_FALSE(fs::exists(path + ".part"));

        const nlohmann::json info = probe(path);
        ASSERT_EQ(info["streams"].size(), 3u);
        const nlohmann::json& video = info["streams"][0];
        EXPECT_EQ(field(video, "codec_type"), "video");
        EXPECT_EQ(field(video, "codec_name"), expected.at(compressor.name).codec);
        EXPECT_EQ(field(video, "width"), kWidth);
        EXPECT_EQ(field(video, "height"), kHeight);
        EXPECT_EQ(field(video, "r_frame_rate"), "25/1");
        EXPECT_EQ(field(video, "nb_read_packets"), std::to_string(kPictures));
        EXPECT_EQ(field(video, "duration"), "1.200000");
        const nlohmann::json& audio = info["streams"][1];
        EXPECT_EQ(field(audio, "codec_name"), "pcm_s16le");
        EXPECT_EQ(field(audio, "sample_rate"), "8000");
        EXPECT_EQ(field(audio, "channels"), 1);
        EXPECT_EQ(field(audio, "nb_frames"), std::to_string(kPictures * kAudioBytesPerPicture / 2));
        const nlohmann::json& text = info["streams"][2];
        EXPECT_EQ(field(text, "codec_type"), "subtitle");
        EXPECT_EQ(field(text, "time_base"), "1/5");
        EXPECT_EQ(field(text, "nb_read_packets"), std::to_string(kPictures));
        EXPECT_EQ(field(info["format"], "format_name"), "avi");

        const std::string pictures = decodedPictures(path);
        ASSERT_EQ(pictures.size(), kPictures * kPictureBytes);
        double difference = 0;
        for (int n = 0; n < kPictures; ++n) {
            const std::string want = uprightPicture(n);
            const std::string got = pictures.substr(size_t(n) * kPictureBytes, kPictureBytes);
            if (expected.at(compressor.name).lossless) {
                EXPECT_TRUE(got == want) << "picture " << n;
            }
            for (size_t i = 0; i < kPictureBytes; ++i)
                difference += std::abs(int(uint8_t(got[i])) - int(uint8_t(want[i])));
        }
        // Lossy compressors stay close; a picture upside down or shifted would be far off.
        EXPECT_LT(difference / double(kPictures * kPictureBytes), 8.0);
        std::string pcm;
        for (int n = 0; n < kPictures; ++n) {
            const std::vector<uint8_t> s = sound(n);
            pcm.append(s.begin(), s.end());
        }
        EXPECT_EQ(readText(m_folder / "pictures.bgr.pcm"), pcm);
    }
}

TEST_F(AviFileTest, PastTheRiffLimitTheFileGoesOnInAvixPartsFfmpegReadsThroughTheirIndexes) {
    // 40 pictures of 9 KiB with 64 KiB parts: the first part ends after about six of them.
    constexpr int kPictures = 40;
    const std::string path = (m_folder / "parts.avi").string();
    ASSERT_TRUE(writeFile(path, "dib", kPictures, AviFileLimits{64 * 1024}));
    const std::string bytes = readText(path);
    size_t parts = 0;
    for (size_t at = bytes.find("AVIX"); at != std::string::npos; at = bytes.find("AVIX", at + 4))
        ++parts;
    EXPECT_GE(parts, 5u);
    EXPECT_NE(bytes.find("indx"), std::string::npos);
    EXPECT_NE(bytes.find("ix00"), std::string::npos);
    EXPECT_NE(bytes.find("ix02"), std::string::npos);
    // Every part is at most the limit and the RIFF sizes add up to the file.
    uint64_t covered = 0;
    for (size_t at = 0; at + 8 <= bytes.size() && bytes.compare(at, 4, "RIFF") == 0;) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        EXPECT_LE(size, 64u * 1024 + 16 * 1024);
        covered += 8 + size;
        at += 8 + size;
    }
    EXPECT_EQ(covered, bytes.size());

    const nlohmann::json info = probe(path);
    ASSERT_EQ(info["streams"].size(), 3u);
    EXPECT_EQ(field(info["streams"][0], "nb_read_packets"), std::to_string(kPictures));
    EXPECT_EQ(field(info["streams"][0], "duration"), "1.600000");
    EXPECT_EQ(field(info["streams"][1], "nb_frames"),
              std::to_string(kPictures * kAudioBytesPerPicture / 2));
    EXPECT_EQ(field(info["streams"][2], "nb_read_packets"), std::to_string(kPictures));
    const std::string pictures = decodedPictures(path);
    ASSERT_EQ(pictures.size(), kPictures * kPictureBytes);
    for (int n = 0; n < kPictures; ++n)
        EXPECT_TRUE(pictures.substr(size_t(n) * kPictureBytes, kPictureBytes) == uprightPicture(n))
            << "picture " << n;
    EXPECT_EQ(readText(m_folder / "pictures.bgr.pcm").size(), kPictures * kAudioBytesPerPicture);
}

TEST_F(AviFileTest, APictureLeftOutKeepsTheTimingWithAnEmptyChunk) {
    const std::string path = (m_folder / "gap.avi").string();
    ASSERT_TRUE(writeFile(path, "dib", 10, {}, 4));
    const nlohmann::json info = probe(path);
    EXPECT_EQ(field(info["streams"][0], "duration"), "0.400000");  // the 10 slots at 25 per second
    EXPECT_EQ(field(info["streams"][0], "nb_frames"), "10");
    // The pictures after the gap keep their times.
    const test::ToolRun packets = test::runCommand(
        "ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 '" + path + "'",
        m_folder);
    EXPECT_EQ(packets.out, "0\n1\n2\n3\n5\n6\n7\n8\n9\n");
    // ffmpeg fills the slot with a copy; the others are the pictures written.
    const std::string pictures = decodedPictures(path);
    ASSERT_EQ(pictures.size(), 10 * kPictureBytes);
    for (int n = 0; n < 10; ++n)
        if (n != 4) {
            EXPECT_TRUE(pictures.substr(size_t(n) * kPictureBytes, kPictureBytes) ==
                        uprightPicture(n))
                << "picture " << n;
        }
}

TEST_F(AviFileTest, AFileReplacesTheOneOfItsNameOnlyWhenComplete) {
    const fs::path path = m_folder / "out.avi";
    const auto writeOld = [&] { std::ofstream(path) << "old"; };
    std::string error;
    writeOld();
    {
        // Abandoned before close.
        std::unique_ptr<AviFile> file = openAviFile(path.string(), error);
        ASSERT_NE(file, nullptr) << error;
        ASSERT_NE(file->createStream({AviStreamType::Video, 0, 1, 25, 0, 0, 0, {}}), nullptr);
        EXPECT_TRUE(fs::exists(path.string() + ".part"));
    }
    EXPECT_EQ(readText(path), "old");
    EXPECT_FALSE(fs::exists(path.string() + ".part"));
    {
        // A stream without a format cannot be written out.
        std::unique_ptr<AviFile> file = openAviFile(path.string(), error);
        ASSERT_NE(file->createStream({AviStreamType::Video, 0, 1, 25, 0, 0, 0, {}}), nullptr);
        EXPECT_FALSE(file->close());
        EXPECT_NE(file->errorText(), "");
    }
    EXPECT_EQ(readText(path), "old");
    EXPECT_FALSE(fs::exists(path.string() + ".part"));
    ASSERT_TRUE(writeFile(path.string(), "dib", 3));
    EXPECT_EQ(readText(path).substr(0, 4), "RIFF");

    // A folder that does not exist: no file object at all.
    EXPECT_EQ(openAviFile((m_folder / "none" / "x.avi").string(), error), nullptr);
    EXPECT_NE(error, "");
    std::string unknown;
    std::unique_ptr<AviFile> file = openAviFile((m_folder / "y.avi").string(), error);
    AviStream* video = file->createStream({AviStreamType::Video, 0, 1, 25, 0, 0, 0, {}});
    EXPECT_EQ(makeCompressedStream(*video, "cinepak", unknown), nullptr);
    EXPECT_EQ(unknown, "no compressor named cinepak");
}

}  // namespace
}  // namespace kx
