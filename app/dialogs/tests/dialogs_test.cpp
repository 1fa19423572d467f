// The player's small dialogs on Qt's offscreen platform, driven as a user drives them: values in
// and out, Cancel changing nothing, the range checks, the progress window's place, bar and Stop.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>

#include "app/dialogs/about_dialog.h"
#include "app/dialogs/authenticate_dialogs.h"
#include "app/dialogs/caption_setup_dialog.h"
#include "present/widgets/control_names.h"
#include "app/dialogs/decode_error_dialog.h"
#include "app/dialogs/motion_setup_dialog.h"
#include "app/dialogs/print_mode_dialog.h"
#include "app/dialogs/program_icon.h"
#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

// Calls `answer` with the modal dialog of type Dialog once the code under test has opened it.
// A dialog the answer leaves open is a failure and is closed, so that a broken test never hangs.
template <class Dialog, class Answer>
void onModal(Answer answer) {
    QTimer::singleShot(0, qApp, [answer] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = dynamic_cast<Dialog*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "no modal dialog of the expected kind";
            if (modal) modal->close();
            return;
        }
        answer(dialog);
        if (QApplication::activeModalWidget() == dialog && dialog->isVisible()) {
            ADD_FAILURE() << "the answer left the dialog open";
            dialog->done(QDialog::Rejected);
        }
    });
}

template <class T>
T* control(QWidget* dialog, int id) {
    T* found = dialog->findChild<T*>(controlObjectName(id));
    EXPECT_NE(found, nullptr) << "control " << id;
    return found;
}

void clickOk(QWidget* dialog) {
    control<QPushButton>(dialog, kIdOk)->click();
}
void clickCancel(QWidget* dialog) {
    control<QPushButton>(dialog, kIdCancel)->click();
}

QStringList labelTexts(const QWidget* parent) {
    QStringList texts;
    for (const QLabel* label : parent->findChildren<QLabel*>()) texts << label->text();
    return texts;
}

// ---- Motion Search Setup ----

TEST(MotionSetupDialog, ShowsTheSettingsAndHandsBackWhatTheUserChose) {
    test::widgetApplication();
    MotionSettings settings{7, 12, true};
    onModal<CMotionSetupDlg>([](CMotionSetupDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Motion Search Setup");
        auto* slider = control<QSlider>(dialog, kMotionSensitivityId);
        auto* field = control<QSpinBox>(dialog, kMotionChangedPicturesId);
        auto* pause = control<QCheckBox>(dialog, kMotionPauseId);
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 10);
        EXPECT_EQ(slider->tickInterval(), 1);
        EXPECT_NE(slider->tickPosition(), QSlider::NoTicks);
        EXPECT_EQ(slider->value(), 7);
        EXPECT_EQ(field->value(), 12);
        EXPECT_TRUE(pause->isChecked());
        for (const char* text : {"Sensitivity", "Low", "High", "Number of the changed pictures :"})
            EXPECT_TRUE(labelTexts(dialog).contains(text)) << text;

        slider->triggerAction(QAbstractSlider::SliderToMinimum);
        slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        field->clear();
        QTest::keyClicks(field, "40");
        pause->click();
        clickOk(dialog);
    });
    EXPECT_TRUE(CMotionSetupDlg::run(nullptr, settings));
    EXPECT_EQ(settings, (MotionSettings{2, 40, false}));
}

TEST(MotionSetupDialog, CancelLeavesTheSettingsAsTheyWere) {
    test::widgetApplication();
    MotionSettings settings{3, 9, false};
    onModal<CMotionSetupDlg>([](CMotionSetupDlg* dialog) {
        control<QSlider>(dialog, kMotionSensitivityId)->setValue(10);
        auto* field = control<QSpinBox>(dialog, kMotionChangedPicturesId);
        field->clear();
        QTest::keyClicks(field, "77");
        control<QCheckBox>(dialog, kMotionPauseId)->click();
        EXPECT_EQ(dialog->settings(), (MotionSettings{10, 77, true}));
        clickCancel(dialog);
    });
    EXPECT_FALSE(CMotionSetupDlg::run(nullptr, settings));
    EXPECT_EQ(settings, (MotionSettings{3, 9, false}));
}

