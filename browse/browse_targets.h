// How the Open window's panes talk to each other and to the window: the folder tree hands the
// selected folder to the recording list, and the list hands a clicked row's path to the window
// (and accepts it on a double-click). User-interface thread only.
#pragma once

#include <string>

namespace kx {

// The recording list as the folder tree sees it.
class FolderListTarget {
public:
    virtual ~FolderListTarget() = default;
    // Shows the contents of `folder` (a path ending in '/'); an empty path empties the list.
    virtual void ShowFolder(const std::string& folder) = 0;
};

// The Open window as the recording list sees it.
class BrowseFrameTarget {
public:
    virtual ~BrowseFrameTarget() = default;
    // Writes `path` into the window's path field.
    virtual void SetFilePath(const std::string& path) = 0;
    // What the Open button does: takes the field and closes the window with OK.
    virtual void AcceptPath() = 0;
};

}  // namespace kx
