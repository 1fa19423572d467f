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
#include "playback/channel_audio.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

// A PulseAudio server of the test's own with a null sink, found through PULSE_SERVER.
class SoundServer {
public:
    SoundServer() {
        m_folder = fs::temp_directory_path() / ("kx_quad_sound_" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
        const std::string socket = (m_folder / "native").string();
        const std::string home = "HOME=" + m_folder.string();
        const std::string runtime = "XDG_RUNTIME_DIR=" + m_folder.string();
        const std::string protocol = "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
        m_pid = ::fork();
        if (m_pid == 0) {
            const char* argv[] = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=true",
                                  "--use-pid-file=false", "-L", "module-null-sink", "-L", protocol.c_str(), nullptr};
            const char* envp[] = {home.c_str(), runtime.c_str(), "PATH=/usr/bin:/bin", nullptr};
            if (FILE* out = std::freopen("/dev/null", "w", stderr)) (void)out;
            ::execvpe(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(envp));
            ::_exit(127);
        }
        for (int waited = 0; waited < 100 && !fs::exists(socket); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_ready = fs::exists(socket);
        if (m_ready) ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    }
    ~SoundServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    bool ready() const { return m_ready; }

private:
    fs::path m_folder;
    pid_t m_pid = -1;
    bool m_ready = false;
};

TEST(ChannelAudioThreads, AWorkerWritesWhileTheLoopThreadCompletesEveryBuffer) {
    SoundServer server;
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
