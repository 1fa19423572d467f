// What went wrong with the last frame the play engine could not show as it is: the fault, the
// frame it concerns and a short text, kept by CPlayWnd for the integrity pass and the tools.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

enum class FrameFault {
    None,
    CannotOpen,          // the recording could not be opened for playing
    UnreadableRecord,    // a frame record the group index promises cannot be read
    OversizedRecord,     // a frame record above the frame buffer's cap, passed over
    PictureUndecodable,  // the frame's picture does not decode at all
    PictureDamaged,      // the picture decoded in part: its data ends early or breaks off
};

struct PlayError {
    FrameFault fault = FrameFault::None;
    uint32_t group = 0;     // the frame concerned (not for CannotOpen)
    uint32_t position = 0;
    uint32_t tick = 0;      // its tick, or the last tick read before it when its record is unreadable
    std::string text;
};

}  // namespace kx
