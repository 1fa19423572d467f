// The computer's sound outputs as the player's audio output uses them: a list of devices, a
// format query, and streams that play queued PCM buffers back to back and report each finished
// buffer. Implementations: platform/qt (Qt Multimedia) and platform/null (an ideal device).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kx {

// Interleaved PCM: 8-bit samples are unsigned, 16-bit samples signed little-endian.
struct PcmFormat {
    uint16_t channels = 1;
    uint32_t samplesPerSecond = 8000;
    uint16_t bitsPerSample = 16;

    uint32_t bytesPerFrame() const { return uint32_t(channels) * bitsPerSample / 8; }
    uint32_t bytesPerSecond() const { return samplesPerSecond * bytesPerFrame(); }
    bool operator==(const PcmFormat&) const = default;
};

// Called once for every finished buffer, in the order the buffers were queued, with the tag
// given to queue(). It may run on a thread of the device's own and must only post a message for
// the stream's owner; it must never call back into the stream.
using AudioCompletion = std::function<void(uint32_t tag)>;

// One open output. All calls come from the owner's thread, except that queue() may also come
// from one other thread (the quad play worker) while the owner's thread runs: the caller keeps
// its own calls in order (the channel's lock); the stream guards what it shares with its timer.
class AudioStream {
public:
    // Closes the device. No completion is called during or after destruction.
    virtual ~AudioStream() = default;

    // Queues `size` bytes (whole frames) behind the buffers already queued. The bytes must stay
    // valid and unchanged until the buffer's completion has been called. Returns false on a
    // device error; nothing is queued then and no completion follows.
    virtual bool queue(const uint8_t* bytes, size_t size, uint32_t tag) = 0;

    // Stops at once and calls the completion of every queued buffer before returning.
    virtual void reset() = 0;

    // 0 silent to 0xFFFF full, for the left and right channel.
    virtual void setVolume(uint16_t left, uint16_t right) = 0;
};

class AudioDevices {
public:
    virtual ~AudioDevices() = default;

    // Devices are numbered from 0; the system's default output comes first.
    virtual int deviceCount() const = 0;
    virtual std::string deviceName(int device) const = 0;
    virtual bool supportsFormat(int device, const PcmFormat& format) const = 0;

    // Opens `device` for `format`; null when it does not exist, refuses the format or cannot be
    // opened (no sound server, for instance).
    virtual std::unique_ptr<AudioStream> open(int device, const PcmFormat& format, AudioCompletion completion) = 0;
};

}  // namespace kx
