// The quad play window as the document sees it, and what the window needs of the document. The
// document creates the window on demand (a quad search, a four-channel recording) and destroys it
// when the window's Close asks for it; no toolkit here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx {

class QuadWindow {
public:
    virtual ~QuadWindow() = default;
    // Each of the first pairs.size() panes searches its channel as the single search does and
    // opens the result at the moment; true (and the window shown) when any pane opened a file.
    virtual bool LoadChannels(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                              const std::string& dvrName, bool subfolders) = 0;
    // Every pane opens its channel of a four-channel recording; the window is shown.
    virtual bool LoadFourChannel(const std::string& path) = 0;
};

// The document's side: the zone the panes' names show, the main view for a clip that is not a
// four-channel one, and the end of the window.
class QuadHost {
public:
    virtual ~QuadHost() = default;
    virtual int32_t GmtOffsetHours() const = 0;
    virtual bool OpenRecording(const std::string& path, int option1 = 0, int option2 = 0) = 0;
    // Destroys the window; it may be called from the window's own Close button.
    virtual void CloseQuadWindow() = 0;
};

}  // namespace kx
