// An audio output driven by the hand-moved event loop and the null device on the same clock:
// completions reach the play window as posted messages, and closing leaves none queued.
#include <gtest/gtest.h>

#include <vector>

#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "playback/loop_wave_done.h"
#include "playback/wave_out.h"

namespace kx {
namespace {

class LoopClock : public AudioClock {
public:
    explicit LoopClock(const ManualEventLoop& loop) : m_loop(loop) {}
    uint64_t nowUs() const override { return m_loop.elapsedMs() * 1000; }

private:
    const ManualEventLoop& m_loop;
};

// A play window reduced to its audio: hands completions back and counts the reports of fewer
// than two queued buffers.
class SoundWindow : public EventTarget {
public:
    SoundWindow(EventLoop& loop, AudioDevices& devices) : EventTarget(loop), target(*this), out(devices) {}
    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override {
        bool fewerThanTwo = false;
        if (message.id == kWaveDoneMessage && out.BufferDone(WaveDoneOfMessage(message), fewerThanTwo)) {
            ++completions;
            lowReports += fewerThanTwo;
        }
        return 0;
    }
    LoopWaveDoneTarget target;
    CWaveOut out;
    int completions = 0;
    int lowReports = 0;
};

TEST(LoopWaveDone, CompletionsArriveAsPostedMessagesAndCloseDropsThem) {
    ManualEventLoop loop;
    LoopClock clock(loop);
    NullAudioDevices devices(clock);
    loop.setClockObserver([&devices] { devices.pump(); });
    SoundWindow window(loop, devices);
    ASSERT_TRUE(window.out.Open(&window.target, -1, 0, kWaveOutDirectionOutput));
    const std::vector<uint8_t> block(4 * 360, 0x5A);  // four buffers of 120 ms
    ASSERT_TRUE(window.out.Write(block.data(), uint32_t(block.size())));
    loop.advanceMs(239);
    EXPECT_EQ(window.completions, 1);
    loop.advanceMs(1);
    EXPECT_EQ(window.completions, 2);
    EXPECT_EQ(window.lowReports, 0);
    loop.advanceMs(120);
    EXPECT_EQ(window.completions, 3);
    EXPECT_EQ(window.lowReports, 1);

    // Completions posted but not yet delivered are dropped by Close.
    ASSERT_TRUE(window.out.Write(block.data(), uint32_t(block.size())));
    devices.pump();
    ASSERT_EQ(loop.queuedMessages(), 0u);
    window.out.Close();
    EXPECT_EQ(loop.queuedMessages(), 0u);
    loop.advanceMs(1000);
    EXPECT_EQ(window.completions, 3);
}

}  // namespace
}  // namespace kx
