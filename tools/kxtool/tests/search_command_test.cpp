// kxtool search on a folder written here: the chosen recording and start frame per channel in
// text and JSON, the exit status when some or none are found, and malformed moments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793741400;  // 2026-11-03 21:30:00 UTC

class SearchCommand : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kxtool_search_" + std::to_string(::getpid()) + "_" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder / "dvr" / "day3");
        m_first = write("dvr/day3/cam1.ckx", 0, 0, kStart);
        m_later = write("dvr/day3/cam6.ckx", 1, 1, kStart + 30);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string write(const std::string& name, uint8_t board, uint8_t camera, uint32_t start) const {
        RecordingJob job;
        job.path = (m_folder / name).string();
        job.resolutionCode = 7;
        job.fps = 5;
        job.frames = 100;  // 20 s in groups of one second
        job.startTime = start;
        job.boardNumber = board;
        job.cameraNumber = camera;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }

    test::ToolRun search(const std::string& arguments) const {
        return test::runCommand(std::string("TZ=UTC ") + KXTOOL_PATH + " search " + arguments, m_folder);
    }

    fs::path m_folder;
    std::string m_first;
    std::string m_later;
};

TEST_F(SearchCommand, FindsEachChannelAndTheFramePlaybackStartsAt) {
    const std::string root = (m_folder / "dvr").string();
    const test::ToolRun run =
        search("--path " + root + " --subfolders --channel 6 --channel 1 --channel 2 --time '2026-11-03 21:30:07'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "channel 1: " + m_first + " 7:0 2026-11-03 21:30:07\n" +
                           "channel 2: Can not find video files !\n" +
                           "channel 6: " + m_later + " 0:0 2026-11-03 21:30:30\n");

    const test::ToolRun json = search("--path " + root + " --subfolders --channel 1 --channel 2 --json --time '2026-11-03 21:30:12'");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json list = nlohmann::json::parse(json.out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["channel"], 1);
    EXPECT_EQ(list[0]["path"], m_first);
    EXPECT_EQ(list[0]["group"], 12);
    EXPECT_EQ(list[0]["position"], 0);
    EXPECT_EQ(list[0]["wall_time"], kStart + 12);
    EXPECT_EQ(list[1]["channel"], 2);
    EXPECT_EQ(list[1]["error"], "Can not find video files !");

    // By date: from local midnight, so the day's first recording from its first frame.
    EXPECT_EQ(search("--path " + root + " --subfolders --channel 1 --date 2026-11-03").out,
              "channel 1: " + m_first + " 0:0 2026-11-03 21:30:00\n");
}

TEST_F(SearchCommand, ExitStatusAndErrors) {
    const std::string root = (m_folder / "dvr").string();
    // Without --subfolders nothing lies in the top folder itself.
    const test::ToolRun none = search("--path " + root + " --channel 1 --date 2026-11-03");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "channel 1: Can not find video files !\n");
    // After the recordings' end, and for another recorder, nothing matches.
    EXPECT_EQ(search("--path " + root + " --subfolders --channel 1 --date 2026-11-04").status, 1);
    EXPECT_EQ(search("--path " + root + " --subfolders --channel 1 --dvr other --date 2026-11-03").status, 1);
    EXPECT_EQ(search("--path " + root + " --subfolders --channel 1 --dvr KX-DVR --date 2026-11-03").status, 0);

    const test::ToolRun badDate = search("--path " + root + " --channel 1 --date 2026-02-30");
    EXPECT_EQ(badDate.status, 1);
    EXPECT_EQ(badDate.err, "kxtool: 2026-02-30: not a date (YYYY-MM-DD)\n");
    EXPECT_EQ(search("--path " + root + " --channel 1 --time '2026-11-03 25:00:00'").status, 1);
    EXPECT_EQ(search("--path " + root + " --channel 1 --channel 2 --channel 3 --channel 4 --channel 5 --date 2026-11-03").status, 2);
    EXPECT_EQ(search("--path " + root + " --channel 17 --date 2026-11-03").status, 2);
    EXPECT_EQ(search("--path " + root + " --channel 1").status, 2);
}

}  // namespace
}  // namespace kx
