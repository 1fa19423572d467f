// Fuzzes the AVI export on damaged recordings of every kind: header sizes, frame records,
// pictures of unexpected sizes and sound blocks all go through the conversion into an
// uncompressed AVI file, which is then removed. Each frame record becomes a whole picture, so
// a small input of many empty records would write a file of hundreds of megabytes: inputs
// whose pictures add up to more than kMaxOutputBytes are passed over.
// Input: one byte choosing the extension, then the file.
#include <algorithm>
#include <cstdio>
#include <string>

#include "fuzz/scratch_recording.h"
#include "output/avi_export.h"
#include "recording/record_reader.h"

namespace {

constexpr uint64_t kMaxOutputBytes = uint64_t(32) << 20;

// The raw picture bytes the export would write for the recording's indexed frames.
uint64_t pictureBytes(kx::CRecordInfo& info) {
    kx::CRecordReader reader;
    const int channel = info.Kind() == kx::kKindFourChannel ? 0 : -1;
    if (!reader.Open(&info, kx::kReaderModeRead, channel)) return 0;
    const uint64_t width = uint64_t(std::max(info.Width(), 1)) * 2;  // the doubled legacy variant
    const uint64_t height = uint64_t(std::max(info.Height(), 1));
    return uint64_t(reader.TotalFrameCount()) * width * height * 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* extension = kx::fuzz::kExtensions[data[0] % std::size(kx::fuzz::kExtensions)];
    const std::string path = kx::fuzz::scratchPath("kx_fuzz_export_", extension);
    const std::string output = kx::fuzz::scratchPath("kx_fuzz_export_", ".avi");
    kx::CRecordInfo info;
    if (!kx::fuzz::writeScratchRecording(path, data + 1, size - 1, info)) return 0;
    if (pictureBytes(info) > kMaxOutputBytes) {
        std::remove(path.c_str());
        return 0;
    }
    kx::AviExport exporter([](const std::string&) {});
    exporter.Convert(path, output, "dib");
    std::remove(output.c_str());
    std::remove((output + ".part").c_str());
    std::remove(path.c_str());
    return 0;
}
