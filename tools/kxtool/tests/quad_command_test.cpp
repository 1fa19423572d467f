// kxtool quad on two recorder-written recordings that start 3 s apart: the later channel waits
// for the earlier one, then both stay within the tolerance of their level; and the errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793606400;

struct Line {
    int channel;
    int32_t group, position;
    uint32_t wallTime;
    uint64_t elapsedMs;
};

class QuadCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = fs::temp_directory_path() / ("kxtool_quad_" + std::to_string(::getpid()));
        fs::create_directories(s_folder);
        s_early = write("early.kxz", kStart, 200);
        s_late = write("late.kxz", kStart + 3, 125);
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    // `frames` at 25 per second in one-second groups.
    static std::string write(const char* name, uint32_t start, uint32_t frames) {
        RecordingJob job;
        job.path = (s_folder / name).string();
        job.kind = 3;
        job.resolutionCode = 0;
        job.frames = frames;
        job.groupMs = 1000;
        job.startTime = start;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }

    static inline fs::path s_folder;
    static inline std::string s_early;
    static inline std::string s_late;
};

TEST_F(QuadCommand, TheLaterChannelWaitsAndBothStayWithinTheTolerance) {
    const test::ToolRun run = test::runKxtool("quad --speed 2 '" + s_early + "' '" + s_late + "'", s_folder);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<Line> lines;
    std::string summary;
    std::istringstream text(run.out);
    for (std::string row; std::getline(text, row);) {
        if (row.starts_with("#")) {
            summary = row;
            continue;
        }
        Line line{};
        std::istringstream fields(row);
        ASSERT_TRUE(fields >> line.channel >> line.group >> line.position >> line.wallTime >> line.elapsedMs) << row;
        ASSERT_TRUE(line.channel == 0 || line.channel == 1) << row;
        if (!lines.empty()) {
            EXPECT_GE(line.elapsedMs, lines.back().elapsedMs);
        }
        lines.push_back(line);
    }
    EXPECT_TRUE(summary.starts_with("# ")) << run.out;

    uint32_t earlyWall = 0;
    bool lateSeen = false;
    int early = 0, late = 0;
    for (const Line& line : lines) {
        if (line.channel == 0) {
            ++early;
            earlyWall = line.wallTime;
            continue;
        }
        ++late;
        if (!lateSeen) {
            // The late recording starts from its beginning once the early one reached it.
            EXPECT_EQ(line.group, 0);
            EXPECT_EQ(line.position, 0);
            EXPECT_EQ(line.wallTime, kStart + 3);
            EXPECT_GE(earlyWall, kStart + 2);
            lateSeen = true;
        }
        // Level 2: within 2 s of each other.
        EXPECT_LE(std::abs(int64_t(line.wallTime) - int64_t(earlyWall)), 2) << line.elapsedMs;
    }
    EXPECT_TRUE(lateSeen);
    EXPECT_GT(early, 150);
    EXPECT_GT(late, 90);
    EXPECT_EQ(lines.front().channel, 0);
    EXPECT_EQ(lines.front().wallTime, kStart);
}

TEST_F(QuadCommand, ErrorsNameTheFile) {
    const std::string missing = (s_folder / "missing.kxz").string();
    const test::ToolRun run = test::runKxtool("quad '" + s_early + "' '" + missing + "'", s_folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("kxtool: " + missing + ": "), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

}  // namespace
}  // namespace kx
