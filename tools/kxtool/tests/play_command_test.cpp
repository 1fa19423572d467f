// kxtool play on a recorder-written recording: the picture lines and the summary at a fast
// level, the group jumps of XH, starting at a frame, and the errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <vector>

#include "recording/record_info.h"
#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/tests/moving_square.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

struct Line {
    uint32_t group, position, tick;
    uint64_t elapsedMs;
};

struct PlayRun {
    int status = -1;
    std::vector<Line> pictures;
    std::string summary;
};

class PlayCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = fs::temp_directory_path() / ("kxtool_play_" + std::to_string(::getpid()));
        fs::create_directories(s_folder);
        // 20 frames at 25 per second in 4 groups of 5, with G.726 sound.
        RecordingJob job;
        job.path = (s_folder / "rec.kxz").string();
        job.kind = 3;
        job.resolutionCode = 0;
        job.frames = 20;
        job.groupMs = 200;
        job.audio = AudioFormat::G726;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;
        s_path = job.path;
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    static PlayRun play(const std::string& arguments) {
        const test::ToolRun tool = test::runKxtool("play " + arguments, s_folder);
        PlayRun run;
        run.status = tool.status;
        std::istringstream lines(tool.out);
        for (std::string text; std::getline(lines, text);) {
            if (text.starts_with("#")) {
                run.summary = text;
                continue;
            }
            Line line{};
            std::istringstream fields(text);
            fields >> line.group >> line.position >> line.tick >> line.elapsedMs;
            EXPECT_TRUE(fields && fields.eof()) << text;
            run.pictures.push_back(line);
        }
        return run;
    }

    static inline fs::path s_folder;
    static inline std::string s_path;
};

TEST_F(PlayCommand, FourTimesShowsTheEvenPositionsAtTheirPace) {
    const PlayRun run = play(s_path + " --speed 2");
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.pictures.size(), 12u);
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        // Positions 0, 2 and 4 of each group of 5 are drawn.
        EXPECT_EQ(run.pictures[i].group, i / 3) << i;
        EXPECT_EQ(run.pictures[i].position, i % 3 * 2) << i;
        if (i > 0) {
            EXPECT_GE(run.pictures[i].elapsedMs, run.pictures[i - 1].elapsedMs);
        }
    }
    // 19 gaps of 40 ms at a quarter: at least 190 ms from the first picture to the last.
    EXPECT_GE(run.pictures.back().elapsedMs - run.pictures.front().elapsedMs, 180u);
    EXPECT_EQ(run.summary.rfind("# 12 pictures in ", 0), 0u) << run.summary;
}

TEST_F(PlayCommand, ExtraHighSpeedJumpsTwoGroupsEveryHalfSecond) {
    const PlayRun run = play(s_path + " --speed 4");
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.pictures.size(), 2u);
    EXPECT_EQ(run.pictures[0].group, 0u);
    EXPECT_EQ(run.pictures[1].group, 2u);
    EXPECT_EQ(run.pictures[1].position, 0u);
    EXPECT_GE(run.pictures[1].elapsedMs - run.pictures[0].elapsedMs, 500u);
}

TEST_F(PlayCommand, SeekStartsAtTheFrameAndErrorsExitWithOne) {
    const PlayRun run = play(s_path + " --seek 3:2");
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(run.pictures.size(), 3u);
    EXPECT_EQ(run.pictures[0].group, 3u);
    EXPECT_EQ(run.pictures[0].position, 2u);
    EXPECT_EQ(play(s_path + " --seek 4").status, 1);
    EXPECT_EQ(play((s_folder / "missing.kxz").string()).status, 1);
    EXPECT_EQ(play(s_path + " --at yesterday").status, 1);
    EXPECT_NE(play(s_path + " --speed 5").status, 0);
}

