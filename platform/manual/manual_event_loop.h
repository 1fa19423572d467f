// An event loop whose clock moves only when told: tests step it by exact amounts, and headless
// tools move it along the computer's clock. Timers fire at their exact due times, in time order;
// messages posted to the loop are delivered before the next timer fires.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/event_loop.h"

namespace kx {

class ManualEventLoop : public EventLoop {
public:
    // The tick count starts at `startTickMs` (tests start near 2^32 to cross the wrap).
    explicit ManualEventLoop(uint32_t startTickMs = 0) : m_startTickMs(startTickMs) {}

    uint32_t tickCountMs() const override { return m_startTickMs + uint32_t(m_elapsedMs); }
    // Milliseconds the clock has moved since construction; never wraps.
    uint64_t elapsedMs() const { return m_elapsedMs; }

    void setTimer(EventTarget& target, uint32_t timerId, uint32_t periodMs) override;
    void killTimer(EventTarget& target, uint32_t timerId) override;
    void post(EventTarget& target, const LoopMessage& message) override;
    void purge(EventTarget& target, uint32_t messageId) override;
    void detach(EventTarget& target) override;

    // Delivers the queued messages, oldest first, including those posted while delivering;
    // returns how many were delivered. The clock does not move.
    size_t deliverPosted();
    // Moves the clock `ms` forward. At every due time on the way the clock stops there, the
    // clock observer runs, queued messages are delivered and then the due timers fire; at the
    // end the clock stands `ms` later and queued messages are delivered again.
    void advanceMs(uint64_t ms);

    // Milliseconds until the next timer is due (0 when one is due now); none without timers.
    std::optional<uint64_t> msUntilNextTimer() const;
    bool hasTimer(const EventTarget& target, uint32_t timerId) const;
    size_t queuedMessages() const;

    // Runs whenever the clock has moved, before messages are delivered: the place to let
    // devices that keep time on the same clock (the null audio device) report what finished.
    void setClockObserver(std::function<void()> observer) { m_clockObserver = std::move(observer); }

private:
    struct Timer {
        EventTarget* target;
        uint32_t id;
        uint32_t periodMs;
        uint64_t dueMs;
        uint64_t order;  // ties at one due time fire in the order the timers were set
    };
    struct Queued {
        EventTarget* target;
        LoopMessage message;
    };

    const Timer* nextTimer(uint64_t limitMs) const;
    void clockMoved();

    uint32_t m_startTickMs;
    // Moved on the loop's thread only; read from any thread (a worker's tick count).
    std::atomic<uint64_t> m_elapsedMs = 0;
    uint64_t m_timerOrder = 0;
    std::vector<Timer> m_timers;
    mutable std::mutex m_queueMutex;  // post() may come from another thread
    std::deque<Queued> m_queue;
    std::function<void()> m_clockObserver;
};

}  // namespace kx
