// kxtool export --format mp4 checked from outside: ffprobe reads the streams, every picture's
// timestamp against the recording's ticks (gaps and jitter included), the durations and the
// metadata; ffmpeg turns the subtitle track into text; sha256sum recomputes the sidecar's hashes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class ExportMp4 : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kx_export_mp4_" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    test::ToolRun run(const std::string& command) const {
        return test::runCommand(command, m_folder);
    }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }
    nlohmann::json json(const std::string& command) const {
        const test::ToolRun result = run(command);
        EXPECT_EQ(result.status, 0) << command << "\n" << result.err;
        return nlohmann::json::parse(result.out, nullptr, false);
    }

    fs::path m_folder;
};

TEST_F(ExportMp4, PicturesAtTheirTicksWithSoundSubtitlesMetadataAndHashes) {
    RecordingJob job;
    job.path = path("gaps.ckx");
    job.kind = kKindExtended;
    job.codec = 1;
    job.resolutionCode = 7;  // 320 x 240 shown at 640 x 480
    job.frames = 60;
    job.fps = 10;
    job.jitterMs = 9;
    job.gapEvery = 25;  // two pauses of 2.5 s
    job.gapMs = 2500;
    job.audio = AudioFormat::G726;
    job.hostName = "HOST-7";
    job.boardName = "Yard";
    job.cameraName = "Gate";
    job.gmtOffset = 2;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    const std::string mp4 = path("gaps.mp4");
    const test::ToolRun exported =
        test::runKxtool("export --format mp4 --quality 30 " + job.path + " " + mp4, m_folder);
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, "Saving the MP4 file! Please waiting...\nFile saved!\n");

    const nlohmann::json frames = json(std::string(KXTOOL_PATH) + " frames --json " + job.path);
    ASSERT_EQ(frames.size(), 60u);
    const uint32_t firstTick = frames[0]["tick"];
    const uint32_t lastTick = frames[59]["tick"];

    // Streams and container.
    const nlohmann::json probe = json("ffprobe -v error -show_streams -show_format -of json " + mp4);
    ASSERT_EQ(probe["streams"].size(), 3u);
    const nlohmann::json& video = probe["streams"][0];
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["width"], 640);
    EXPECT_EQ(video["height"], 480);
    EXPECT_EQ(video["nb_frames"], "60");
    EXPECT_EQ(probe["streams"][1]["codec_name"], "aac");
    EXPECT_EQ(probe["streams"][1]["sample_rate"], "8000");
    EXPECT_EQ(probe["streams"][2]["codec_name"], "mov_text");
    const nlohmann::json& tags = probe["format"]["tags"];
    EXPECT_EQ(tags["title"], "HOST-7 Yard Gate");
    EXPECT_EQ(tags["kx_host"], "HOST-7");
    EXPECT_EQ(tags["kx_camera"], "Gate");
    EXPECT_EQ(tags["kx_start_time"], std::to_string(job.startTime));
    EXPECT_EQ(tags["creation_time"], "2026-11-02T08:00:00.000000Z");

    // Every picture at its own tick; the last lasts one interval; the sound as long as that.
    const nlohmann::json packets =
        json("ffprobe -v error -select_streams v -show_entries packet=pts,duration -of json " + mp4);
    ASSERT_EQ(packets["packets"].size(), 60u);
    for (size_t i = 0; i < 60; ++i)
        EXPECT_EQ(packets["packets"][i]["pts"].get<int64_t>(),
                  int64_t(frames[i]["tick"].get<uint32_t>() - firstTick))
            << "picture " << i;
    const double videoSeconds = std::stod(video["duration"].get<std::string>());
    EXPECT_GT(videoSeconds, (lastTick - firstTick) / 1000.0);
    EXPECT_LT(videoSeconds, (lastTick - firstTick) / 1000.0 + 0.2);
    EXPECT_GT((lastTick - firstTick) / 1000.0, 5.9 + 5.0);  // the gaps are in the timeline
    EXPECT_NEAR(std::stod(probe["streams"][1]["duration"].get<std::string>()), videoSeconds, 0.2);

    // Subtitles: one per second of recording, the names and the recorder's wall time.
    const test::ToolRun srt = run("ffmpeg -v error -i " + mp4 + " -map 0:s -f srt -");
    ASSERT_EQ(srt.status, 0) << srt.err;
    const size_t firstCue = srt.out.find("00:00:00,000 --> 00:00:01,000\n");
    ASSERT_NE(firstCue, std::string::npos) << srt.out;
    const size_t names = srt.out.find("HOST-7  Yard  Gate", firstCue);
    const size_t wallTime = srt.out.find("2026/11/02 10:00:00 (GMT+02:00)", firstCue);
    EXPECT_LT(names, wallTime) << srt.out;
    EXPECT_LT(wallTime, srt.out.find("-->", firstCue + 20)) << srt.out;
    const uint32_t lastSecond = (lastTick - firstTick) / 1000;
    char last[64];
    std::snprintf(last, sizeof last, "2026/11/02 10:00:%02u (GMT+02:00)", lastSecond);
    EXPECT_NE(srt.out.find(last), std::string::npos) << srt.out;
    // A second with no frame (inside a pause) has no subtitle.
    const uint32_t pauseSecond = (frames[25]["tick"].get<uint32_t>() - firstTick) / 1000 - 1;
    std::snprintf(last, sizeof last, "2026/11/02 10:00:%02u (GMT+02:00)", pauseSecond);
    EXPECT_EQ(srt.out.find(last), std::string::npos) << srt.out;

    // The sidecar: the hashes as sha256sum computes them, the header, the counts.
    const nlohmann::json sidecar = json("cat " + mp4 + ".json");
    const auto sha = [&](const std::string& file) {
        const test::ToolRun sum = run("sha256sum " + file);
        return sum.out.substr(0, 64);
    };
    EXPECT_EQ(sidecar["source"]["sha256"], sha(job.path));
    EXPECT_EQ(sidecar["mp4"]["sha256"], sha(mp4));
    EXPECT_EQ(sidecar["source"]["header"]["host_name"], "HOST-7");
    EXPECT_EQ(sidecar["source"]["header"]["gmt_offset"], 2);
    EXPECT_EQ(sidecar["source"]["header"]["start_time"], job.startTime);
    EXPECT_EQ(sidecar["frames"], 60);
    EXPECT_EQ(sidecar["first_tick"], firstTick);
    EXPECT_EQ(sidecar["last_tick"], lastTick);
    EXPECT_FALSE(sidecar["tool"]["version"].get<std::string>().empty());
    // Nothing temporary is left beside the files.
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(m_folder))
        files += entry.path().filename().string()[0] == '.';
    EXPECT_EQ(files, 0u);
}

TEST_F(ExportMp4, RefusalsLeaveNoFile) {
    RecordingJob job;
    job.path = path("ok.kxz");
    job.kind = kKindClip;
    job.frames = 5;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    const std::pair<std::string, std::string> cases[] = {
        {job.path + " " + path("out.avi"), "Please check the MP4 file name(*.mp4)!"},
        {path("missing.kxz") + " " + path("out.mp4"), "File open failed!"},
        {job.path + " " + path("no/folder/out.mp4"), "File open failed!"},
    };
    for (const auto& [arguments, message] : cases) {
        const test::ToolRun result = test::runKxtool("export --format mp4 " + arguments, m_folder);
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_NE(result.out.find(message), std::string::npos) << result.out;
    }
    EXPECT_FALSE(fs::exists(path("out.mp4")));
    EXPECT_FALSE(fs::exists(path("out.mp4.json")));
    // Upper-case names are fine for MP4 files.
    EXPECT_EQ(test::runKxtool("export --format mp4 " + job.path + " " + path("UP.MP4"), m_folder).status, 0);
    EXPECT_TRUE(fs::exists(path("UP.MP4.json")));
}

}  // namespace
}  // namespace kx
