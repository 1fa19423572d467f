// DocumentUi: what the document needs from the screen. The document calls it on the
// user-interface thread; the Qt implementation shows windows and dialogs, the tests record the
// calls. Modal calls return when the user has answered.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browse/quad_window.h"
#include "browse/search.h"

namespace kx {

// The motion-search settings of "Motion Search Setup".
struct MotionSettings {
    int32_t sensitivity = 5;      // 0 (only large changes) to 10 (any change)
    int32_t changedPictures = 3;  // consecutive changed pictures that make a detection
    bool pauseOnMotion = false;
    bool operator==(const MotionSettings&) const = default;
};

// A save-file dialog: its title, filter ("Bmp Files (*.bmp)|*.bmp||" form), the extension
// appended to a name typed without one (empty: none), and the proposed path (may be empty).
struct SaveRequest {
    std::string title;
    std::string filter;
    std::string defaultExtension;
    std::string proposedPath;
};

// What the panel's expanded strip shows of the frame on screen.
struct FrameReadout {
    uint32_t group = 0;
    uint32_t position = 0;
    uint32_t frameNumber = 0;  // running number from 0
    uint32_t totalFrames = 0;
    uint32_t tick = 0;
    std::string wallTime;  // "YYYY/MM/DD HH:MM:SS.mmm"
    int codec = 0;
    int kind = 0;       // 0 key picture
    bool hasVideo = true;
};

class DocumentUi {
public:
    virtual ~DocumentUi() = default;

    // Main window.
    virtual void setTitle(const std::string& title) = 0;
    // Resizes the main window so that its view is `width` x `height`; with `centre`, places it
    // as the first recording is placed (horizontally centred, its middle at 2/5 of the screen
    // height), otherwise keeps its top-left corner.
    virtual void fitViewTo(int width, int height, bool centre) = 0;

    // Messages and modal dialogs.
    virtual void showMessage(const std::string& title, const std::string& text) = 0;
    virtual std::optional<std::string> runOpenDialog() = 0;
    virtual std::optional<std::string> askSavePath(const SaveRequest& request) = 0;
    virtual bool runMotionSetup(MotionSettings& settings) = 0;
    virtual bool runCaptionSetup(uint32_t& captionSwitches) = 0;
    virtual bool chooseColour(uint32_t& colourBgr) = 0;
    // The "Face" window of a face file, modal.
    virtual void runFaceWindow(const std::string& path) = 0;
    // "Decode Err": "Frame has been tampered."
    virtual void showDecodeError() = 0;

    // The integrity check: the "Authenticating" progress window (false when it cannot be made),
    // its bar, and the two verdicts. With `offerReport` a verdict also offers to save the
    // check's report; true when the user asks for it.
    virtual bool openProgress(uint32_t total) = 0;
    virtual void setProgress(uint32_t position) = 0;
    virtual void closeProgress() = 0;
    virtual bool showAuthenticateOk(bool offerReport) = 0;
    virtual bool showAuthenticateErr(const std::string& time, bool offerReport) = 0;

    // The control panel.
    virtual bool panelExists() const = 0;
    virtual void createPanel() = 0;
    virtual void destroyPanel() = 0;
    // Range 0 .. total with a tick after each group (`ticks`, running sums of frame counts).
    virtual void setSliderRange(uint32_t total, const std::vector<uint32_t>& ticks) = 0;
    // No ticks, position 0.
    virtual void clearSlider() = 0;
    virtual void setSliderPosition(uint32_t position) = 0;
    // Whether the frame readout is on screen now: the document makes its texts only then.
    virtual bool frameReadoutShown() const = 0;
    virtual void showFrameReadout(const std::optional<FrameReadout>& readout) = 0;
    // Lights the lamp of speed level -4 .. 4 (keys change the level as the buttons do).
    virtual void showSpeedLevel(int level) = 0;

    // Search and quad play: the modal "Search" dialog on the criteria, whose Search button runs
    // `target`'s searches; and a new, hidden quad play window (null when it cannot be made).
    virtual void runSearchDialog(SearchCriteria& criteria, SearchTarget& target) = 0;
    virtual std::unique_ptr<QuadWindow> createQuadWindow(QuadHost& host) = 0;
};

}  // namespace kx
