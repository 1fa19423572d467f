// NullAudioDevices: ideal timing of queued buffers against the given clock.
#include "platform/null/null_audio_device.h"

#include <algorithm>
#include <cassert>
#include <deque>

namespace kx {

class NullAudioStream : public AudioStream {
public:
    NullAudioStream(NullAudioDevices& devices, int device, const PcmFormat& format, AudioCompletion completion)
        : m_devices(devices), m_device(device), m_format(format), m_completion(std::move(completion)) {}
    ~NullAudioStream() override { m_devices.remove(this); }

    bool queue(const uint8_t* bytes, size_t size, uint32_t tag) override {
        assert(bytes != nullptr || size == 0);
        // The devices' lock: the owner's pump may run on another thread than the writer.
        std::lock_guard lock(m_devices.m_mutex);
        if (m_devices.queueFails()) return false;
        if (m_devices.m_observer) m_devices.m_observer(m_device, bytes, size);
        const uint64_t now = m_devices.m_clock.nowUs();
        // An idle device starts the buffer now; a busy one when the last queued buffer ends.
        const uint64_t start = std::max(now, m_endUs);
        m_endUs = start + (uint64_t(size) * 1000000 + m_format.bytesPerSecond() - 1) / m_format.bytesPerSecond();
        m_queued.push_back({m_endUs, tag});
        m_devices.pump();
        return true;
    }

    void reset() override {
        std::lock_guard lock(m_devices.m_mutex);
        while (!m_queued.empty()) complete();
        m_endUs = 0;
    }

    void setVolume(uint16_t, uint16_t) override {}

    void pump(uint64_t nowUs) {
        while (!m_queued.empty() && m_queued.front().endUs <= nowUs) complete();
    }
    size_t queued() const { return m_queued.size(); }

private:
    struct Buffer {
        uint64_t endUs;
        uint32_t tag;
    };

    void complete() {
        const uint32_t tag = m_queued.front().tag;
        m_queued.pop_front();
        m_completion(tag);
    }

    NullAudioDevices& m_devices;
    int m_device;
    PcmFormat m_format;
    AudioCompletion m_completion;
    std::deque<Buffer> m_queued;
    uint64_t m_endUs = 0;
};

NullAudioDevices::NullAudioDevices(const AudioClock& clock, int deviceCount)
    : m_clock(clock), m_deviceCount(std::max(deviceCount, 0)), m_refuses(size_t(m_deviceCount), false) {}

NullAudioDevices::~NullAudioDevices() {
    // Streams must not outlive their devices.
    assert(m_streams.empty());
}

std::string NullAudioDevices::deviceName(int device) const {
    return device >= 0 && device < m_deviceCount ? "Null output " + std::to_string(device) : std::string();
}

bool NullAudioDevices::supportsFormat(int device, const PcmFormat& format) const {
    if (device < 0 || device >= m_deviceCount || m_refuses[size_t(device)]) return false;
    return (format.bitsPerSample == 8 || format.bitsPerSample == 16) && (format.channels == 1 || format.channels == 2) &&
           format.samplesPerSecond >= 8000 && format.samplesPerSecond <= 48000;
}

std::unique_ptr<AudioStream> NullAudioDevices::open(int device, const PcmFormat& format, AudioCompletion completion) {
    if (!supportsFormat(device, format) || !completion) return nullptr;
    auto stream = std::make_unique<NullAudioStream>(*this, device, format, std::move(completion));
    std::lock_guard lock(m_mutex);
    m_streams.push_back(stream.get());
    return stream;
}

void NullAudioDevices::pump() {
    std::lock_guard lock(m_mutex);
    const uint64_t now = m_clock.nowUs();
    for (NullAudioStream* stream : m_streams) stream->pump(now);
}

void NullAudioDevices::setRefusesFormats(int device, bool refuses) {
    if (device >= 0 && device < m_deviceCount) m_refuses[size_t(device)] = refuses;
}

size_t NullAudioDevices::queuedBuffers() const {
    std::lock_guard lock(m_mutex);
    size_t count = 0;
    for (const NullAudioStream* stream : m_streams) count += stream->queued();
    return count;
}

void NullAudioDevices::remove(NullAudioStream* stream) {
    std::lock_guard lock(m_mutex);
    m_streams.erase(std::remove(m_streams.begin(), m_streams.end(), stream), m_streams.end());
}

}  // namespace kx
