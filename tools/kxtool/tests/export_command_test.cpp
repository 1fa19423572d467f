// kxtool export end to end on recordings written by the recorder, checked by FFmpeg: ffprobe
// reads the three streams (sizes, frame counts, rates), ffmpeg decodes the pictures to what
// kxtool decode gives, brought to the video format's size by doubling, and the sound to what
// kxtool audio gives; the text samples are read from the file's chunks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <nlohmann/json.hpp>

#include "recording/tests/recording_builder.h"
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

// The pictures of an AVI file as ffmpeg decodes them: upright B, G, R, one string each.
std::vector<std::string> aviPictures(const std::string& avi, uint32_t width, uint32_t height, const fs::path& folder) {
    const std::string raw = avi + ".bgr";
    const test::ToolRun run = test::runCommand(
        "ffmpeg -v error -y -i '" + avi + "' -map 0:v -f rawvideo -pix_fmt bgr24 '" + raw + "'", folder);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string bytes = readText(raw);
    const size_t size = size_t(width) * height * 3;
    std::vector<std::string> pictures;
    for (size_t at = 0; at + size <= bytes.size(); at += size) pictures.push_back(bytes.substr(at, size));
    return pictures;
}

TEST(KxtoolExport, DamagedRecordingsKeepWhatCameBeforeAndRepeatPicturesThatDoNotDecode) {
    const fs::path folder = fs::temp_directory_path() / ("kx_export_damage_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    RecordingJob job;
    job.path = (folder / "in.kxz").string();
    job.kind = kKindClip;
    job.codec = 1;
    job.resolutionCode = 0;  // 160 x 112
    job.frames = 12;
    job.fps = 1;  // the scene's clock moves on with every picture
    job.audio = AudioFormat::None;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    const auto exportOf = [&](const std::string& in, const char* name) {
        const std::string avi = (folder / name).string();
        const test::ToolRun run = test::runKxtool("export --codec dib '" + in + "' '" + avi + "'", folder);
        EXPECT_EQ(run.status, 0) << run.err;
        return std::make_pair(run, aviPictures(avi, 160, 112, folder));
    };
    const auto [intactRun, intact] = exportOf(job.path, "intact.avi");
    ASSERT_EQ(intact.size(), 12u);

    test::HeaderFields header;
    const std::vector<test::GroupContent> source = test::groupsOfRecording(job.path, header);
    const auto flat = [](std::vector<test::GroupContent>& groups, uint32_t n) -> test::FrameContent& {
        for (test::GroupContent& g : groups) {
            if (n < g.frames.size()) return g.frames[n];
            n -= uint32_t(g.frames.size());
        }
        return groups.back().frames.back();
    };
    // Two frames whose pictures differ from the ones before them: one is made to hold no
    // picture, the other a record above the frame size cap. Each repeats the picture before it
    // and all 12 frames are written.
    std::vector<uint32_t> changing;
    for (uint32_t i = 2; i < 12 && changing.size() < 2; ++i)
        if (intact[i] != intact[i - 1] && (changing.empty() || i > changing.back() + 1)) changing.push_back(i);
    ASSERT_EQ(changing.size(), 2u) << std::set<std::string>(intact.begin(), intact.end()).size() << " distinct pictures";
    std::vector<test::GroupContent> groups = source;
    flat(groups, changing[0]).video.assign(size_t(8 << 20) + 1, 0);
    flat(groups, changing[1]).video.assign(64, 0xFF);
    const std::string repeated = test::writeFile(folder.string(), "repeated.kxz", test::recordingBytes(kKindClip, header, groups));
    const auto [repeatedRun, pictures] = exportOf(repeated, "repeated.avi");
    ASSERT_EQ(pictures.size(), 12u);
    for (uint32_t i = 0; i < 12; ++i) {
        const bool damaged = i == changing[0] || i == changing[1];
        EXPECT_TRUE(pictures[i] == (damaged ? pictures[i - 1] : intact[i])) << i;
    }

    // Frame 8's record claims more bytes than the file holds: the file keeps frames 0 to 7.
    groups = source;
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> bytes = test::recordingBytes(kKindClip, header, groups, &offsets);
    uint32_t group = 0, position = 8;
    while (position >= groups[group].frames.size()) position -= uint32_t(groups[group++].frames.size());
    size_t record = offsets[group] + 16;
    for (uint32_t p = 0; p < position; ++p) record += test::frameBytes(kKindClip, groups[group].frames[p]).size();
    for (int i = 0; i < 4; ++i) bytes[record + 8 + size_t(i)] = uint8_t(0x7FFFFFF0u >> (8 * i));
    const std::string cut = test::writeFile(folder.string(), "cut.kxz", bytes);
    const auto [cutRun, kept] = exportOf(cut, "cut.avi");
    EXPECT_NE(cutRun.out.find("frame 8 of 12 cannot be read"), std::string::npos) << cutRun.out;
    EXPECT_NE(cutRun.out.find("File saved!"), std::string::npos);
    ASSERT_EQ(kept.size(), 8u);
    for (uint32_t i = 0; i < 8; ++i) EXPECT_TRUE(kept[i] == intact[i]) << i;
    fs::remove_all(folder);
}

// The compressor's quality setting: a finer quantiser keeps the pictures closer to the source
// (PSNR by ffmpeg against the uncompressed export) and takes more bytes.
TEST(KxtoolExport, CompressorQualityTradesSizeForFidelity) {
    const fs::path folder = fs::temp_directory_path() / ("kx_export_quality_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    RecordingJob job;
    job.path = (folder / "in.kxz").string();
    job.kind = kKindClip;
    job.resolutionCode = 122;
    job.frames = 10;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    const std::string reference = (folder / "dib.avi").string();
    ASSERT_EQ(test::runKxtool("export " + job.path + " " + reference, folder).status, 0);
    const auto psnr = [&](const std::string& avi) {
        const test::ToolRun run = test::runCommand(
            "ffmpeg -v info -i " + avi + " -i " + reference + " -lavfi psnr -f null - 2>&1 | grep -o 'average:[0-9.]*'",
            folder);
        return run.out.size() > 8 ? std::stod(run.out.substr(8)) : 0.0;
    };
    const std::string fine = (folder / "fine.avi").string();
    const std::string coarse = (folder / "coarse.avi").string();
    ASSERT_EQ(test::runKxtool("export --codec mjpeg --quality 2 " + job.path + " " + fine, folder).status, 0);
    ASSERT_EQ(test::runKxtool("export --codec mjpeg --quality 25 " + job.path + " " + coarse, folder).status, 0);
    EXPECT_GT(fs::file_size(fine), fs::file_size(coarse) * 2);
    const double finePsnr = psnr(fine);
    EXPECT_GT(finePsnr, psnr(coarse) + 3) << finePsnr;
    EXPECT_GT(finePsnr, 35);
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
