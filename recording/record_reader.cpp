// CRecordReader: opening a recording, walking its group chain into the index, reading frames.
#include "recording/record_reader.h"

#include <algorithm>
#include <filesystem>

#include "platform/file.h"
#include "recording/byte_order.h"

namespace kx {
namespace {

constexpr size_t kInitialIndexEntries = 1024;

std::string at(uint32_t group, uint32_t position) {
    return "group " + std::to_string(group) + " frame " + std::to_string(position) + ": ";
}

}  // namespace

CRecordReader::CRecordReader() {
    m_groups.reserve(kInitialIndexEntries);
}

CRecordReader::~CRecordReader() { Close(); }

void CRecordReader::Close() {
    m_file.reset();
    m_groups.clear();
    m_firstFrameOfGroup.clear();
    m_fourChannelIndex.clear();
    m_totalFrames = 0;
    m_nextPosition = 0;
    m_nextGroup = 0;
    m_nextInGroup = 0;
}

bool CRecordReader::FailOpen(RecordError code, std::string text) {
    Close();
    return Fail(code, std::move(text));
}

uint32_t CRecordReader::GroupHeaderBytes() const {
    switch (Kind()) {
        case kKindExtended: return kExtendedGroupHeaderBytes;
        case kKindFourChannel: return kFourChannelGroupHeaderBytes;
        default: return kShortGroupHeaderBytes;
    }
}

uint32_t CRecordReader::MinRecordBytes() const {
    switch (Kind()) {
        case kKindExtended: return kLongRecordBytes;
        case kKindFourChannel: return kFourChannelFrameHeaderBytes;
        default: return kShortRecordMinBytes;
    }
}

// Where the first frame record of a group begins. A four-channel group's records follow the
// offset its header names for itself, which for a sound file is where the header was read.
uint32_t CRecordReader::FirstRecordOffset(uint32_t group) const {
    return m_groups[group].offset + GroupHeaderBytes();
}

bool CRecordReader::Open(CRecordInfo* info, int mode, int channel) {
    if (m_file) return Fail(RecordError::AlreadyOpen, "a recording is already open");
    if (!info) return Fail(RecordError::BadArgument, "no recording named");
    if (mode != kReaderModeRead) return Fail(RecordError::BadArgument, "unknown open mode");

    const std::string path = info->Path();
    auto file = std::make_unique<File>();
    if (path.empty() || !file->open(path, FileMode::Read))
        return Fail(RecordError::CannotOpen, path.empty() ? "no file name" : file->errorText());
    m_file = std::move(file);
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    SetPath(error ? path : full.string());
    SetFileLength(m_file->length());

    if (ParseHeader(*m_file) == 0) {
        const RecordFailure why = LastError();
        return FailOpen(why.code, why.text);
    }
    if (info != this) *info = static_cast<const CRecordInfo&>(*this);

    if (Kind() == kKindFourChannel) {
        if (channel < 0 || channel >= kChannelCount)
            return FailOpen(RecordError::BadChannel, "channel " + std::to_string(channel) + " is not 0 to 3");
        m_channel = channel;
    } else {
        m_channel = -1;
    }
    if (!IndexGroups()) return false;
    if (m_groups.empty()) return FailOpen(RecordError::NoGroup, "no group at the first-group offset");
    if (m_totalFrames == 0) return FailOpen(RecordError::NoFrame, "no frame in any group");

    m_nextPosition = FirstRecordOffset(0);
    m_nextGroup = 0;
    m_nextInGroup = 0;
    m_mode = kReaderModeRead;
    ClearError();
    return true;
}

// Follows the chain from the first-group offset. The chain ends at a short read, at "no next
// group", at a next offset outside the file, or at one that does not move forward, so it can
// neither loop nor leave the file. A group's frame count is bounded by the smallest records
// that fit before the next group (or the end of the file), which keeps the totals of a damaged
// file within 32 bits and proportional to its length.
bool CRecordReader::IndexGroups() {
    const bool fourChannel = Kind() == kKindFourChannel;
    const uint32_t headerBytes = GroupHeaderBytes();
    const uint64_t fileLength = m_file->length();
    uint64_t total = 0;
    uint32_t position = FirstGroupOffset();
    m_firstFrameOfGroup.assign(1, 0);
    if (fourChannel) m_fourChannelIndex.reserve(kInitialIndexEntries);

    for (;;) {
        std::array<uint8_t, kFourChannelGroupHeaderBytes> h{};
        m_file->seek(position);
        if (m_file->read(h.data(), headerBytes) != headerBytes) break;
        std::copy_n(h.begin(), m_groupHeader.size(), m_groupHeader.begin());

        GroupEntry entry;
        uint32_t next = 0;
        uint32_t lowestNext = position;  // the next group must lie beyond this
        if (fourChannel) {
            if (loadLe32(&h[0]) != kFourChannelGroupMagic)
                return FailOpen(RecordError::BadGroup,
                                "group header at offset " + std::to_string(position) + " lacks its magic");
            m_fourChannelIndex.push_back(h);
            entry = {loadLe32(&h[4]), loadLe32(&h[16]), loadLe32(&h[20])};
            next = loadLe32(&h[12]);
            lowestNext = std::max(position, entry.offset);
        } else {
            entry = {position, loadLe16(&h[8]), loadLe32(&h[Kind() == kKindExtended ? 10 : 12])};
            next = loadLe32(&h[4]);
        }
        const bool last = next == kNoGroup || next >= fileLength || next <= lowestNext;

        const uint64_t firstRecord = uint64_t(entry.offset) + headerBytes;
        const uint64_t limit = last ? fileLength : next;
        const uint64_t room = limit > firstRecord ? limit - firstRecord : 0;
        entry.frameCount = static_cast<uint32_t>(std::min<uint64_t>(entry.frameCount, room / MinRecordBytes()));

        m_groups.push_back(entry);
        total += entry.frameCount;
        m_firstFrameOfGroup.push_back(static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFFu)));
        if (last) break;
        position = next;
    }
    m_totalFrames = static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFFu));
    return true;
}

