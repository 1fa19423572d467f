// The audio outputs on the null device with a manual clock: modes, device choice, dropping
// when the queue is full, completions and closing, and the channel output of quad play.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/null/null_audio_device.h"
#include "playback/channel_audio.h"
#include "playback/g726_decoder.h"
#include "playback/ima_adpcm_decoder.h"
#include "playback/wave_out.h"

namespace kx {
namespace {

struct Queued {
    int device;
    std::vector<uint8_t> bytes;
};

class WaveOutTest : public ::testing::Test {
protected:
    explicit WaveOutTest(int deviceCount = 2) : devices(clock, deviceCount) {
        devices.setQueueObserver([this](int device, const uint8_t* bytes, size_t size) {
            queued.push_back({device, std::vector<uint8_t>(bytes, bytes + size)});
        });
    }

    // Hands every posted completion back to the output, as the play window does.
    int deliver(CWaveOut& out, bool& fewerThanTwo) {
        int handled = 0;
        WaveDone message;
        while (window.take(message)) handled += out.BufferDone(message, fewerThanTwo);
        return handled;
    }

    static std::vector<uint8_t> pattern(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 37 + 11);
        return bytes;
    }

    ManualAudioClock clock;
    NullAudioDevices devices;
    WaveDoneQueue window;
    std::vector<Queued> queued;
};

TEST_F(WaveOutTest, ModesOpenWithTheirFormatAndOthersAreRefused) {
    struct Case { int mode; bool opens; uint16_t channels; uint32_t rate; uint16_t bits; uint32_t buffers; uint32_t bytes; };
    const Case cases[] = {
        {0, true, 1, 8000, 16, 20, 1920},  {1, true, 1, 8000, 16, 20, 2048}, {2, false, 0, 0, 0, 0, 0},
        {3, true, 1, 8000, 8, 6, 19200},   {4, true, 2, 8000, 8, 3, 48000},  {5, true, 1, 8000, 16, 3, 48000},
        {6, true, 2, 8000, 16, 3, 48000},  {7, true, 2, 44100, 16, 3, 48000}, {8, true, 2, 22050, 16, 3, 48000},
        {9, false, 0, 0, 0, 0, 0},         {-1, false, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        CWaveOut out(devices);
        EXPECT_EQ(out.Open(&window, -1, c.mode, kWaveOutDirectionOutput), c.opens) << c.mode;
        EXPECT_EQ(out.IsOpen(), c.opens);
        if (!c.opens) {
            EXPECT_EQ(WaveOutModeInfo(c.mode), nullptr);
            continue;
        }
        const WaveOutMode& info = *WaveOutModeInfo(c.mode);
        EXPECT_EQ(info.format, (PcmFormat{c.channels, c.rate, c.bits})) << c.mode;
        EXPECT_EQ(info.bufferCount, c.buffers);
        EXPECT_EQ(info.bufferBytes, c.bytes);
        EXPECT_FALSE(out.Open(&window, -1, c.mode, kWaveOutDirectionOutput)) << "already open";
    }
    CWaveOut input(devices);
    EXPECT_FALSE(input.Open(&window, -1, 0, 1));
    EXPECT_EQ(WaveOutModeForVideoCodec(2), 1);
    EXPECT_EQ(WaveOutModeForVideoCodec(0), 0);
    EXPECT_EQ(WaveOutModeForVideoCodec(6), 0);
}

TEST_F(WaveOutTest, G726SevenByteBlockGivesSixteenSamples) {
    CWaveOut out(devices);
    ASSERT_TRUE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
    const std::vector<uint8_t> block = pattern(7);
    ASSERT_TRUE(out.Write(block.data(), 7));
    ASSERT_EQ(queued.size(), 1u);
    ASSERT_EQ(queued[0].bytes.size(), 32u);
    G726Decoder reference;
    int16_t samples[16];
    reference.decode(block.data(), 2, samples);
    EXPECT_EQ(std::memcmp(samples, queued[0].bytes.data(), 32), 0);
    // The seventh byte was dropped: the next block continues from the decoder state after six.
    ASSERT_TRUE(out.Write(block.data(), 3));
    reference.decode(block.data(), 1, samples);
    EXPECT_EQ(std::memcmp(samples, queued[1].bytes.data(), 16), 0);
}

TEST_F(WaveOutTest, FullQueueDropsTheRestAndFurtherBlocks) {
    CWaveOut out(devices);
    ASSERT_TRUE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
    // 20 buffers take 120 groups each; a block of 25 buffers' worth fills all 20.
    const std::vector<uint8_t> block = pattern(25 * 360);
    ASSERT_TRUE(out.Write(block.data(), uint32_t(block.size())));
    ASSERT_EQ(queued.size(), 20u);
    for (const Queued& q : queued) EXPECT_EQ(q.bytes.size(), 1920u);
    EXPECT_EQ(out.QueuedBuffers(), 20);
    EXPECT_TRUE(out.Write(block.data(), 360)) << "a block with no free buffer is dropped silently";
    EXPECT_EQ(queued.size(), 20u);

    // One buffer plays in 120 ms; its completion frees it for the next block.
    clock.advanceMs(119);
    devices.pump();
    EXPECT_EQ(window.size(), 0u);
    clock.advanceMs(1);
    devices.pump();
    bool fewerThanTwo = true;
    EXPECT_EQ(deliver(out, fewerThanTwo), 1);
    EXPECT_FALSE(fewerThanTwo);
    ASSERT_TRUE(out.Write(block.data(), 720));
    EXPECT_EQ(queued.size(), 21u);
    EXPECT_EQ(queued.back().bytes.size(), 1920u / 120 * 240 / 2);
}

TEST_F(WaveOutTest, CompletionsArriveInTimeAndReportTheLastTwo) {
    CWaveOut out(devices);
    ASSERT_TRUE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
    const std::vector<uint8_t> block = pattern(3 * 360);
    ASSERT_TRUE(out.Write(block.data(), uint32_t(block.size())));
    ASSERT_EQ(out.QueuedBuffers(), 3);
    bool fewerThanTwo = true;
    const bool expectFewer[] = {false, true, true};
    for (bool expected : expectFewer) {
        clock.advanceMs(120);
        devices.pump();
        ASSERT_EQ(deliver(out, fewerThanTwo), 1);
        EXPECT_EQ(fewerThanTwo, expected);
    }
    EXPECT_EQ(out.QueuedBuffers(), 0);
    // A repeated message, or one of another stream, changes nothing.
    EXPECT_FALSE(out.BufferDone(WaveDone{out.Stream(), 0}, fewerThanTwo));
    EXPECT_FALSE(out.BufferDone(WaveDone{out.Stream() + 1000, 0}, fewerThanTwo));
    EXPECT_FALSE(out.BufferDone(WaveDone{out.Stream(), 99}, fewerThanTwo));
}

TEST_F(WaveOutTest, CloseLeavesNoCompletionQueued) {
    CWaveOut first(devices);
    CWaveOut second(devices);
    ASSERT_TRUE(first.Open(&window, -1, 0, kWaveOutDirectionOutput));
    ASSERT_TRUE(second.Open(&window, -1, 1, kWaveOutDirectionOutput));
    const std::vector<uint8_t> block = pattern(5 * 360);
    ASSERT_TRUE(first.Write(block.data(), uint32_t(block.size())));
    ASSERT_TRUE(second.Write(block.data(), 508));
    clock.advanceMs(130);
    devices.pump();
    ASSERT_EQ(window.size(), 2u);  // one of each
    const uint32_t closed = first.Stream();
    first.Close();
    EXPECT_FALSE(first.IsOpen());
    EXPECT_EQ(first.QueuedBuffers(), -1);
    WaveDone message;
    int left = 0;
    while (window.take(message)) {
        EXPECT_NE(message.stream, closed);
        ++left;
    }
    EXPECT_EQ(left, 1);
    EXPECT_EQ(devices.queuedBuffers(), 0u);
}

TEST_F(WaveOutTest, DeviceChoiceSkipsRefusingAndUsedDevices) {
    NullAudioDevices three(clock, 3);
    three.setRefusesFormats(0, true);
    CWaveOut a(three), b(three), c(three);
    ASSERT_TRUE(a.Open(&window, -1, 0, kWaveOutDirectionOutput));
    EXPECT_EQ(a.Device(), 1);
    ASSERT_TRUE(b.Open(&window, -1, 0, kWaveOutDirectionOutput));
    EXPECT_EQ(b.Device(), 2);
    EXPECT_FALSE(c.Open(&window, -1, 0, kWaveOutDirectionOutput)) << "every device that accepts is in use";
    EXPECT_FALSE(c.Open(&window, 2, 0, kWaveOutDirectionOutput)) << "device 2 is held by b";
    EXPECT_FALSE(c.Open(&window, 0, 0, kWaveOutDirectionOutput)) << "device 0 refuses the format";
    a.Close();
    ASSERT_TRUE(c.Open(&window, -1, 0, kWaveOutDirectionOutput));
    EXPECT_EQ(c.Device(), 1);
    EXPECT_FALSE(a.Open(&window, 7, 0, kWaveOutDirectionOutput)) << "no such device";
    // A failed open leaves the device free for others.
    ASSERT_FALSE(a.Open(&window, 0, 0, kWaveOutDirectionOutput));
    c.Close();
    b.Close();
    NullAudioDevices none(clock, 0);
    CWaveOut silent(none);
    EXPECT_FALSE(silent.Open(&window, -1, 0, kWaveOutDirectionOutput));
}

TEST_F(WaveOutTest, DeviceErrorFailsTheWriteAndKeepsTheBufferFree) {
    CWaveOut out(devices);
    ASSERT_TRUE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
    devices.setQueueFails(true);
    const std::vector<uint8_t> block = pattern(360);
    EXPECT_FALSE(out.Write(block.data(), 360));
    EXPECT_EQ(out.QueuedBuffers(), 0);
    devices.setQueueFails(false);
    EXPECT_TRUE(out.Write(block.data(), 360));
    EXPECT_EQ(out.QueuedBuffers(), 1);
}

TEST_F(WaveOutTest, ImaAndPcmBlocksFillBuffersByTheirRules) {
    CWaveOut ima(devices);
    ASSERT_TRUE(ima.Open(&window, -1, 1, kWaveOutDirectionOutput));
    // 510 bytes: a block of 508; the 2 bytes left are too short for a header and dropped.
    const std::vector<uint8_t> block = pattern(600);
    ASSERT_TRUE(ima.Write(block.data(), 510));
    ASSERT_TRUE(ima.Write(block.data() + 508, 92));
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].bytes.size(), size_t(4 * 508 - 14));
    EXPECT_EQ(queued[1].bytes.size(), size_t(4 * 92 - 14));
    ImaAdpcmDecoder reference;
    std::vector<int16_t> samples(1016);
    reference.decodeBlock(block.data() + 508, 92, samples.data());
    EXPECT_EQ(std::memcmp(samples.data(), queued[1].bytes.data(), queued[1].bytes.size()), 0);
    ima.Close();

