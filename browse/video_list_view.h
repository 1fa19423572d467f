// CVideoListView: the right pane of the Open window, one row per file of the folder chosen in
// the tree (file name, start and end time, board, camera, picture size, length, host). Rows are
// read on a worker thread and appear as they are read; a click on a heading sorts, a click on a
// row writes its path into the window, a double-click also opens it. User-interface thread only.
#pragma once

#include <QString>
#include <QTreeView>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "browse/browse_targets.h"
#include "browse/recording_list.h"

class QFontMetrics;

namespace kx {

class RecordingListModel;

class CVideoListView : public QTreeView, public FolderListTarget {
public:
    explicit CVideoListView(QWidget* parent = nullptr);
    ~CVideoListView() override;

    // The window that receives a clicked row's path; null: clicks only select.
    void SetBrowseFrame(BrowseFrameTarget* frame) { m_browseFrame = frame; }
    // Empties the list and reads `folder` (a '/' is added when missing); an empty path only
    // empties the list. A folder still being read is abandoned.
    void ShowFolder(const std::string& folder) override;
    // Deletes every row and stops the reading; the sort state stays.
    void ClearRows();
    // What a click on heading `column` does: changes the sort state and sorts the rows shown
    // and, until the list is cleared, the rows that arrive later.
    void SortByColumn(int column);
    // The zone shown after host names (the computer's, by default).
    void SetGmtOffsetHours(int32_t hours) { m_gmtOffsetHours = hours; }

    // The folder shown, ending in '/'.
    const std::string& Folder() const { return m_folder; }
    const ListSortState& SortState() const { return m_sortState; }
    // Whether the worker is still reading the folder shown.
    bool IsReading() const { return m_reading; }
    int RowCount() const;
    // Row `index` as shown (after sorting).
    const ListRow& RowAt(int index) const;
    // The path a click on row `index` writes into the window.
    std::string RowPath(int index) const;

private:
    void takeRows(uint64_t job, std::vector<ListRow>& rows);
    void widenColumns(const std::array<QString, kListColumnCount>& texts, const QFontMetrics& metrics);
    void rowChosen(const QModelIndex& index, bool accept);

    RecordingListModel* m_model = nullptr;
    std::unique_ptr<RecordingFolderReader> m_reader;
    BrowseFrameTarget* m_browseFrame = nullptr;
    std::string m_folder;
    ListSortState m_sortState;
    bool m_sorted = false;  // a heading was clicked since the list was last cleared
    bool m_reading = false;
    uint64_t m_job = 0;  // the reader's job for the folder shown; batches of others are dropped
    int32_t m_gmtOffsetHours = 0;
};

}  // namespace kx
