// The "Open" browse window on Qt's offscreen platform: its geometry at start and after resizes,
// and the path it hands back for Open, Enter, a path set by the list, and Cancel.
#include <gtest/gtest.h>

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "browse/open_dlg.h"
#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

struct Controls {
    explicit Controls(COpenDlg& dialog)
        : label(dialog.findChild<QLabel*>("id1041")),
          edit(dialog.findChild<QLineEdit*>("id1040")),
          open(dialog.findChild<QPushButton*>("id1034")),
          cancel(dialog.findChild<QPushButton*>("id1037")),
          frame(dialog.findChild<QFrame*>("openFrame")) {}
    bool complete() const { return label && edit && open && cancel && frame; }
    OpenDlgLayout geometry() const {
        return {label->geometry(), edit->geometry(), open->geometry(), cancel->geometry(),
                frame->geometry()};
    }

    QLabel* label;
    QLineEdit* edit;
    QPushButton* open;
    QPushButton* cancel;
    QFrame* frame;
};

void expectLayout(const OpenDlgLayout& actual, const OpenDlgLayout& expected,
                  const std::string& where) {
    EXPECT_EQ(actual.label, expected.label) << where;
    EXPECT_EQ(actual.edit, expected.edit) << where;
    EXPECT_EQ(actual.open, expected.open) << where;
    EXPECT_EQ(actual.cancel, expected.cancel) << where;
    EXPECT_EQ(actual.frame, expected.frame) << where;
}

// Runs `answer` on the Open dialog once exec() has shown it; a dialog left open is closed.
template <class Answer>
void onOpenDialog(COpenDlg& dialog, Answer answer) {
    QTimer::singleShot(0, &dialog, [&dialog, answer] {
        ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
        answer(Controls(dialog));
        if (dialog.isVisible()) {
            ADD_FAILURE() << "the answer left the dialog open";
            dialog.done(QDialog::Rejected);
        }
    });
}

TEST(OpenDlg, StartsWith700By500CentredAndTheControlsWhereTheyBelong) {
    test::widgetApplication();
    COpenDlg dialog;
    Controls controls(dialog);
    ASSERT_TRUE(controls.complete());
    EXPECT_EQ(dialog.windowTitle(), "Open");
    EXPECT_EQ(dialog.size(), QSize(700, 500));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(dialog.pos(), openDlgPosition(screen, {700, 500}));
    const OpenDlgLayout start{{15, 464, 75, 24},
                              {90, 462, 370, 24},
                              {480, 462, 70, 24},
                              {575, 462, 70, 24},
                              {0, 0, 700, 450}};
    expectLayout(controls.geometry(), start, "constructed");
    // Showing the window delivers its first size once more; the layout at start must stay.
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.size(), QSize(700, 500));
    expectLayout(controls.geometry(), start, "shown");

    EXPECT_EQ(dialog.paneFrame(), controls.frame);
    EXPECT_EQ(controls.frame->accessibleName(), "Open");
    EXPECT_EQ(controls.label->text(), "File Path:");
    EXPECT_EQ(controls.label->accessibleName(), "File Path:");
    EXPECT_EQ(controls.edit->accessibleName(), "File Path:");
    EXPECT_EQ(controls.open->text(), "Open");
    EXPECT_EQ(controls.open->accessibleName(), "Open");
    EXPECT_EQ(controls.cancel->text(), "Cancel");
    EXPECT_EQ(controls.cancel->accessibleName(), "Cancel");
    EXPECT_TRUE(dialog.isModal());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(OpenDlg, CentresOnAnyScreen) {
    EXPECT_EQ(openDlgPosition({0, 0, 1920, 1080}, {700, 500}), QPoint(610, 290));
    EXPECT_EQ(openDlgPosition({0, 0, 1025, 769}, {708, 531}), QPoint(158, 119));
    EXPECT_EQ(openDlgPosition({1920, 0, 1280, 1024}, {700, 500}), QPoint(2210, 262));
    EXPECT_EQ(openDlgPosition({0, 0, 640, 480}, {700, 500}), QPoint(-30, -10));
}

