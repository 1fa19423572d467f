// CChannelAudio: the audio output of one quad-play channel. Mono 8 kHz 16-bit in 10 buffers of
// 2048 bytes, G.726 blocks or, for recordings of video codec 2, IMA ADPCM blocks. It takes the
// first device that accepts the format, shared with other outputs. Calls come from the quad
// worker (Write) and the user-interface thread (Open, Close, BufferDone), always under the
// channel's lock, which the caller holds; the queue length tells the worker whether to wake
// for more sound.
#pragma once

#include <cstdint>

#include "platform/audio_device.h"
#include "playback/audio_queue.h"
#include "playback/wave_done.h"

namespace kx {

class CChannelAudio {
public:
    static constexpr uint32_t kBufferCount = 10;
    static constexpr uint32_t kBufferBytes = 2048;

    explicit CChannelAudio(AudioDevices& devices) : m_devices(devices) {}
    ~CChannelAudio() { Close(); }
    CChannelAudio(const CChannelAudio&) = delete;
    CChannelAudio& operator=(const CChannelAudio&) = delete;

    // Opens the first device accepting the format, for the codec of `videoCodec`'s recordings.
    bool Open(WaveDoneTarget* callback, int videoCodec);
    bool Write(const uint8_t* bytes, uint32_t length) { return m_queue.write(bytes, length); }
    // Releases the buffer of a completion; false for a message that is not this output's.
    bool BufferDone(const WaveDone& message) { return m_queue.bufferDone(message); }
    // Buffers still queued, -1 when closed. Fewer than 2 means the channel wants sound.
    int QueueLength() const { return m_queue.queuedCount(); }
    bool WantsSound() const { return m_queue.queuedCount() >= 0 && m_queue.queuedCount() < 2; }
    bool IsOpen() const { return m_queue.isOpen(); }
    uint32_t Stream() const { return m_queue.streamSerial(); }
    void Close() { m_queue.close(); }

private:
    AudioDevices& m_devices;
    AudioQueue m_queue;
};

}  // namespace kx
