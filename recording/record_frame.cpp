// CRecordFrame: reading, writing and packing frame records.
#include "recording/record_frame.h"

#include <algorithm>

#include "platform/file.h"
#include "platform/system_clock.h"
#include "recording/byte_order.h"

namespace kx {
namespace {

constexpr size_t kMaxTextLength = 255;

std::unique_ptr<uint8_t[]> allocate(size_t bytes) {
    return bytes ? std::unique_ptr<uint8_t[]>(new uint8_t[bytes]()) : nullptr;
}

std::string lengthText(const char* what, uint32_t length, const char* limit, uint64_t bytes) {
    return std::string(what) + " length " + std::to_string(length) + " exceeds " + limit + " of " +
           std::to_string(bytes) + " bytes";
}

}  // namespace

CRecordFrame::CRecordFrame(int width, int height, uint32_t audioCapacity) {
    const size_t pixels = width > 0 && height > 0 ? size_t(width) * size_t(height) : 0;
    m_videoCapacity = pixels * 2;
    m_video = allocate(m_videoCapacity);
    m_videoCap = m_video ? std::max(m_videoCapacity, kMaxVideoRecordBytes) : 0;
    m_audioCapacity = audioCapacity;
    m_audio = allocate(m_audioCapacity);
    m_audioCap = m_audio ? std::max(m_audioCapacity, kMaxAudioRecordBytes) : 0;
    m_creationTick = systemTickCountMs();
    m_tick = m_creationTick;
}

bool CRecordFrame::Fail(RecordError code, std::string text) {
    m_error = {code, std::move(text)};
    return false;
}

namespace {

// Grows `buffer` from `capacity` to hold `bytes` (by half again at least, so a run of growing
// records reallocates a few times only), keeping the bytes it holds.
bool grow(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t cap, size_t bytes) {
    if (!buffer || bytes > cap) return false;
    if (bytes <= capacity) return true;
    const size_t wanted = std::min(cap, std::max(bytes, capacity + capacity / 2));
    std::unique_ptr<uint8_t[]> larger = allocate(wanted);
    std::copy_n(buffer.get(), capacity, larger.get());
    buffer = std::move(larger);
    capacity = wanted;
    return true;
}

}  // namespace

bool CRecordFrame::ReserveVideo(size_t bytes) { return grow(m_video, m_videoCapacity, m_videoCap, bytes); }

bool CRecordFrame::ReserveAudio(size_t bytes) { return grow(m_audio, m_audioCapacity, m_audioCap, bytes); }

bool CRecordFrame::SetVideoLength(uint32_t length) {
    if (!m_video || length > m_videoCapacity) return false;
    m_videoLength = length;
    return true;
}

bool CRecordFrame::SetAudioLength(uint32_t length) {
    if (length > m_audioCapacity) return false;
    m_audioLength = length;
    return true;
}

void CRecordFrame::SetTexts(std::string frameRate, std::string bitRate) {
    frameRate.resize(std::min(frameRate.size(), kMaxTextLength));
    bitRate.resize(std::min(bitRate.size(), kMaxTextLength));
    m_frameRateText = std::move(frameRate);
    m_bitRateText = std::move(bitRate);
}

bool CRecordFrame::Read(File& file, FrameLayout layout, FramePayload payload) {
    m_error = {};
    uint8_t h[kLongRecordBytes];
    uint32_t videoLength = 0;
    uint32_t audioLength = 0;
    if (layout == FrameLayout::Short) {
        if (file.read(h, kShortRecordMinBytes) != kShortRecordMinBytes)
            return Fail(RecordError::Truncated, "file ends inside a frame record header");
        m_kind = loadLe16(h);
        m_flags = loadLe16(h + 2);
        m_tick = loadLe32(h + 4);
        videoLength = loadLe32(h + 8);
        if (m_flags & kFrameFlagAudio) {
            if (file.read(h + 12, 4) != 4)
                return Fail(RecordError::Truncated, "file ends inside a frame record header");
            audioLength = loadLe32(h + 12);
        }
    } else {
        if (file.read(h, kLongRecordBytes) != kLongRecordBytes)
            return Fail(RecordError::Truncated, "file ends inside a frame record header");
        const uint32_t word = loadLe32(h);
        m_kind = static_cast<uint16_t>(word & 0xFF);
        m_flags = static_cast<uint16_t>(word >> 16);
        m_tick = loadLe32(h + 4);
        videoLength = loadLe32(h + 8);
        audioLength = loadLe32(h + 12);
        m_reserved = loadLe32(h + 16);
    }
    return ReadPayload(file, videoLength, audioLength, payload);
}

bool CRecordFrame::ReadPayload(File& file, uint32_t videoLength, uint32_t audioLength,
                               FramePayload payload) {
    // Each length is checked against the file and the buffer before a byte is moved; a refused
    // payload leaves both lengths 0, so no caller can take stale buffer bytes for this frame.
    m_videoLength = 0;
    m_audioLength = 0;
    const uint64_t fileLength = file.length();
    if (videoLength != 0 && fileLength != 0 && videoLength > fileLength)
        return Fail(RecordError::PayloadTooLarge, lengthText("video", videoLength, "the file length", fileLength));
    const uint64_t position = file.position();
    if (position > fileLength || uint64_t(videoLength) + audioLength > fileLength - position)
        return Fail(RecordError::Truncated, "file ends inside a frame's data");
    const uint64_t end = position + videoLength + audioLength;
    if (payload == FramePayload::Skip) {
        file.seek(end);
        return true;
    }
    if (videoLength != 0 && !m_video) return Fail(RecordError::NoBuffer, "frame has video but no picture buffer");
    if (audioLength != 0 && !m_audio) return Fail(RecordError::NoBuffer, "frame has audio but no audio buffer");
    // A record above the cap is passed over whole, so the next record can still be read.
    if (videoLength > m_videoCap) {
        file.seek(end);
        return Fail(RecordError::OversizedRecord, lengthText("video", videoLength, "the frame size cap", m_videoCap));
    }
    if (audioLength > m_audioCap) {
        file.seek(end);
        return Fail(RecordError::OversizedRecord, lengthText("audio", audioLength, "the frame size cap", m_audioCap));
    }
    if ((videoLength != 0 && !ReserveVideo(videoLength)) || (audioLength != 0 && !ReserveAudio(audioLength)))
        return Fail(RecordError::NoBuffer, "frame buffer cannot grow");
    if (file.read(m_video.get(), videoLength) != videoLength || file.read(m_audio.get(), audioLength) != audioLength)
        return Fail(RecordError::Truncated, "file ends inside a frame's data");
    m_videoLength = videoLength;
    m_audioLength = audioLength;
    return true;
}

uint32_t CRecordFrame::Write(File& file, FrameLayout layout) const {
    const bool shortLayout = layout == FrameLayout::Short;
    const bool audioWord = !shortLayout || HasAudio();
    const uint32_t audioBytes = audioWord ? m_audioLength : 0;
    if ((m_videoLength && !m_video) || (audioBytes && !m_audio)) return 0;

    uint8_t h[kLongRecordBytes];
    size_t headerBytes = 0;
    if (shortLayout) {
        storeLe16(h, m_kind);
        storeLe16(h + 2, m_flags);
        storeLe32(h + 4, m_tick);
        storeLe32(h + 8, m_videoLength);
        headerBytes = 12;
        if (audioWord) {
            storeLe32(h + 12, m_audioLength);
            headerBytes = 16;
        }
    } else {
        storeLe32(h, uint32_t(m_flags) << 16 | m_kind);
        storeLe32(h + 4, m_tick);
        storeLe32(h + 8, m_videoLength);
        storeLe32(h + 12, m_audioLength);
        storeLe32(h + 16, m_reserved);
        headerBytes = kLongRecordBytes;
    }
    const uint64_t before = file.position();
    file.write(h, headerBytes);
    file.write(m_video.get(), m_videoLength);
    file.write(m_audio.get(), audioBytes);
    return static_cast<uint32_t>(file.position() - before);
}

size_t CRecordFrame::PackedSize() const {
    size_t size = size_t(m_videoLength) + 12 + 2 + m_frameRateText.size() + m_bitRateText.size();
    if (HasAudio()) size += size_t(m_audioLength) + 4;
    return size;
}

size_t CRecordFrame::Pack(uint8_t*& cursor, const uint8_t* end) const {
    const size_t size = PackedSize();
    if (size_t(end - cursor) < size) return 0;
    uint8_t* p = cursor;
    storeLe16(p, m_kind);
    storeLe16(p + 2, m_flags);
    storeLe32(p + 4, m_tick);
    storeLe32(p + 8, m_videoLength);
    p = std::copy_n(m_video.get(), m_videoLength, p + 12);
    if (HasAudio()) {
        storeLe32(p, m_audioLength);
        p = std::copy_n(m_audio.get(), m_audioLength, p + 4);
    }
    for (const std::string* text : {&m_frameRateText, &m_bitRateText}) {
        *p++ = static_cast<uint8_t>(text->size());
        p = std::copy(text->begin(), text->end(), p);
    }
    cursor = p;
    return size;
}

size_t CRecordFrame::Unpack(const uint8_t*& cursor, const uint8_t* end) {
    const uint8_t* p = cursor;
    auto left = [&] { return size_t(end - p); };
    if (left() < 12) return 0;
    const uint16_t flags = loadLe16(p + 2);
    const uint32_t videoLength = loadLe32(p + 8);
    if (left() - 12 < videoLength || (videoLength != 0 && !ReserveVideo(videoLength))) return 0;
    const uint8_t* video = p + 12;
    p = video + videoLength;
    uint32_t audioLength = 0;
    const uint8_t* audio = nullptr;
    if (flags & kFrameFlagAudio) {
        if (left() < 4) return 0;
        audioLength = loadLe32(p);
        if (left() - 4 < audioLength || (audioLength != 0 && !ReserveAudio(audioLength))) return 0;
        audio = p + 4;
        p = audio + audioLength;
    }
    std::string texts[2];
    for (std::string& text : texts) {
        if (left() < 1 || left() - 1 < *p) return 0;
        text.assign(reinterpret_cast<const char*>(p + 1), *p);
        p += 1 + *p;
    }
    m_kind = loadLe16(cursor);
    m_flags = flags;
    m_tick = loadLe32(cursor + 4);
    m_videoLength = videoLength;
    std::copy_n(video, videoLength, m_video.get());
    if (flags & kFrameFlagAudio) {
        m_audioLength = audioLength;
        std::copy_n(audio, audioLength, m_audio.get());
    } else {
        m_audioLength = 0;
    }
    m_frameRateText = std::move(texts[0]);
    m_bitRateText = std::move(texts[1]);
    const size_t consumed = size_t(p - cursor);
    cursor = p;
    return consumed;
}

}  // namespace kx
