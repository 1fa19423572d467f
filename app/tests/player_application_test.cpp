// The player program's joins on Qt's offscreen platform: start-up with and without a file, the
// panel's buttons and the keys reaching the document, the menu states, dropped files and the
// integrity check's windows.
#include "app/player_application.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/player_doc.h"
#include "app/player_view.h"
#include "browse/main_frame.h"
#include "present/widgets/control_panel.h"
#include "present/widgets/tests/widget_test_support.h"
#include "recording/tests/recording_builder.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

class PlayerApplicationTest : public testing::Test {
protected:
    PlayerApplicationTest() {
        test::widgetApplication();
        // The desktop association goes to the test's own folder.
        ::setenv("XDG_DATA_HOME", (folder.path() + "/share").c_str(), 1);
        app = std::make_unique<PlayerApplication>(nullptr);
    }
    ~PlayerApplicationTest() override {
        app.reset();
        QTest::qWait(10);
    }

    std::string record(const std::string& name, uint32_t frames = 50) {
        RecordingJob job;
        job.path = folder.path() + "/" + name;
        job.resolutionCode = 135;
        job.frames = frames;
        job.groupMs = 200;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }
    bool waitFor(const std::function<bool()>& done, int ms = 5000) {
        for (int waited = 0; waited < ms && !done(); waited += 10) QTest::qWait(10);
        return done();
    }
    QString title() const { return app->frame().windowTitle(); }
    QAbstractButton* panelButton(const QString& name) const {
        for (QAbstractButton* button : app->panel()->findChildren<QAbstractButton*>())
            if (button->accessibleName() == name) return button;
        return nullptr;
    }

    test::TempFolder folder;
    std::unique_ptr<PlayerApplication> app;
};

TEST_F(PlayerApplicationTest, StartsWithoutAFileShowingTheWindowAndThePanel) {
    app->start(std::nullopt);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->frame()));
    EXPECT_EQ(title(), "KX Player");
    EXPECT_EQ(app->frame().viewSize(), QSize(640, 480));
    ASSERT_TRUE(app->panel());
    EXPECT_TRUE(app->panel()->isVisible());
    EXPECT_EQ(app->panel()->windowTitle(), "Player");
    EXPECT_FALSE(app->panel()->frameGeometry().intersects(app->frame().frameGeometry()));
    EXPECT_TRUE(app->commandState(ID_VIEW_PLAYER).checked);
    EXPECT_FALSE(app->commandState(ID_PRINT_MODE).enabled);

    app->onCommand(ID_VIEW_PLAYER);
    EXPECT_FALSE(app->panelExists());
    EXPECT_FALSE(app->commandState(ID_VIEW_PLAYER).checked);
    app->onCommand(ID_VIEW_PLAYER);
    EXPECT_TRUE(app->panelExists());
}

TEST_F(PlayerApplicationTest, PlaysTheFileNamedAtStartAndObeysPanelAndKeys) {
    app->start(record("cam.ckx"));
    ASSERT_TRUE(waitFor([&] { return title().endsWith(" Playing"); })) << title().toStdString();
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Playing");
    EXPECT_EQ(app->frame().viewSize(), QSize(704, 576));
    ASSERT_TRUE(waitFor([&] { return app->document().CurrentGroup() > 0; }));

    panelButton("Pause")->click();
    EXPECT_TRUE(title().endsWith(" Pause"));
    const auto shown = [&] {
        const CKorvexPlayerDoc& doc = app->document();
        return doc.CurrentGroup() * 5 + doc.CurrentPosition();  // five frames a group
    };
    const int before = shown();
    panelButton("Step next")->click();
    EXPECT_TRUE(waitFor([&] { return shown() != before; }));
    QTest::qWait(200);
    EXPECT_EQ(shown(), before + 1);
    EXPECT_TRUE(title().endsWith(" Pause"));

    panelButton("2 x")->click();
    EXPECT_TRUE(title().endsWith("--2Times Playing")) << title().toStdString();
    EXPECT_TRUE(app->panel()->speedLampLit(1));
    app->onCommand(ID_KEY_FASTER);
    EXPECT_TRUE(title().endsWith("--4Times Playing"));
    EXPECT_TRUE(app->panel()->speedLampLit(2)) << "keys light the lamps too";
    app->onCommand(ID_KEY_PLAYBACK);
    EXPECT_TRUE(title().endsWith("-- Playing"));
    EXPECT_TRUE(app->panel()->speedLampLit(0));

    // The expanded strip names the frame on screen for citing it.
    panelButton("Advance")->click();
    QLabel* readout = nullptr;
    for (QLabel* label : app->panel()->findChildren<QLabel*>())
        if (label->accessibleName() == "Frame readout") readout = label;
    ASSERT_TRUE(readout);
    EXPECT_TRUE(waitFor([&] { return readout->text().startsWith("G "); }));
    EXPECT_TRUE(readout->text().contains("/50")) << readout->text().toStdString();
    EXPECT_TRUE(readout->text().contains("2026/11/02 08:00:")) << readout->text().toStdString();

    panelButton("Stop")->click();
    EXPECT_TRUE(title().endsWith(" Stop"));
    EXPECT_TRUE(readout->text().isEmpty());
    EXPECT_FALSE(app->document().HasPlayer());
}

