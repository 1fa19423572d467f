// Writes a recording file of any kind: the header, then groups of frame records chained by
// their offsets. The file is written under a temporary name and renamed into place by finish(),
// so a failure never leaves a partial recording under the chosen name.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"

namespace kx {

class RecordingWriter {
public:
    ~RecordingWriter();

    // Starts `path` with the header of `info` (its kind, names, times, resolution code).
    bool create(const std::string& path, const CRecordInfo& info);
    // Closes the current group (if any) and starts a new one with the given tick.
    bool beginGroup(uint32_t groupTick);
    // Appends a frame record to the current group (kinds 0 to 3 and 7).
    bool writeFrame(const CRecordFrame& frame);
    // Appends a four-channel frame record: one tick, each channel's kind, flags and bytes.
    bool writeFourChannelFrame(uint32_t tick, const std::array<const CRecordFrame*, kChannelCount>& channels);
    // Closes the last group, rewrites the header with `endTime` and renames the file into place.
    bool finish(uint32_t endTime);

    const std::string& errorText() const { return m_error; }

private:
    bool closeGroup(uint32_t nextGroup);
    bool fail(const std::string& text);

    CRecordInfo m_info;
    File m_file;
    std::string m_path;
    std::string m_temporaryPath;
    std::string m_error;
    uint32_t m_groupOffset = 0xFFFFFFFF;
    uint32_t m_previousGroup = 0xFFFFFFFF;
    uint32_t m_groupTick = 0;
    uint32_t m_framesInGroup = 0;
};

}  // namespace kx
