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
    m_audioCapacity = audioCapacity;
    m_audio = allocate(m_audioCapacity);
    m_creationTick = systemTickCountMs();
    m_tick = m_creationTick;
}

bool CRecordFrame::Fail(RecordError code, std::string text) {
    m_error = {code, std::move(text)};
    return false;
}

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
    const auto refuse = [this](RecordError code, std::string text) {
        m_videoLength = 0;
        m_audioLength = 0;
        return Fail(code, std::move(text));
    };
    const uint64_t fileLength = file.length();
    if (videoLength != 0) {
        if (!m_video) return refuse(RecordError::NoBuffer, "frame has video but no picture buffer");
        if (fileLength != 0 && videoLength > fileLength)
            return refuse(RecordError::PayloadTooLarge, lengthText("video", videoLength, "the file length", fileLength));
        if (videoLength > m_videoCapacity)
            return refuse(RecordError::PayloadTooLarge,
                          lengthText("video", videoLength, "the frame buffer", m_videoCapacity));
    }
    if (audioLength != 0) {
        if (!m_audio) return refuse(RecordError::NoBuffer, "frame has audio but no audio buffer");
        if (audioLength > m_audioCapacity)
            return refuse(RecordError::PayloadTooLarge,
                          lengthText("audio", audioLength, "the frame buffer", m_audioCapacity));
    }
    const uint64_t position = file.position();
    if (position > fileLength || uint64_t(videoLength) + audioLength > fileLength - position)
        return refuse(RecordError::Truncated, "file ends inside a frame's data");
    if (payload == FramePayload::Skip) {
        file.seek(position + videoLength + audioLength);
    } else if (file.read(m_video.get(), videoLength) != videoLength ||
               file.read(m_audio.get(), audioLength) != audioLength) {
        return refuse(RecordError::Truncated, "file ends inside a frame's data");
    }
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
    if (videoLength > m_videoCapacity || left() - 12 < videoLength) return 0;
    const uint8_t* video = p + 12;
    p = video + videoLength;
    uint32_t audioLength = 0;
    const uint8_t* audio = nullptr;
    if (flags & kFrameFlagAudio) {
        if (left() < 4) return 0;
        audioLength = loadLe32(p);
        if (audioLength > m_audioCapacity || left() - 4 < audioLength) return 0;
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
