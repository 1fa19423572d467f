// CFaceDlg: the "Face" window of a face file: a grid of face cells (CFacePicWnd) sized by the
// screen, each with its time below, the file's host, board and camera names, "Prev page" and
// "Next page". A cell's right-button menu prints the face, saves it as a BMP file or opens the
// recording at the face's moment (as a double-click does).
#pragma once

#include <QDialog>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "output/face_grid.h"

class QLabel;
class QPushButton;

namespace kx {

class CFacePictureFile;

class CFacePicWnd : public QWidget {
public:
    explicit CFacePicWnd(QWidget* parent);
    // The face: grey pixels top row first, its time and where it came from.
    void setFace(std::vector<uint8_t> grey, uint32_t width, uint32_t height, const FaceIdentity& face,
                 const std::string& host, const std::string& facePath);
    void clearFace();
    bool hasFace() const { return !m_grey.empty(); }
    const FaceIdentity& face() const { return m_face; }
    const std::vector<uint8_t>& grey() const { return m_grey; }
    uint32_t pictureWidth() const { return m_width; }
    uint32_t pictureHeight() const { return m_height; }
    const std::string& host() const { return m_host; }
    const std::string& facePath() const { return m_facePath; }

    std::function<void(CFacePicWnd&)> onVideo;
    std::function<void(CFacePicWnd&)> onPrint;
    std::function<void(CFacePicWnd&)> onSave;

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::vector<uint8_t> m_grey;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    FaceIdentity m_face;
    std::string m_host;
    std::string m_facePath;
};

class CFaceDlg : public QDialog {
public:
    // `openVideo` opens a recording at a wall time (the document's OpenRecording and GoToTime);
    // `screen` and `frame` size the grid.
    CFaceDlg(const std::string& facePath, const QSize& screen, const QSize& frame,
             std::function<void(const std::string& path, uint32_t time)> openVideo,
             QWidget* parent = nullptr);
    ~CFaceDlg() override;

    const FaceGrid& grid() const { return m_grid; }
    uint32_t currentPage() const { return m_page; }
    CFacePicWnd* cell(int index) const { return m_cells[size_t(index)]; }
    QLabel* timeLabel(int index) const { return m_times[size_t(index)]; }
    QPushButton* prevButton() const { return m_prev; }
    QPushButton* nextButton() const { return m_next; }

    // The cell's commands.
    void videoOf(CFacePicWnd& cell);
    void printFace(CFacePicWnd& cell);
    void saveFace(CFacePicWnd& cell);

private:
    void fillPage();

    std::string m_path;
    std::unique_ptr<CFacePictureFile> m_file;
    std::function<void(const std::string&, uint32_t)> m_openVideo;
    FaceGrid m_grid;
    uint32_t m_page = 0;
    std::vector<CFacePicWnd*> m_cells;
    std::vector<QLabel*> m_times;
    QPushButton* m_prev = nullptr;
    QPushButton* m_next = nullptr;
};

}  // namespace kx
