// The integrity check's windows: the modeless "Authenticating" progress window with its Stop
// button, and the two modal verdicts, "Authenticate OK" and "Authenticate Err".
#pragma once

#include <QColor>
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>

class QProgressBar;
class QPushButton;

namespace kx {

constexpr int kAuthenticateProgressId = 1178;
constexpr int kAuthenticateStopId = 1179;
constexpr int kAuthenticatePassedTextId = 1180;
constexpr int kAuthenticateFailedTextId = 1181;
constexpr int kAuthenticateFailedTimeId = 1182;

// Text colours as 0x00BBGGRR: green for the pass, red for the failure.
constexpr uint32_t kAuthenticatePassedBgr = 0x409600;
constexpr uint32_t kAuthenticateFailedBgr = 0x0000FF;

// A 0x00BBGGRR colour word as a QColor.
QColor colourFromBgr(uint32_t bgr);

// Where the progress window's top-left corner goes over a main window whose frame (the window
// with its title and borders, in screen coordinates) is `mainFrame`: its horizontal centre less
// 150, and its vertical centre, each half of the size with the remainder discarded.
QPoint authenticatingPosition(const QRect& mainFrame);

class CAuthenticatingWnd : public QDialog {
public:
    static constexpr int kWidth = 290;
    static constexpr int kHeight = 90;

    // A modeless window whose bar runs from 0 to `total` frames. `onStop` is called once when
    // the user presses Stop, presses Escape or closes the window; it is called from the event
    // loop, after the button's own handling has finished, so it may destroy this window.
    CAuthenticatingWnd(uint32_t total, std::function<void()> onStop, QWidget* parent = nullptr);

    // Moves the bar to `position` (held within 0 .. total).
    void setProgress(uint32_t position);
    int progress() const;
    int total() const;

    // Puts the window at authenticatingPosition() of `mainWindow`'s frame.
    void placeOver(const QWidget& mainWindow);

    // Escape and the window's close button stop the check like the Stop button.
    void reject() override;

private:
    void requestStop();

    std::function<void()> m_onStop;
    bool m_stopRequested = false;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_stop = nullptr;
};

// The verdicts' button that asks for the check's report, and the result exec() gives for it.
constexpr int kAuthenticateReportId = 1183;
constexpr int kAuthenticateReportResult = 2;

// "Authenticate OK": "This file has passed the authentication!" in green, and OK; with
// `offerReport` also "Save Report...", which closes the dialog with kAuthenticateReportResult.
class CAuthenticateOkDlg : public QDialog {
public:
    explicit CAuthenticateOkDlg(QWidget* parent = nullptr, bool offerReport = false);
};

// "Authenticate Err": "This file has failed the authentication! " and the failing time (as
// "%H:%M:%S"), in red, and OK; "Save Report..." as above.
class CAuthenticateErrDlg : public QDialog {
public:
    explicit CAuthenticateErrDlg(const std::string& time, QWidget* parent = nullptr, bool offerReport = false);
};

// Run the verdicts modally; true when the user asked for the report.
bool showAuthenticateOk(QWidget* parent, bool offerReport = false);
bool showAuthenticateErr(QWidget* parent, const std::string& time, bool offerReport = false);

}  // namespace kx
