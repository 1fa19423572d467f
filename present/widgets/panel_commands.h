// PanelCommands: where the control panel's buttons, slider and keys go. The application joins
// it to the document and the main frame; the panel keeps no playback state of its own beyond
// the lit speed lamp, the expanded state and the slider's last position.
#pragma once

#include <cstdint>

namespace kx {

class PanelCommands {
public:
    virtual ~PanelCommands() = default;

    virtual void closeProgram() = 0;    // "Cancel" (2) and Esc on the panel
    virtual void open() = 0;            // 1003 "Open"
    virtual void stop() = 0;            // 1004 "Stop"
    virtual void playback() = 0;        // 1006 "Playback": 1 x, normal playing
    virtual void pause() = 0;           // 1005 "Pause": pause or resume
    virtual void stepPrev() = 0;        // 1008
    virtual void stepNext() = 0;        // 1009
    virtual void playPrev() = 0;        // 1007: previous group
    virtual void playNext() = 0;        // 1010: next group
    virtual void snapshot() = 0;        // 1015
    virtual bool markClipStart() = 0;   // 1011; true when marked
    virtual bool markClipEnd() = 0;     // 1012; true when marked
    virtual void saveClip() = 0;        // 1013
    virtual bool playClip() = 0;        // 1014; true when the clip opened
    virtual void zoomIn() = 0;          // 1019 (the main frame refuses while full screen)
    virtual void zoomOut() = 0;         // 1020
    virtual void fullScreen() = 0;      // 1018
    virtual void toggleCaption() = 0;   // 1016
    virtual void captionColour() = 0;   // 1017
    virtual void authenticate() = 0;    // 1177
    virtual void setSpeed(int level) = 0;  // 1057..1065: level -4 .. 4

    // The seek slider: the group under the thumb and the offset into it.
    virtual void sliderSeek(int32_t group, int32_t offset) = 0;
    // Motion search is suspended while the thumb is dragged or the wheel turns over the slider.
    virtual bool motionSuspended() const = 0;
    virtual void toggleMotionSuspend() = 0;
};

}  // namespace kx
