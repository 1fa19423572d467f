// CWaveOut: the audio output of the single player. It decodes each frame's audio block (G.726,
// IMA ADPCM or PCM, by mode) into buffers queued on a sound device, and reports each finished
// buffer to its callback target, which hands it back through BufferDone. One user-interface
// thread makes every call. The devices in use are shared process-wide, so two players never
// take the same device when they choose one themselves.
#pragma once

#include <cstdint>

#include "platform/audio_device.h"
#include "playback/audio_queue.h"
#include "playback/wave_done.h"

namespace kx {

struct WaveOutMode {
    PcmFormat format;
    uint32_t bufferCount;
    uint32_t bufferBytes;
    AudioCodec codec;
};

// Mode 0 plays G.726 blocks, mode 1 IMA ADPCM blocks, modes 3 to 8 PCM; 2 and above 8 do not
// exist (null).
const WaveOutMode* WaveOutModeInfo(int mode);

// The mode the player uses for a recording: IMA for video codec 2, G.726 for every other.
constexpr int WaveOutModeForVideoCodec(int videoCodec) { return videoCodec == 2 ? 1 : 0; }

constexpr int kWaveOutDirectionOutput = 0;

class CWaveOut {
public:
    explicit CWaveOut(AudioDevices& devices);
    ~CWaveOut();
    CWaveOut(const CWaveOut&) = delete;
    CWaveOut& operator=(const CWaveOut&) = delete;

    // Opens `device` (or, with -1, the first device from 0 upward that accepts the mode's format
    // and that no other CWaveOut holds) for `mode`; completions go to `callback`. Fails when
    // already open, for an unknown mode or direction, or when the device fails.
    bool Open(WaveDoneTarget* callback, int device, int mode, int direction);

    // Decodes one audio block into free buffers and queues them. True when everything was
    // queued or the rest was dropped for want of a free buffer; false on a device error.
    bool Write(const uint8_t* bytes, uint32_t length);

    // Handles a completion. False (and nothing changes) for a message of another stream or of
    // a buffer not queued; otherwise the buffer is free again and `fewerThanTwo` tells whether
    // fewer than two buffers are still queued.
    bool BufferDone(const WaveDone& message, bool& fewerThanTwo);

    bool IsOpen() const { return m_queue.isOpen(); }

    // Resets and closes the device; no completion of this output stays queued at the target.
    void Close();

    int Device() const { return m_queue.device(); }
    int Mode() const { return m_mode; }
    uint32_t Stream() const { return m_queue.streamSerial(); }
    int QueuedBuffers() const { return m_queue.queuedCount(); }

private:
    AudioDevices& m_devices;
    AudioQueue m_queue;
    int m_mode = -1;
};

}  // namespace kx