TEST_F(PlayerApplicationTest, IntegrityCheckShowsProgressAndTheVerdict) {
    app->start(record("cam.ckx", 20));
    ASSERT_TRUE(waitFor([&] { return app->document().HasPlayer(); }));
    QString verdictTitle;
    QString verdictText;
    // The verdict is modal: read it and close it when it comes.
    std::function<void()> closeVerdict = [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            verdictTitle = dialog->windowTitle();
            for (QLabel* label : dialog->findChildren<QLabel*>())
                if (label->text().contains("authentication")) verdictText = label->text();
            dialog->accept();
            return;
        }
        QTimer::singleShot(20, closeVerdict);
    };
    QTimer::singleShot(20, closeVerdict);
    panelButton("Authenticate")->click();
    EXPECT_TRUE(waitFor([&] { return !verdictTitle.isEmpty(); }, 20000));
    EXPECT_EQ(verdictTitle, "Authenticate OK");
    EXPECT_EQ(verdictText, "This file has passed the authentication!");
    EXPECT_FALSE(app->document().IsChecking());
}

TEST_F(PlayerApplicationTest, ThePathTypedInTheOpenWindowOpens) {
    app->start(std::nullopt);
    const std::string path = record("typed.ckx", 20);
    bool answered = false;
    std::function<void()> answer = [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->windowTitle() != "Open") {
            QTimer::singleShot(20, answer);
            return;
        }
        auto* field = dialog->findChild<QLineEdit*>("id1040");
        auto* open = dialog->findChild<QPushButton*>("id1034");
        ASSERT_TRUE(field && open);
        field->setText(QString::fromStdString(path));
        answered = true;
        open->click();
    };
    QTimer::singleShot(20, answer);
    app->frame().action(ID_FILE_OPEN)->trigger();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(waitFor([&] { return title().endsWith(" Playing"); })) << title().toStdString();
    EXPECT_EQ(app->document().Info().Path(), path);
}

TEST_F(PlayerApplicationTest, StillPicturesEnablePrintModeAndADroppedFileOpens) {
    app->start(std::nullopt);
    PictureFile picture;
    picture.setPixels(64, 48, std::vector<uint8_t>(64 * 48 * 3, 0x40));
    ASSERT_TRUE(picture.save(PictureFormat::Bmp, folder.path() + "/shot.bmp"));
    ASSERT_TRUE(app->document().OpenPath(folder.path() + "/shot.bmp"));
    EXPECT_TRUE(app->commandState(ID_PRINT_MODE).enabled);
    EXPECT_EQ(app->frame().viewSize(), QSize(64, 48));

    // A recording dropped on the main window opens as from the Open window.
    const std::string path = record("dropped.ckx", 20);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Delivered straight to the window: the application hands drops only to the target of a
    // drag its own drag manager began.
    static_cast<QObject&>(app->frame()).event(&drop);
    EXPECT_FALSE(app->document().IsStillPicture());
    EXPECT_EQ(app->document().Info().Path(), path);
    EXPECT_FALSE(app->commandState(ID_PRINT_MODE).enabled);
}

}  // namespace
}  // namespace kx
