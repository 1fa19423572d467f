// The recording list pane on Qt's offscreen platform: rows arrive from the worker, a click on a
// heading sorts (also the rows that arrive after it), a click on a row writes its path into the
// window and a double-click opens it, and columns only ever widen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QHeaderView>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "browse/video_list_view.h"
#include "present/widgets/tests/widget_test_support.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793606400;  // 2026-11-02 08:00:00 UTC
using Names = std::vector<std::string>;

class RecordingWindow : public BrowseFrameTarget {
public:
    void SetFilePath(const std::string& path) override { paths.push_back(path); }
    void AcceptPath() override { ++accepted; }
    std::vector<std::string> paths;
    int accepted = 0;
};

class VideoListViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        s_folder = fs::temp_directory_path() / ("kx_video_list_" + std::to_string(::getpid()));
        fs::create_directories(s_folder / "recordings");
        fs::create_directories(s_folder / "short");
        // Three recordings an hour apart, written in an order that is neither sorted way.
        const std::pair<const char*, uint32_t> recordings[] = {
            {"Middle-Camera.ckx", kStart + 3600}, {"early.ckx", kStart}, {"late.ckx", kStart + 7200}};
        for (const auto& [name, start] : recordings) {
            RecordingJob job;
            job.path = (s_folder / "recordings" / name).string();
            job.resolutionCode = 7;
            job.frames = 2;
            job.startTime = start;
            job.cameraName = "A camera name long enough to widen its column";
            std::string error;
            ASSERT_TRUE(writeRecording(job, error)) << error;
        }
        std::ofstream(s_folder / "short" / "a") << "x";
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    void SetUp() override {
        test::widgetApplication();
        m_list = std::make_unique<CVideoListView>();
        m_list->SetBrowseFrame(&m_window);
        m_list->SetGmtOffsetHours(0);
        m_list->resize(900, 300);
        m_list->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_list.get()));
    }

    std::string folder(const char* name) const { return (s_folder / name).string() + "/"; }
    // Shows `name` and waits until its last row has arrived.
    void showAndWait(const char* name) {
        m_list->ShowFolder(folder(name));
        EXPECT_TRUE(m_list->IsReading());
        QTRY_VERIFY_WITH_TIMEOUT(!m_list->IsReading(), 10000);
    }
    Names shownNames() const {
        std::vector<std::string> names;
        for (int i = 0; i < m_list->RowCount(); ++i) names.push_back(m_list->RowAt(i).record.name);
        return names;
    }
    void clickHeading(int column) {
        QHeaderView* heading = m_list->header();
        const QPoint at(heading->sectionViewportPosition(column) + 5, heading->height() / 2);
        QTest::mouseClick(heading->viewport(), Qt::LeftButton, {}, at);
    }
    QPoint rowCentre(int row) const { return m_list->visualRect(m_list->model()->index(row, 1)).center(); }

    static fs::path s_folder;
    RecordingWindow m_window;
    std::unique_ptr<CVideoListView> m_list;
};

fs::path VideoListViewTest::s_folder;

TEST_F(VideoListViewTest, RowsArriveWithTheirHeadingsAndCells) {
    EXPECT_EQ(m_list->accessibleName(), "Recordings");
    for (int c = 0; c < kListColumnCount; ++c)
        EXPECT_EQ(m_list->model()->headerData(c, Qt::Horizontal).toString(), kListColumnHeadings[size_t(c)]);
    showAndWait("recordings");
    ASSERT_EQ(m_list->RowCount(), 3);
    const Names names = shownNames();
    const QModelIndex late =
        m_list->model()->index(int(std::find(names.begin(), names.end(), "late.ckx") - names.begin()), 0);
    ASSERT_TRUE(late.isValid());
    const QAbstractItemModel& model = *m_list->model();
    EXPECT_EQ(model.data(late).toString(), "late.ckx");
    EXPECT_EQ(model.data(late.siblingAtColumn(1)).toString(), "26/11/02,10:00:00");
    EXPECT_EQ(model.data(late.siblingAtColumn(5)).toString(), "640X480");
    EXPECT_EQ(model.data(late.siblingAtColumn(7)).toString(), "KX-DVR(GMT+00:00)");
    EXPECT_EQ(m_list->Folder(), folder("recordings"));
}

