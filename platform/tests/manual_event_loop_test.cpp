// The hand-moved event loop: timers at exact due times, posted messages in order before timers,
// purge and detach.
#include "platform/manual/manual_event_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx {
namespace {

// Records "T<id>@<elapsed>" for timers and "M<id>:<wParam>@<elapsed>" for messages.
class Recorder : public EventTarget {
public:
    explicit Recorder(ManualEventLoop& loop) : EventTarget(loop), m_manual(loop) {}
    void onTimer(uint32_t timerId) override {
        log.push_back("T" + std::to_string(timerId) + "@" + std::to_string(m_manual.elapsedMs()));
        if (onTimerHook) onTimerHook(timerId);
    }
    intptr_t onMessage(const LoopMessage& message) override {
        log.push_back("M" + std::to_string(message.id) + ":" + std::to_string(message.wParam) +
                      "@" + std::to_string(m_manual.elapsedMs()));
        return intptr_t(message.wParam) * 2;
    }
    std::vector<std::string> log;
    std::function<void(uint32_t)> onTimerHook;

private:
    ManualEventLoop& m_manual;
};

TEST(ManualEventLoop, TimersFireAtTheirDueTimesInTimeOrder) {
    ManualEventLoop loop;
    Recorder a(loop), b(loop);
    loop.setTimer(a, 102, 10);
    loop.setTimer(b, 100, 25);
    loop.advanceMs(50);
    EXPECT_EQ(a.log,
              (std::vector<std::string>{"T102@10", "T102@20", "T102@30", "T102@40", "T102@50"}));
    EXPECT_EQ(b.log, (std::vector<std::string>{"T100@25", "T100@50"}));
    EXPECT_EQ(loop.msUntilNextTimer(), 10u);

    // Restarting a timer with another period starts counting from now.
    loop.advanceMs(3);
    loop.setTimer(a, 102, 1);
    a.log.clear();
    loop.advanceMs(2);
    EXPECT_EQ(a.log, (std::vector<std::string>{"T102@54", "T102@55"}));

    loop.killTimer(a, 102);
    loop.killTimer(b, 100);
    EXPECT_FALSE(loop.msUntilNextTimer().has_value());
    a.log.clear();
    loop.advanceMs(100);
    EXPECT_TRUE(a.log.empty());
}

TEST(ManualEventLoop, PostedMessagesComeInOrderBeforeTheNextTimerAndSendIsImmediate) {
    ManualEventLoop loop;
    Recorder target(loop);
    loop.setTimer(target, 1, 10);
    target.onTimerHook = [&](uint32_t) {
        loop.post(target, {7, 1, 0});
        loop.post(target, {7, 2, 0});
    };
    EXPECT_EQ(loop.send(target, {9, 21, 0}), 42);
    loop.advanceMs(20);
    EXPECT_EQ(target.log, (std::vector<std::string>{"M9:21@0", "T1@10", "M7:1@10", "M7:2@10",
                                                    "T1@20", "M7:1@20", "M7:2@20"}));
}

TEST(ManualEventLoop, PurgeAndDetachDropOnlyThatTargetsMessages) {
    ManualEventLoop loop;
    Recorder kept(loop);
    {
        Recorder gone(loop);
        loop.post(gone, {5, 1, 0});
        loop.post(kept, {5, 2, 0});
        loop.post(kept, {6, 3, 0});
        loop.post(kept, {5, 4, 0});
        loop.setTimer(gone, 1, 10);
        loop.purge(kept, 5);
        EXPECT_EQ(loop.queuedMessages(), 2u);
    }  // the destructor detaches: its message and timer are gone
    EXPECT_EQ(loop.queuedMessages(), 1u);
    EXPECT_FALSE(loop.msUntilNextTimer().has_value());
    loop.advanceMs(30);
    EXPECT_EQ(kept.log, (std::vector<std::string>{"M6:3@0"}));
}

TEST(ManualEventLoop, KillingATimerFromItsOwnHandlerAndTheClockObserver) {
    ManualEventLoop loop(0xFFFFFFF0u);
    Recorder target(loop);
    int clockMoves = 0;
    loop.setClockObserver([&] { ++clockMoves; });
    loop.setTimer(target, 3, 10);
    target.onTimerHook = [&](uint32_t id) {
        if (loop.elapsedMs() == 20) loop.killTimer(target, id);
    };
    loop.advanceMs(100);
    EXPECT_EQ(target.log, (std::vector<std::string>{"T3@10", "T3@20"}));
    EXPECT_EQ(clockMoves, 3);  // to 10, to 20, to 100
    // The tick count wraps at 2^32 while the elapsed time goes on.
    EXPECT_EQ(loop.tickCountMs(), 0xFFFFFFF0u + 100u);
    EXPECT_EQ(loop.tickCountMs(), 84u);
}

}  // namespace
}  // namespace kx
