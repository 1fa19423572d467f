// The Qt sound outputs: with a sound server, queued buffers complete in order once played and
// a reset completes the rest at once; without one, no output opens and the player runs silent.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <vector>

#include "platform/qt/qt_audio_device.h"
#include "playback/wave_out.h"

namespace kx {
namespace {

TEST(QtAudioDevices, PlaysQueuedBuffersInOrderOrRunsSilent) {
    static char name[] = "qt_audio_device_test";
    char* argv[] = {name, nullptr};
    int argc = 1;
    QCoreApplication application(argc, argv);
    QtAudioDevices devices;
    const PcmFormat format{1, 8000, 16};
    std::vector<uint32_t> done;
    int usable = -1;
    for (int d = 0; d < devices.deviceCount() && usable < 0; ++d)
        if (devices.supportsFormat(d, format)) usable = d;
    std::unique_ptr<AudioStream> stream;
    if (usable >= 0) stream = devices.open(usable, format, [&done](uint32_t tag) { done.push_back(tag); });
    EXPECT_EQ(devices.open(devices.deviceCount(), format, [](uint32_t) {}), nullptr);

    WaveDoneQueue window;
    if (!stream) {
        // No device or no sound server: the audio output does not open.
        CWaveOut out(devices);
        EXPECT_FALSE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
        RecordProperty("sound_output", "none");
        return;
    }
    RecordProperty("sound_output", devices.deviceName(usable));
    const std::vector<uint8_t> silence(1600);  // 100 ms each
    for (uint32_t tag = 0; tag < 3; ++tag) ASSERT_TRUE(stream->queue(silence.data(), silence.size(), tag));
    QElapsedTimer timer;
    timer.start();
    while (done.size() < 3 && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(done, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_GE(timer.elapsed(), 200) << "three buffers of 100 ms cannot finish much sooner";
    ASSERT_TRUE(stream->queue(silence.data(), silence.size(), 3));
    ASSERT_TRUE(stream->queue(silence.data(), silence.size(), 4));
    stream->reset();
    EXPECT_EQ(done, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    stream.reset();
}

}  // namespace
}  // namespace kx
