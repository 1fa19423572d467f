// QtAudioDevices: QMediaDevices for the list, QAudioSink in push mode for each stream, and a
// QTimer that turns processedUSecs() into one completion per finished buffer.
#include "platform/qt/qt_audio_device.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QList>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cassert>
#include <deque>
#include <mutex>

namespace kx {
namespace {

constexpr int kPollMs = 10;

QAudioFormat toQt(const PcmFormat& format) {
    QAudioFormat q;
    q.setChannelCount(format.channels);
    q.setSampleRate(int(format.samplesPerSecond));
    q.setSampleFormat(format.bitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return q;
}

bool isPcm(const PcmFormat& format) {
    return (format.bitsPerSample == 8 || format.bitsPerSample == 16) && (format.channels == 1 || format.channels == 2) &&
           format.samplesPerSecond > 0;
}

// The sink, its device and the timer belong to the thread that opened the stream. queue() may
// also come from a writer thread (the quad worker): the buffer list is shared with the timer
// under m_mutex, and a writer's buffers reach the sink at the timer's next poll (10 ms).
class QtAudioStream : public AudioStream {
public:
    QtAudioStream(const QAudioDevice& device, const PcmFormat& format, AudioCompletion completion)
        : m_format(format), m_completion(std::move(completion)), m_sink(device, toQt(format)),
          m_owner(QThread::currentThread()) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.setInterval(kPollMs);
    }

    ~QtAudioStream() override {
        m_timer.stop();
        std::lock_guard lock(m_mutex);
        m_sink.stop();
    }

    bool start() {
        std::lock_guard lock(m_mutex);
        return startHeld();
    }

    bool queue(const uint8_t* bytes, size_t size, uint32_t tag) override {
        assert(bytes != nullptr || size == 0);
        const bool owner = QThread::currentThread() == m_owner;
        std::lock_guard lock(m_mutex);
        if (!m_io || m_failed) return false;
        if (owner && (m_sink.error() == QAudio::OpenError || m_sink.error() == QAudio::FatalError)) {
            m_failed = true;
            return false;
        }
        m_queuedEndBytes += size;
        m_buffers.push_back({bytes, size, tag, m_queuedEndBytes});
        // A writer on another thread leaves the bytes to the poll timer: the sink is only
        // touched on its own thread.
        if (owner) feed();
        return true;
    }

    void reset() override {
        std::lock_guard lock(m_mutex);
        m_sink.reset();
        while (!m_buffers.empty()) complete();
        if (!startHeld()) m_io = nullptr;
    }

    void setVolume(uint16_t left, uint16_t right) override {
        std::lock_guard lock(m_mutex);
        m_sink.setVolume(std::max(left, right) / 65535.0);
    }

private:
    struct Buffer {
        const uint8_t* bytes;
        size_t size;
        uint32_t tag;
        uint64_t endBytes;  // stream offset just past this buffer
    };

    bool startHeld() {
        // Room for two seconds, so that all the audio output queues at once goes to the sink as
        // soon as it is queued. With the default room (about 145 ms at 8 kHz) a server may let
        // the sink run dry before it asks for more, and the sound stalls for its whole latency.
        m_sink.setBufferSize(qsizetype(m_format.bytesPerSecond() * 2));
        m_io = m_sink.start();
        if (!m_io || m_sink.error() != QAudio::NoError) return false;
        m_writtenBytes = 0;
        m_queuedEndBytes = 0;
        m_failed = false;
        if (!m_timer.isActive()) m_timer.start();
        return true;
    }

    // Hands the sink as much of the queued bytes as it takes now; m_mutex held, stream's thread.
    void feed() {
        if (!m_io) return;
        for (const Buffer& buffer : m_buffers) {
            const uint64_t startBytes = buffer.endBytes - buffer.size;
            if (m_writtenBytes >= buffer.endBytes) continue;
            const size_t offset = size_t(m_writtenBytes - startBytes);
            const qint64 room = m_sink.bytesFree();
            if (room <= 0) return;
            const qint64 wanted = std::min<qint64>(room, qint64(buffer.size - offset));
            const qint64 written = m_io->write(reinterpret_cast<const char*>(buffer.bytes + offset), wanted);
            if (written <= 0) return;
            m_writtenBytes += uint64_t(written);
            if (written < wanted) return;
        }
    }

    // Completions are called under m_mutex: they only post, and never call back into the stream.
    void poll() {
        std::lock_guard lock(m_mutex);
        feed();
        uint64_t playedBytes = uint64_t(std::max<qint64>(m_sink.processedUSecs(), 0)) * m_format.bytesPerSecond() / 1000000;
        // An idle sink has played everything it was given.
        if (m_sink.state() == QAudio::IdleState) playedBytes = std::max(playedBytes, m_writtenBytes);
        playedBytes = std::min(playedBytes, m_writtenBytes);
        while (!m_buffers.empty() && m_buffers.front().endBytes <= playedBytes) complete();
    }

    void complete() {
        const uint32_t tag = m_buffers.front().tag;
        m_buffers.pop_front();
        m_completion(tag);
    }

    PcmFormat m_format;
    AudioCompletion m_completion;
    QAudioSink m_sink;
    QThread* m_owner;
    std::mutex m_mutex;  // the buffer list, the counts and the sink's device
    QIODevice* m_io = nullptr;
    bool m_failed = false;
    QTimer m_timer;
    std::deque<Buffer> m_buffers;
    uint64_t m_writtenBytes = 0;
    uint64_t m_queuedEndBytes = 0;
};

}  // namespace

struct QtAudioDevices::Devices {
    QList<QAudioDevice> outputs;
};

QtAudioDevices::QtAudioDevices() : m_devices(std::make_unique<Devices>()) {
    const QAudioDevice preferred = QMediaDevices::defaultAudioOutput();
    if (!preferred.isNull()) m_devices->outputs.push_back(preferred);
    for (const QAudioDevice& device : QMediaDevices::audioOutputs())
        if (device != preferred) m_devices->outputs.push_back(device);
}

QtAudioDevices::~QtAudioDevices() = default;

int QtAudioDevices::deviceCount() const { return int(m_devices->outputs.size()); }

std::string QtAudioDevices::deviceName(int device) const {
    if (device < 0 || device >= deviceCount()) return {};
    return m_devices->outputs[device].description().toStdString();
}

bool QtAudioDevices::supportsFormat(int device, const PcmFormat& format) const {
    if (device < 0 || device >= deviceCount() || !isPcm(format)) return false;
    return m_devices->outputs[device].isFormatSupported(toQt(format));
}

std::unique_ptr<AudioStream> QtAudioDevices::open(int device, const PcmFormat& format, AudioCompletion completion) {
    if (!completion || !supportsFormat(device, format)) return nullptr;
    auto stream = std::make_unique<QtAudioStream>(m_devices->outputs[device], format, std::move(completion));
    if (!stream->start()) return nullptr;
    return stream;
}

}  // namespace kx
