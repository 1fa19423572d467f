// An ideal sound output that plays nothing but keeps time: buffers play back to back from the
// moment they are queued, and a buffer counts as played once the clock has passed its end.
// Used for tests and silent runs; the clock is given, so tests advance it by hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/audio_device.h"

namespace kx {

// Microseconds on some monotonic clock.
class AudioClock {
public:
    virtual ~AudioClock() = default;
    virtual uint64_t nowUs() const = 0;
};

class ManualAudioClock : public AudioClock {
public:
    uint64_t nowUs() const override { return m_nowUs; }
    void advanceMs(uint64_t ms) { m_nowUs += ms * 1000; }
    void advanceUs(uint64_t us) { m_nowUs += us; }

private:
    std::atomic<uint64_t> m_nowUs = 0;
};

class NullAudioStream;

class NullAudioDevices : public AudioDevices {
public:
    // `deviceCount` devices that accept 8 or 16 bits, 1 or 2 channels, 8000 to 48000 Hz.
    explicit NullAudioDevices(const AudioClock& clock, int deviceCount = 1);
    ~NullAudioDevices() override;

    int deviceCount() const override { return m_deviceCount; }
    std::string deviceName(int device) const override;
    bool supportsFormat(int device, const PcmFormat& format) const override;
    std::unique_ptr<AudioStream> open(int device, const PcmFormat& format, AudioCompletion completion) override;

    // Calls the completion of every buffer whose end the clock has passed, in order. The owner
    // calls this from its timer; queue() calls it too. Streams may be written from one thread
    // while another pumps: both hold the devices' lock.
    void pump();

    // Sees every buffer as it is queued (on the owner's thread), as a device would play it.
    using QueueObserver = std::function<void(int device, const uint8_t* bytes, size_t size)>;
    void setQueueObserver(QueueObserver observer) { m_observer = std::move(observer); }

    // Test hooks: a device that refuses every format, and queue() failing like a device error.
    void setRefusesFormats(int device, bool refuses);
    void setQueueFails(bool fails) { m_queueFails = fails; }
    bool queueFails() const { return m_queueFails; }

    // Buffers queued on all open streams and not yet completed.
    size_t queuedBuffers() const;

private:
    friend class NullAudioStream;
    void remove(NullAudioStream* stream);

    const AudioClock& m_clock;
    int m_deviceCount;
    std::vector<bool> m_refuses;
    bool m_queueFails = false;
    QueueObserver m_observer;
    mutable std::recursive_mutex m_mutex;
    std::vector<NullAudioStream*> m_streams;
};

}  // namespace kx
