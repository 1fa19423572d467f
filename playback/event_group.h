// EventGroup: a few manual-reset events sharing one mutex and condition variable, so that one
// thread can wait for any of them, as the quad play worker waits for stop, audio-ready, tick and
// run. Any thread may set, reset and test the events; one thread waits at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kx {

class EventGroup {
public:
    // Sets (or resets) every event whose bit is in `events`; a set event stays set until reset.
    void Set(uint32_t events) {
        {
            std::lock_guard lock(m_mutex);
            m_set |= events;
        }
        m_changed.notify_all();
    }
    void Reset(uint32_t events) {
        {
            std::lock_guard lock(m_mutex);
            m_set &= ~events;
        }
        m_changed.notify_all();
    }
    bool IsSet(uint32_t event) const {
        std::lock_guard lock(m_mutex);
        return (m_set & event) != 0;
    }

    // Blocks until any event of `events` is set; returns those of them that are set (none is
    // reset). The waiting thread.
    uint32_t WaitAny(uint32_t events) {
        std::unique_lock lock(m_mutex);
        m_waitingFor = events;
        m_changed.notify_all();  // a thread in WaitIdle sees the waiter arrive
        m_changed.wait(lock, [&] { return (m_set & events) != 0; });
        m_waitingFor = 0;
        return m_set & events;
    }

    // Waits until the waiting thread is blocked in WaitAny with none of its events set, or any of
    // `endEvents` is set; false when `limit` passes first. Lets tests and tools run the worker
    // in lock step with a hand-moved clock.
    bool WaitIdle(uint32_t endEvents, std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] {
            return (m_set & endEvents) != 0 || (m_waitingFor != 0 && (m_set & m_waitingFor) == 0);
        });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    uint32_t m_set = 0;
    uint32_t m_waitingFor = 0;  // the events the waiter blocks on; 0 while it runs
};

}  // namespace kx
