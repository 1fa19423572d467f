// Fuzzes SaveClip on damaged recordings of every kind: the clip is cut from a fuzzed file; a
// clip the writer reports saved must open as a recording of the same kind holding at most the
// frames of the range, and is read through.
// Input: one byte choosing the extension, three bytes choosing the range, then the file.
#include <algorithm>
#include <cstdio>
#include <string>

#include "fuzz/scratch_recording.h"
#include "recording/record_reader.h"

namespace {

// A clip the writer says it saved must be a recording of the source's kind that opens with at
// most the frames of the range; it is then read through.
void checkClip(const std::string& clipPath, int kind, int channel, uint64_t rangeFrames) {
    kx::CRecordInfo clip;
    if (!clip.ReadInfo(clipPath) || clip.Kind() != kind) __builtin_trap();
    clip.SetPath(clipPath);
    kx::CRecordReader reader;
    if (!reader.Open(&clip, kx::kReaderModeRead, channel)) __builtin_trap();
    if (reader.TotalFrameCount() == 0 || reader.TotalFrameCount() > rangeFrames) __builtin_trap();
    kx::CRecordFrame frame(clip.Width(), clip.Height(), 65536);
    while (reader.ReadFrame(frame, -1, 0)) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const char* extension = kx::fuzz::kExtensions[data[0] % std::size(kx::fuzz::kExtensions)];
    const std::string path = kx::fuzz::scratchPath("kx_fuzz_clip_source_", extension);
    // The clip keeps the source's kind and so its extension, as a user's save would.
    const std::string clipPath = kx::fuzz::scratchPath("kx_fuzz_clip_", extension);
    kx::CRecordInfo info;
    if (!kx::fuzz::writeScratchRecording(path, data + 4, size - 4, info)) return 0;
    const int channel = info.Kind() == kx::kKindFourChannel ? data[3] % kx::kChannelCount : -1;
    kx::CRecordReader reader;
    if (reader.Open(&info, kx::kReaderModeRead, channel)) {
        // Ranges reach one group past the end and positions past a group's end on purpose.
        const int32_t groups = static_cast<int32_t>(reader.GroupCount());
        const int32_t firstGroup = data[1] % (groups + 1);
        const int32_t lastGroup = firstGroup + data[2] % 4;
        const int32_t lastPosition = data[3] % 8;
        const uint32_t nextGroup = reader.NextGroup();
        const uint32_t nextInGroup = reader.NextInGroup();
        if (reader.SaveClip(clipPath, firstGroup, lastGroup, lastPosition)) {
            const uint32_t endGroup = uint32_t(std::min(lastGroup, groups - 1));
            const uint32_t endPosition = lastGroup >= groups ? 0 : uint32_t(lastPosition);
            const uint64_t rangeFrames = uint64_t(reader.FirstFrameNumber(int32_t(endGroup))) -
                                         reader.FirstFrameNumber(firstGroup) +
                                         std::min(endPosition, reader.GroupFrameCount(int32_t(endGroup)));
            checkClip(clipPath, info.Kind(), channel, rangeFrames);
        }
        // Saving never moves the reader's cursor.
        if (reader.NextGroup() != nextGroup || reader.NextInGroup() != nextInGroup)
            __builtin_trap();
        kx::CRecordFrame frame(info.Width(), info.Height(), 65536);
        while (reader.ReadFrame(frame, -1, 0)) {
        }
    }
    std::remove(clipPath.c_str());
    std::remove(path.c_str());
    return 0;
}