TEST(MotionSetupDialog, BadInputInTheNumberFieldNeverLeavesTheRange) {
    test::widgetApplication();
    struct Case {
        const char* typed;
        int handedBack;  // the field opened with 12
    };
    const Case cases[] = {
        {"0", 12},  // below the range: back to the last valid number
        {"", 12},   // nothing typed: the same
        {"1", 1},    {"100", 100},
        {"500", 50},  // the digit that would pass 100 is refused as it is typed
        {"7x", 7},    // letters cannot be typed
        {"-3", 3},
    };
    for (const Case& c : cases) {
        MotionSettings settings{5, 12, false};
        onModal<CMotionSetupDlg>([&c](CMotionSetupDlg* dialog) {
            auto* field = control<QSpinBox>(dialog, kMotionChangedPicturesId);
            field->clear();
            QTest::keyClicks(field, c.typed);
            clickOk(dialog);
        });
        ASSERT_TRUE(CMotionSetupDlg::run(nullptr, settings)) << c.typed;
        EXPECT_EQ(settings.changedPictures, c.handedBack) << "typed \"" << c.typed << '"';
    }
}

TEST(MotionSetupDialog, StoredValuesOutsideTheRangesOpenAtTheNearestEnd) {
    test::widgetApplication();
    EXPECT_EQ(CMotionSetupDlg(MotionSettings{-3, 0, false}).settings(),
              (MotionSettings{0, 1, false}));
    EXPECT_EQ(CMotionSetupDlg(MotionSettings{11, 1000, true}).settings(),
              (MotionSettings{10, 100, true}));
}

// ---- Caption Display Setup ----

TEST(CaptionSetupDialog, EachBoxSwitchesItsOwnBitAndTheOtherBitsAreKept) {
    test::widgetApplication();
    const uint32_t opened = 0xA5A5A500u | 57u;  // camera name, start, view and end time
    const struct {
        int id;
        uint32_t bit;
    } boxes[] = {{1171, 1u << 0}, {1170, 1u << 1}, {1172, 1u << 2}, {1173, 1u << 3},
                 {1174, 1u << 4}, {1175, 1u << 5}, {1176, 1u << 6}};
    for (const auto& box : boxes) {
        uint32_t flags = opened;
        onModal<CCaptionSetupDlg>([&box, opened](CCaptionSetupDlg* dialog) {
            for (const CaptionSwitch& item : kCaptionSwitches)
                EXPECT_EQ(control<QCheckBox>(dialog, item.id)->isChecked(),
                          (opened & item.bit) != 0)
                    << item.text;
            control<QCheckBox>(dialog, box.id)->click();
            clickOk(dialog);
        });
        EXPECT_TRUE(CCaptionSetupDlg::run(nullptr, flags));
        EXPECT_EQ(flags, opened ^ box.bit) << "box " << box.id;
    }
}

TEST(CaptionSetupDialog, CancelLeavesTheFlags) {
    test::widgetApplication();
    uint32_t flags = 0xFFFFFF80u | 0x15u;
    onModal<CCaptionSetupDlg>([](CCaptionSetupDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Caption Display Setup");
        for (const CaptionSwitch& item : kCaptionSwitches)
            control<QCheckBox>(dialog, item.id)->click();
        EXPECT_EQ(dialog->flags(), 0xFFFFFF80u | 0x6Au);
        clickCancel(dialog);
    });
    EXPECT_FALSE(CCaptionSetupDlg::run(nullptr, flags));
    EXPECT_EQ(flags, 0xFFFFFF80u | 0x15u);
}

// ---- Authenticating ----