TEST(OpenDlg, ResizingKeepsTheFieldAndButtonsOnTheBottomEdge) {
    test::widgetApplication();
    COpenDlg dialog;
    Controls controls(dialog);
    ASSERT_TRUE(controls.complete());
    dialog.show();
    QApplication::processEvents();
    const struct {
        QSize client;
        OpenDlgLayout expected;
    } steps[] = {
        {{800, 600},
         {{15, 562, 75, 24},
          {90, 562, 360, 24},
          {470, 562, 70, 24},
          {565, 562, 70, 24},
          {0, 0, 800, 550}}},
        // Back at the first size, the layout is the later one (edit 360, buttons further left).
        {{700, 500},
         {{15, 462, 75, 24},
          {90, 462, 360, 24},
          {470, 462, 70, 24},
          {565, 462, 70, 24},
          {0, 0, 700, 450}}},
        {{1024, 60},
         {{15, 22, 75, 24},
          {90, 22, 360, 24},
          {470, 22, 70, 24},
          {565, 22, 70, 24},
          {0, 0, 1024, 10}}},
        {{640, 50},
         {{15, 12, 75, 24},
          {90, 12, 360, 24},
          {470, 12, 70, 24},
          {565, 12, 70, 24},
          {0, 0, 640, 0}}},
        // Lower than 50: the frame's height becomes 0, not negative.
        {{300, 30},
         {{15, -8, 75, 24},
          {90, -8, 360, 24},
          {470, -8, 70, 24},
          {565, -8, 70, 24},
          {0, 0, 300, 0}}},
    };
    for (const auto& step : steps) {
        dialog.resize(step.client);
        QApplication::processEvents();
        ASSERT_EQ(dialog.size(), step.client);
        expectLayout(
            controls.geometry(), step.expected,
            std::to_string(step.client.width()) + "x" + std::to_string(step.client.height()));
        expectLayout(openDlgResizedLayout(step.client), step.expected, "function");
    }
}

TEST(OpenDlg, OpenAndEnterHandBackTheTypedPath) {
    test::widgetApplication();
    for (bool enter : {false, true}) {
        COpenDlg dialog;
        onOpenDialog(dialog, [enter](Controls controls) {
            QTest::keyClicks(controls.edit, "/srv/cctv/cam 01/0412.kx");
            if (enter)
                QTest::keyClick(controls.edit, Qt::Key_Return);
            else
                QTest::mouseClick(controls.open, Qt::LeftButton);
        });
        EXPECT_EQ(dialog.exec(), QDialog::Accepted) << (enter ? "Enter" : "Open");
        EXPECT_EQ(dialog.GetFilePath(), "/srv/cctv/cam 01/0412.kx");
    }
}

TEST(OpenDlg, APathSetByTheListShowsInTheFieldAndAcceptTakesIt) {
    test::widgetApplication();
    COpenDlg dialog;
    const std::string path =
        "/data/Kamera \xC3\xBC"
        "ber/rec.kx";  // UTF-8 survives the trip
    onOpenDialog(dialog, [&dialog, &path](Controls controls) {
        dialog.SetFilePath(path);
        EXPECT_EQ(controls.edit->text(), QString::fromUtf8(path.c_str()));
        dialog.accept();  // a double-click on the list's row
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.GetFilePath(), path);
}

TEST(OpenDlg, AnEmptyFieldIsNotOpenedAndCancelKeepsThePath) {
    test::widgetApplication();
    COpenDlg dialog;
    dialog.SetFilePath("/earlier.kx");
    onOpenDialog(dialog, [&dialog](Controls controls) {
        for (const char* text : {"", "   "}) {
            controls.edit->setText(text);
            controls.open->click();
            EXPECT_TRUE(dialog.isVisible()) << '"' << text << '"';
            QTest::keyClick(controls.edit, Qt::Key_Return);
            EXPECT_TRUE(dialog.isVisible()) << '"' << text << '"';
        }
        EXPECT_EQ(dialog.GetFilePath(), "/earlier.kx");
        controls.edit->setText("/typed/but/cancelled.kx");
        controls.cancel->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.GetFilePath(), "/earlier.kx");

    COpenDlg escaped;
    onOpenDialog(escaped, [](Controls controls) {
        controls.edit->setText("/x.kx");
        QTest::keyClick(controls.edit, Qt::Key_Escape);
    });
    EXPECT_EQ(escaped.exec(), QDialog::Rejected);
    EXPECT_EQ(escaped.GetFilePath(), "");
}

}  // namespace
}  // namespace kx
