// The Qt sound outputs against a real sound server: a private PulseAudio server with a null sink
// (it plays in real time into nothing) started by the test, and no server at all. Each test sets
// the server for its whole process, so run them one per process, as ctest does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_audio_device.h"
#include "playback/wave_out.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

// A PulseAudio server of the test's own, reached through a socket in a private folder; clients
// of this process find it through PULSE_SERVER.
class PrivateSoundServer {
public:
    PrivateSoundServer() {
        m_folder = fs::temp_directory_path() / ("kx_sound_" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
        const std::string socket = (m_folder / "native").string();
        const std::string home = "HOME=" + m_folder.string();
        const std::string runtime = "XDG_RUNTIME_DIR=" + m_folder.string();
        const std::string protocol =
            "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
        const std::string log = (m_folder / "server.log").string();
        m_pid = ::fork();
        if (m_pid == 0) {
            const char* argv[] = {"pulseaudio",
                                  "-n",
                                  "--daemonize=no",
                                  "--exit-idle-time=-1",
                                  "--disable-shm=true",
                                  "--use-pid-file=false",
                                  "-L",
                                  "module-null-sink",
                                  "-L",
                                  protocol.c_str(),
                                  nullptr};
            const char* envp[] = {home.c_str(), runtime.c_str(), "PATH=/usr/bin:/bin", nullptr};
            if (FILE* out = std::freopen(log.c_str(), "w", stderr)) (void)out;
            ::execvpe(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(envp));
            ::_exit(127);
        }
        // The server is ready once its socket exists.
        for (int waited = 0; waited < 100 && !fs::exists(socket) && alive(); ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_ready = fs::exists(socket);
        if (m_ready) ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    }

    ~PrivateSoundServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    bool ready() const { return m_ready; }

private:
    bool alive() { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

    fs::path m_folder;
    pid_t m_pid = -1;
    bool m_ready = false;
};

struct QtProcess {
    QtProcess() : application(argc, argv) {}
    static inline char name[] = "qt_audio_device_test";
    char* argv[2] = {name, nullptr};
    int argc = 1;
    QCoreApplication application;
};

TEST(QtAudioDevices, PlaysQueuedBuffersInOrderThroughASoundServer) {
    PrivateSoundServer server;
    ASSERT_TRUE(server.ready())
        << "no PulseAudio server could be started (./kx test installs pulseaudio)";
    QtProcess qt;
    QtAudioDevices devices;
    const PcmFormat format{1, 8000, 16};
    int usable = -1;
    for (int d = 0; d < devices.deviceCount() && usable < 0; ++d)
        if (devices.supportsFormat(d, format)) usable = d;
    ASSERT_GE(usable, 0) << "the server's null sink takes 8 kHz mono 16-bit";
    EXPECT_EQ(devices.open(devices.deviceCount(), format, [](uint32_t) {}), nullptr);

    std::vector<uint32_t> done;
    std::unique_ptr<AudioStream> stream =
        devices.open(usable, format, [&done](uint32_t tag) { done.push_back(tag); });
    ASSERT_NE(stream, nullptr);
    const std::vector<uint8_t> silence(1600);  // 100 ms each
    for (uint32_t tag = 0; tag < 3; ++tag)
        ASSERT_TRUE(stream->queue(silence.data(), silence.size(), tag));
    QElapsedTimer timer;
    timer.start();
    while (done.size() < 3 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(done, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_GE(timer.elapsed(), 250) << "three buffers of 100 ms cannot finish much sooner";
    // A sink that is handed too little at a time runs dry and waits for the server's next
    // request: with the null sink that is a 2-second stall.
    EXPECT_LT(timer.elapsed(), 1800) << "the sound stalled";
    // A reset completes what is still queued, at once and in order.
    ASSERT_TRUE(stream->queue(silence.data(), silence.size(), 3));
    ASSERT_TRUE(stream->queue(silence.data(), silence.size(), 4));
    stream->reset();
    EXPECT_EQ(done, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    // The stream plays again after a reset.
    ASSERT_TRUE(stream->queue(silence.data(), silence.size(), 5));
    timer.restart();
    while (done.size() < 6 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(done.back(), 5u);
    stream.reset();

    // The player's audio output opens on the first device that takes its format.
    WaveDoneQueue window;
    CWaveOut out(devices);
    EXPECT_TRUE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
    out.Close();
}

TEST(QtAudioDevices, WithoutASoundServerTheAudioOutputDoesNotOpen) {
    const fs::path nowhere =
        fs::temp_directory_path() / ("kx_no_sound_" + std::to_string(::getpid()));
    ::setenv("PULSE_SERVER", ("unix:" + (nowhere / "native").string()).c_str(), 1);
    QtProcess qt;
    QtAudioDevices devices;
    const PcmFormat format{1, 8000, 16};
    for (int d = 0; d < devices.deviceCount(); ++d)
        EXPECT_EQ(devices.open(d, format, [](uint32_t) {}), nullptr) << d;
    WaveDoneQueue window;
    CWaveOut out(devices);
    EXPECT_FALSE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
    EXPECT_FALSE(out.IsOpen());
}

}  // namespace
}  // namespace kx
