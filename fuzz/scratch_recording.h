// Recordings are read from files, so the fuzz targets write each input to a scratch file first
// (in /dev/shm where there is one, to keep the disk out of the loop).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "recording/record_info.h"

namespace kx::fuzz {

// File names recognition may see: every recording kind's extension, and one it knows nothing of.
inline const char* const kExtensions[] = {".kx", ".kxx", ".kxq", ".kxz", ".ckx", ".bin"};

// A path of this process's own, so fuzzers running side by side do not share files.
inline std::string scratchPath(const std::string& stem, const char* extension) {
    const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm")
                                             ? "/dev/shm"
                                             : std::filesystem::temp_directory_path();
    return (folder / (stem + std::to_string(::getpid()) + extension)).string();
}

// Writes the bytes to `path` and reads the header into `info`, named by `path`; false when the
// scratch file cannot be written.
inline bool writeScratchRecording(const std::string& path, const uint8_t* data, size_t size,
                                  CRecordInfo& info) {
    {
        File file;
        if (!file.open(path, FileMode::CreateWrite)) return false;
        file.write(data, size);
    }
    info.ReadInfo(path);
    info.SetPath(path);
    return true;
}

}  // namespace kx::fuzz
