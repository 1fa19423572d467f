// The event loop of the user-interface thread as the play engine and the views use it: a 32-bit
// millisecond clock, per-object periodic timers, posted messages (queued, delivered later on the
// loop's thread), sent messages (delivered at once) and the purge of an object's queued messages.
// Implementations: platform/qt (QTimer and posted events) and platform/manual (a clock moved by
// hand and a pump, for tests and headless tools).
#pragma once

#include <cstdint>

namespace kx {

// One message: an identifier and two parameters, as window messages carry them.
struct LoopMessage {
    uint32_t id = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

class EventLoop;

// An object that owns timers and receives messages. Its handlers run on the loop's thread. The
// destructor detaches it from the loop: its timers stop and its queued messages are dropped, so
// nothing is delivered to a destroyed object.
class EventTarget {
public:
    explicit EventTarget(EventLoop& loop) : m_loop(loop) {}
    virtual ~EventTarget();
    EventTarget(const EventTarget&) = delete;
    EventTarget& operator=(const EventTarget&) = delete;

    // A timer of this object is due.
    virtual void onTimer(uint32_t timerId) = 0;
    // A posted or sent message; the result is returned to the sender of a sent message.
    virtual intptr_t onMessage(const LoopMessage& message) = 0;

    EventLoop& loop() const { return m_loop; }

private:
    EventLoop& m_loop;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;

    // Milliseconds since an arbitrary origin, wrapping at 2^32. Any thread may read it.
    virtual uint32_t tickCountMs() const = 0;

    // Starts (or restarts with a new period) timer `timerId` of `target`: onTimer(timerId) is
    // called every `periodMs` milliseconds (at least 1) until it is killed. Loop thread only.
    virtual void setTimer(EventTarget& target, uint32_t timerId, uint32_t periodMs) = 0;
    // Stops the timer; nothing happens when it does not run. Loop thread only.
    virtual void killTimer(EventTarget& target, uint32_t timerId) = 0;

    // Queues a message for `target`; it is delivered later on the loop's thread, messages of
    // one target in the order they were posted. The only call allowed from any thread.
    virtual void post(EventTarget& target, const LoopMessage& message) = 0;
    // Delivers a message at once and returns the target's result. Loop thread only.
    intptr_t send(EventTarget& target, const LoopMessage& message) {
        return target.onMessage(message);
    }

    // Drops the messages with identifier `messageId` still queued for `target`. Loop thread only.
    virtual void purge(EventTarget& target, uint32_t messageId) = 0;
    // Stops all timers of `target` and drops all its queued messages (called by ~EventTarget).
    virtual void detach(EventTarget& target) = 0;
};

inline EventTarget::~EventTarget() {
    m_loop.detach(*this);
}

}  // namespace kx
