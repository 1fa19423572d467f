// Fuzzes PictureFile::load of BMP and JPEG files: headers, row layouts, the caption trailer and
// libjpeg's error exit. Input: the file's bytes, loaded as both kinds.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "codec/picture/picture_file.h"
#include "platform/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm")
                                             ? "/dev/shm"
                                             : std::filesystem::temp_directory_path();
    const std::string path =
        (folder / ("kx_fuzz_picture_" + std::to_string(::getpid()) + ".jpg")).string();
    {
        kx::File file;
        if (!file.open(path, kx::FileMode::CreateWrite)) return 0;
        file.write(data, size);
    }
    for (kx::PictureFormat format : {kx::PictureFormat::Bmp, kx::PictureFormat::Jpeg}) {
        kx::PictureFile picture;
        picture.setJpegErrorHandler([](const std::string&) {});
        if (picture.load(format, path)) {
            uint32_t width, height;
            const uint8_t* pixels = picture.getPixels(width, height);
            // Touch the first and last pixel byte: the held size must be what was allocated.
            volatile uint8_t sink = pixels[0];
            sink = pixels[size_t(width) * height * 3 - 1];
            (void)sink;
            (void)picture.captionTrailer();
        }
    }
    std::remove(path.c_str());
    return 0;
}
