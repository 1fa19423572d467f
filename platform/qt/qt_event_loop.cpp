// QtEventLoop: per-target QObjects that carry the timers and receive the posted events.
#include "platform/qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cassert>

#include "platform/system_clock.h"

namespace kx {
namespace {

QEvent::Type eventTypeOf(uint32_t messageId) {
    assert(messageId < QtEventLoop::kMaxMessageId);
    return QEvent::Type(QEvent::User + int(messageId));
}

class MessageEvent : public QEvent {
public:
    explicit MessageEvent(const LoopMessage& message)
        : QEvent(eventTypeOf(message.id)), m_message(message) {}
    const LoopMessage& message() const { return m_message; }

private:
    LoopMessage m_message;
};

}  // namespace

class QtEventLoop::Proxy : public QObject {
public:
    explicit Proxy(EventTarget* target) : m_target(target) {}

    void setTimer(uint32_t timerId, uint32_t periodMs) {
        QTimer*& timer = m_timers[timerId];
        if (!timer) {
            timer = new QTimer(this);
            timer->setTimerType(Qt::PreciseTimer);
            connect(timer, &QTimer::timeout, this, [this, timerId] {
                if (m_target) m_target->onTimer(timerId);
            });
        }
        timer->start(int(std::max<uint32_t>(periodMs, 1)));
    }
    void killTimer(uint32_t timerId) {
        const auto found = m_timers.find(timerId);
        if (found == m_timers.end()) return;
        // The timer may be the one whose timeout is running: stop it now, delete it later.
        found->second->stop();
        found->second->deleteLater();
        m_timers.erase(found);
    }
    // The target is going away: nothing more reaches it, and the object follows it.
    void release() {
        m_target = nullptr;
        for (auto& [id, timer] : m_timers) timer->stop();
        QCoreApplication::removePostedEvents(this, 0);
        deleteLater();
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() >= QEvent::User && event->type() < QEvent::User + int(kMaxMessageId)) {
            if (m_target) m_target->onMessage(static_cast<MessageEvent*>(event)->message());
            return true;
        }
        return QObject::event(event);
    }

private:
    EventTarget* m_target;
    std::map<uint32_t, QTimer*> m_timers;
};

QtEventLoop::QtEventLoop() : m_thread(QThread::currentThread()) {}

QtEventLoop::~QtEventLoop() {
    std::lock_guard lock(m_mutex);
    for (auto& [target, proxy] : m_proxies) proxy->release();
    m_proxies.clear();
}

uint32_t QtEventLoop::tickCountMs() const {
    return systemTickCountMs();
}

QtEventLoop::Proxy* QtEventLoop::proxyOf(EventTarget& target) {
    Proxy*& proxy = m_proxies[&target];
    if (!proxy) {
        proxy = new Proxy(&target);
        // Created on a poster's thread, it still lives (and receives) on the loop's thread.
        if (proxy->thread() != m_thread) proxy->moveToThread(m_thread);
    }
    return proxy;
}

void QtEventLoop::setTimer(EventTarget& target, uint32_t timerId, uint32_t periodMs) {
    std::lock_guard lock(m_mutex);
    proxyOf(target)->setTimer(timerId, periodMs);
}

void QtEventLoop::killTimer(EventTarget& target, uint32_t timerId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_proxies.find(&target);
    if (found != m_proxies.end()) found->second->killTimer(timerId);
}

void QtEventLoop::post(EventTarget& target, const LoopMessage& message) {
    // Posting under the lock keeps detach() from deleting the object meanwhile.
    std::lock_guard lock(m_mutex);
    QCoreApplication::postEvent(proxyOf(target), new MessageEvent(message));
}

void QtEventLoop::purge(EventTarget& target, uint32_t messageId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_proxies.find(&target);
    if (found != m_proxies.end())
        QCoreApplication::removePostedEvents(found->second, eventTypeOf(messageId));
}

void QtEventLoop::detach(EventTarget& target) {
    std::lock_guard lock(m_mutex);
    const auto found = m_proxies.find(&target);
    if (found == m_proxies.end()) return;
    found->second->release();
    m_proxies.erase(found);
}

}  // namespace kx
