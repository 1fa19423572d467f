// The folder tree's reading of the disk on a temporary folder structure: the sub-folder test, the
// order of a level, the walk down to a folder, and the top-level places from a mount table.
#include "browse/folder_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace kx {
namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "kx_folder_tree_XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }
    fs::path folder(const std::string& relative) const {
        fs::create_directories(m_path / relative);
        return m_path / relative;
    }
    void file(const std::string& relative) const { std::ofstream(m_path / relative) << "x"; }

private:
    fs::path m_path;
};

TEST(FolderTreeTest, HasSubItemsLooksForAnySubFolder) {
    struct Case {
        const char* what;
        std::function<void(const TempFolder&)> make;
        bool expected;
    };
    const Case cases[] = {
        {"empty", [](const TempFolder&) {}, false},
        {"files only",
         [](const TempFolder& t) {
             t.file("a.kx");
             t.file("b.jpg");
         },
         false},
        {"only a hidden folder", [](const TempFolder& t) { t.folder(".hidden"); }, true},
        {"one folder among files",
         [](const TempFolder& t) {
             t.file("a.kx");
             t.folder("Day1");
         },
         true},
        {"a link to a folder",
         [](const TempFolder& t) {
             const fs::path target = t.folder("elsewhere/target");
             fs::create_directories(t.path() / "inside");
             fs::create_directory_symlink(target, t.path() / "inside/link");
         },
         true},
        {"a link to a file and a dangling link",
         [](const TempFolder& t) {
             fs::create_directories(t.path() / "inside");
             t.file("inside/real.kx");
             fs::create_symlink(t.path() / "inside/real.kx", t.path() / "inside/link.kx");
             fs::create_symlink(t.path() / "inside/gone", t.path() / "inside/dangling");
         },
         false},
    };
    for (const Case& c : cases) {
        const TempFolder temp;
        c.make(temp);
        // The link cases look inside "inside" so that the link target is not itself counted.
        const fs::path looked =
            fs::exists(temp.path() / "inside") ? temp.path() / "inside" : temp.path();
        EXPECT_EQ(HasSubItems(looked.string()), c.expected) << c.what;
        EXPECT_EQ(HasSubItems(looked.string() + "/"), c.expected) << c.what << " with '/'";
    }
    EXPECT_FALSE(HasSubItems("/nonexistent/kx/folder"));
    EXPECT_FALSE(HasSubItems(""));
}

