// The completion message of the audio outputs: one finished buffer of one open output, posted to
// the window that plays the sound and handed back to the output (BufferDone) on that window's
// thread. The play engine's message loop will implement WaveDoneTarget; WaveDoneQueue is the
// plain queue that tools and tests pump themselves.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

namespace kx {

struct WaveDone {
    uint32_t stream = 0;  // the output's open serial (CWaveOut::Stream), never reused
    uint32_t buffer = 0;  // index of the finished buffer
};

class WaveDoneTarget {
public:
    virtual ~WaveDoneTarget() = default;
    // Called on any thread (the device's completion); must only queue the message.
    virtual void postWaveDone(const WaveDone& message) = 0;
    // Called by a closing output on the owner's thread: drops its messages still queued.
    virtual void purgeWaveDone(uint32_t stream) = 0;
};

class WaveDoneQueue : public WaveDoneTarget {
public:
    void postWaveDone(const WaveDone& message) override {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(message);
    }
    void purgeWaveDone(uint32_t stream) override {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_messages, [stream](const WaveDone& m) { return m.stream == stream; });
    }
    // Takes the oldest message; false when none is queued.
    bool take(WaveDone& message) {
        std::lock_guard lock(m_mutex);
        if (m_messages.empty()) return false;
        message = m_messages.front();
        m_messages.pop_front();
        return true;
    }
    size_t size() const {
        std::lock_guard lock(m_mutex);
        return m_messages.size();
    }

private:
    mutable std::mutex m_mutex;
    std::deque<WaveDone> m_messages;
};

}  // namespace kx
