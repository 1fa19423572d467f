// The folder tree on Qt's offscreen platform over a temporary folder structure: placeholders,
// loading a level on expansion and discarding it on collapse, the walk to a folder, and what the
// recording list is told when a folder is selected.
#include "browse/host_tree_view.h"

#include <gtest/gtest.h>

#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "browse/browse_targets.h"
#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class RecordingList : public FolderListTarget {
public:
    void ShowFolder(const std::string& folder) override { shown.push_back(folder); }
    std::vector<std::string> shown;
};

// The texts of an item's children; a placeholder shows as "".
std::vector<std::string> childTexts(const QTreeWidgetItem* item) {
    std::vector<std::string> texts;
    for (int i = 0; i < item->childCount(); ++i)
        texts.push_back(item->child(i)->text(0).toStdString());
    return texts;
}

bool hasOnlyPlaceholder(const QTreeWidgetItem* item) {
    return item->childCount() == 1 && CHostTreeView::isPlaceholder(item->child(0)) &&
           item->child(0)->text(0).isEmpty();
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* item, const QString& name) {
    for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->text(0) == name) return item->child(i);
    }
    return nullptr;
}

class HostTreeViewTest : public testing::Test {
protected:
    HostTreeViewTest() {
        std::string pattern = (fs::temp_directory_path() / "kx_host_tree_XXXXXX").string();
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        for (const char* folder : {"home/Video/day1/cam1", "home/Video/Day2", "home/Video/files",
                                   "home/Video/.hidden/x", "home/Empty", "media/USB"}) {
            fs::create_directories(base / folder);
        }
        std::ofstream(base / "home/Video/files/a.kx") << "x";
        std::ofstream(base / "home/notes.txt") << "x";
        home = (base / "home").string();
        tree.SetRoots({{"Home", home, TreeRoot::Kind::Home},
                       {"USB", (base / "media/USB").string(), TreeRoot::Kind::Removable}});
        tree.SetListView(&list);
        tree.resize(300, 400);
    }
    ~HostTreeViewTest() override {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }

    QTreeWidgetItem* homeItem() { return tree.topLevelItem(0); }
    QTreeWidgetItem* videoItem() { return childNamed(homeItem(), "Video"); }

    QApplication& app = test::widgetApplication();  // made before the tree
    fs::path base;
    std::string home;
    RecordingList list;
    CHostTreeView tree;
};

TEST_F(HostTreeViewTest, TopLevelPlacesWithPlaceholdersAndNothingSelected) {
    tree.PopulateTree("");
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(homeItem()->text(0), "Home");
    EXPECT_EQ(tree.topLevelItem(1)->text(0), "USB");
    EXPECT_TRUE(hasOnlyPlaceholder(homeItem()));
    EXPECT_FALSE(homeItem()->isExpanded());
    // A medium with no folders on it has no expand button.
    EXPECT_EQ(tree.topLevelItem(1)->childCount(), 0);
    EXPECT_TRUE(tree.selectedItems().isEmpty());
    EXPECT_TRUE(list.shown.empty());

    EXPECT_EQ(tree.ItemPath(homeItem()), home);
    EXPECT_EQ(tree.ItemPath(homeItem()->child(0)), "");
    EXPECT_EQ(tree.ItemPath(nullptr), "");
    EXPECT_EQ(tree.accessibleName(), "Folders");
    EXPECT_FALSE(homeItem()->icon(0).isNull());
}

