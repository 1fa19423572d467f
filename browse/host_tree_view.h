// CHostTreeView: the Open window's folder tree. Top-level places (home, the file system, mounted
// media), folders below them loaded one level at a time as the user expands them; selecting a
// folder shows it in the recording list. Folders only, never files. User-interface thread only.
#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <optional>
#include <string>
#include <vector>

#include "browse/folder_tree.h"

namespace kx {

class FolderListTarget;

class CHostTreeView : public QTreeWidget {
public:
    // The tree starts empty; PopulateTree fills it.
    explicit CHostTreeView(QWidget* parent = nullptr);

    // The list to fill when a folder is selected; may be null (then selection only selects).
    void SetListView(FolderListTarget* list);

    // Uses `roots` as the top-level places from now on instead of reading this machine's home
    // folder and mount table at each PopulateTree.
    void SetRoots(std::vector<TreeRoot> roots);

    // Rebuilds the tree from disk, expands it down to `folder` (with or without a trailing '/';
    // empty: nothing expanded) and selects it. Where a component of `folder` has no matching
    // sub-folder the walk stops there, that part stays expanded and nothing is selected.
    void PopulateTree(const std::string& folder);

    // The absolute path of a root or folder item, without a trailing '/' ("/" for the file
    // system root); empty for null or a placeholder.
    std::string ItemPath(const QTreeWidgetItem* item) const;

    // Whether `item` is the empty stand-in child that gives an unread folder its expand button.
    static bool isPlaceholder(const QTreeWidgetItem* item);

private:
    void onItemExpanded(QTreeWidgetItem* item);
    void onItemCollapsed(QTreeWidgetItem* item);
    void onSelectionChanged();
    QTreeWidgetItem* selectedFolder() const;

    QTreeWidgetItem* makeFolderItem(const std::string& name, const std::string& path) const;
    static void addPlaceholder(QTreeWidgetItem* item);
    static void removeChildren(QTreeWidgetItem* item);
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* item, const std::string& name);
    QIcon rootIcon(TreeRoot::Kind kind) const;

    FolderListTarget* m_list = nullptr;
    bool m_populating = false;
    std::optional<std::vector<TreeRoot>> m_fixedRoots;
    QIcon m_folderIcon;
    QIcon m_homeIcon;
    QIcon m_driveIcon;
    QIcon m_removableIcon;
    QIcon m_networkIcon;
};

}  // namespace kx
