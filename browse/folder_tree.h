// The folders the Open window's tree shows, without any toolkit: the top-level places (home, the
// file system, mounted media and shares), the sub-folders of a folder in display order, and the
// walk from a top-level place down to a given folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// One top-level item of the tree.
struct TreeRoot {
    enum class Kind { Home, FileSystem, Removable, Network };

    std::string name;  // what the tree shows, e.g. "Home" or a medium's folder name
    std::string path;  // absolute, without a trailing '/' except for "/" itself
    Kind kind = Kind::FileSystem;

    bool operator==(const TreeRoot&) const = default;
};

inline constexpr std::string_view kHomeRootName = "Home";
inline constexpr std::string_view kFileSystemRootName = "File System";

// The top-level places in the order a user expects them: `home` (skipped when empty, not absolute
// or "/" itself), the file system "/", then each mount point strictly below /media, /run/media or
// /mnt found in `mountTable` (the text of /proc/self/mounts), in mount order, each once.
std::vector<TreeRoot> treeRootsFrom(const std::string& home, std::string_view mountTable);

// The same for this process: $HOME (or the password database) and /proc/self/mounts.
std::vector<TreeRoot> systemTreeRoots();

// Whether `folder` holds at least one sub-folder (hidden ones count, "." and ".." do not; a link
// to a folder counts as a folder). Reads only up to the first one; false when it cannot be read.
bool HasSubItems(const std::string& folder);

// The names of the sub-folders of `folder` in display order (see sortFolderNames); empty when it
// cannot be read.
std::vector<std::string> subFolderNames(const std::string& folder);

// Sorts names ignoring the case of ASCII letters; names that compare equal keep their order.
void sortFolderNames(std::vector<std::string>& names);

// `parent` + '/' + `name`, without doubling the separator after "/".
std::string childPath(const std::string& parent, const std::string& name);

// Where PopulateTree ends up for a folder path.
struct FolderWalk {
    std::optional<std::size_t> root;  // index of the root the walk starts from; none: no root
    std::vector<std::string> names;   // the sub-folders matched below that root, outermost first
    bool complete = false;            // every component matched: the last item is the folder
};

// The root whose path is the longest prefix of `path` (whole components only; the first of equal
// ones), or none for an empty or relative path.
std::optional<std::size_t> rootForPath(const std::vector<TreeRoot>& roots, const std::string& path);

// Walks from the root of `path` component by component, matching each against the sub-folder
// names on disk exactly (names are case-sensitive), and stops at the first that matches nothing.
// Empty and "." components are skipped.
FolderWalk walkFolderTree(const std::vector<TreeRoot>& roots, const std::string& path);

}  // namespace kx