    queued.clear();
    CWaveOut pcm(devices);
    ASSERT_TRUE(pcm.Open(&window, -1, 6, kWaveOutDirectionOutput));  // stereo 16-bit: 4-byte frames
    const std::vector<uint8_t> sound = pattern(48000 + 4003);
    ASSERT_TRUE(pcm.Write(sound.data(), uint32_t(sound.size())));
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[1].bytes.size(), 4000u) << "a partial frame is dropped";
    EXPECT_TRUE(std::equal(queued[0].bytes.begin(), queued[0].bytes.end(), sound.begin()));
    EXPECT_TRUE(std::equal(queued[1].bytes.begin(), queued[1].bytes.end(), sound.begin() + 48000));
    // 48000 bytes at 32000 bytes per second play for 1.5 s, the next 4000 bytes 125 ms after.
    clock.advanceMs(1500);
    devices.pump();
    EXPECT_EQ(window.size(), 1u);
    clock.advanceMs(125);
    devices.pump();
    EXPECT_EQ(window.size(), 2u);
}

TEST_F(WaveOutTest, ReopenResetsTheDecoderState) {
    const std::vector<uint8_t> block = pattern(360);
    CWaveOut out(devices);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(out.Open(&window, -1, 0, kWaveOutDirectionOutput));
        ASSERT_TRUE(out.Write(block.data(), 360));
        out.Close();
    }
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].bytes, queued[1].bytes);
}