TEST(AuthenticatingWindow, SitsAt150LeftOfTheMainWindowsCentreAndOnItsMiddleLine) {
    const struct {
        QRect frame;
        QPoint expected;
    } cases[] = {
        {{100, 200, 640, 480}, {270, 440}},
        {{0, 0, 801, 601}, {250, 300}},  // odd sizes: the halves drop the remainder
        {{-101, -51, 201, 101}, {-151, -1}},
        {{1920, 0, 100, 40}, {1820, 20}},  // a window narrower than 300 on a second screen
    };
    for (const auto& c : cases)
        EXPECT_EQ(authenticatingPosition(c.frame), c.expected)
            << c.frame.x() << ',' << c.frame.y() << ' ' << c.frame.width() << 'x'
            << c.frame.height();

    test::widgetApplication();
    QWidget mainWindow;
    mainWindow.setGeometry(100, 200, 640, 480);
    const auto noStop = [] {};
    CAuthenticatingWnd window(10, noStop, &mainWindow);
    window.placeOver(mainWindow);
    EXPECT_EQ(window.pos(), authenticatingPosition(mainWindow.frameGeometry()));
    EXPECT_EQ(window.size(), QSize(290, 90));
    EXPECT_EQ(window.windowTitle(), "Authenticating");
    EXPECT_FALSE(window.isModal());
}

TEST(AuthenticatingWindow, TheBarRunsFromZeroToTheTotalAndStopsThere) {
    test::widgetApplication();
    CAuthenticatingWnd window(500, [] {});
    auto* bar = control<QProgressBar>(&window, kAuthenticateProgressId);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 500);
    EXPECT_EQ(window.progress(), 0);
    window.setProgress(250);
    EXPECT_EQ(bar->value(), 250);
    window.setProgress(500);
    EXPECT_EQ(bar->value(), 500);
    window.setProgress(9999);  // a position past the end leaves the bar full, not stuck
    EXPECT_EQ(bar->value(), 500);

    CAuthenticatingWnd empty(0, [] {});
    auto* emptyBar = control<QProgressBar>(&empty, kAuthenticateProgressId);
    EXPECT_LT(emptyBar->minimum(), emptyBar->maximum());  // not the endless busy animation
    EXPECT_EQ(emptyBar->value(), 0);
}

TEST(AuthenticatingWindow, StopCallsBackOnceFromTheEventLoopAndMayDestroyTheWindow) {
    test::widgetApplication();
    int stops = 0;
    std::unique_ptr<CAuthenticatingWnd> window;
    window = std::make_unique<CAuthenticatingWnd>(100, [&] {
        ++stops;
        window.reset();  // what the owner does: close the progress window at once
    });
    window->show();
    auto* stop = control<QPushButton>(window.get(), kAuthenticateStopId);
    EXPECT_EQ(stop->text(), "Stop");
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(stops, 0);  // not from inside the button's click handling
    EXPECT_FALSE(stop->isEnabled());
    stop->click();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(window, nullptr);
    QApplication::processEvents();
    EXPECT_EQ(stops, 1);
}

TEST(AuthenticatingWindow, EscapeAndClosingTheWindowStopLikeTheButton) {
    test::widgetApplication();
    for (bool escape : {true, false}) {
        int stops = 0;
        CAuthenticatingWnd window(100, [&] { ++stops; });
        window.show();
        if (escape)
            QTest::keyClick(&window, Qt::Key_Escape);
        else
            window.close();
        QApplication::processEvents();
        EXPECT_EQ(stops, 1) << (escape ? "Escape" : "close");
        EXPECT_TRUE(window.isVisible());  // the owner closes it
    }
}

