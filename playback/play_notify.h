// The messages of the play engines: WM_PLAY_NOTIFY with its codes (to the notify target) and
// the H/XH jump message of the main view. Identifiers keep their window-message values.
#pragma once

#include <cstdint>

namespace kx {

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_PLAY_NOTIFY = WM_USER + 107;
constexpr uint32_t WM_PLAY_JUMP = WM_USER + 109;

// wParam of WM_PLAY_NOTIFY.
enum PlayNotifyCode : uint32_t {
    kPlayEnded = 0,          // posted: end of recording, read failure or stop with notification
    kPlayPicture = 1,        // sent: lParam is the CPlayFrame whose picture is ready
    kPlayChannelOpened = 3,  // quad play: lParam is the channel
    kPlayMotion = 4,         // sent before code 1 while regions are set: lParam is the MotionBlock
    kPlayFrameLost = 5,      // handled by the main view
    kPlayVerifying = 6,      // sent instead of 1 and 4 during the integrity pass: lParam the frame
    kPlayIntegrityFailed = 7,  // sent during the integrity pass before code 6 (or code 0) for a
                               // frame whose picture does not decode or after which the next
                               // indexed frame cannot be read: lParam the frame
};

}  // namespace kx