TEST_F(HostTreeViewTest, ExpandLoadsOneLevelAndCollapseDiscardsIt) {
    tree.PopulateTree("");
    homeItem()->setExpanded(true);
    // Folders only, in order; notes.txt is not shown.
    EXPECT_EQ(childTexts(homeItem()), (std::vector<std::string>{"Empty", "Video"}));
    EXPECT_EQ(childNamed(homeItem(), "Empty")->childCount(), 0);
    ASSERT_NE(videoItem(), nullptr);
    EXPECT_TRUE(hasOnlyPlaceholder(videoItem()));
    EXPECT_FALSE(videoItem()->icon(0).isNull());

    videoItem()->setExpanded(true);
    EXPECT_EQ(childTexts(videoItem()),
              (std::vector<std::string>{".hidden", "day1", "Day2", "files"}));
    QTreeWidgetItem* files = childNamed(videoItem(), "files");
    EXPECT_EQ(files->childCount(), 0);
    EXPECT_EQ(files->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    EXPECT_TRUE(hasOnlyPlaceholder(childNamed(videoItem(), "day1")));
    EXPECT_TRUE(hasOnlyPlaceholder(childNamed(videoItem(), ".hidden")));
    EXPECT_EQ(tree.ItemPath(childNamed(videoItem(), "day1")), home + "/Video/day1");

    videoItem()->setExpanded(false);
    EXPECT_TRUE(hasOnlyPlaceholder(videoItem()));

    // The next expansion reads the disk again.
    fs::create_directory(base / "home/Video/Audit");
    fs::remove(base / "home/Video/Day2");
    videoItem()->setExpanded(true);
    EXPECT_EQ(childTexts(videoItem()),
              (std::vector<std::string>{".hidden", "Audit", "day1", "files"}));
    EXPECT_TRUE(list.shown.empty());
}

TEST_F(HostTreeViewTest, FolderGoneBeforeExpansionExpandsToNothing) {
    tree.PopulateTree("");
    homeItem()->setExpanded(true);
    fs::remove_all(base / "home/Video");
    videoItem()->setExpanded(true);
    EXPECT_EQ(videoItem()->childCount(), 0);
}

TEST_F(HostTreeViewTest, PopulateTreeExpandsDownToTheFolderAndSelectsIt) {
    struct Case {
        std::string folder;
        QString selected;  // empty: nothing selected
        std::vector<std::string> expanded;
    };
    const Case cases[] = {
        {home + "/Video/day1/", "day1", {"Home", "Video", "day1"}},
        {home + "/Video/Day2", "Day2", {"Home", "Video", "Day2"}},
        {home, "Home", {"Home"}},
        // Names are case-sensitive: the walk stops where a component matches nothing.
        {home + "/video/day1/", "", {"Home"}},
        {home + "/Video/Day1/", "", {"Home", "Video"}},
        {"/elsewhere/entirely/", "", {}},
    };
    for (const Case& c : cases) {
        tree.PopulateTree("");
        list.shown.clear();
        tree.PopulateTree(c.folder);
        std::vector<std::string> expanded;
        for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
            if ((*it)->isExpanded()) expanded.push_back((*it)->text(0).toStdString());
        }
        EXPECT_EQ(expanded, c.expanded) << c.folder;
        const QList<QTreeWidgetItem*> selected = tree.selectedItems();
        if (c.selected.isEmpty()) {
            EXPECT_TRUE(selected.isEmpty()) << c.folder;
            EXPECT_TRUE(list.shown.empty()) << c.folder;
        } else {
            ASSERT_EQ(selected.size(), 1) << c.folder;
            EXPECT_EQ(selected[0]->text(0), c.selected) << c.folder;
            EXPECT_EQ(tree.currentItem(), selected[0]) << c.folder;
            std::string path = c.folder;
            if (path.back() != '/') path += '/';
            EXPECT_EQ(list.shown, std::vector<std::string>{path}) << c.folder;
        }
    }

    // Rebuilding onto a folder that is not reached empties the list that showed the old one.
    tree.PopulateTree(home + "/Video/");
    list.shown.clear();
    tree.PopulateTree(home + "/Missing/");
    EXPECT_EQ(list.shown, std::vector<std::string>{""});
}

TEST_F(HostTreeViewTest, SelectingAndCollapsingTellTheList) {
    tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tree));
    tree.PopulateTree(home + "/Video/day1");
    list.shown.clear();

    // Left collapses the selected folder (its level is discarded), a second Left selects Video.
    tree.setFocus();
    QTreeWidgetItem* day1 = childNamed(videoItem(), "day1");
    ASSERT_TRUE(day1->isExpanded());
    QTest::keyClick(tree.viewport(), Qt::Key_Left);
    EXPECT_FALSE(day1->isExpanded());
    EXPECT_TRUE(hasOnlyPlaceholder(day1));
    EXPECT_TRUE(list.shown.empty());
    QTest::keyClick(tree.viewport(), Qt::Key_Left);
    ASSERT_EQ(tree.currentItem(), videoItem());
    EXPECT_EQ(list.shown, std::vector<std::string>{home + "/Video/"});

    // A click on a folder selects it.
    QTreeWidgetItem* day2 = childNamed(videoItem(), "Day2");
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(day2).center());
    EXPECT_EQ(tree.currentItem(), day2);
    EXPECT_EQ(list.shown.back(), home + "/Video/Day2/");

    // Collapsing Home discards the level holding the selection; Home is selected instead.
    list.shown.clear();
    homeItem()->setExpanded(false);
    EXPECT_TRUE(hasOnlyPlaceholder(homeItem()));
    EXPECT_EQ(tree.currentItem(), homeItem());
    EXPECT_EQ(list.shown, std::vector<std::string>{home + "/"});

    // The keyboard expands a folder as the mouse does.
    QTest::keyClick(tree.viewport(), Qt::Key_Right);
    EXPECT_TRUE(homeItem()->isExpanded());
    EXPECT_EQ(childTexts(homeItem()), (std::vector<std::string>{"Empty", "Video"}));
}

TEST_F(HostTreeViewTest, FileSystemRootKeepsItsSlash) {
    tree.SetRoots({{"File System", "/", TreeRoot::Kind::FileSystem}});
    tree.PopulateTree("/");
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(tree.ItemPath(tree.topLevelItem(0)), "/");
    EXPECT_EQ(list.shown, std::vector<std::string>{"/"});

    // A path below "/" walks down through the temporary folders to the one asked for.
    list.shown.clear();
    tree.PopulateTree(home + "/Video/");
    ASSERT_EQ(tree.selectedItems().size(), 1);
    EXPECT_EQ(tree.ItemPath(tree.selectedItems()[0]), home + "/Video");
    EXPECT_EQ(list.shown, std::vector<std::string>{home + "/Video/"});
}

}  // namespace
}  // namespace kx