TEST(AuthenticateVerdicts, PassedInGreenAndFailedWithTheTimeInRed) {
    test::widgetApplication();
    onModal<CAuthenticateOkDlg>([](CAuthenticateOkDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Authenticate OK");
        auto* text = control<QLabel>(dialog, kAuthenticatePassedTextId);
        EXPECT_EQ(text->text(), "This file has passed the authentication!");
        EXPECT_EQ(text->palette().color(QPalette::WindowText), QColor(0x00, 0x96, 0x40));
        clickOk(dialog);
    });
    showAuthenticateOk(nullptr);

    onModal<CAuthenticateErrDlg>([](CAuthenticateErrDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Authenticate Err");
        auto* text = control<QLabel>(dialog, kAuthenticateFailedTextId);
        auto* time = control<QLabel>(dialog, kAuthenticateFailedTimeId);
        EXPECT_EQ(text->text(), "This file has failed the authentication! ");
        EXPECT_EQ(time->text(), "12:34:56");
        EXPECT_EQ(text->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        EXPECT_EQ(time->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        clickOk(dialog);
    });
    showAuthenticateErr(nullptr, "12:34:56");
}

TEST(AuthenticateVerdicts, OfferTheReportWhenAskedAndSayWhetherItWasWanted) {
    test::widgetApplication();
    // Without the offer there is no such button; OK does not ask for the report.
    onModal<CAuthenticateOkDlg>([](CAuthenticateOkDlg* dialog) {
        EXPECT_EQ(dialog->findChild<QPushButton*>(controlObjectName(kAuthenticateReportId)), nullptr);
        clickOk(dialog);
    });
    EXPECT_FALSE(showAuthenticateOk(nullptr));
    onModal<CAuthenticateOkDlg>([](CAuthenticateOkDlg* dialog) { clickOk(dialog); });
    EXPECT_FALSE(showAuthenticateOk(nullptr, true));
    for (const bool failed : {false, true}) {
        const auto press = [](QDialog* dialog) {
            auto* report = control<QPushButton>(dialog, kAuthenticateReportId);
            EXPECT_EQ(report->text(), "Save Report...");
            report->click();
        };
        if (failed) {
            onModal<CAuthenticateErrDlg>(press);
            EXPECT_TRUE(showAuthenticateErr(nullptr, "12:34:56", true));
        } else {
            onModal<CAuthenticateOkDlg>(press);
            EXPECT_TRUE(showAuthenticateOk(nullptr, true));
        }
    }
}

// ---- Decode Err, About ----

TEST(DecodeErrorDialog, SaysTheFrameWasTamperedAndClosesWithOk) {
    test::widgetApplication();
    onModal<CDecodeErrDlg>([](CDecodeErrDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Decode Err");
        EXPECT_EQ(labelTexts(dialog), QStringList{"Frame has been tampered."});
        clickOk(dialog);
    });
    showDecodeError(nullptr);
}

TEST(AboutDialog, ShowsTheIconTheVersionAndEveryKey) {
    test::widgetApplication();
    onModal<CAboutDlg>([](CAboutDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "About KX Player");
        auto* icon = dialog->findChild<QLabel*>("icon");
        ASSERT_NE(icon, nullptr);
        EXPECT_FALSE(icon->pixmap().isNull());
        EXPECT_TRUE(labelTexts(dialog).contains("KX Player Version 5.5 20090427"));
        auto* keyboard = dialog->findChild<QGroupBox*>("keyboard");
        ASSERT_NE(keyboard, nullptr);
        // Every key of the table is shown beside its action, and the table names the keys the
        // main window binds.
        QStringList shownKeys;
        for (size_t i = 0; i < kKeyboardControls.size(); ++i) {
            auto* keys = keyboard->findChild<QLabel*>(QStringLiteral("key%1").arg(i));
            auto* action = keyboard->findChild<QLabel*>(QStringLiteral("action%1").arg(i));
            ASSERT_TRUE(keys && action) << i;
            EXPECT_EQ(keys->text(), kKeyboardControls[i].keys);
            EXPECT_EQ(action->text(), kKeyboardControls[i].action);
            shownKeys << keys->text();
        }
        for (const char* key : {"Space", "Right", "Left", "Page Down", "Page Up", "]", "[",
                                "Backspace", "F11", "Esc"})
            EXPECT_TRUE(shownKeys.contains(key)) << key;
        clickOk(dialog);
    });
    showAboutDialog(nullptr);
}

// ---- The program icon ----

TEST(ProgramIcon, IsADrawingOnATransparentSquareAtEverySize) {
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage image = renderProgramIcon(size);
        ASSERT_EQ(image.size(), QSize(size, size)) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
        QSet<QRgb> colours;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) colours.insert(image.pixel(x, y));
        EXPECT_GT(colours.size(), 5) << size;
    }
    EXPECT_TRUE(renderProgramIcon(15).isNull());
    EXPECT_TRUE(renderProgramIcon(257).isNull());

    test::widgetApplication();
    const QIcon icon = programIcon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
}

