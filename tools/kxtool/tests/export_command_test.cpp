// kxtool export end to end on recordings written by the recorder, checked by FFmpeg: ffprobe
// reads the three streams (sizes, frame counts, rates), ffmpeg decodes the pictures to what
// kxtool decode gives, brought to the video format's size by doubling, and the sound to what
// kxtool audio gives; the text samples are read from the file's chunks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

nlohmann::json field(const nlohmann::json& object, const char* key) {
    return object.is_object() && object.contains(key) ? object[key] : nlohmann::json("missing");
}

// The samples of one output position: kept, or doubled (2k is k, 2k + 1 the average of k and
// k + 1, the last repeating the last).
std::pair<uint32_t, uint32_t> taps(uint32_t o, uint32_t in, uint32_t out) {
    if (out == in) return {o, o};
    EXPECT_EQ(out, 2 * in);
    const uint32_t k = o / 2;
    return {k, o % 2 == 1 && k + 1 < in ? k + 1 : k};
}

// An upright picture of w x h brought to fw x fh, doubling rows counted from the bottom, as
// ffmpeg gives it back: upright, B, G, R.
std::string fitted(const std::string& upright, uint32_t w, uint32_t h, uint32_t fw, uint32_t fh) {
    std::string widened(size_t(h) * fw * 3, '\0');
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < fw; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                const auto [a, b] = taps(x, w, fw);
                const auto pa = uint8_t(upright[(size_t(y) * w + a) * 3 + c]);
                const auto pb = uint8_t(upright[(size_t(y) * w + b) * 3 + c]);
                widened[(size_t(y) * fw + x) * 3 + c] = char((pa + pb) >> 1);
            }
    std::string out(size_t(fh) * fw * 3, '\0');
    for (uint32_t j = 0; j < fh; ++j) {  // j counts rows from the bottom
        const auto [a, b] = taps(j, h, fh);
        for (size_t i = 0; i < size_t(fw) * 3; ++i) {
            const auto pa = uint8_t(widened[size_t(h - 1 - a) * fw * 3 + i]);
            const auto pb = uint8_t(widened[size_t(h - 1 - b) * fw * 3 + i]);
            out[size_t(fh - 1 - j) * fw * 3 + i] = char((pa + pb) >> 1);
        }
    }
    return out;
}

// The payloads of every chunk with this id and size before the index, in file order.
std::vector<std::string> chunks(const std::string& file, const std::string& id, uint32_t bytes) {
    std::vector<std::string> found;
    const std::string head = id + std::string(reinterpret_cast<const char*>(&bytes), 4);
    const size_t index = file.rfind("idx1");
    for (size_t at = file.find(head); at < index; at = file.find(head, at + 8))
        found.push_back(file.substr(at + 8, bytes));
    return found;
}

