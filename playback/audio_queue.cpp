// AudioQueue: decoding blocks into the device buffers and accounting for their completions.
#include "playback/audio_queue.h"

#include <algorithm>
#include <atomic>
#include <cassert>

namespace kx {
namespace {

// Serials are never reused, so a completion posted before a close can never match a later open.
std::atomic<uint32_t> g_nextSerial{1};

}  // namespace

bool AudioQueue::open(AudioDevices& devices, int device, const AudioQueueLayout& layout, WaveDoneTarget& target) {
    assert(!m_stream);
    assert(layout.bufferCount > 0 && layout.bufferBytes % 16 == 0);
    assert(layout.codec != AudioCodec::Ima ||
           layout.bufferBytes >= 2 * ImaAdpcmDecoder::samplesOfBlock(ImaAdpcmDecoder::kMaxBlockBytes));
    const uint32_t serial = g_nextSerial.fetch_add(1);
    WaveDoneTarget* post = &target;
    m_stream = devices.open(device, layout.format,
                            [post, serial](uint32_t buffer) { post->postWaveDone(WaveDone{serial, buffer}); });
    if (!m_stream) return false;
    m_target = &target;
    m_layout = layout;
    m_device = device;
    m_serial = serial;
    const size_t totalBytes = size_t(layout.bufferCount) * layout.bufferBytes;
    m_storage = std::make_unique<int16_t[]>(totalBytes / 2);  // zeroed
    m_buffers.assign(layout.bufferCount, Buffer{});
    for (uint32_t i = 0; i < layout.bufferCount; ++i)
        m_buffers[i].bytes = reinterpret_cast<uint8_t*>(m_storage.get()) + size_t(i) * layout.bufferBytes;
    m_queuedCount = 0;
    m_decoder = AudioBlockDecoder(layout.codec, layout.format.bytesPerFrame());
    m_stream->setVolume(0xFFFF, 0xFFFF);
    return true;
}

bool AudioQueue::queueBuffer(uint32_t index, size_t length) {
    Buffer& buffer = m_buffers[index];
    if (!m_stream->queue(buffer.bytes, length, index)) return false;
    buffer.queued = true;
    ++m_queuedCount;
    return true;
}

bool AudioQueue::write(const uint8_t* bytes, size_t size) {
    if (!isOpen() || bytes == nullptr) return true;
    size_t at = 0;
    for (uint32_t i = 0; i < m_buffers.size() && at < size; ++i) {
        if (m_buffers[i].queued) continue;
        size_t length = 0;
        const size_t consumed = m_decoder.decodePiece(bytes + at, size - at, m_buffers[i].bytes, m_layout.bufferBytes, length);
        if (consumed == 0) break;
        if (!queueBuffer(i, length)) return false;
        at += consumed;
    }
    // Without a free buffer the rest of the block is dropped.
    return true;
}

bool AudioQueue::bufferDone(const WaveDone& message) {
    if (!m_stream || message.stream != m_serial || message.buffer >= m_buffers.size()) return false;
    Buffer& buffer = m_buffers[message.buffer];
    if (!buffer.queued) return false;
    buffer.queued = false;
    assert(m_queuedCount > 0);
    --m_queuedCount;
    return true;
}

void AudioQueue::close() {
    if (!m_stream) return;
    m_stream->reset();
    m_stream.reset();
    // The stream is gone, so no completion can follow the purge.
    m_target->purgeWaveDone(m_serial);
    m_target = nullptr;
    m_buffers.clear();
    m_storage.reset();
    m_queuedCount = 0;
    m_device = -1;
}

}  // namespace kx