TEST_F(PlayCommand, AtTakesTheDocumentedLocalTimeForm) {
    // One picture a second in groups of two: the fifth picture (2:0) is four seconds in.
    RecordingJob job;
    job.path = (s_folder / "slow.kxz").string();
    job.kind = 3;
    job.resolutionCode = 0;
    job.frames = 6;
    job.fps = 1;
    job.groupMs = 2000;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    CRecordInfo info;
    ASSERT_TRUE(info.ReadInfo(job.path));
    const std::time_t when = std::time_t(info.StartTime()) + 4;
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);

    const PlayRun run = play(job.path + " --speed 4 --at '" + text + "'");
    ASSERT_EQ(run.status, 0) << text;
    ASSERT_FALSE(run.pictures.empty());
    EXPECT_EQ(run.pictures[0].group, 2u) << text;
    EXPECT_EQ(run.pictures[0].position, 0u);
    // The same moment in seconds since 1970 lands on the same picture.
    const PlayRun seconds = play(job.path + " --speed 4 --at " + std::to_string(when));
    ASSERT_FALSE(seconds.pictures.empty());
    EXPECT_EQ(seconds.pictures[0].group, 2u);
    EXPECT_EQ(play(job.path + " --at '2026-13-01 00:00:00'").status, 1);
}

TEST_F(PlayCommand, VerifyPassesAnIntactRecordingAndFailsOneCutShort) {
    const test::ToolRun whole = test::runKxtool("verify " + s_path, s_folder);
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.out, "20 of 20 frames checked\nThis file has passed the authentication!\n");

    // Cut inside the record of frame 3:4, the last: the frames up to 3:3 are checked and the
    // record that cannot be read is named with the time of the frame before it.
    const std::string cut = (s_folder / "cut.kxz").string();
    std::filesystem::copy_file(s_path, cut, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut, std::filesystem::file_size(s_path) - 20);
    const test::ToolRun damaged = test::runKxtool("verify " + cut, s_folder);
    EXPECT_EQ(damaged.status, 1);
    std::istringstream lines(damaged.out);
    std::string failure, count, verdict;
    std::getline(lines, failure);
    std::getline(lines, count);
    std::getline(lines, verdict);
    EXPECT_EQ(failure.rfind("frame 3:4 at ", 0), 0u) << damaged.out;
    EXPECT_NE(failure.find(": unreadable_record: "), std::string::npos) << damaged.out;
    EXPECT_EQ(count, "19 of 20 frames checked");
    const std::string time =
        failure.substr(failure.find(" at ") + 4 + 11, 8);  // HH:MM:SS of the frame
    EXPECT_EQ(verdict, "This file has failed the authentication! " + time);

    const test::ToolRun missing =
        test::runKxtool("verify " + (s_folder / "missing.kxz").string(), s_folder);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("missing.kxz"), std::string::npos);
}

TEST_F(PlayCommand, MotionPrintsEachStretchWithMotion) {
    // The square moves in pictures 20 to 39: motion starts on the third changed picture (22)
    // and ends on the fifteenth still one (54).
    RecordingJob job;
    job.path = (s_folder / "square.kxz").string();
    job.kind = 3;
    job.resolutionCode = 0;
    job.inputY4m = (s_folder / "square.y4m").string();
    job.frames = 80;
    job.groupMs = 1000;
    job.quantiser = 2;
    test::writeMovingSquareY4m(job.inputY4m, 80, 20, 39);
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;

    const test::ToolRun run = test::runKxtool(
        "motion " + job.path + " --region 0,0,80,40 --region 0,60,160,112", s_folder);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string stretch, summary;
    std::getline(lines, stretch);
    std::getline(lines, summary);
    EXPECT_NE(stretch.find("motion from "), std::string::npos) << run.out;
    EXPECT_NE(stretch.find(" (0:22) to "), std::string::npos) << run.out;
    EXPECT_NE(stretch.find(" (2:4)"), std::string::npos) << run.out;
    EXPECT_EQ(summary, "1 stretches with motion");

    // Only the street below the square: nothing moves there.
    const test::ToolRun quiet =
        test::runKxtool("motion " + job.path + " --region 0,60,160,112", s_folder);
    EXPECT_EQ(quiet.out, "0 stretches with motion\n");
    EXPECT_EQ(test::runKxtool("motion " + job.path + " --region 0,0,2,2", s_folder).status, 2);
}

TEST_F(PlayCommand, FourChannelRecordingsAreLeftToQuadPlayWithTheReasonGiven) {
    RecordingJob job;
    job.path = (s_folder / "quad.ckx").string();
    job.kind = kKindFourChannel;
    job.resolutionCode = 7;
    job.frames = 4;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    for (const char* command : {"verify ", "play ", "motion --region 0,0,8,8 "}) {
        const test::ToolRun run = test::runKxtool(command + job.path, s_folder);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find("a four-channel recording: it plays in quad play"),
                  std::string::npos)
            << run.err;
    }
}

}  // namespace
}  // namespace kx
