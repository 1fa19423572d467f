// The "Quad play" window on the hand-moved clock with the player's real worker: loading by
// search and by four-channel file, the title, the buttons, clips and snapshots of a pane, the
// layout, a channel going on with its next match, and Close.
#include "browse/quad_play_dlg.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>

#include "codec/picture/picture_file.h"
#include "platform/manual/manual_event_loop.h"
#include "present/display.h"
#include "present/widgets/seek_slider_widget.h"
#include "present/widgets/tests/widget_test_support.h"
#include "recording/record_reader.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793606400;  // 2026-11-02 08:00:00 UTC

class FakeHost : public QuadHost {
public:
    int32_t GmtOffsetHours() const override { return 0; }
    bool OpenRecording(const std::string& path, int, int) override {
        opened.push_back(path);
        return true;
    }
    void CloseQuadWindow() override { ++closes; }
    std::vector<std::string> opened;
    int closes = 0;
};

class QuadWindowTest : public ::testing::Test {
protected:
    QuadWindowTest() {
        test::widgetApplication();
        CreateDisplay();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        m_folder = fs::temp_directory_path() /
                   ("kx_quad_dlg_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
        m_dialog = std::make_unique<CQuadPlayDlg>(m_host, m_loop, nullptr);
    }
    ~QuadWindowTest() override {
        m_dialog.reset();
        m_loop.deliverPosted();
        fs::remove_all(m_folder);
    }

    // `seconds` of 10 pictures per second in groups of one second.
    std::string record(const std::string& name, uint8_t board, uint8_t camera, uint32_t start, uint32_t seconds,
                       int kind = kKindExtended) {
        RecordingJob job;
        job.path = (m_folder / name).string();
        job.kind = kind;
        job.resolutionCode = 7;
        job.fps = 10;
        job.frames = seconds * 10;
        job.startTime = start;
        job.boardNumber = board;
        job.cameraNumber = camera;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }

    // Moves the clock in 5 ms ticks, letting the worker finish each pass.
    void run(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += 5) {
            m_loop.advanceMs(5);
            ASSERT_TRUE(m_dialog->Player().WaitWorkerIdle());
            m_loop.deliverPosted();
        }
        QApplication::processEvents();
    }

    void click(int id) {
        auto* button = m_dialog->findChild<QPushButton*>(QStringLiteral("id%1").arg(id));
        ASSERT_NE(button, nullptr) << id;
        QTest::mouseClick(button, Qt::LeftButton);
        m_loop.deliverPosted();
    }
    SeekSliderWidget* slider(int pane) {
        return m_dialog->findChild<SeekSliderWidget*>(QStringLiteral("id%1").arg(kQuadFirstSliderId + pane));
    }
    std::vector<fs::path> filesStartingWith(const std::string& prefix) const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(m_folder))
            if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
        return found;
    }

    ManualEventLoop m_loop;
    FakeHost m_host;
    fs::path m_folder;
    std::unique_ptr<CQuadPlayDlg> m_dialog;
};

TEST_F(QuadWindowTest, QuadSearchFillsThePanesOfTheChannelsFoundAndPlaysThem) {
    const std::string first = record("cam1.ckx", 0, 0, kStart, 6);
    const std::string sixth = record("cam6.ckx", 1, 1, kStart + 1, 6);
    // Channels 1, 6 and 3: pane 2's channel has no recording and stays empty.
    ASSERT_TRUE(m_dialog->LoadChannels(m_folder.string(), {channelPair(0), channelPair(5), channelPair(2)},
                                       kStart, "", false));
    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->Pane(0).FilePath(), first);
    EXPECT_EQ(m_dialog->Pane(1).FilePath(), sixth);
    EXPECT_EQ(m_dialog->Pane(2).FilePath(), "");
    EXPECT_FALSE(m_dialog->Player().IsActive(2));
    EXPECT_FALSE(m_dialog->Player().IsActive(3));

    run(1500);
    EXPECT_FALSE(m_dialog->Pane(0).currentPicture().isNull());
    EXPECT_FALSE(m_dialog->Pane(1).currentPicture().isNull()) << "joined the clock one second later";
    EXPECT_EQ(m_dialog->windowTitle().toStdString(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Playing");
    EXPECT_EQ(slider(0)->maximum(), 60);
    EXPECT_GE(slider(0)->value(), 10);
    EXPECT_TRUE(slider(0)->isVisible());
    EXPECT_FALSE(slider(1)->isVisible()) << "only the current pane's slider shows";
    const uint32_t t0 = m_dialog->Player().ChannelTime(0);
    const uint32_t t1 = m_dialog->Player().ChannelTime(1);
    EXPECT_LE(t0 > t1 ? t0 - t1 : t1 - t0, 1u) << "the channels keep one clock";

    CQuadPlayDlg none(m_host, m_loop, nullptr);
    EXPECT_FALSE(none.LoadChannels(m_folder.string(), {channelPair(15)}, kStart, "", false));
    EXPECT_FALSE(none.isVisible());
}

TEST_F(QuadWindowTest, ButtonsDriveThePlayerAndTheTitleFollows) {
    record("cam1.ckx", 0, 0, kStart, 6);
    ASSERT_TRUE(m_dialog->LoadChannels(m_folder.string(), {channelPair(0)}, kStart, "", false));
    run(300);
    const std::string name = "(KX-DVR)(GMT+00:00)(2026/11/02) --";
    click(kQuadSpeedOneId + 2);  // "4 x"
    EXPECT_EQ(m_dialog->Player().Level(), 2);
    EXPECT_EQ(m_dialog->windowTitle().toStdString(), name + " Playing Times4");
    click(kQuadPauseId);
    EXPECT_TRUE(m_dialog->Player().IsPaused());
    EXPECT_EQ(m_dialog->windowTitle().toStdString(), name + " Pause");

    const bool captionOn = m_dialog->Pane(0).Settings().flags & kChannelCaptionOn;
    click(kQuadTextId);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bool(m_dialog->Pane(i).Settings().flags & kChannelCaptionOn), !captionOn) << i;

    click(kQuadStopId);
    EXPECT_FALSE(m_dialog->Player().IsActive(0));
    EXPECT_EQ(m_dialog->windowTitle().toStdString(), name + " Stop");
    click(kQuadPlayId);  // reopens from the start at 1 x
    EXPECT_TRUE(m_dialog->Player().IsActive(0));
    EXPECT_EQ(m_dialog->SpeedIndex(), 0);
    run(200);
    EXPECT_EQ(m_dialog->windowTitle().toStdString(), name + " Playing");

    click(kQuadCloseId);
    EXPECT_EQ(m_host.closes, 1);
}