TEST(FolderTreeTest, NamesSortIgnoringCaseAndTiesKeepTheirOrder) {
    struct Case {
        std::vector<std::string> in, out;
    };
    const Case cases[] = {
        {{"b", "A", "a"}, {"A", "a", "b"}},
        {{"b", "a", "A"}, {"a", "A", "b"}},
        {{"video", "Camera", "VIDEO", "audit", "Video"},
         {"audit", "Camera", "video", "VIDEO", "Video"}},
        {{"ABCD", "abc", "Abc2", "ab"}, {"ab", "abc", "Abc2", "ABCD"}},
        {{"zeta", "Zeta1", "ZETA"}, {"zeta", "ZETA", "Zeta1"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names = c.in;
        sortFolderNames(names);
        EXPECT_EQ(names, c.out);
    }

    // A level large enough that an unstable sort would reorder ties: the 64 case variants of
    // "camera" in a scrambled order, behind other names, come out together in that same order.
    std::vector<std::string> variants;
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned scrambled = (i * 37) % 64;
        std::string name = "camera";
        for (unsigned bit = 0; bit < 6; ++bit) {
            if (scrambled & (1u << bit)) name[bit] = static_cast<char>(name[bit] - 'a' + 'A');
        }
        variants.push_back(name);
    }
    std::vector<std::string> names = {"zone", "Alpha"};
    for (const std::string& variant : variants) {
        names.push_back(variant);
        names.push_back(variant + "_" + std::to_string(names.size()));
    }
    sortFolderNames(names);
    ASSERT_EQ(names.size(), 2 + 2 * variants.size());
    EXPECT_EQ(names.front(), "Alpha");
    EXPECT_EQ(names.back(), "zone");
    const std::vector<std::string> ties(names.begin() + 1, names.begin() + 1 + 64);
    EXPECT_EQ(ties, variants);
}

TEST(FolderTreeTest, SubFoldersOnDiskComeInOrderWithoutFiles) {
    const TempFolder temp;
    for (const char* name : {"b", "A", "a", "C", ".cache", "Video"}) temp.folder(name);
    temp.file("B.kx");
    temp.file("c.jpg");

    // Names that compare equal keep the order the directory lists them in.
    std::vector<std::string> listed;
    for (const auto& entry : fs::directory_iterator(temp.path())) {
        const std::string name = entry.path().filename().string();
        if (name == "A" || name == "a") listed.push_back(name);
    }
    ASSERT_EQ(listed.size(), 2u);
    const std::vector<std::string> expected = {".cache", listed[0], listed[1], "b", "C", "Video"};
    EXPECT_EQ(subFolderNames(temp.path().string()), expected);
    EXPECT_EQ(subFolderNames(temp.path().string() + "/"), expected);
    EXPECT_TRUE(subFolderNames((temp.path() / "missing").string()).empty());
    EXPECT_TRUE(subFolderNames((temp.path() / "B.kx").string()).empty());
}

TEST(FolderTreeTest, WalkMatchesNamesExactlyAndStopsAtTheFirstMiss) {
    const TempFolder temp;
    temp.folder("home/Video/day1");
    temp.folder("home/Video/Day2");
    temp.folder("homework/x");
    temp.file("home/Video/notes");
    const std::string home = (temp.path() / "home").string();
    const std::string base = temp.path().string();
    const std::vector<TreeRoot> roots = {{"Home", home, TreeRoot::Kind::Home},
                                         {"File System", "/", TreeRoot::Kind::FileSystem}};

    // A walk from "/" goes through the components of the temporary folder itself.
    std::vector<std::string> toBase;
    for (const auto& part : fs::path(base).relative_path()) toBase.push_back(part.string());
    auto plus = [](std::vector<std::string> names, std::vector<std::string> more) {
        names.insert(names.end(), more.begin(), more.end());
        return names;
    };

    struct Case {
        std::string path;
        std::optional<std::size_t> root;
        std::vector<std::string> names;
        bool complete;
    };
    const Case cases[] = {
        {home + "/Video/day1/", 0, {"Video", "day1"}, true},
        {home + "/Video/Day2", 0, {"Video", "Day2"}, true},
        {home + "//Video/./day1", 0, {"Video", "day1"}, true},
        {home, 0, {}, true},
        {home + "/", 0, {}, true},
        // Names are case-sensitive: a lower-cased path does not reach "Video".
        {home + "/video/day1/", 0, {}, false},
        {home + "/Video/Day1/", 0, {"Video"}, false},
        {home + "/Video/missing/day1", 0, {"Video"}, false},
        {home + "/Video/notes", 0, {"Video"}, false},
        {home + "/Video/../Video", 0, {"Video"}, false},
        // A folder that only starts like the home folder belongs to the file system root.
        {base + "/homework/x/", 1, plus(toBase, {"homework", "x"}), true},
        {"/", 1, {}, true},
        {"", std::nullopt, {}, false},
        {"relative/path/", std::nullopt, {}, false},
    };
    for (const Case& c : cases) {
        const FolderWalk walk = walkFolderTree(roots, c.path);
        EXPECT_EQ(walk.root, c.root) << c.path;
        EXPECT_EQ(walk.names, c.names) << c.path;
        EXPECT_EQ(walk.complete, c.complete) << c.path;
    }
}

TEST(FolderTreeTest, RootsAreHomeThenFileSystemThenMountedMedia) {
    const std::string mounts =
        "sysfs /sys sysfs rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n"
        "/dev/sdb1 /media/ann/USB\\040STICK vfat rw 0 0\n"
        "/dev/sdc1 /run/media/ann/CAM ext4 rw 0 0\n"
        "//server/video /mnt/share cifs rw 0 0\n"
        "tmpfs /mnt tmpfs rw 0 0\n"
        "/dev/sdd1 /media/ann/USB\\040STICK vfat rw 0 0\n"
        "/dev/sde1 /home/ann/mnt/disk ext4 rw 0 0\n"
        "/dev/sdf1 /mediaX/disk ext4 rw 0 0\n"
        "broken line\n";
    const std::vector<TreeRoot> expected = {
        {"Home", "/home/ann", TreeRoot::Kind::Home},
        {"File System", "/", TreeRoot::Kind::FileSystem},
        {"USB STICK", "/media/ann/USB STICK", TreeRoot::Kind::Removable},
        {"CAM", "/run/media/ann/CAM", TreeRoot::Kind::Removable},
        {"share", "/mnt/share", TreeRoot::Kind::Network},
    };
    EXPECT_EQ(treeRootsFrom("/home/ann/", mounts), expected);

    // No usable home folder: the file system comes first.
    for (const char* home : {"", "/", "relative"}) {
        const std::vector<TreeRoot> roots = treeRootsFrom(home, "");
        ASSERT_EQ(roots.size(), 1u) << home;
        EXPECT_EQ(roots[0].path, "/") << home;
    }

    // A path under a mounted medium belongs to the medium, one under home to home.
    const std::vector<TreeRoot> roots = treeRootsFrom("/home/ann", mounts);
    EXPECT_EQ(rootForPath(roots, "/media/ann/USB STICK/DCIM/"), 2u);
    EXPECT_EQ(rootForPath(roots, "/home/ann/Videos"), 0u);
    EXPECT_EQ(rootForPath(roots, "/home/anna"), 1u);
    EXPECT_EQ(rootForPath(roots, "/media/ann"), 1u);

    // This machine's own roots start the same way.
    const std::vector<TreeRoot> system = systemTreeRoots();
    ASSERT_FALSE(system.empty());
    EXPECT_EQ(system[system[0].kind == TreeRoot::Kind::Home ? 1 : 0].path, "/");
}

}  // namespace
}  // namespace kx
