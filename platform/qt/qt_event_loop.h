// The event loop of the user-interface thread on Qt: each EventTarget gets a small QObject of
// its own on the loop's thread, its timers are QTimers owned by that object, its messages are
// posted events, and purging removes the object's posted events of one message identifier.
// Construct it on the thread that runs the Qt event loop, after the QCoreApplication.
#pragma once

#include <map>
#include <mutex>

#include "platform/event_loop.h"

class QThread;

namespace kx {

class QtEventLoop : public EventLoop {
public:
    QtEventLoop();
    ~QtEventLoop() override;

    uint32_t tickCountMs() const override;
    void setTimer(EventTarget& target, uint32_t timerId, uint32_t periodMs) override;
    void killTimer(EventTarget& target, uint32_t timerId) override;
    void post(EventTarget& target, const LoopMessage& message) override;
    void purge(EventTarget& target, uint32_t messageId) override;
    void detach(EventTarget& target) override;

    // Message identifiers map to Qt event types from QEvent::User on; they must stay below this.
    static constexpr uint32_t kMaxMessageId = 60000;

private:
    class Proxy;
    // The target's object, created on first use (callers hold m_mutex).
    Proxy* proxyOf(EventTarget& target);

    QThread* m_thread;
    std::mutex m_mutex;  // post() comes from any thread
    std::map<EventTarget*, Proxy*> m_proxies;
};

}  // namespace kx
