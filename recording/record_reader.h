// CRecordReader: keeps one recording open, indexes its group chain when it opens, and reads
// frame records by (group, position) or one after the other. Used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "recording/record_frame.h"
#include "recording/record_info.h"

namespace kx {

class File;

// One group of the index: where its header is, how many frames it holds, its tick.
struct GroupEntry {
    uint32_t offset = 0;
    uint32_t frameCount = 0;
    uint32_t groupTick = 0;
};

constexpr int kReaderModeRead = 1;
constexpr uint32_t kNoGroup = 0xFFFFFFFF;
constexpr uint32_t kShortGroupHeaderBytes = 16;
constexpr uint32_t kExtendedGroupHeaderBytes = 14;
constexpr uint32_t kFourChannelGroupHeaderBytes = 32;
constexpr uint32_t kFourChannelFrameHeaderBytes = 64;
constexpr uint32_t kFourChannelGroupMagic = 0x55AAAA55;
constexpr uint32_t kFourChannelFrameMagic = 0x5A5AA5A5;

class CRecordReader : public CRecordInfo {
public:
    CRecordReader();
    ~CRecordReader() override;

    // Opens the file named by info->Path() and builds the group index; on success the parsed
    // header is also copied into *info. `channel` (0 to 3) matters for four-channel files only;
    // pass -1 otherwise. On failure the reader stays closed and LastError() says why.
    bool Open(CRecordInfo* info, int mode, int channel);
    // Closes the file and empties the index; safe when nothing is open.
    void Close();
    // Reads a frame: group -1 reads the one after the last frame read (the first after Open);
    // otherwise (group, position) counted from 0, where a position at or past a group's end
    // names the first frame of the next group that holds one. On failure the frame is left
    // empty (both payload lengths 0), its group and position and FailedGroup() and
    // FailedPosition() name the record that failed, and the next-frame cursor is unchanged, except after a record above the frame
    // size cap (RecordError::OversizedRecord): it is passed over and the cursor names the next.
    bool ReadFrame(CRecordFrame& frame, int32_t group, int32_t position);

    uint32_t GroupFrameCount(int32_t group) const override;
    uint32_t GroupCount() const override { return static_cast<uint32_t>(m_groups.size()); }
    uint32_t TotalFrameCount() const override { return m_totalFrames; }
    uint32_t FirstFrameNumber(int32_t group, uint32_t base) const override;
    uint32_t FirstFrameNumber(int32_t group) const override { return FirstFrameNumber(group, 0); }
    // Wall time of group `group`'s tick; 0 for an invalid index.
    virtual uint32_t GroupWallTime(int32_t group) const;
    // The last group whose wall time is not after `wallTime` (group 0 when all are after it),
    // found by halving; group wall times do not go back in a recording. 0 without groups.
    uint32_t LastGroupNotAfter(uint32_t wallTime) const;

    // Writes a clip: every frame of groups firstGroup to lastGroup - 1 and the first
    // lastPosition frames of lastGroup, as a recording of this file's kind. The clip is written
    // under a temporary name and renamed to `path` only when complete. The reader's file
    // position and next-frame cursor are unchanged. False (nothing written) when there is
    // nothing to save or the clip cannot be written; LastError() says why.
    bool SaveClip(const std::string& path, int32_t firstGroup, int32_t lastGroup, int32_t lastPosition);

    bool IsOpen() const { return m_file != nullptr; }
    int Mode() const { return m_mode; }
    int Channel() const { return m_channel; }
    // The frame that ReadFrame(frame, -1, 0) reads next (after a failure: the one that failed).
    uint32_t NextGroup() const { return m_nextGroup; }
    uint32_t NextInGroup() const { return m_nextInGroup; }
    // File offset just past the last frame record read.
    uint32_t NextPosition() const { return m_nextPosition; }
    uint32_t FailedGroup() const { return m_failedGroup; }
    uint32_t FailedPosition() const { return m_failedPosition; }
    const std::vector<GroupEntry>& Groups() const { return m_groups; }
    // Four-channel files: a copy of every group header as it stands in the file.
    const std::vector<std::array<uint8_t, kFourChannelGroupHeaderBytes>>& FourChannelIndex() const {
        return m_fourChannelIndex;
    }

private:
    bool IndexGroups();
    uint32_t GroupHeaderBytes() const;
    uint32_t MinRecordBytes() const;
    uint32_t FirstRecordOffset(uint32_t group) const;
    bool ReadRecord(CRecordFrame& frame, FramePayload payload);
    bool FailRead(CRecordFrame& frame, uint32_t group, uint32_t position);
    bool ReadFourChannelRecord(CRecordFrame& frame, FramePayload payload);
    bool FailOpen(RecordError code, std::string text);
    bool WriteFourChannelClip(File& clip, uint32_t g0, uint32_t g1, uint32_t p1, uint32_t clipStart);
    bool WriteClip(File& clip, uint32_t g0, uint32_t g1, uint32_t p1, uint32_t clipStart);

    int m_mode = kReaderModeRead;
    std::unique_ptr<File> m_file;
    std::array<uint8_t, kShortGroupHeaderBytes> m_groupHeader{};
    uint32_t m_totalFrames = 0;
    std::vector<GroupEntry> m_groups;
    std::vector<uint32_t> m_firstFrameOfGroup;  // running sum of the frame counts before a group
    uint32_t m_nextPosition = 0;
    uint32_t m_nextGroup = 0;
    uint32_t m_nextInGroup = 0;
    uint32_t m_failedGroup = 0;
    uint32_t m_failedPosition = 0;
    int m_channel = -1;
    std::vector<std::array<uint8_t, kFourChannelGroupHeaderBytes>> m_fourChannelIndex;
};

}  // namespace kx
