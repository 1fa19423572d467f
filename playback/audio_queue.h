// The buffers of an audio output: decodes each written block into free buffers of one open
// device stream and releases them as their completions come back. Shared by CWaveOut and
// CChannelAudio, which choose the device and the layout. Buffers are allocated at open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/audio_device.h"
#include "playback/audio_block_decoder.h"
#include "playback/wave_done.h"

namespace kx {

struct AudioQueueLayout {
    PcmFormat format;
    uint32_t bufferCount = 0;
    uint32_t bufferBytes = 0;  // a multiple of 16 and of the format's frame size
    AudioCodec codec = AudioCodec::None;
};

class AudioQueue {
public:
    AudioQueue() = default;
    ~AudioQueue() { close(); }
    AudioQueue(const AudioQueue&) = delete;
    AudioQueue& operator=(const AudioQueue&) = delete;

    // Opens `device` of `devices`, whose completions are posted to `target`; allocates zeroed
    // buffers, resets the decoder and sets the volume to full. False when the device fails.
    bool open(AudioDevices& devices, int device, const AudioQueueLayout& layout, WaveDoneTarget& target);

    // Decodes `bytes` into the free buffers, in order, and queues them. What does not fit in the
    // free buffers is dropped, as are trailing bytes short of a G.726 group or an IMA header.
    // False on a device error (that buffer stays free and the rest of the block is dropped).
    bool write(const uint8_t* bytes, size_t size);

    // Releases the buffer of a completion. False for a message of another stream or of a
    // buffer that is not queued (a late or repeated message).
    bool bufferDone(const WaveDone& message);

    // Buffers queued on the device; -1 when closed.
    int queuedCount() const { return m_stream ? int(m_queuedCount) : -1; }
    bool isOpen() const { return m_stream != nullptr && !m_buffers.empty(); }
    uint32_t streamSerial() const { return m_serial; }
    int device() const { return m_device; }

    // Resets the device (every queued buffer completes at once), closes it, drops the completions
    // still queued at the target and frees the buffers.
    void close();

private:
    struct Buffer {
        uint8_t* bytes = nullptr;
        bool queued = false;
    };

    bool queueBuffer(uint32_t index, size_t length);

    std::unique_ptr<AudioStream> m_stream;
    WaveDoneTarget* m_target = nullptr;
    AudioQueueLayout m_layout;
    int m_device = -1;
    uint32_t m_serial = 0;
    std::unique_ptr<int16_t[]> m_storage;  // all buffers, 16-bit aligned
    std::vector<Buffer> m_buffers;
    uint32_t m_queuedCount = 0;
    AudioBlockDecoder m_decoder;
};

}  // namespace kx
