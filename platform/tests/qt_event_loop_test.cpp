// The Qt event loop: periodic timers, messages posted from another thread arriving in order on
// the loop's thread, purge of one identifier, and nothing delivered after detach.
#include "platform/qt/qt_event_loop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <thread>
#include <vector>

namespace kx {
namespace {

class Target : public EventTarget {
public:
    explicit Target(EventLoop& loop) : EventTarget(loop) {}
    void onTimer(uint32_t timerId) override {
        ++ticks;
        if (ticks == 5) loop().killTimer(*this, timerId);
    }
    intptr_t onMessage(const LoopMessage& message) override {
        EXPECT_EQ(std::this_thread::get_id(), loopThread);
        received.push_back(uint32_t(message.wParam));
        return 0;
    }
    int ticks = 0;
    std::vector<uint32_t> received;
    std::thread::id loopThread = std::this_thread::get_id();
};

void runFor(int ms) {
    QTimer::singleShot(ms, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
}

TEST(QtEventLoop, TimersPostsPurgeAndDetach) {
    int argc = 1;
    char name[] = "qt_event_loop_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtEventLoop loop;

    Target target(loop);
    loop.setTimer(target, 7, 5);
    std::thread poster([&] {
        for (uint32_t i = 0; i < 100; ++i) loop.post(target, {i % 2 ? 11u : 12u, i, 0});
    });
    poster.join();
    loop.purge(target, 12);  // the even ones
    auto gone = std::make_unique<Target>(loop);
    loop.post(*gone, {11, 1, 0});
    loop.setTimer(*gone, 1, 1);
    gone.reset();
    EXPECT_EQ(loop.send(target, {11, 1000, 0}), 0);

    runFor(150);
    EXPECT_EQ(target.ticks, 5);  // killed from its own handler at the fifth
    ASSERT_EQ(target.received.size(), 51u);
    EXPECT_EQ(target.received[0], 1000u);
    for (uint32_t i = 1; i < 51; ++i) EXPECT_EQ(target.received[i], 2 * i - 1);
    const uint32_t before = loop.tickCountMs();
    runFor(20);
    EXPECT_GE(loop.tickCountMs() - before, 15u);
}

}  // namespace
}  // namespace kx
