// The face window: the grid, the pages, drawing a face, and its Print, Save and Video commands.
#include "output/widgets/face_dlg.h"

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <ctime>

#include "recording/face_picture_file.h"
#include "recording/recorder_text.h"

namespace kx {
namespace {

QString fromRecorder(const std::string& text) {
    return QString::fromStdString(recorderTextToUtf8(text));
}

QString formatTime(uint32_t seconds, const char* format) {
    const std::time_t t = seconds;
    std::tm parts{};
    localtime_r(&t, &parts);
    char text[32] = {};
    std::strftime(text, sizeof text, format, &parts);
    return QString::fromLatin1(text);
}

QImage greyImage(const std::vector<uint8_t>& grey, uint32_t width, uint32_t height) {
    QImage image(int(width), int(height), QImage::Format_Grayscale8);
    for (uint32_t y = 0; y < height; ++y)
        std::copy_n(grey.data() + size_t(y) * width, width, image.scanLine(int(y)));
    return image;
}

}  // namespace

CFacePicWnd::CFacePicWnd(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Face picture"));
}

void CFacePicWnd::setFace(std::vector<uint8_t> grey, uint32_t width, uint32_t height,
                          const FaceIdentity& face, const std::string& host,
                          const std::string& facePath) {
    m_grey = std::move(grey);
    m_width = width;
    m_height = height;
    m_face = face;
    m_host = host;
    m_facePath = facePath;
    update();
}

void CFacePicWnd::clearFace() {
    m_grey.clear();
    m_width = m_height = 0;
    update();
}

void CFacePicWnd::paintEvent(QPaintEvent*) {
    if (m_grey.empty() || m_height == 0) return;
    QPainter painter(this);
    // The cell's full height, the width in proportion, centred.
    const int width = int(int64_t(height()) * m_width / m_height);
    painter.drawImage(QRect((this->width() - width) / 2, 0, width, height()),
                      greyImage(m_grey, m_width, m_height));
}

void CFacePicWnd::contextMenuEvent(QContextMenuEvent* event) {
    if (!isVisible()) return;
    QMenu menu(QStringLiteral("Face"), this);
    QAction* print = menu.addAction(QStringLiteral("Print"));
    print->setStatusTip(QStringLiteral("Print face picture"));
    QAction* save = menu.addAction(QStringLiteral("Save"));
    save->setStatusTip(QStringLiteral("Save as BMP file"));
    QAction* video = menu.addAction(QStringLiteral("Video"));
    video->setStatusTip(QStringLiteral("Open video"));
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == print && onPrint) onPrint(*this);
    if (chosen == save && onSave) onSave(*this);
    if (chosen == video && onVideo) onVideo(*this);
}

void CFacePicWnd::mouseDoubleClickEvent(QMouseEvent*) {
    if (hasFace() && onVideo) onVideo(*this);
}

CFaceDlg::CFaceDlg(const std::string& facePath, const QSize& screen, const QSize& frame,
                   std::function<void(const std::string&, uint32_t)> openVideo, QWidget* parent)
    : QDialog(parent),
      m_path(facePath),
      m_file(std::make_unique<CFacePictureFile>()),
      m_openVideo(std::move(openVideo)) {
    setWindowTitle(QStringLiteral("Face"));
    m_grid = faceGridFor(screen.width(), screen.height(), frame.width(), frame.height());
    const int width = m_grid.clientWidth();
    const int height = m_grid.clientHeight();
    setFixedSize(width, height);
    move(0, 0);
    for (int r = 0; r < m_grid.rows; ++r)
        for (int c = 0; c < m_grid.columns; ++c) {
            auto* cell = new CFacePicWnd(this);
            cell->setGeometry(kFaceCellPitchX * c, kFaceCellPitchY * r, kFaceCellWidth,
                              kFacePictureHeight);
            cell->onVideo = [this](CFacePicWnd& face) { videoOf(face); };
            cell->onPrint = [this](CFacePicWnd& face) { printFace(face); };
            cell->onSave = [this](CFacePicWnd& face) { saveFace(face); };
            auto* time = new QLabel(this);
            time->setGeometry(kFaceCellPitchX * c, kFaceCellPitchY * r + kFacePictureHeight,
                              kFaceCellWidth, kFaceTimeHeight);
            time->setAlignment(Qt::AlignCenter);
            m_cells.push_back(cell);
            m_times.push_back(time);
        }
    auto* host = new QLabel(this);
    auto* board = new QLabel(this);
    auto* camera = new QLabel(this);
    host->setGeometry(0, height - 45, 200, 15);
    board->setGeometry(0, height - 30, 200, 15);
    camera->setGeometry(0, height - 15, 200, 15);
    m_prev = new QPushButton(QStringLiteral("Prev page"), this);
    m_next = new QPushButton(QStringLiteral("Next page"), this);
    m_prev->setAccessibleName(m_prev->text());
    m_next->setAccessibleName(m_next->text());
    m_prev->setGeometry(width - 200, height - 45, 80, 20);
    m_next->setGeometry(width - 100, height - 45, 80, 20);
    m_prev->setEnabled(false);
    m_next->setEnabled(false);
    connect(m_prev, &QPushButton::clicked, this, [this] {
        if (m_page > 0) --m_page;
        fillPage();
    });
    connect(m_next, &QPushButton::clicked, this, [this] {
        ++m_page;
        fillPage();
    });
    if (m_file->Open(facePath)) {
        host->setText(QStringLiteral("Host name: %1").arg(fromRecorder(m_file->HostName())));
        board->setText(QStringLiteral("Board name: %1").arg(fromRecorder(m_file->BoardName())));
        camera->setText(QStringLiteral("Camera name: %1").arg(fromRecorder(m_file->CameraName())));
        fillPage();
    } else {
        for (CFacePicWnd* cell : m_cells) cell->hide();
    }
}

