// A quad channel's sound as quad play drives it: a worker thread writes blocks under the
// channel's lock while the loop's thread runs the Qt stream's poll timer and hands the
// completions back. Against a private PulseAudio server with a null sink; run it under
// ThreadSanitizer to see the stream's shared state checked as well as its results.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_audio_device.h"
#include "platform/tests/private_sound_server.h"
#include "playback/channel_audio.h"

namespace kx {
namespace {

TEST(ChannelAudioThreads, AWorkerWritesWhileTheLoopThreadCompletesEveryBuffer) {
    test::PrivateSoundServer server;
    ASSERT_TRUE(server.ready()) << "no PulseAudio server could be started";
    static char name[] = "channel_audio_thread_test";
    char* argv[] = {name, nullptr};
    int argc = 1;
    QCoreApplication application(argc, argv);
    QtAudioDevices devices;

    std::mutex channelLock;  // the quad channel's lock
    WaveDoneQueue window;
    CChannelAudio audio(devices);
    {
        std::lock_guard lock(channelLock);
        ASSERT_TRUE(audio.Open(&window, 0));
    }
    // 30 G.726 bytes decode to 80 samples (10 ms): small buffers keep the stream busy.
    const std::vector<uint8_t> block(30, 0x5A);
    constexpr int kBuffers = 80;
    std::atomic<int> queued{0};
    std::atomic<bool> writing{true};
    std::thread worker([&] {
        // Keeps the queue busy without overflowing it, as the quad worker does.
        while (queued < kBuffers) {
            {
                std::lock_guard lock(channelLock);
                const int before = audio.QueueLength();
                if (before < 8) {
                    EXPECT_TRUE(audio.Write(block.data(), block.size()));
                    queued += audio.QueueLength() - before;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        writing = false;
    });

    int completed = 0;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (WaveDone done; window.take(done);) {
            std::lock_guard lock(channelLock);
            EXPECT_TRUE(audio.BufferDone(done));
            ++completed;
        }
        std::lock_guard lock(channelLock);
        if ((!writing && audio.QueueLength() == 0) || timer.elapsed() > 20'000) break;
    }
    worker.join();
    EXPECT_EQ(queued.load(), kBuffers);
    EXPECT_EQ(completed, queued.load());
    std::lock_guard lock(channelLock);
    EXPECT_EQ(audio.QueueLength(), 0);
    audio.Close();
}

}  // namespace
}  // namespace kx
