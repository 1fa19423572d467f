// The folder tree widget: items from the folder reading of folder_tree.h, a placeholder child
// under every unread folder that has sub-folders, icons from the desktop's theme or drawn here.
#include "browse/host_tree_view.h"

#include <QApplication>
#include <QByteArray>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "browse/browse_targets.h"

namespace kx {
namespace {

// An item's name on disk (a folder) or its path (a top-level place), as raw bytes: a name that is
// not valid UTF-8 still gives the path that opens it. A placeholder has none.
constexpr int kDiskNameRole = Qt::UserRole;

constexpr int kIconSizes[] = {16, 22, 24, 32};

std::string diskName(const QTreeWidgetItem* item) {
    const QByteArray bytes = item->data(0, kDiskNameRole).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray toBytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// A picture drawn at every size the tree may ask for.
template <class Draw>
QIcon drawnIcon(Draw draw) {
    QIcon icon;
    for (const int size : kIconSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void drawFolder(QPainter& painter, bool open) {
    const QColor edge(0x9A, 0x6B, 0x12);
    painter.setPen(QPen(edge, 0.8));
    painter.setBrush(QColor(0xE0, 0xA8, 0x3A));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(14.5, 5);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    painter.drawPath(back);
    painter.setBrush(QColor(0xF5, 0xC8, 0x5C));
    if (open) {
        painter.drawPolygon(QPolygonF({{3.5, 7}, {15.5, 7}, {13.5, 13.5}, {1.5, 13.5}}));
    } else {
        painter.drawRect(QRectF(1.5, 6.5, 13, 7));
    }
}

void drawDrive(QPainter& painter, QColor body, QColor light) {
    painter.setPen(QPen(body.darker(160), 0.8));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(1.5, 5.5, 13, 6), 1.5, 1.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawEllipse(QPointF(12, 8.5), 1, 1);
}

void drawHome(QPainter& painter) {
    painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 0.8));
    painter.setBrush(QColor(0xF0, 0xF0, 0xF0));
    painter.drawPolygon(
        QPolygonF({{8, 2}, {15, 8.5}, {13, 8.5}, {13, 14.5}, {3, 14.5}, {3, 8.5}, {1, 8.5}}));
    painter.setBrush(QColor(0x4A, 0x78, 0xB5));
    painter.drawRect(QRectF(6.5, 10, 3, 4.5));
}

// The theme's icon of that name, or the first of the other names the theme has, or the drawing.
template <class Draw>
QIcon themeIcon(std::initializer_list<const char*> names, Draw draw) {
    for (const char* name : names) {
        if (QIcon::hasThemeIcon(QString::fromLatin1(name))) {
            return QIcon::fromTheme(QString::fromLatin1(name));
        }
    }
    return drawnIcon(draw);
}

// The folder picture, shown open while the item is selected.
QIcon folderIcon() {
    const QIcon closed = themeIcon({"folder"}, [](QPainter& p) { drawFolder(p, false); });
    const QIcon open = themeIcon({"folder-open"}, [](QPainter& p) { drawFolder(p, true); });
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addPixmap(closed.pixmap(size), QIcon::Normal);
        icon.addPixmap(open.pixmap(size), QIcon::Selected);
    }
    return icon;
}

}  // namespace

CHostTreeView::CHostTreeView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("hostTree"));
    setAccessibleName(QStringLiteral("Folders"));
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One column as wide as its longest name, so long names scroll sideways instead of eliding.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    m_folderIcon = folderIcon();
    m_homeIcon = themeIcon({"user-home"}, drawHome);
    m_driveIcon = themeIcon({"drive-harddisk"}, [](QPainter& p) {
        drawDrive(p, QColor(0xB8, 0xB8, 0xB8), QColor(0x3C, 0xB0, 0x3C));
    });
    m_removableIcon = themeIcon({"drive-removable-media"}, [](QPainter& p) {
        drawDrive(p, QColor(0x7A, 0x9C, 0xC8), QColor(0xF0, 0xC0, 0x30));
    });
    m_networkIcon = themeIcon(
        {"folder-remote", "network-server", "drive-removable-media"},
        [](QPainter& p) { drawDrive(p, QColor(0x8C, 0xB8, 0x8C), QColor(0x30, 0x70, 0xE0)); });

    connect(this, &QTreeWidget::itemExpanded, this, &CHostTreeView::onItemExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &CHostTreeView::onItemCollapsed);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CHostTreeView::onSelectionChanged);
}

void CHostTreeView::SetListView(FolderListTarget* list) {
    m_list = list;
}

void CHostTreeView::SetRoots(std::vector<TreeRoot> roots) {
    m_fixedRoots = std::move(roots);
}

