// The AVI export's checks, names and rates, and recordings it refuses to open; the conversion
// itself is checked end to end through kxtool export against ffmpeg.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "output/avi_export.h"
#include "recording/record_frame.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/recording_writer.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> convert(const std::string& input, const std::string& output,
                                 bool* saved = nullptr) {
    std::vector<std::string> lines;
    AviExport exporter([&](const std::string& line) { lines.push_back(line); });
    const bool ok = exporter.Convert(input, output, "dib");
    if (saved) *saved = ok;
    return lines;
}

TEST(AviExport, NamesAreCheckedBeforeAnythingIsOpened) {
    struct Case {
        const char* input;
        const char* output;
        const char* message;
    };
    const Case cases[] = {
        {"", "out.avi", "Please input the KX file name!"},
        {"in.kx", "", "Please input the AVI file name!"},
        {"in.kx", "out.AVI", "Please check the AVI file name(*.avi)!"},
        {"in.kx", "out.mp4", "Please check the AVI file name(*.avi)!"},
        {"in.kx", "vi", "Please check the AVI file name(*.avi)!"},
        {"/nonexistent/in.kx", "out.avi", "File open failed!"},
    };
    for (const Case& c : cases) {
        bool saved = true;
        const std::vector<std::string> lines = convert(c.input, c.output, &saved);
        ASSERT_FALSE(lines.empty()) << c.output;
        EXPECT_EQ(lines[0], c.message) << c.input << " -> " << c.output;
        EXPECT_FALSE(saved);
    }
}

TEST(AviExport, ProposedNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"c:\\rec\\a.kx", "c:\\rec\\a.avi"},
        {"c:\\rec\\a.kxz", "c:\\rec\\a.avi"},
        {"/rec/a.kxx", "/rec/a.avi"},
        {"/rec/a.ckx", "/rec/a.avi"},
        {"/rec/a.kxq", "/rec/a.avi"},
        {"/rec.d/a", "/rec.d/a.avi"},
        {"", ""},
    };
    for (const auto& [input, proposed] : cases) EXPECT_EQ(proposeAviName(input), proposed) << input;
}

TEST(AviExport, Rates) {
    struct Case {
        uint32_t frames;
        uint32_t seconds;
        AviExportRates rates;
    };
    const Case cases[] = {
        {100, 20, {100, 20, 5}},
        {100, 2, {100, 2, 49}},
        {100, 200, {100, 200, 1}},
        {100, 10, {100, 10, 10}},
        {110, 10, {110, 10, 10}},
        {100, 0, {100, 1, 1}},  // no whole second: counted as one, text rate 1
    };
    const uint32_t start = 1'800'000'000;
    for (const Case& c : cases) {
        const AviExportRates rates = aviExportRates(c.frames, start, start + c.seconds);
        EXPECT_EQ(rates.videoRate, c.rates.videoRate) << c.frames << " in " << c.seconds;
        EXPECT_EQ(rates.videoScale, c.rates.videoScale) << c.frames << " in " << c.seconds;
        EXPECT_EQ(rates.textRate, c.rates.textRate) << c.frames << " in " << c.seconds;
    }
    // An end before the start (a damaged header) is not a duration of 136 years.
    EXPECT_EQ(aviExportRates(100, start, start - 5).videoScale, 1u);
}

TEST(AviExport, VideoRateFromTheTicks) {
    struct Case {
        uint32_t frames;
        uint32_t firstTick;
        uint32_t lastTick;
        uint32_t rate;  // the frames per second as rate / scale
        uint32_t scale;
    };
    const Case cases[] = {
        {100, 1000, 1000 + 99 * 40, 25, 1},           // 4 s of frames, whatever the header says
        {8, 5, 5 + 7 * 250, 4, 1},
        {3, 0, 1000, 2, 1},                           // 2 intervals in 1 s
        {10, 0xFFFFFF00u, 0xFFFFFF00u + 9 * 100, 10, 1},  // across the tick counter's wrap
        {7, 0, 1000, 6, 1},
        {4, 0, 1001, 3000, 1001},
        {1, 50, 50, 1, 3},                            // one frame: the header's rule
        {5, 50, 50, 5, 3},                            // ticks that do not advance: the header's
        {5, 100, 50, 5, 3},                           // ticks that go back: the header's
    };
    const uint32_t start = 1'800'000'000;
    for (const Case& c : cases) {
        const AviExportRates rates = aviExportRates(c.frames, start, start + 3, c.firstTick, c.lastTick);
        EXPECT_EQ(rates.videoRate, c.rate) << c.frames << ": " << c.firstTick << " to " << c.lastTick;
        EXPECT_EQ(rates.videoScale, c.scale) << c.frames << ": " << c.firstTick << " to " << c.lastTick;
        EXPECT_EQ(rates.textRate, aviExportRates(c.frames, start, start + 3).textRate);
    }
}

TEST(AviExport, CodecsWithoutADecoderFailTheOpeningAndKeepAnExistingFile) {
    const fs::path folder = fs::temp_directory_path() / ("kx_export_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path output = folder / "out.avi";
    std::ofstream(output) << "old";
    const std::pair<int, const char*> cases[] = {
        {3, "codec 3 is not exported (codecs 0, 1, 2 and 4 only)"},
        {5, "codec 5 is not exported (codecs 0, 1, 2 and 4 only)"},
    };
    for (const auto& [codec, reason] : cases) {
        CRecordInfo info;
        info.SetKind(kKindClip);
        info.SetResolutionCode(0);
        info.SetStartTime(1'800'000'000);
        info.SetFirstFrameTick(1000);
        const std::string path = (folder / "in.kxz").string();
        RecordingWriter writer;
        ASSERT_TRUE(writer.create(path, info)) << writer.errorText();
        ASSERT_TRUE(writer.beginGroup(1000));
        CRecordFrame frame(160, 112, 0);
        frame.SetFlags(uint16_t(codec << 4));
        frame.SetTick(1000);
        ASSERT_TRUE(frame.SetVideoLength(64));
        ASSERT_TRUE(writer.writeFrame(frame));
        ASSERT_TRUE(writer.finish(1'800'000'001));

        const std::vector<std::string> lines = convert(path, output.string());
        ASSERT_EQ(lines.size(), 2u) << codec;
        EXPECT_EQ(lines[0], "File open failed!");
        EXPECT_EQ(lines[1], path + ": " + reason);
        std::ifstream in(output);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
        EXPECT_FALSE(fs::exists(output.string() + ".part"));
    }
    fs::remove_all(folder);
}

// An avc recording (B pictures, version 3) converts; ffprobe reads one video frame per
// recording frame.
TEST(AviExport, AvcRecordingsConvert) {
    const fs::path folder = fs::temp_directory_path() / ("kx_export_avc_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    RecordingJob job;
    job.path = (folder / "in.kxz").string();
    job.kind = kKindClip;
    job.codec = 4;
    job.quantiser = 30;
    job.avcVersion = 3;
    job.bFrames = 2;
    job.resolutionCode = 0;
    job.frames = 12;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    const std::string output = (folder / "out.avi").string();
    bool saved = false;
    convert(job.path, output, &saved);
    ASSERT_TRUE(saved);
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames -of csv=p=0 '" + output + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
    pclose(pipe);
    EXPECT_EQ(std::atoi(line), 12);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace kx