TEST(ProgramIcon, WritesAPngInPlaceOrNothingAtAll) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("kxplayer.png");
    ASSERT_TRUE(writeProgramIconPng(path.toStdString(), 32));
    ASSERT_TRUE(writeProgramIconPng(path.toStdString(), 64));  // replaces the first
    const QImage written(path);
    ASSERT_EQ(written.size(), QSize(64, 64));
    EXPECT_TRUE(written.hasAlphaChannel());
    EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32),
              renderProgramIcon(64).convertToFormat(QImage::Format_ARGB32));

    EXPECT_FALSE(writeProgramIconPng(folder.filePath("small.png").toStdString(), 8));
    EXPECT_FALSE(writeProgramIconPng(folder.filePath("none/x.png").toStdString(), 48));
    EXPECT_FALSE(writeProgramIconPng("", 48));
    // Only the one complete file: no refused file, no temporary left behind.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"kxplayer.png"});
}

// ---- Print Mode ----

TEST(PrintModeDialog, OpensWithTheModeAndScaling) {
    test::widgetApplication();
    const struct {
        int mode;
        bool beside;
    } cases[] = {{0, false}, {1, true}, {5, false}, {-1, false}};
    for (const auto& c : cases) {
        CPrintModeDlg dialog(c.mode, 15);
        EXPECT_EQ(control<QRadioButton>(&dialog, kPrintTextBesideId)->isChecked(), c.beside);
        EXPECT_EQ(control<QRadioButton>(&dialog, kPrintTextInPictureId)->isChecked(), !c.beside);
        EXPECT_EQ(control<QLineEdit>(&dialog, kPrintScalingId)->text(), "15");
    }
}

TEST(PrintModeDialog, OkRefusesAScalingOutside1To20AndStaysOpen) {
    test::widgetApplication();
    const struct {
        const char* typed;
        int accepted;  // 0: refused
    } cases[] = {{"0", 0}, {"21", 0},  {"1", 1},   {"20", 20}, {" 12 ", 12},
                 {"", 0},  {"abc", 0}, {"3.5", 0}, {"-5", 0},  {"99999999999", 0}};
    for (const auto& c : cases) {
        int mode = 0;
        int scaling = 15;
        QString message;
        bool stayedOpen = false;
        onModal<CPrintModeDlg>([&](CPrintModeDlg* dialog) {
            control<QRadioButton>(dialog, kPrintTextBesideId)->click();
            auto* field = control<QLineEdit>(dialog, kPrintScalingId);
            field->clear();
            QTest::keyClicks(field, c.typed);
            if (c.accepted == 0)
                onModal<QMessageBox>([&message](QMessageBox* box) {
                    message = box->text();
                    box->accept();
                });
            clickOk(dialog);
            stayedOpen = dialog->isVisible();
            if (stayedOpen) clickCancel(dialog);
        });
        const bool ok = CPrintModeDlg::run(nullptr, mode, scaling);
        if (c.accepted == 0) {
            EXPECT_FALSE(ok) << c.typed;
            EXPECT_TRUE(stayedOpen) << c.typed;
            EXPECT_EQ(message, "Please enter an integer between 1 and 20.") << c.typed;
            EXPECT_EQ(mode, 0);
            EXPECT_EQ(scaling, 15);
        } else {
            EXPECT_TRUE(ok) << c.typed;
            EXPECT_TRUE(message.isEmpty()) << c.typed;
            EXPECT_EQ(mode, 1);
            EXPECT_EQ(scaling, c.accepted);
        }
    }
}

