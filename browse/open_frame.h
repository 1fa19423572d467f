// COpenFrame: the two panes of the Open window side by side in a splitter, the folder tree
// (180 pixels wide at start) and the recording list, joined so that a chosen folder fills the
// list and a chosen row fills the window's path field.
#pragma once

#include <QWidget>
#include <string>

class QSplitter;

namespace kx {

class BrowseFrameTarget;
class CHostTreeView;
class CVideoListView;

class COpenFrame : public QWidget {
public:
    static constexpr int kTreeWidth = 180;

    // `window` receives the clicked rows' paths; the tree opens at `currentFolder` (the folder of
    // the last file opened; empty: nothing expanded).
    COpenFrame(BrowseFrameTarget& window, const std::string& currentFolder,
               QWidget* parent = nullptr);

    CHostTreeView* tree() const { return m_tree; }
    CVideoListView* list() const { return m_list; }
    QSplitter* splitter() const { return m_splitter; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QSplitter* m_splitter = nullptr;
    bool m_sized = false;  // the tree has been given its start width
    CHostTreeView* m_tree = nullptr;
    CVideoListView* m_list = nullptr;
};

}  // namespace kx