TEST_F(VideoListViewTest, HeadingClicksSortWithTheListsDirections) {
    showAndWait("recordings");
    clickHeading(1);  // "Start Time": latest first
    EXPECT_EQ(m_list->SortState(), (ListSortState{1, false}));
    EXPECT_EQ(shownNames(), (Names{"late.ckx", "Middle-Camera.ckx", "early.ckx"}));
    clickHeading(1);
    EXPECT_EQ(shownNames(), (Names{"early.ckx", "Middle-Camera.ckx", "late.ckx"}));
    clickHeading(0);  // "File Name": another heading, flag clear, names from the greatest
    EXPECT_EQ(shownNames(), (Names{"late.ckx", "early.ckx", "Middle-Camera.ckx"}));

    // A click while the folder is being read sorts the rows that arrive after it.
    m_list->ShowFolder(folder("recordings"));
    clickHeading(2);  // "End Time": latest first
    QTRY_VERIFY_WITH_TIMEOUT(!m_list->IsReading(), 10000);
    EXPECT_EQ(shownNames(), (Names{"late.ckx", "Middle-Camera.ckx", "early.ckx"}));
}

TEST_F(VideoListViewTest, ClickWritesThePathAndDoubleClickOpens) {
    showAndWait("recordings");
    clickHeading(0);  // the first click on "File Name": names upwards, capitals first
    ASSERT_EQ(shownNames(), (Names{"Middle-Camera.ckx", "early.ckx", "late.ckx"}));
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowCentre(0));
    ASSERT_EQ(m_window.paths, Names{folder("recordings") + "Middle-Camera.ckx"});  // the name as on disk
    EXPECT_EQ(m_window.accepted, 0);

    // A double-click as the platform delivers it: a click, then the double-click event.
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowCentre(2));
    EXPECT_EQ(m_window.accepted, 0);
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, rowCentre(2));
    EXPECT_EQ(m_window.paths.back(), folder("recordings") + "late.ckx");
    EXPECT_EQ(m_window.accepted, 1);

    // Below the rows: nothing.
    const size_t before = m_window.paths.size();
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, QPoint(20, m_list->viewport()->height() - 5));
    EXPECT_EQ(m_window.paths.size(), before);
    EXPECT_EQ(m_window.accepted, 1);
}

TEST_F(VideoListViewTest, ColumnsOnlyWiden) {
    QHeaderView* heading = m_list->header();
    const QFontMetrics metrics = m_list->fontMetrics();
    for (int c = 0; c < kListColumnCount; ++c)
        EXPECT_EQ(heading->sectionSize(c), metrics.horizontalAdvance(kListColumnHeadings[size_t(c)]) + 15) << c;
    showAndWait("recordings");
    const int cameraWidth = heading->sectionSize(4);
    EXPECT_EQ(cameraWidth, metrics.horizontalAdvance("A camera name long enough to widen its column(1)") + 15);
    std::vector<int> widths;
    for (int c = 0; c < kListColumnCount; ++c) widths.push_back(heading->sectionSize(c));

    showAndWait("short");  // narrower texts leave every column as it was
    ASSERT_EQ(m_list->RowCount(), 1);
    for (int c = 0; c < kListColumnCount; ++c) EXPECT_EQ(heading->sectionSize(c), widths[size_t(c)]) << c;
}

TEST_F(VideoListViewTest, ANewFolderReplacesTheOneBeingRead) {
    m_list->ShowFolder(folder("recordings"));
    m_list->ShowFolder(folder("short"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_list->IsReading(), 10000);
    QTest::qWait(50);  // anything still posted for the first folder would arrive now
    EXPECT_EQ(shownNames(), Names{"a"});
    m_list->ShowFolder("");
    EXPECT_EQ(m_list->RowCount(), 0);
    EXPECT_FALSE(m_list->IsReading());
}

}  // namespace
}  // namespace kx
