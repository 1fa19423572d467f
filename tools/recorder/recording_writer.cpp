// RecordingWriter: group chain bookkeeping for every recording kind.
#include "tools/recorder/recording_writer.h"

#include <unistd.h>

#include <cstdio>

#include "recording/byte_order.h"
#include "recording/record_reader.h"

namespace kx {

RecordingWriter::~RecordingWriter() {
    if (m_file.isOpen()) {
        m_file.close();
        std::remove(m_temporaryPath.c_str());
    }
}

bool RecordingWriter::fail(const std::string& text) {
    m_error = m_path + ": " + text;
    return false;
}

bool RecordingWriter::create(const std::string& path, const CRecordInfo& info) {
    m_info = info;
    m_path = path;
    m_temporaryPath = path + ".part" + std::to_string(::getpid());
    m_groupOffset = m_previousGroup = kNoGroup;
    m_framesInGroup = 0;
    if (!m_file.open(m_temporaryPath, FileMode::CreateWrite)) return fail(m_file.errorText());
    if (!m_info.WriteHeader(m_file)) return fail("cannot write the header: " + m_file.errorText());
    return true;
}

bool RecordingWriter::beginGroup(uint32_t groupTick) {
    const auto offset = static_cast<uint32_t>(m_file.position());
    if (m_groupOffset != kNoGroup && !closeGroup(offset)) return false;
    m_previousGroup = m_groupOffset;
    m_groupOffset = offset;
    m_groupTick = groupTick;
    m_framesInGroup = 0;
    return closeGroup(kNoGroup);  // a placeholder header, rewritten when the group closes
}

// Writes the current group's header in place with its frame count and the next group's offset.
bool RecordingWriter::closeGroup(uint32_t nextGroup) {
    uint8_t h[kFourChannelGroupHeaderBytes] = {};
    size_t size = kShortGroupHeaderBytes;
    switch (m_info.Kind()) {
        case kKindFourChannel:
            size = kFourChannelGroupHeaderBytes;
            storeLe32(h, kFourChannelGroupMagic);
            storeLe32(h + 4, m_groupOffset);
            storeLe32(h + 8, m_previousGroup);
            storeLe32(h + 12, nextGroup);
            storeLe32(h + 16, m_framesInGroup);
            storeLe32(h + 20, m_groupTick);
            break;
        case kKindExtended:
            size = kExtendedGroupHeaderBytes;
            storeLe32(h, m_previousGroup);
            storeLe32(h + 4, nextGroup);
            storeLe16(h + 8, static_cast<uint16_t>(m_framesInGroup));
            storeLe32(h + 10, m_groupTick);
            break;
        default:
            storeLe32(h, m_previousGroup);
            storeLe32(h + 4, nextGroup);
            storeLe16(h + 8, static_cast<uint16_t>(m_framesInGroup));
            storeLe32(h + 12, m_groupTick);
            break;
    }
    const uint64_t resume = m_file.position();
    m_file.seek(m_groupOffset);
    const bool written = m_file.write(h, size) == size;
    if (resume > m_groupOffset + size) m_file.seek(resume);
    return written ? true : fail("cannot write a group header: " + m_file.errorText());
}

bool RecordingWriter::writeFrame(const CRecordFrame& frame) {
    if (m_groupOffset == kNoGroup) return fail("a frame before the first group");
    if (m_info.Kind() == kKindFourChannel) return fail("four-channel frames need all four channels");
    if (m_framesInGroup == 0xFFFF) return fail("more than 65535 frames in one group");
    const FrameLayout layout = m_info.Kind() == kKindExtended ? FrameLayout::Long : FrameLayout::Short;
    if (frame.Write(m_file, layout) == 0) return fail("cannot write a frame: " + m_file.errorText());
    ++m_framesInGroup;
    return true;
}

bool RecordingWriter::writeFourChannelFrame(uint32_t tick,
                                            const std::array<const CRecordFrame*, kChannelCount>& channels) {
    if (m_groupOffset == kNoGroup) return fail("a frame before the first group");
    uint8_t h[kFourChannelFrameHeaderBytes] = {};
    storeLe32(h, kFourChannelFrameMagic);
    storeLe32(h + 4, tick);
    for (int c = 0; c < kChannelCount; ++c) {
        const CRecordFrame& frame = *channels[size_t(c)];
        storeLe16(h + 16 + 4 * c, frame.Flags());
        h[18 + 4 * c] = static_cast<uint8_t>(frame.Kind());
        storeLe32(h + 32 + 4 * c, frame.VideoLength());
        storeLe32(h + 48 + 4 * c, frame.AudioLength());
    }
    bool written = m_file.write(h, sizeof h) == sizeof h;
    for (const CRecordFrame* frame : channels) {
        written = written && m_file.write(frame->VideoBuffer(), frame->VideoLength()) == frame->VideoLength();
        written = written && m_file.write(frame->AudioBuffer(), frame->AudioLength()) == frame->AudioLength();
    }
    if (!written) return fail("cannot write a frame: " + m_file.errorText());
    ++m_framesInGroup;
    return true;
}

bool RecordingWriter::finish(uint32_t endTime) {
    if (m_groupOffset != kNoGroup && !closeGroup(kNoGroup)) return false;
    m_info.SetEndTime(endTime);
    m_file.seek(0);
    if (!m_info.WriteHeader(m_file)) return fail("cannot rewrite the header: " + m_file.errorText());
    m_file.close();
    if (std::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
        std::remove(m_temporaryPath.c_str());
        return fail("cannot rename the finished file into place");
    }
    return true;
}

}  // namespace kx
