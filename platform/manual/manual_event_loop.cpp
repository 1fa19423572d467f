// The hand-moved event loop: timers in a small vector, posted messages in one queue.
#include "platform/manual/manual_event_loop.h"

#include <algorithm>

namespace kx {

void ManualEventLoop::setTimer(EventTarget& target, uint32_t timerId, uint32_t periodMs) {
    periodMs = std::max<uint32_t>(periodMs, 1);
    for (Timer& timer : m_timers) {
        if (timer.target == &target && timer.id == timerId) {
            timer.periodMs = periodMs;
            timer.dueMs = m_elapsedMs + periodMs;
            return;
        }
    }
    m_timers.push_back({&target, timerId, periodMs, m_elapsedMs + periodMs, m_timerOrder++});
}

void ManualEventLoop::killTimer(EventTarget& target, uint32_t timerId) {
    std::erase_if(m_timers, [&](const Timer& t) { return t.target == &target && t.id == timerId; });
}

void ManualEventLoop::post(EventTarget& target, const LoopMessage& message) {
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back({&target, message});
}

void ManualEventLoop::purge(EventTarget& target, uint32_t messageId) {
    std::lock_guard lock(m_queueMutex);
    std::erase_if(
        m_queue, [&](const Queued& q) { return q.target == &target && q.message.id == messageId; });
}

void ManualEventLoop::detach(EventTarget& target) {
    std::erase_if(m_timers, [&](const Timer& t) { return t.target == &target; });
    std::lock_guard lock(m_queueMutex);
    std::erase_if(m_queue, [&](const Queued& q) { return q.target == &target; });
}

size_t ManualEventLoop::deliverPosted() {
    size_t delivered = 0;
    for (;;) {
        Queued next;
        {
            std::lock_guard lock(m_queueMutex);
            if (m_queue.empty()) return delivered;
            next = m_queue.front();
            m_queue.pop_front();
        }
        next.target->onMessage(next.message);
        ++delivered;
    }
}

const ManualEventLoop::Timer* ManualEventLoop::nextTimer(uint64_t limitMs) const {
    const Timer* next = nullptr;
    for (const Timer& timer : m_timers) {
        if (timer.dueMs > limitMs) continue;
        if (!next || timer.dueMs < next->dueMs ||
            (timer.dueMs == next->dueMs && timer.order < next->order))
            next = &timer;
    }
    return next;
}

void ManualEventLoop::clockMoved() {
    if (m_clockObserver) m_clockObserver();
}

void ManualEventLoop::advanceMs(uint64_t ms) {
    const uint64_t endMs = m_elapsedMs + ms;
    for (;;) {
        deliverPosted();
        const Timer* due = nextTimer(endMs);
        if (!due) break;
        if (due->dueMs > m_elapsedMs) {
            // Stop the clock at the due time; what runs there may still kill the timer.
            m_elapsedMs = due->dueMs;
            clockMoved();
            continue;
        }
        Timer& timer = const_cast<Timer&>(*due);
        timer.dueMs += timer.periodMs;
        EventTarget* target = timer.target;
        const uint32_t id = timer.id;
        target->onTimer(id);  // may set or kill timers: `timer` is not used afterwards
    }
    if (m_elapsedMs != endMs) {
        m_elapsedMs = endMs;
        clockMoved();
    }
    deliverPosted();
}

std::optional<uint64_t> ManualEventLoop::msUntilNextTimer() const {
    const Timer* next = nextTimer(UINT64_MAX);
    if (!next) return std::nullopt;
    return next->dueMs > m_elapsedMs ? next->dueMs - m_elapsedMs : 0;
}

bool ManualEventLoop::hasTimer(const EventTarget& target, uint32_t timerId) const {
    return std::any_of(m_timers.begin(), m_timers.end(),
                       [&](const Timer& t) { return t.target == &target && t.id == timerId; });
}

size_t ManualEventLoop::queuedMessages() const {
    std::lock_guard lock(m_queueMutex);
    return m_queue.size();
}

}  // namespace kx
