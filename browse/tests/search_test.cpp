// The search scan and choice on folders of recordings written here: the end-time rule, the
// channel packing, the recorder name, subfolders (and a link loop), the earliest-ending choice
// and local moments.
#include "browse/search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793606400;  // 2026-11-02 08:00:00 UTC

class Search : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kx_search_" + std::to_string(::getpid()) + "_" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    // Two frames `seconds` apart: the header ends at start + seconds.
    std::string write(const std::string& name, uint8_t board, uint8_t camera, uint32_t start, uint32_t seconds,
                      const std::string& host = "KX-DVR") const {
        RecordingJob job;
        job.path = (m_folder / name).string();
        fs::create_directories(fs::path(job.path).parent_path());
        job.resolutionCode = 7;
        job.fps = 1.0 / seconds;
        job.frames = 2;
        job.startTime = start;
        job.boardNumber = board;
        job.cameraNumber = camera;
        job.hostName = host;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }

    SearchCandidates scan(int channelIndex, uint32_t moment, const std::string& dvr = "", bool sub = false) const {
        SearchCandidates found;
        ScanFolder(m_folder.string(), channelPair(channelIndex), moment, dvr, sub, found);
        return found;
    }

    fs::path m_folder;
};

TEST_F(Search, MatchesOnlyRecordingsEndingAfterTheMomentOfTheChannelAndRecorder) {
    const std::string endsAtMoment = write("a.ckx", 1, 1, kStart, 10);
    const std::string endsLater = write("b.ckx", 1, 1, kStart, 11);
    write("other-camera.ckx", 1, 0, kStart, 60);
    write("other-board.ckx", 0, 1, kStart, 60);
    const std::string otherHost = write("host.ckx", 1, 1, kStart, 60, "KX-dvr");
    std::ofstream(m_folder / "notes.txt") << "not a recording";

    // Channel 6 (index 5) is board 1, camera 1.
    SearchCandidates found = scan(5, kStart + 10);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, endsLater);
    EXPECT_EQ(found[0].endTime, kStart + 11);
    EXPECT_EQ(found[1].path, otherHost);

    EXPECT_EQ(scan(5, kStart + 10, "KX-DVR").size(), 1u);  // exact, case-sensitive
    EXPECT_EQ(scan(5, kStart + 10, "KX-dvr").front().path, otherHost);
    EXPECT_TRUE(scan(5, kStart + 100).empty());
    // One second earlier the recording that ends at the moment matches too.
    EXPECT_EQ(scan(5, kStart + 9, "KX-DVR").front().path, endsAtMoment);
}

TEST_F(Search, TakeEarliestPrefersTheRecordingThatEndsFirstAndTheEarlierOnTies) {
    SearchCandidates list{{"late", kStart + 50}, {"first", kStart + 20}, {"tie", kStart + 20}, {"mid", kStart + 30}};
    EXPECT_EQ(TakeEarliest(list), "first");
    EXPECT_EQ(TakeEarliest(list), "tie");
    EXPECT_EQ(TakeEarliest(list), "mid");
    EXPECT_EQ(TakeEarliest(list), "late");
    EXPECT_EQ(TakeEarliest(list), "");

    // Two recordings running at the moment: the one ending first is the one a search opens; a
    // date with nothing on it leads to the first recording after it.
    write("long.ckx", 0, 2, kStart, 600);
    const std::string shortOne = write("short.ckx", 0, 2, kStart + 100, 200);
    const std::string nextDay = write("next-day.ckx", 0, 2, kStart + 86400 * 3, 60);
    SearchCandidates running = scan(2, kStart + 150);
    EXPECT_EQ(TakeEarliest(running), shortOne);
    SearchCandidates later = scan(2, kStart + 86400);
    EXPECT_EQ(TakeEarliest(later), nextDay);
}

TEST_F(Search, SubfoldersAreScannedOnlyWhenAskedAndALinkLoopEnds) {
    const std::string top = write("top.ckx", 0, 0, kStart, 30);
    const std::string deep = write("a/b/deep.ckx", 0, 0, kStart, 30);
    fs::create_directory_symlink(m_folder, m_folder / "a" / "loop");
    EXPECT_EQ(scan(0, kStart).size(), 1u);
    const SearchCandidates all = scan(0, kStart, "", true);
    ASSERT_EQ(all.size(), 2u);  // the loop adds nothing twice
    EXPECT_EQ(all[0].path, deep);  // depth first, in name order
    EXPECT_EQ(all[1].path, top);

    SearchCandidates none;
    ScanFolder((m_folder / "missing").string(), channelPair(0), kStart, "", true, none);
    EXPECT_TRUE(none.empty());
}

TEST(SearchMoment, LocalMidnightAndTimeOfDayAndImpossibleDates) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(localMoment(2026, 11, 2), std::optional<uint32_t>(kStart - 8 * 3600));
    EXPECT_EQ(localMoment(2026, 11, 2, 8, 0, 0), std::optional<uint32_t>(kStart));
    EXPECT_EQ(localMoment(2026, 2, 31), std::nullopt);
    ::setenv("TZ", "Europe/Berlin", 1);  // CET in November, CEST in July
    ::tzset();
    EXPECT_EQ(localMoment(2026, 11, 2, 9, 0, 0), std::optional<uint32_t>(kStart));
    EXPECT_EQ(*localMoment(2026, 7, 2, 10, 0, 0) - *localMoment(2026, 7, 2, 8, 0, 0), 7200u);
    EXPECT_EQ(*localMoment(2026, 7, 2, 0, 0, 0) % 86400, 22u * 3600);  // midnight CEST is 22:00 UTC
    ::unsetenv("TZ");
    ::tzset();
}

TEST(SearchChannels, IndexesPackBoardLowAndCameraHigh) {
    EXPECT_EQ(channelPair(0), packChannel(0, 0));
    EXPECT_EQ(channelPair(5), 0x00010001u);
    EXPECT_EQ(channelPair(15), 0x00030003u);
    EXPECT_EQ(channelPair(2), 0x00020000u);
}

}  // namespace
}  // namespace kx