void CHostTreeView::PopulateTree(const std::string& folder) {
    const bool hadSelection = selectedFolder() != nullptr;
    const std::vector<TreeRoot> roots = m_fixedRoots ? *m_fixedRoots : systemTreeRoots();
    // The list hears only where the rebuilt tree ends up, not the steps on the way.
    m_populating = true;
    clear();
    for (const TreeRoot& root : roots) {
        auto* item = new QTreeWidgetItem({QString::fromStdString(root.name)});
        item->setData(0, kDiskNameRole, toBytes(root.path));
        item->setIcon(0, rootIcon(root.kind));
        item->setToolTip(0, QString::fromStdString(root.path));
        if (HasSubItems(root.path)) addPlaceholder(item);
        addTopLevelItem(item);
    }

    QTreeWidgetItem* target = nullptr;
    if (!folder.empty()) {
        const FolderWalk walk = walkFolderTree(roots, folder);
        QTreeWidgetItem* item = walk.root ? topLevelItem(static_cast<int>(*walk.root)) : nullptr;
        if (item) item->setExpanded(true);
        for (const std::string& name : walk.names) {
            item = item ? childNamed(item, name) : nullptr;
            if (item) item->setExpanded(true);
        }
        if (walk.complete) target = item;
    }
    if (target) {
        setCurrentItem(target);
        scrollToItem(target);
    }
    m_populating = false;
    if (target || hadSelection) onSelectionChanged();
}

std::string CHostTreeView::ItemPath(const QTreeWidgetItem* item) const {
    if (!item || isPlaceholder(item)) return {};
    std::vector<std::string> names;
    while (item->parent()) {
        names.push_back(diskName(item));
        item = item->parent();
    }
    std::string path = diskName(item);
    for (auto name = names.rbegin(); name != names.rend(); ++name) path = childPath(path, *name);
    return path;
}

bool CHostTreeView::isPlaceholder(const QTreeWidgetItem* item) {
    return item && !item->data(0, kDiskNameRole).isValid();
}

void CHostTreeView::onItemExpanded(QTreeWidgetItem* item) {
    if (isPlaceholder(item)) return;
    const std::string path = ItemPath(item);
    const std::vector<std::string> names = subFolderNames(path);
    QList<QTreeWidgetItem*> children;
    children.reserve(static_cast<qsizetype>(names.size()));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const std::string& name : names) {
        QTreeWidgetItem* child = makeFolderItem(name, childPath(path, name));
        children.append(child);
    }
    setUpdatesEnabled(false);
    removeChildren(item);
    item->addChildren(children);
    setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();
}

void CHostTreeView::onItemCollapsed(QTreeWidgetItem* item) {
    if (isPlaceholder(item)) return;
    // A selected folder inside the level being discarded hands the selection to this item.
    for (QTreeWidgetItem* selected = selectedFolder(); selected; selected = selected->parent()) {
        if (selected->parent() == item) {
            setCurrentItem(item);
            break;
        }
    }
    removeChildren(item);
    addPlaceholder(item);
}

void CHostTreeView::onSelectionChanged() {
    if (m_populating || !m_list) return;
    std::string path = ItemPath(selectedFolder());
    if (!path.empty() && path.back() != '/') path += '/';
    m_list->ShowFolder(path);
}

QTreeWidgetItem* CHostTreeView::selectedFolder() const {
    const QList<QTreeWidgetItem*> items = selectedItems();
    return items.isEmpty() || isPlaceholder(items.front()) ? nullptr : items.front();
}

QTreeWidgetItem* CHostTreeView::makeFolderItem(const std::string& name,
                                               const std::string& path) const {
    auto* item = new QTreeWidgetItem({QString::fromStdString(name)});
    item->setData(0, kDiskNameRole, toBytes(name));
    item->setIcon(0, m_folderIcon);
    if (HasSubItems(path)) addPlaceholder(item);
    return item;
}

void CHostTreeView::addPlaceholder(QTreeWidgetItem* item) {
    auto* placeholder = new QTreeWidgetItem(item);
    placeholder->setFlags(Qt::NoItemFlags);
}

void CHostTreeView::removeChildren(QTreeWidgetItem* item) {
    qDeleteAll(item->takeChildren());
}

QTreeWidgetItem* CHostTreeView::childNamed(QTreeWidgetItem* item, const std::string& name) {
    const QByteArray wanted = toBytes(name);
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (!isPlaceholder(child) && child->data(0, kDiskNameRole).toByteArray() == wanted) {
            return child;
        }
    }
    return nullptr;
}

QIcon CHostTreeView::rootIcon(TreeRoot::Kind kind) const {
    switch (kind) {
        case TreeRoot::Kind::Home:
            return m_homeIcon;
        case TreeRoot::Kind::FileSystem:
            return m_driveIcon;
        case TreeRoot::Kind::Removable:
            return m_removableIcon;
        case TreeRoot::Kind::Network:
            return m_networkIcon;
    }
    return m_driveIcon;
}

}  // namespace kx