TEST_F(WaveOutTest, ChannelAudioQueuesTenBuffersAndReportsItsQueue) {
    CChannelAudio channel(devices);
    EXPECT_EQ(channel.QueueLength(), -1);
    EXPECT_FALSE(channel.WantsSound());
    ASSERT_TRUE(channel.Open(&window, 2));  // video codec 2: IMA blocks
    const std::vector<uint8_t> block = pattern(12 * 256);
    ASSERT_TRUE(channel.Write(block.data(), uint32_t(block.size())));
    EXPECT_EQ(channel.QueueLength(), 7) << "3072 bytes make 6 blocks of 508 and one of 24";
    EXPECT_EQ(queued.back().bytes.size(), size_t(4 * 24 - 14));
    const std::vector<uint8_t> more = pattern(2000);
    ASSERT_TRUE(channel.Write(more.data(), 2000));
    EXPECT_EQ(channel.QueueLength(), 10);
    EXPECT_FALSE(channel.WantsSound());
    // Each buffer of 2018 bytes plays in 126.125 ms.
    clock.advanceMs(9 * 127);
    devices.pump();
    WaveDone message;
    while (window.take(message)) EXPECT_TRUE(channel.BufferDone(message));
    EXPECT_LE(channel.QueueLength(), 1);
    EXPECT_TRUE(channel.WantsSound());
    channel.Close();
    EXPECT_EQ(channel.QueueLength(), -1);

    CChannelAudio g726(devices);
    ASSERT_TRUE(g726.Open(&window, 0));
    queued.clear();
    ASSERT_TRUE(g726.Write(block.data(), 400));
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0].bytes.size(), 2048u) << "128 groups of G.726 fill a buffer";
    EXPECT_EQ(queued[1].bytes.size(), 5u * 16);
}

}  // namespace
}  // namespace kx
