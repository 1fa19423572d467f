// The "Open" browse window: fixed pixel geometry of its controls, laid out again on every
// resize so that the field and buttons follow the bottom edge and the pane frame fills the rest.
#include "browse/open_dlg.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "browse/open_frame.h"
#include "present/widgets/control_names.h"

namespace kx {

OpenDlgLayout openDlgInitialLayout() {
    return {{15, 464, 75, 24},
            {90, 462, 370, 24},
            {480, 462, 70, 24},
            {575, 462, 70, 24},
            {0, 0, COpenDlg::kClientWidth, 450}};
}

OpenDlgLayout openDlgResizedLayout(QSize client) {
    const int y = client.height() - 38;
    return {{15, y, 75, 24},
            {90, y, 360, 24},
            {470, y, 70, 24},
            {565, y, 70, 24},
            {0, 0, client.width(), std::max(0, client.height() - 50)}};
}

QPoint openDlgPosition(const QRect& screen, QSize window) {
    return {screen.left() + (screen.width() - window.width()) / 2,
            screen.top() + (screen.height() - window.height()) / 2};
}

COpenDlg::COpenDlg(QWidget* parent, const std::string& currentFolder) : QDialog(parent) {
    // A title bar and a resizable border, but no window menu or close button: the dialog ends
    // with Open, Cancel or Escape.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Open"));
    setModal(true);

    m_frame = new QFrame(this);
    m_frame->setObjectName(QStringLiteral("openFrame"));
    m_frame->setAccessibleName(QStringLiteral("Open"));
    auto* paneLayout = new QVBoxLayout(m_frame);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    m_panes = new COpenFrame(*this, currentFolder, m_frame);
    paneLayout->addWidget(m_panes);
    m_label = new QLabel(QStringLiteral("File Path:"), this);
    nameControl(m_label, kOpenPathLabelId, m_label->text());
    m_edit = new QLineEdit(this);
    nameControl(m_edit, kOpenPathEditId, m_label->text());
    m_label->setBuddy(m_edit);
    m_open = new QPushButton(QStringLiteral("Open"), this);
    nameControl(m_open, kOpenButtonId, m_open->text());
    m_open->setDefault(true);  // Enter in the field opens
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    nameControl(m_cancel, kOpenCancelId, m_cancel->text());
    m_cancel->setAutoDefault(false);
    connect(m_open, &QPushButton::clicked, this, &COpenDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    const QSize client(kClientWidth, kClientHeight);
    resize(client);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // Before the window is shown its frame is not known; the centring counts the frame of
        // the parent's kind of window where there is one.
        const QSize extra =
            parent ? parent->window()->frameGeometry().size() - parent->window()->size()
                   : QSize(0, 0);
        move(openDlgPosition(screen->geometry(), client + extra));
    }
    place(openDlgInitialLayout());
    m_laidOutSize = client;
    m_laidOut = true;
    m_edit->setFocus();
}

void COpenDlg::place(const OpenDlgLayout& layout) {
    m_label->setGeometry(layout.label);
    m_edit->setGeometry(layout.edit);
    m_open->setGeometry(layout.open);
    m_cancel->setGeometry(layout.cancel);
    m_frame->setGeometry(layout.frame);
}

void COpenDlg::SetFilePath(const std::string& path) {
    m_filePath = path;
    m_edit->setText(QString::fromStdString(path));
}

void COpenDlg::accept() {
    const QString text = m_edit->text();
    if (text.trimmed().isEmpty()) {
        // Nothing to open: closing with OK would hand the document an empty path.
        QApplication::beep();
        m_edit->setFocus();
        return;
    }
    m_filePath = text.toStdString();
    QDialog::accept();
}

QWidget* COpenDlg::paneFrame() const {
    return m_frame;
}

void COpenDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // The size the controls were placed for at start arrives once more when the window is
    // first shown; only a real change of size lays them out again.
    if (!m_laidOut || event->size() == m_laidOutSize) return;
    m_laidOutSize = event->size();
    place(openDlgResizedLayout(m_laidOutSize));
}

}  // namespace kx
