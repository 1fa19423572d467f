// The "Authenticating" progress window and the two verdict dialogs of the integrity check.
#include "app/dialogs/authenticate_dialogs.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cassert>
#include <climits>
#include <utility>

#include "present/widgets/control_names.h"

namespace kx {
namespace {

QLabel* colouredLabel(const QString& text, int id, uint32_t bgr, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);  // a time string is never markup
    nameControl(label, id, text);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colourFromBgr(bgr));
    label->setPalette(palette);
    return label;
}

// A verdict's OK button, which closes it.
void addOkButton(QDialog* dialog, QVBoxLayout* layout, bool offerReport = false) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
    buttons->setCenterButtons(true);
    nameControl(buttons->button(QDialogButtonBox::Ok), kIdOk, QStringLiteral("OK"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    if (offerReport) {
        QPushButton* report = buttons->addButton(QStringLiteral("Save Report..."), QDialogButtonBox::ActionRole);
        nameControl(report, kAuthenticateReportId, report->text());
        report->setAutoDefault(false);
        QObject::connect(report, &QPushButton::clicked, dialog, [dialog] { dialog->done(kAuthenticateReportResult); });
    }
    layout->addWidget(buttons);
}

}  // namespace

QColor colourFromBgr(uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QPoint authenticatingPosition(const QRect& mainFrame) {
    return {mainFrame.left() + mainFrame.width() / 2 - 150,
            mainFrame.top() + mainFrame.height() / 2};
}

CAuthenticatingWnd::CAuthenticatingWnd(uint32_t total, std::function<void()> onStop,
                                       QWidget* parent)
    : QDialog(parent), m_onStop(std::move(onStop)) {
    assert(m_onStop);
    setWindowTitle(QStringLiteral("Authenticating"));
    setModal(false);
    m_bar = new QProgressBar(this);
    nameControl(m_bar, kAuthenticateProgressId, QStringLiteral("Authenticating"));
    // A bar of range 0 .. 0 would turn into an endless busy animation: an empty recording
    // shows an empty bar instead.
    m_bar->setRange(0, int(std::clamp<uint32_t>(total, 1, INT_MAX)));
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    nameControl(m_stop, kAuthenticateStopId, m_stop->text());
    m_stop->setAutoDefault(false);
    connect(m_stop, &QPushButton::clicked, this, [this] { requestStop(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_stop);
    row->addStretch(1);
    layout->addLayout(row);
    setFixedSize(kWidth, kHeight);
}

void CAuthenticatingWnd::setProgress(uint32_t position) {
    // The bar ignores a value outside its range; the last position is never beyond the total.
    m_bar->setValue(int(std::min<uint32_t>(position, uint32_t(m_bar->maximum()))));
}

int CAuthenticatingWnd::progress() const {
    return m_bar->value();
}

int CAuthenticatingWnd::total() const {
    return m_bar->maximum();
}

void CAuthenticatingWnd::placeOver(const QWidget& mainWindow) {
    move(authenticatingPosition(mainWindow.frameGeometry()));
}

void CAuthenticatingWnd::reject() {
    requestStop();
}

void CAuthenticatingWnd::requestStop() {
    if (m_stopRequested) return;
    m_stopRequested = true;
    m_stop->setEnabled(false);
    // The owner answers Stop by destroying this window; calling it from the event loop keeps
    // that from happening inside the button's own click handling. The call is dropped if the
    // window goes first.
    QTimer::singleShot(0, this, [this] { m_onStop(); });
}

CAuthenticateOkDlg::CAuthenticateOkDlg(QWidget* parent, bool offerReport) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Authenticate OK"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(colouredLabel(QStringLiteral("This file has passed the authentication!"),
                                    kAuthenticatePassedTextId, kAuthenticatePassedBgr, this));
    addOkButton(this, layout, offerReport);
}

CAuthenticateErrDlg::CAuthenticateErrDlg(const std::string& time, QWidget* parent, bool offerReport)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Authenticate Err"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(colouredLabel(QStringLiteral("This file has failed the authentication! "),
                                 kAuthenticateFailedTextId, kAuthenticateFailedBgr, this));
    row->addWidget(colouredLabel(QString::fromStdString(time), kAuthenticateFailedTimeId,
                                 kAuthenticateFailedBgr, this));
    row->addStretch(1);
    layout->addLayout(row);
    addOkButton(this, layout, offerReport);
}

bool showAuthenticateOk(QWidget* parent, bool offerReport) {
    CAuthenticateOkDlg dialog(parent, offerReport);
    return dialog.exec() == kAuthenticateReportResult;
}

bool showAuthenticateErr(QWidget* parent, const std::string& time, bool offerReport) {
    CAuthenticateErrDlg dialog(time, parent, offerReport);
    return dialog.exec() == kAuthenticateReportResult;
}

}  // namespace kx