uint32_t CRecordReader::GroupFrameCount(int32_t group) const {
    return group >= 0 && uint32_t(group) < m_groups.size() ? m_groups[uint32_t(group)].frameCount : 0;
}

uint32_t CRecordReader::FirstFrameNumber(int32_t group, uint32_t base) const {
    if (group < 1 || m_firstFrameOfGroup.empty()) return base;
    const size_t n = std::min<size_t>(uint32_t(group), m_groups.size());
    return base + m_firstFrameOfGroup[n];
}

uint32_t CRecordReader::LastGroupNotAfter(uint32_t wallTime) const {
    uint32_t low = 0;
    uint32_t high = GroupCount();
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (GroupWallTime(int32_t(middle)) <= wallTime)
            low = middle + 1;
        else
            high = middle;
    }
    return low == 0 ? 0 : low - 1;
}

uint32_t CRecordReader::GroupWallTime(int32_t group) const {
    if (group < 0 || uint32_t(group) >= m_groups.size()) return 0;
    return WallTimeOfTick(m_groups[uint32_t(group)].groupTick);
}

bool CRecordReader::ReadRecord(CRecordFrame& frame, FramePayload payload) {
    if (Kind() == kKindFourChannel) return ReadFourChannelRecord(frame, payload);
    const FrameLayout layout = Kind() == kKindExtended ? FrameLayout::Long : FrameLayout::Short;
    if (frame.Read(*m_file, layout, payload)) return true;
    return Fail(frame.LastError().code, frame.LastError().text);
}

