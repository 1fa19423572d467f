// Fuzzes the AVI export on damaged recordings of every kind: header sizes, frame records,
// pictures of unexpected sizes and sound blocks all go through the conversion into an
// uncompressed AVI file, which is then removed.
// Input: one byte choosing the extension, then the file.
#include <cstdio>
#include <string>

#include "fuzz/scratch_recording.h"
#include "output/avi_export.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* extension = kx::fuzz::kExtensions[data[0] % std::size(kx::fuzz::kExtensions)];
    const std::string path = kx::fuzz::scratchPath("kx_fuzz_export_", extension);
    const std::string output = kx::fuzz::scratchPath("kx_fuzz_export_", ".avi");
    kx::CRecordInfo info;
    if (!kx::fuzz::writeScratchRecording(path, data + 1, size - 1, info)) return 0;
    kx::AviExport exporter([](const std::string&) {});
    exporter.Convert(path, output, "dib");
    std::remove(output.c_str());
    std::remove((output + ".part").c_str());
    std::remove(path.c_str());
    return 0;
}
