// The output windows on the offscreen platform: the Kx2Avi window's names, refusals, a
// conversion on its worker and a cancelled export; the face window's grid, pages and Video.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "output/widgets/face_dlg.h"
#include "output/widgets/kx2avi_dlg.h"
#include "present/widgets/tests/widget_test_support.h"
#include "tools/recorder/face_file_writer.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class OutputWindows : public ::testing::Test {
protected:
    void SetUp() override {
        test::widgetApplication();
        m_folder = fs::temp_directory_path() /
                   ("kx_output_windows_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }
    std::string recording(const std::string& name, uint32_t frames, uint32_t startTime = 1793606400) {
        RecordingJob job;
        job.path = path(name);
        job.kind = kKindClip;
        job.resolutionCode = 122;
        job.frames = frames;
        job.startTime = startTime;
        job.audio = AudioFormat::G726;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }
    static QStringList lines(const CKx2AviDlg& dialog) {
        QStringList all;
        for (int i = 0; i < dialog.log()->count(); ++i) all << dialog.log()->item(i)->text();
        return all;
    }

    fs::path m_folder;
};

TEST_F(OutputWindows, Kx2AviProposesTheNameAndLogsEachRefusal) {
    EXPECT_EQ(CKx2AviDlg("/rec/a.kx", ExportFormat::Avi).outputField()->text(), "/rec/a.avi");
    EXPECT_EQ(CKx2AviDlg("/rec/a.kxz", ExportFormat::Avi).outputField()->text(), "/rec/a.avi");
    EXPECT_EQ(CKx2AviDlg("/rec/A.CKX", ExportFormat::Mp4).outputField()->text(), "/rec/A.mp4");
    EXPECT_EQ(CKx2AviDlg("", ExportFormat::Avi).outputField()->text(), "");

    CKx2AviDlg dialog("", ExportFormat::Avi);
    EXPECT_EQ(dialog.windowTitle(), "Kx2Avi");
    const std::string input = recording("in.kxz", 5);
    const struct {
        std::string input, output;
        const char* line;
    } cases[] = {
        {"", "out.avi", "Please input the KX file name!"},
        {input, "", "Please input the AVI file name!"},
        {input, path("out.AVI"), "Please check the AVI file name(*.avi)!"},
        {path("missing.kxz"), path("out.avi"), "File open failed!"},
    };
    for (const auto& c : cases) {
        dialog.inputField()->setText(QString::fromStdString(c.input));
        dialog.outputField()->setText(QString::fromStdString(c.output));
        const int before = dialog.log()->count();
        dialog.convert();
        ASSERT_GT(dialog.log()->count(), before);
        EXPECT_EQ(dialog.log()->item(before)->text(), c.line);
        EXPECT_FALSE(dialog.running());
    }
    EXPECT_FALSE(fs::exists(path("out.avi")));
    EXPECT_FALSE(fs::exists(path("out.AVI")));
}

TEST_F(OutputWindows, Kx2AviConvertsOnItsWorkerWithProgress) {
    const std::string input = recording("in.kxz", 30);
    CKx2AviDlg dialog(input, ExportFormat::Avi);
    dialog.setCompressorForTests("dib");
    dialog.convert();
    EXPECT_TRUE(dialog.running());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.running(); }, 60000));
    EXPECT_EQ(lines(dialog), QStringList({"Saving the AVI file! Please waiting...", "File saved!"}));
    EXPECT_EQ(dialog.progress()->value(), 100);
    EXPECT_TRUE(fs::exists(path("in.avi")));
}

TEST_F(OutputWindows, CancelledExportLeavesNoFile) {
    const std::string input = recording("long.kxz", 500);
    for (const ExportFormat format : {ExportFormat::Avi, ExportFormat::Mp4}) {
        CKx2AviDlg dialog(input, format);
        dialog.setCompressorForTests("dib");
        dialog.convert();
        ASSERT_TRUE(dialog.running());
        // Once the first frames are done, Cancel.
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.progress()->value() > 0; }, 60000));
        dialog.cancel();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.running(); }, 60000));
        QTest::qWait(10);
        const QStringList all = lines(dialog);
        ASSERT_FALSE(all.isEmpty());
        EXPECT_TRUE(all.last().contains("cancelled")) << all.join(" | ").toStdString();
        EXPECT_FALSE(all.contains("File saved!"));
    }
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_folder)) ++files;
    EXPECT_EQ(files, 1u);  // the recording alone: no AVI, MP4, sidecar or temporary file
}

TEST_F(OutputWindows, FaceWindowPagesAndOpensTheVideoOfAFace) {
    fs::create_directories(m_folder / "face");
    fs::create_directories(m_folder / "video");
    const uint32_t start = 1793606400;
    RecordingJob job;
    job.path = path("video/cam.kxz");
    job.kind = kKindClip;
    job.frames = 100;  // 4 s
    job.startTime = start;
    job.cameraName = "Gate";
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    FaceFileJob faces;
    faces.path = path("face/cam.fac");
    faces.version = 1;
    faces.hostName = "HOST";
    faces.cameraName = "Gate";
    std::vector<FacePicture> pictures(33);
    for (uint32_t i = 0; i < 33; ++i)
        pictures[i] = {start + i, std::vector<uint8_t>(112 * 144, uint8_t(i * 7))};
    ASSERT_TRUE(writeFaceFile(faces, pictures, error)) << error;

    std::vector<std::pair<std::string, uint32_t>> opened;
    CFaceDlg dialog(faces.path, QSize(1024, 768), QSize(6, 25),
                    [&](const std::string& video, uint32_t time) { opened.emplace_back(video, time); });
    EXPECT_EQ(dialog.windowTitle(), "Face");
    ASSERT_EQ(dialog.grid().cells(), 32);
    EXPECT_EQ(dialog.size(), QSize(115 * 8 - 3, 159 * 4 + 45));
    EXPECT_TRUE(dialog.nextButton()->isEnabled());
    EXPECT_FALSE(dialog.prevButton()->isEnabled());
    EXPECT_TRUE(dialog.cell(31)->hasFace());
    EXPECT_EQ(dialog.cell(31)->face().time, start + 31);

    QTest::mouseClick(dialog.nextButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.currentPage(), 1u);
    EXPECT_TRUE(dialog.cell(0)->hasFace());
    EXPECT_EQ(dialog.cell(0)->face().time, start + 32);
    EXPECT_FALSE(dialog.cell(1)->hasFace());
    EXPECT_TRUE(dialog.timeLabel(1)->text().isEmpty());
    EXPECT_FALSE(dialog.nextButton()->isEnabled());
    EXPECT_TRUE(dialog.prevButton()->isEnabled());

    // Face 32 is 32 s after the start: no recording holds it. Face 2 is inside cam.kxz.
    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    dialog.videoOf(*dialog.cell(0));
    EXPECT_TRUE(opened.empty());
    QTest::mouseClick(dialog.prevButton(), Qt::LeftButton);
    QTest::mouseDClick(dialog.cell(2), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(fs::path(opened[0].first), fs::path(job.path));
    EXPECT_EQ(opened[0].second, start + 2);
}

}  // namespace
}  // namespace kx