CFaceDlg::~CFaceDlg() = default;

void CFaceDlg::fillPage() {
    const FacePage page = facePage(m_page, uint32_t(m_cells.size()), m_file->PictureCount());
    m_next->setEnabled(page.next);
    m_prev->setEnabled(page.previous);
    for (size_t k = 0; k < m_cells.size(); ++k) {
        std::vector<uint8_t> grey;
        uint32_t time = 0, width = 0, height = 0;
        if (k < page.count &&
            m_file->ReadPicture(grey, time, width, height, int32_t(page.first + k))) {
            m_times[k]->setText(formatTime(time, "%y%m%d %H:%M:%S"));
            const FaceIdentity face{m_file->BoardName(), m_file->CameraName(),
                                    m_file->BoardNumber(), m_file->CameraNumber(), time};
            m_cells[k]->setFace(std::move(grey), width, height, face, m_file->HostName(), m_path);
            m_cells[k]->show();
            m_times[k]->show();
        } else {
            m_cells[k]->clearFace();
            m_cells[k]->hide();
            m_times[k]->clear();
        }
    }
}

void CFaceDlg::videoOf(CFacePicWnd& cell) {
    const std::optional<std::string> found =
        FindFaceVideo(faceVideoFolder(cell.facePath()), cell.face());
    if (!found) {
        QMessageBox::warning(this, QStringLiteral("Face"),
                             QStringLiteral("Can not find video files !"));
        return;
    }
    if (m_openVideo) m_openVideo(*found, cell.face().time);
}

void CFaceDlg::printFace(CFacePicWnd& cell) {
    if (!cell.hasFace()) return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    if (dialog.exec() != QDialog::Accepted) return;
    QPainter painter;
    if (!painter.begin(&printer)) return;  // the job could not start: nothing to say
    // Units of 0.1 mm from the printable area's corner.
    painter.scale(printer.logicalDpiX() / 254.0, printer.logicalDpiY() / 254.0);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(35);  // 10 points
    painter.setFont(font);
    const FaceIdentity& face = cell.face();
    painter.drawText(200, 200, fromRecorder(cell.host()));
    painter.drawText(200, 250, fromRecorder(face.boardName));
    painter.drawText(200, 300, fromRecorder(face.cameraName));
    painter.drawText(200, 350, formatTime(face.time, "%Y/%m/%d %H:%M:%S"));
    const int width = int(600LL * cell.pictureWidth() / std::max(cell.pictureHeight(), 1u));
    painter.drawImage(QRect(200, 450, width, 600),
                      greyImage(cell.grey(), cell.pictureWidth(), cell.pictureHeight()));
    painter.end();
}

void CFaceDlg::saveFace(CFacePicWnd& cell) {
    if (!cell.hasFace()) return;
    // A new name is accepted as well as an existing one; ".BMP" is added to a bare name.
    QFileDialog dialog(this, QStringLiteral("File to save as"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("BMP file(*.BMP *.bmp)"));
    dialog.setDefaultSuffix(QStringLiteral("BMP"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const std::string path = dialog.selectedFiles().first().toStdString();
    if (!writeFaceBitmap(path, cell.grey(), cell.pictureWidth(), cell.pictureHeight()))
        QMessageBox::warning(this, QStringLiteral("Face"),
                             QStringLiteral("The face could not be saved to \"%1\".")
                                 .arg(QString::fromStdString(path)));
}

}  // namespace kx