TEST(PrintModeDialog, AValueCorrectedAfterARefusalIsAccepted) {
    test::widgetApplication();
    int mode = 1;
    int scaling = 7;
    onModal<CPrintModeDlg>([](CPrintModeDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Print Mode");
        auto* group = dialog->findChild<QGroupBox*>();
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->title(), "Mode select");
        EXPECT_TRUE(labelTexts(dialog).contains("Enter Scaling Value(1-20):"));
        control<QRadioButton>(dialog, kPrintTextInPictureId)->click();
        auto* field = control<QLineEdit>(dialog, kPrintScalingId);
        field->setText("21");
        onModal<QMessageBox>([](QMessageBox* box) { box->accept(); });
        clickOk(dialog);
        ASSERT_TRUE(dialog->isVisible());
        field->setText("20");
        clickOk(dialog);
    });
    EXPECT_TRUE(CPrintModeDlg::run(nullptr, mode, scaling));
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(scaling, 20);
}

TEST(PrintModeDialog, CancelChangesNothing) {
    test::widgetApplication();
    int mode = 0;
    int scaling = 15;
    onModal<CPrintModeDlg>([](CPrintModeDlg* dialog) {
        control<QRadioButton>(dialog, kPrintTextBesideId)->click();
        control<QLineEdit>(dialog, kPrintScalingId)->setText("3");
        clickCancel(dialog);
    });
    EXPECT_FALSE(CPrintModeDlg::run(nullptr, mode, scaling));
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(scaling, 15);
}

// ---- Names ----

TEST(DialogControls, CarryTheirIdsAndAccessibleNames) {
    test::widgetApplication();
    struct Named {
        int id;
        const char* accessibleName;
    };
    CMotionSetupDlg motion(MotionSettings{});
    CCaptionSetupDlg caption(0);
    CAuthenticatingWnd progress(1, [] {});
    CAuthenticateOkDlg passed;
    CAuthenticateErrDlg failed("01:02:03");
    CPrintModeDlg printMode(0, 15);
    const struct {
        QWidget* dialog;
        std::vector<Named> controls;
    } dialogs[] = {
        {&motion,
         {{1168, "Sensitivity"},
          {1139, "Number of the changed pictures :"},
          {1169, "Pause when motion detected"},
          {1, "OK"},
          {2, "Cancel"}}},
        {&caption,
         {{1171, "Camera name"},
          {1170, "Board name"},
          {1172, "Date"},
          {1173, "Start time"},
          {1174, "View time"},
          {1175, "End time"},
          {1176, "Recorded native time"},
          {1, "OK"},
          {2, "Cancel"}}},
        {&progress, {{1178, "Authenticating"}, {1179, "Stop"}}},
        {&passed, {{1180, "This file has passed the authentication!"}, {1, "OK"}}},
        {&failed,
         {{1181, "This file has failed the authentication! "}, {1182, "01:02:03"}, {1, "OK"}}},
        {&printMode,
         {{1030, "Print text in picture"},
          {1031, "Print text beside picture"},
          {1032, "Enter Scaling Value(1-20):"},
          {1, "OK"},
          {2, "Cancel"}}},
    };
    for (const auto& d : dialogs) {
        for (const Named& named : d.controls) {
            QWidget* widget = d.dialog->findChild<QWidget*>(controlObjectName(named.id));
            ASSERT_NE(widget, nullptr) << d.dialog->windowTitle().toStdString() << ' ' << named.id;
            EXPECT_EQ(widget->accessibleName(), named.accessibleName) << named.id;
        }
    }
}

}  // namespace
}  // namespace kx