TEST_F(QuadWindowTest, ClipsAndSnapshotsOfThePaneAreWrittenBesideItsRecording) {
    record("cam1.ckx", 0, 2, kStart, 6);
    ASSERT_TRUE(m_dialog->LoadChannels(m_folder.string(), {channelPair(2)}, kStart, "", false));
    run(500);
    click(kQuadClipStartId);
    EXPECT_TRUE(m_dialog->Pane(0).ClipMarks().started);
    ASSERT_TRUE(slider(0)->selection());
    run(2000);
    click(kQuadClipEndId);
    ASSERT_TRUE(m_dialog->Pane(0).ClipMarks().Complete());
    EXPECT_GT(m_dialog->Pane(0).ClipMarks().endGroup, m_dialog->Pane(0).ClipMarks().startGroup);
    click(kQuadClipSaveId);
    EXPECT_FALSE(m_dialog->Pane(0).ClipMarks().started) << "saving clears the marks";
    const std::vector<fs::path> clips = filesStartingWith("clip");
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].extension(), ".ckx") << "an extended recording's clip keeps its kind's extension";
    EXPECT_EQ(m_dialog->Pane(0).LastClipPath(), clips[0].string());
    CRecordInfo header;
    ASSERT_TRUE(header.ReadInfo(clips[0].string())) << header.LastError().text;
    CRecordReader clip;
    ASSERT_TRUE(clip.Open(&header, kReaderModeRead, -1));
    EXPECT_GE(clip.TotalFrameCount(), 20u);
    click(kQuadClipPlayId);
    EXPECT_EQ(m_host.opened, std::vector<std::string>{clips[0].string()}) << "a one-channel clip plays in the main view";

    click(kQuadSnapshotId);
    const std::vector<fs::path> shots = filesStartingWith("pc02");  // board 0, camera 2
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0].extension(), ".bmp");
    PictureFile picture;
    ASSERT_TRUE(picture.load(PictureFormat::Bmp, shots[0].string())) << picture.lastError();
    EXPECT_EQ(picture.hostName(), "KX-DVR");
    EXPECT_EQ(picture.cameraName(), "Camera 1");
    EXPECT_EQ(picture.width(), 320u);  // the recording's coded width
}

TEST_F(QuadWindowTest, FourChannelFileFillsEveryPaneAndPanesEnlargeAndSelect) {
    const std::string quad = record("quad.ckx", 0, 0, kStart, 4, kKindFourChannel);
    ASSERT_TRUE(m_dialog->LoadFourChannel(quad));
    EXPECT_EQ(m_dialog->FourChannelPath(), quad);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(m_dialog->Player().IsActive(i)) << i;
    run(500);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(m_dialog->Pane(i).currentPicture().isNull()) << i;

    CQuadPane& pane = m_dialog->Pane(1);
    const QRect grid = pane.geometry();
    QTest::mouseClick(&pane, Qt::LeftButton);
    QTest::mouseDClick(&pane, Qt::LeftButton);
    EXPECT_EQ(m_dialog->CurrentPane(), 1);
    EXPECT_TRUE(slider(1)->isVisible());
    EXPECT_FALSE(slider(0)->isVisible());
    EXPECT_GT(pane.width(), grid.width() * 3 / 2);
    EXPECT_FALSE(m_dialog->Pane(0).isVisible());
    QTest::mouseDClick(&pane, Qt::LeftButton);
    EXPECT_EQ(pane.geometry(), grid);
    EXPECT_TRUE(m_dialog->Pane(0).isVisible());
}

TEST_F(QuadWindowTest, AChannelAtItsEndGoesOnWithTheNextMatchOfItsSearch) {
    const std::string early = record("a-early.ckx", 0, 0, kStart, 2);
    const std::string later = record("b-later.ckx", 0, 0, kStart + 60, 2);
    ASSERT_TRUE(m_dialog->LoadChannels(m_folder.string(), {channelPair(0)}, kStart, "", false));
    EXPECT_EQ(m_dialog->Pane(0).FilePath(), early);
    run(2600);
    EXPECT_EQ(m_dialog->Pane(0).FilePath(), later);
    EXPECT_TRUE(m_dialog->Player().IsActive(0));
    run(2600);
    EXPECT_FALSE(m_dialog->Player().IsActive(0)) << "no match left: the pane stops";
}

}  // namespace
}  // namespace kx
