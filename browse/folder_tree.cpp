// Top-level places from the home folder and the mount table, sub-folder listing and ordering, and
// the walk down to a folder, on POSIX directory calls.
#include "browse/folder_tree.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kx {
namespace {

// Closes a directory stream on every way out.
class DirectoryStream {
public:
    explicit DirectoryStream(const std::string& folder) : m_dir(::opendir(folder.c_str())) {}
    ~DirectoryStream() {
        if (m_dir) ::closedir(m_dir);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;

    explicit operator bool() const { return m_dir != nullptr; }
    // The next entry other than "." and "..", or null at the end.
    const dirent* next() {
        while (const dirent* entry = ::readdir(m_dir)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") return entry;
        }
        return nullptr;
    }
    // Whether the entry is a folder, following a symbolic link; the entry type is trusted when the
    // file system gives one.
    bool isFolder(const dirent& entry) const {
        if (entry.d_type == DT_DIR) return true;
        if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return false;
        struct stat info {};
        return ::fstatat(::dirfd(m_dir), entry.d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }

private:
    DIR* m_dir;
};

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A field of the mount table with its octal escapes (\040 for a space, ...) decoded.
std::string unescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
            if (isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
                const int value =
                    (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
                if (value > 0 && value < 256) {
                    out.push_back(static_cast<char>(value));
                    i += 3;
                    continue;
                }
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

bool isNetworkFileSystem(std::string_view type) {
    static constexpr std::array<std::string_view, 9> kNetworkTypes = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "9p", "afs"};
    return std::find(kNetworkTypes.begin(), kNetworkTypes.end(), type) != kNetworkTypes.end();
}

// Whether `path` lies strictly below one of the folders where media and shares are mounted.
bool isMediaMountPoint(std::string_view path) {
    static constexpr std::array<std::string_view, 3> kMediaFolders = {"/media/", "/run/media/",
                                                                      "/mnt/"};
    for (const std::string_view folder : kMediaFolders) {
        if (path.size() > folder.size() && path.substr(0, folder.size()) == folder) return true;
    }
    return false;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) return user->pw_dir;
    return {};
}

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool lessIgnoringCase(const std::string& left, const std::string& right) {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char a, char b) {
                                            return static_cast<unsigned char>(foldAscii(a)) <
                                                   static_cast<unsigned char>(foldAscii(b));
                                        });
}

// Whether `root` is `path` itself or a folder above it.
bool isPrefixFolder(const std::string& root, const std::string& path) {
    if (root == "/") return true;
    return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || path[root.size()] == '/');
}

}  // namespace

std::vector<TreeRoot> treeRootsFrom(const std::string& home, std::string_view mountTable) {
    std::vector<TreeRoot> roots;
    const std::string homePath = withoutTrailingSlashes(home);
    if (!homePath.empty() && homePath.front() == '/' && homePath != "/") {
        roots.push_back({std::string(kHomeRootName), homePath, TreeRoot::Kind::Home});
    }
    roots.push_back({std::string(kFileSystemRootName), "/", TreeRoot::Kind::FileSystem});

    std::istringstream lines{std::string(mountTable)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        const std::string path = withoutTrailingSlashes(unescapeMountField(mountPoint));
        if (!isMediaMountPoint(path)) continue;
        const bool known = std::any_of(roots.begin(), roots.end(),
                                       [&](const TreeRoot& root) { return root.path == path; });
        if (known) continue;
        roots.push_back(
            {path.substr(path.rfind('/') + 1), path,
             isNetworkFileSystem(type) ? TreeRoot::Kind::Network : TreeRoot::Kind::Removable});
    }
    return roots;
}

std::vector<TreeRoot> systemTreeRoots() {
    std::ifstream file("/proc/self/mounts");
    std::ostringstream table;
    table << file.rdbuf();
    return treeRootsFrom(homeFolder(), table.str());
}

bool HasSubItems(const std::string& folder) {
    DirectoryStream directory(folder);
    if (!directory) return false;
    while (const dirent* entry = directory.next()) {
        if (directory.isFolder(*entry)) return true;
    }
    return false;
}

std::vector<std::string> subFolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DirectoryStream directory(folder);
    if (!directory) return names;
    while (const dirent* entry = directory.next()) {
        if (directory.isFolder(*entry)) names.emplace_back(entry->d_name);
    }
    sortFolderNames(names);
    return names;
}

void sortFolderNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), lessIgnoringCase);
}

std::string childPath(const std::string& parent, const std::string& name) {
    if (!parent.empty() && parent.back() == '/') return parent + name;
    return parent + '/' + name;
}

std::optional<std::size_t> rootForPath(const std::vector<TreeRoot>& roots,
                                       const std::string& path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    const std::string folder = withoutTrailingSlashes(path);
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        const std::string& rootPath = roots[i].path;
        if (!isPrefixFolder(rootPath, folder)) continue;
        if (!best || rootPath.size() > roots[*best].path.size()) best = i;
    }
    return best;
}

FolderWalk walkFolderTree(const std::vector<TreeRoot>& roots, const std::string& path) {
    FolderWalk walk;
    walk.root = rootForPath(roots, path);
    if (!walk.root) return walk;
    const std::string& rootPath = roots[*walk.root].path;
    const std::string folder = withoutTrailingSlashes(path);
    const std::string rest = rootPath == "/" ? folder.substr(1) : folder.substr(rootPath.size());

    std::string current = rootPath;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        const std::string component = rest.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        const std::vector<std::string> names = subFolderNames(current);
        if (std::find(names.begin(), names.end(), component) == names.end()) return walk;
        walk.names.push_back(component);
        current = childPath(current, component);
    }
    walk.complete = true;
    return walk;
}

}  // namespace kx