TEST(KxtoolExport, RecordingsOfEveryKindBecomeAviFilesFfmpegDecodesToTheSamePictures) {
    const fs::path folder =
        fs::temp_directory_path() / ("kx_export_cmd_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    struct Case {
        const char* name;
        int kind;
        int codec;
        uint8_t code;
        bool idctB;
        uint32_t version;
        AudioFormat audio;
        uint32_t frames;
        double fps;
        const char* compressor;
        uint32_t decodedWidth, decodedHeight;  // what kxtool decode gives
        uint32_t width, height;                // the video format
        const char* videoRate;                 // ffprobe's r_frame_rate: the frames' own rate
        const char* textTimeBase;
        const char* text;
    };
    const Case cases[] = {
        // Codec 0, 704 x 288 shown at twice its height; 8 frames in 1.75 s: one whole second of
        // header time for the text, the frames' 4 per second for the video.
        {"c0.kxz", kKindClip, 0, 131, false, 1, AudioFormat::G726, 8, 4, "dib", 704, 288, 704, 576,
         "4/1", "1/8", "Board 1 Camera 1"},
        // Codec 1 with rows bottom-up, the picture the format's size; 16 frames in 3 s; lossless
        // compressor.
        {"c1.kxz", kKindClip, 1, 0, false, 1, AudioFormat::G726, 16, 5, "ffv1", 160, 112, 160, 112,
         "5/1", "1/5", "B C From:2026/11"},
        // Codec 1 with rows top-down, 352 x 288 shown at 704 x 576; under a second: rate 1.
        {"c1b.ckx", kKindExtended, 1, 135, true, 1, AudioFormat::None, 6, 25, "dib", 352, 288, 704,
         576, "25/1", "1/1", "Board 1 Camera 1"},
        // Older kinds: .kxx bottom-up doubled in height, .kxq top-down as is, .kx of the doubled
        // variant (160 coded, 320 decoded) shown at 640 x 480.
        {"l1.kxx", kKindLegacyKxx, 0, 3, false, 0x101, AudioFormat::G726, 8, 4, "dib", 640, 240,
         640, 480, "4/1", "1/8", "Board 1 Camera 1"},
        {"l2.kxq", kKindLegacyKxq, 0, 2, false, 0x101, AudioFormat::None, 6, 25, "dib", 320, 240,
         320, 240, "25/1", "1/1", "Board 1 Camera 1"},
        {"l0.kx", kKindLegacyKx, 0, 7, false, 0x1000, AudioFormat::None, 6, 25, "dib", 320, 240,
         640, 480, "25/1", "1/1", "Board 1 Camera 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingJob job;
        job.path = (folder / c.name).string();
        job.kind = c.kind;
        job.codec = c.codec;
        job.resolutionCode = c.code;
        job.idctB = c.idctB;
        job.version = c.version;
        job.audio = c.audio;
        job.frames = c.frames;
        job.fps = c.fps;
        if (c.text[0] == 'B' && c.text[1] == ' ') {
            job.boardName = "B";
            job.cameraName = "C";
        }
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;
        const std::string avi = job.path + ".avi";
        const test::ToolRun run = test::runKxtool(
            "export --codec " + std::string(c.compressor) + " " + job.path + " " + avi, folder);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Saving the AVI file! Please waiting...\nFile saved!\n");
        EXPECT_NE(run.err.find("frame " + std::to_string(c.frames) + " of"), std::string::npos);

        const test::ToolRun probe = test::runCommand(
            "ffprobe -v error -count_packets -show_streams -show_format -of json " + avi, folder);
        ASSERT_EQ(probe.status, 0) << probe.err;
        EXPECT_EQ(probe.err, "");
        const nlohmann::json info = nlohmann::json::parse(probe.out);
        ASSERT_EQ(info["streams"].size(), 3u);
        const nlohmann::json& video = info["streams"][0];
        EXPECT_EQ(field(video, "width"), c.width);
        EXPECT_EQ(field(video, "height"), c.height);
        EXPECT_EQ(field(video, "nb_read_packets"), std::to_string(c.frames));
        EXPECT_EQ(field(video, "r_frame_rate"), c.videoRate);
        EXPECT_EQ(field(info["streams"][1], "codec_name"), "pcm_s16le");
        EXPECT_EQ(field(info["streams"][1], "sample_rate"), "8000");
        EXPECT_EQ(field(info["streams"][2], "time_base"), c.textTimeBase);
        EXPECT_EQ(field(info["streams"][2], "nb_read_packets"), std::to_string(c.frames));

        // Pictures: ffmpeg's decoding of the file against kxtool decode's, fitted.
        const std::string raw = job.path + ".bgr";
        ASSERT_EQ(test::runKxtool("decode --raw " + raw + " " + job.path, folder).status, 0);
        const std::string upright = readText(raw);
        const size_t decodedBytes = size_t(c.decodedWidth) * c.decodedHeight * 3;
        ASSERT_EQ(upright.size(), c.frames * decodedBytes);
        const test::ToolRun decode = test::runCommand(
            "ffmpeg -v error -y -i " + avi + " -map 0:v -f rawvideo -pix_fmt bgr24 " + raw +
                ".avi -map 0:a -f s16le " + job.path + ".pcm",
            folder);
        ASSERT_EQ(decode.status, 0) << decode.err;
        EXPECT_EQ(decode.err, "");
        const std::string pictures = readText(raw + ".avi");
        const size_t pictureBytes = size_t(c.width) * c.height * 3;
        ASSERT_EQ(pictures.size(), c.frames * pictureBytes);
        for (uint32_t n = 0; n < c.frames; ++n)
            EXPECT_TRUE(pictures.substr(n * pictureBytes, pictureBytes) ==
                        fitted(upright.substr(n * decodedBytes, decodedBytes), c.decodedWidth,
                               c.decodedHeight, c.width, c.height))
                << "picture " << n;

        // Sound: what kxtool audio plays.
        const std::string pcm = readText(job.path + ".pcm");
        if (c.audio == AudioFormat::None) {
            EXPECT_EQ(pcm, "");
        } else {
            ASSERT_EQ(test::runKxtool("audio " + job.path + " " + job.path + ".wav", folder).status,
                      0);
            const std::string wav = readText(job.path + ".wav");
            ASSERT_GT(pcm.size(), 1000u);
            EXPECT_TRUE(wav.substr(44) == pcm);
        }

        // One text sample per frame: the first 16 bytes of the description.
        const std::vector<std::string> texts = chunks(readText(avi), "02tx", 16);
        ASSERT_EQ(texts.size(), c.frames);
        for (const std::string& text : texts) EXPECT_EQ(text, c.text);
    }
    fs::remove_all(folder);
}

// 100 frames at 25 per second last 4 s, but the header's whole seconds span 3: the video rate
// comes from the ticks, so the pictures last as long as the sound beside them.
TEST(KxtoolExport, VideoLastsAsLongAsTheSound) {
    const fs::path folder =
        fs::temp_directory_path() / ("kx_export_rate_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    for (const uint32_t jitterMs : {0u, 7u}) {
        RecordingJob job;
        job.path = (folder / ("rate" + std::to_string(jitterMs) + ".kxz")).string();
        job.kind = kKindClip;
        job.codec = 1;
        job.resolutionCode = 122;
        job.frames = 100;
        job.fps = 25;
        job.jitterMs = jitterMs;
        job.audio = AudioFormat::G726;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;
        const test::ToolRun info = test::runKxtool("info --json " + job.path, folder);
        ASSERT_EQ(info.status, 0) << info.err;
        const nlohmann::json header = nlohmann::json::parse(info.out);
        ASSERT_EQ(header["end_time"].get<uint32_t>() - header["start_time"].get<uint32_t>(), 3u)
            << header.dump();
        const std::string avi = job.path + ".avi";
        ASSERT_EQ(test::runKxtool("export " + job.path + " " + avi, folder).status, 0);
        const test::ToolRun probe = test::runCommand(
            "ffprobe -v error -select_streams v -show_entries stream=duration -of json " + avi,
            folder);
        ASSERT_EQ(probe.status, 0) << probe.err;
        const double video =
            std::stod(nlohmann::json::parse(probe.out)["streams"][0]["duration"].get<std::string>());
        // The sound's length as ffmpeg decodes it: 16000 bytes a second.
        const std::string pcm = job.path + ".pcm";
        ASSERT_EQ(test::runCommand("ffmpeg -v error -y -i " + avi + " -map 0:a -f s16le " + pcm,
                                   folder)
                      .status,
                  0);
        const double audio = double(fs::file_size(pcm)) / 16000;
        EXPECT_NEAR(video, 4.0, 0.04) << "jitter " << jitterMs;
        EXPECT_NEAR(video, audio, 0.04) << "jitter " << jitterMs;
    }
    fs::remove_all(folder);
}

TEST(KxtoolExport, FailuresAreReportedAndLeaveNoFile) {
    const fs::path folder =
        fs::temp_directory_path() / ("kx_export_fail_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    RecordingJob job;
    job.path = (folder / "in.kxz").string();
    job.kind = kKindClip;
    job.resolutionCode = 0;
    job.frames = 3;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    const std::string upper = (folder / "OUT.AVI").string();
    test::ToolRun run = test::runKxtool("export " + job.path + " " + upper, folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Please check the AVI file name(*.avi)!\n");
    EXPECT_EQ(run.err, "kxtool: " + job.path + ": Please check the AVI file name(*.avi)!\n");
    EXPECT_FALSE(fs::exists(upper));

    const std::string missing = (folder / "none.kxz").string();
    run = test::runKxtool("export " + missing + " " + (folder / "x.avi").string(), folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.substr(0, 18), "File open failed!\n");
    EXPECT_EQ(run.err.rfind("kxtool: " + missing + ": File open failed! ", 0), 0u) << run.err;
    EXPECT_FALSE(fs::exists(folder / "x.avi"));

    run = test::runKxtool("export --list-codecs", folder);
    EXPECT_EQ(run.status, 0);
    for (const char* name : {"dib ", "mjpeg ", "mpeg4 ", "ffv1 "})
        EXPECT_NE(run.out.find(name), std::string::npos) << name;
    EXPECT_NE(test::runKxtool("export --codec none " + job.path + " " + (folder / "y.avi").string(),
                              folder)
                  .status,
              0);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace kx
