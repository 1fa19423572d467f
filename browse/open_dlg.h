// COpenDlg: the "Open" browse window, a modal, resizable dialog with a pane frame (the folder
// tree and the recording list go there) over a "File Path:" field and the Open and Cancel
// buttons. It returns the chosen path.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <string>

#include "browse/browse_targets.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kx {

constexpr int kOpenPathLabelId = 1041;
constexpr int kOpenPathEditId = 1040;
constexpr int kOpenButtonId = 1034;
constexpr int kOpenCancelId = 1037;

// Where the controls go in a client area of `client` size. The layout at start differs from the
// one after a resize by the edit's width and the buttons' position.
struct OpenDlgLayout {
    QRect label;
    QRect edit;
    QRect open;
    QRect cancel;
    QRect frame;
};
OpenDlgLayout openDlgInitialLayout();
OpenDlgLayout openDlgResizedLayout(QSize client);

// The top-left corner that centres a window of `window` size on a screen of `screen` geometry.
QPoint openDlgPosition(const QRect& screen, QSize window);

class COpenFrame;

class COpenDlg : public QDialog, public BrowseFrameTarget {
public:
    static constexpr int kClientWidth = 700;
    static constexpr int kClientHeight = 500;

    // The folder tree opens at `currentFolder` (the folder of the last file opened; empty:
    // nothing chosen) and the recording list shows its files.
    explicit COpenDlg(QWidget* parent = nullptr, const std::string& currentFolder = {});

    // The path taken from the field by the last Open (UTF-8).
    const std::string& GetFilePath() const { return m_filePath; }
    // Sets the path and shows it in the field (the recording list writes a clicked row's path).
    void SetFilePath(const std::string& path) override;
    // A double-click on a row: the Open button's work.
    void AcceptPath() override { accept(); }

    // Open: takes the field into the path and closes with OK. A field with no name in it is
    // not taken: there is nothing to open, so the dialog stays open.
    void accept() override;

    // The frame that holds the folder tree and the recording list, and the panes in it.
    QWidget* paneFrame() const;
    COpenFrame* panes() const { return m_panes; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place(const OpenDlgLayout& layout);

    std::string m_filePath;
    QLabel* m_label = nullptr;
    QLineEdit* m_edit = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_cancel = nullptr;
    QFrame* m_frame = nullptr;
    COpenFrame* m_panes = nullptr;
    bool m_laidOut = false;
    QSize m_laidOutSize;  // the client size the controls were last placed for
};

}  // namespace kx
