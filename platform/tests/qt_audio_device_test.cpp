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
#include "platform/tests/private_sound_server.h"
#include "playback/wave_out.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

using test::PrivateSoundServer;

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
