// Connects an audio output to its play window through the event loop: each completion is
// posted to the window as kWaveDoneMessage (wParam: the output's stream, lParam: the buffer),
// and the window hands it back with WaveDoneOfMessage. A play window owns one audio output, so
// purging the window's completions purges that output's.
#pragma once

#include "platform/event_loop.h"
#include "playback/wave_done.h"

namespace kx {

// Our own message identifier, apart from the play engine's notifications.
constexpr uint32_t kWaveDoneMessage = 0x8100;

class LoopWaveDoneTarget : public WaveDoneTarget {
public:
    explicit LoopWaveDoneTarget(EventTarget& window) : m_window(window) {}

    void postWaveDone(const WaveDone& message) override {
        m_window.loop().post(m_window, LoopMessage{kWaveDoneMessage, message.stream, intptr_t(message.buffer)});
    }
    void purgeWaveDone(uint32_t) override { m_window.loop().purge(m_window, kWaveDoneMessage); }

private:
    EventTarget& m_window;
};

inline WaveDone WaveDoneOfMessage(const LoopMessage& message) {
    return WaveDone{uint32_t(message.wParam), uint32_t(message.lParam)};
}

}  // namespace kx
