// Fuzzes CFacePictureFile: both header versions, the version 1 group chain and the face
// decoder. Input: the face file's bytes.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "recording/face_picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm")
                                             ? "/dev/shm"
                                             : std::filesystem::temp_directory_path();
    const std::string path =
        (folder / ("kx_fuzz_face_" + std::to_string(::getpid()) + ".fac")).string();
    {
        kx::File file;
        if (!file.open(path, kx::FileMode::CreateWrite)) return 0;
        file.write(data, size);
    }
    kx::CFacePictureFile faces;
    if (faces.Open(path)) {
        std::vector<uint8_t> pixels;
        uint32_t time, width, height;
        // In turn, then by index from the end back, then past the end.
        for (int n = 0; n < 64 && faces.ReadPicture(pixels, time, width, height); ++n) {
        }
        const int32_t count = int32_t(std::min<uint32_t>(faces.PictureCount(), 16));
        for (int32_t index = count - 1; index >= 0; --index)
            faces.ReadPicture(pixels, time, width, height, index);
        faces.ReadPicture(pixels, time, width, height,
                          int32_t(std::min<uint32_t>(faces.PictureCount(), 0x7FFFFFFF)));
    }
    std::remove(path.c_str());
    return 0;
}
