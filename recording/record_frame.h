// CRecordFrame: one frame record of a recording: kind, flags, tick, video and audio bytes, and
// where it sits in the group chain. Filled by the reader, handed to decoders and audio output.
// Buffers are allocated at construction and grow to what a record needs, up to a fixed cap; a
// payload above the cap is skipped by its length and refused, never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "recording/record_error.h"

namespace kx {

class File;

constexpr uint16_t kFrameFlagAudio = 0x8000;        // an audio block is present
constexpr uint16_t kFrameFlagCodecOption = 0x4000;  // inverse DCT B of codec 1
constexpr uint16_t kFrameFlagNoPicture = 0x0001;    // the video bytes are never decoded
constexpr uint16_t kFrameKindKey = 0;

constexpr int CodecOfFlags(uint16_t flags) { return (flags >> 4) & 0xF; }

enum class FrameLayout {
    Short,  // kinds 0 to 3: the audio length only when flag bit 15 is set
    Long,   // kind 7: 20-byte record header
};

enum class FramePayload { Read, Skip };

constexpr uint32_t kShortRecordMinBytes = 12;
constexpr uint32_t kLongRecordBytes = 20;
// The largest payloads a frame's buffers grow to (or its construction size, when larger). A
// coded picture above 8 MiB is over ten times a raw picture of the largest recorder size; an
// audio block above 1 MiB is minutes of the recorders' 8000 Hz sound.
constexpr size_t kMaxVideoRecordBytes = size_t(8) << 20;
constexpr size_t kMaxAudioRecordBytes = size_t(1) << 20;

class CRecordFrame {
public:
    // The video buffer starts with width x height x 2 bytes (none when that is 0); the audio
    // buffer with `audioCapacity` bytes (none when 0). A frame without a buffer never grows one.
    CRecordFrame(int width, int height, uint32_t audioCapacity);
    virtual ~CRecordFrame() = default;
    CRecordFrame(const CRecordFrame&) = delete;
    CRecordFrame& operator=(const CRecordFrame&) = delete;

    // Packed form: kind, flags, tick, video, [audio], the two texts. `cursor` moves past the
    // bytes handled; 0 means the frame did not fit (nothing is changed then).
    virtual size_t Unpack(const uint8_t*& cursor, const uint8_t* end);
    virtual size_t Pack(uint8_t*& cursor, const uint8_t* end) const;
    virtual size_t PackedSize() const;

    // Reads one record at the file's position. On failure LastError() says why and both payload
    // lengths are 0. A payload above the cap (RecordError::OversizedRecord) that lies within the
    // file is skipped, so the file stands at the next record; other failures leave it anywhere.
    bool Read(File& file, FrameLayout layout, FramePayload payload = FramePayload::Read);
    // Writes the record at the file's position; returns the bytes written, 0 when a nonzero
    // length has no buffer.
    uint32_t Write(File& file, FrameLayout layout) const;
    // Takes the given payload lengths and reads (or skips) the bytes at the file's position.
    // Skipping checks the lengths against the file only and leaves both lengths 0.
    bool ReadPayload(File& file, uint32_t videoLength, uint32_t audioLength, FramePayload payload);

    uint16_t Kind() const { return m_kind; }
    uint16_t Flags() const { return m_flags; }
    int Codec() const { return CodecOfFlags(m_flags); }
    bool HasAudio() const { return (m_flags & kFrameFlagAudio) != 0; }
    uint32_t Tick() const { return m_tick; }
    uint32_t VideoLength() const { return m_videoLength; }
    uint32_t AudioLength() const { return m_audioLength; }
    const uint8_t* VideoBuffer() const { return m_video.get(); }
    uint8_t* VideoBuffer() { return m_video.get(); }
    const uint8_t* AudioBuffer() const { return m_audio.get(); }
    uint8_t* AudioBuffer() { return m_audio.get(); }
    size_t VideoCapacity() const { return m_videoCapacity; }
    size_t AudioCapacity() const { return m_audioCapacity; }
    uint32_t Group() const { return m_group; }
    uint32_t PositionInGroup() const { return m_positionInGroup; }
    uint32_t CreationTick() const { return m_creationTick; }
    uint32_t ReservedWord() const { return m_reserved; }
    const std::string& FrameRateText() const { return m_frameRateText; }
    const std::string& BitRateText() const { return m_bitRateText; }
    const RecordFailure& LastError() const { return m_error; }

    void SetKind(uint16_t kind) { m_kind = kind; }
    void SetFlags(uint16_t flags) { m_flags = flags; }
    void SetTick(uint32_t tick) { m_tick = tick; }
    // Succeed only when the buffer exists and holds that many bytes.
    bool SetVideoLength(uint32_t length);
    // Grow a buffer to hold `bytes`; false (buffer unchanged) without a buffer or above the cap.
    // Bytes held are kept.
    bool ReserveVideo(size_t bytes);
    bool ReserveAudio(size_t bytes);
    size_t VideoCap() const { return m_videoCap; }
    size_t AudioCap() const { return m_audioCap; }
    // Forgets the payloads (both lengths 0), as after a read that failed.
    void ClearPayload() {
        m_videoLength = 0;
        m_audioLength = 0;
    }
    bool SetAudioLength(uint32_t length);
    void SetGroup(uint32_t group) { m_group = group; }
    void SetPositionInGroup(uint32_t position) { m_positionInGroup = position; }
    void SetReservedWord(uint32_t word) { m_reserved = word; }
    void SetTexts(std::string frameRate, std::string bitRate);

private:
    bool Fail(RecordError code, std::string text);

    uint16_t m_kind = 0;
    uint16_t m_flags = 0;
    uint32_t m_tick = 0;
    uint32_t m_videoLength = 0;
    std::unique_ptr<uint8_t[]> m_video;
    size_t m_videoCapacity = 0;
    size_t m_videoCap = 0;
    uint32_t m_audioLength = 0;
    std::unique_ptr<uint8_t[]> m_audio;
    size_t m_audioCapacity = 0;
    size_t m_audioCap = 0;
    uint32_t m_group = 0;
    uint32_t m_positionInGroup = 0;
    uint32_t m_creationTick = 0;
    uint32_t m_reserved = 0;
    std::string m_frameRateText = "0.00f/s";
    std::string m_bitRateText = "0.00KB/s";
    RecordFailure m_error;
};

}  // namespace kx
