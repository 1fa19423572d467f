// Fuzzes header parsing, chain walking and frame reading of every recording kind.
// Input: one byte choosing the file name's extension, then the file's bytes.
#include <cstdio>
#include <string>

#include "fuzz/scratch_recording.h"
#include "recording/record_reader.h"

namespace {

void readEverything(kx::CRecordReader& reader, kx::CRecordFrame& frame) {
    while (reader.ReadFrame(frame, -1, 0)) {
    }
    const auto groups = static_cast<int32_t>(reader.GroupCount());
    for (int32_t g = 0; g < groups && g < 64; ++g) {
        reader.ReadFrame(frame, g, static_cast<int32_t>(reader.GroupFrameCount(g)) - 1);
        (void)reader.GroupWallTime(g);
    }
    reader.ReadFrame(frame, groups, 0);
    (void)reader.FirstFrameNumber(groups);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string path = kx::fuzz::scratchPath(
        "kx_fuzz_reader_", kx::fuzz::kExtensions[data[0] % std::size(kx::fuzz::kExtensions)]);
    kx::CRecordInfo info;
    if (!kx::fuzz::writeScratchRecording(path, data + 1, size - 1, info)) return 0;
    const int channels = info.Kind() == kx::kKindFourChannel ? kx::kChannelCount : 1;
    for (int c = 0; c < channels; ++c) {
        kx::CRecordReader reader;
        if (!reader.Open(&info, kx::kReaderModeRead, channels > 1 ? c : -1)) continue;
        kx::CRecordFrame frame(info.Width(), info.Height(), 65536);
        readEverything(reader, frame);
    }
    std::remove(path.c_str());
    return 0;
}