// A four-channel record: the 64-byte header, then each channel's video and audio in channel
// order. Only the chosen channel's bytes are read; the others are skipped.
bool CRecordReader::ReadFourChannelRecord(CRecordFrame& frame, FramePayload payload) {
    uint8_t h[kFourChannelFrameHeaderBytes];
    if (m_file->read(h, sizeof h) != sizeof h) return Fail(RecordError::Truncated, "file ends inside a frame header");
    if (loadLe32(h) != kFourChannelFrameMagic) return Fail(RecordError::BadFrame, "frame header lacks its magic");
    uint64_t before = 0;
    uint64_t after = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const uint64_t bytes = uint64_t(loadLe32(h + 32 + 4 * c)) + loadLe32(h + 48 + 4 * c);
        if (c < m_channel) before += bytes;
        if (c > m_channel) after += bytes;
    }
    const uint64_t start = m_file->position();
    if (payload == FramePayload::Skip) {
        const uint64_t end = start + before + after + loadLe32(h + 32 + 4 * m_channel) + loadLe32(h + 48 + 4 * m_channel);
        if (end > m_file->length()) return Fail(RecordError::Truncated, "file ends inside a frame's data");
        m_file->seek(end);
        return true;
    }
    if (start + before > m_file->length()) return Fail(RecordError::Truncated, "file ends inside a frame's data");
    m_file->seek(start + before);
    frame.SetTick(loadLe32(h + 4));
    frame.SetFlags(loadLe16(h + 16 + 4 * m_channel));
    frame.SetKind(h[18 + 4 * m_channel]);
    const bool read = frame.ReadPayload(*m_file, loadLe32(h + 32 + 4 * m_channel),
                                        loadLe32(h + 48 + 4 * m_channel), FramePayload::Read);
    // An oversized payload was passed over: the other channels' bytes follow as usual.
    if (read || frame.LastError().code == RecordError::OversizedRecord) m_file->seek(m_file->position() + after);
    if (!read) return Fail(frame.LastError().code, frame.LastError().text);
    return true;
}

// A record that cannot be read leaves the frame empty. One above the size cap has been passed
// over, so the cursor moves on to the record after it.
bool CRecordReader::FailRead(CRecordFrame& frame, uint32_t group, uint32_t position) {
    frame.ClearPayload();
    frame.SetGroup(group);
    frame.SetPositionInGroup(position);
    m_failedGroup = group;
    m_failedPosition = position;
    if (LastError().code == RecordError::OversizedRecord) {
        m_nextPosition = static_cast<uint32_t>(m_file->position());
        m_nextGroup = group;
        m_nextInGroup = position + 1;
    }
    return Fail(LastError().code, at(group, position) + LastError().text);
}

bool CRecordReader::ReadFrame(CRecordFrame& frame, int32_t group, int32_t position) {
    if (!m_file || m_mode != kReaderModeRead) return Fail(RecordError::NotOpen, "no recording is open");
    if (group < -1 || (group >= 0 && uint32_t(group) >= m_groups.size()))
        return Fail(RecordError::PastEnd, "group " + std::to_string(group) + " is past the last group");

    uint32_t g = 0;
    uint32_t p = 0;
    if (group == -1) {
        g = m_nextGroup;
        p = m_nextInGroup;
        uint64_t next = m_nextPosition;
        while (g < m_groups.size() && p >= m_groups[g].frameCount) {
            ++g;
            p = 0;
            if (g < m_groups.size()) next = FirstRecordOffset(g);
        }
        if (g >= m_groups.size()) return Fail(RecordError::PastEnd, "no frame after the last one");
        m_file->seek(next);
    } else {
        if (position < 0) return Fail(RecordError::BadArgument, "negative frame position");
        g = uint32_t(group);
        p = uint32_t(position);
        while (p >= m_groups[g].frameCount) {
            p = 0;
            if (++g >= m_groups.size()) return Fail(RecordError::PastEnd, "frame position past the last group");
        }
        // Records before the wanted one are parsed and checked but their payloads are skipped.
        m_file->seek(FirstRecordOffset(g));
        for (uint32_t i = 0; i < p; ++i)
            if (!ReadRecord(frame, FramePayload::Skip)) return FailRead(frame, g, i);
    }
    if (!ReadRecord(frame, FramePayload::Read)) return FailRead(frame, g, p);

    frame.SetGroup(g);
    frame.SetPositionInGroup(p);
    m_nextPosition = static_cast<uint32_t>(m_file->position());
    m_nextGroup = g;
    m_nextInGroup = p + 1;
    return true;
}

}  // namespace kx
