// kxtool faces: the header of a face file and each face's time and size, as text or JSON, and
// with --extract each face as a BMP file (grey in all three colours, the time and names in its
// caption trailer).
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "codec/picture/picture_file.h"
#include "recording/face_picture_file.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

// Grey rows top first become B, G, R rows bottom first.
std::vector<uint8_t> greyToHeldBgr(const std::vector<uint8_t>& grey, uint32_t width,
                                   uint32_t height) {
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = grey.data() + size_t(height - 1 - y) * width;
        uint8_t* out = bgr.data() + size_t(y) * width * 3;
        for (uint32_t x = 0; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
    }
    return bgr;
}

}  // namespace

int runFaces(const FacesOptions& options) {
    CFacePictureFile file;
    if (!file.Open(options.file)) {
        reportError(options.file, file.LastError());
        return 1;
    }
    if (!options.extract.empty()) {
        std::error_code code;
        std::filesystem::create_directories(options.extract, code);
        if (code) {
            reportError(options.extract, "cannot create the folder: " + code.message());
            return 1;
        }
    }
    uint32_t width = 0, height = 0;
    file.PictureSize(width, height);
    nlohmann::ordered_json json;
    if (options.json) {
        json["version"] = file.Version();
        json["width"] = width;
        json["height"] = height;
        json["count"] = file.PictureCount();
        json["faces"] = nlohmann::ordered_json::array();
    } else {
        std::printf("%s\n", options.file.c_str());
        std::printf("  version      %u\n", file.Version());
        std::printf("  host         \"%s\"\n", textToUtf8(file.HostName()).c_str());
        std::printf("  board        %u \"%s\"\n", file.BoardNumber() + 1u,
                    textToUtf8(file.BoardName()).c_str());
        std::printf("  camera       %u \"%s\"\n", file.CameraNumber() + 1u,
                    textToUtf8(file.CameraName()).c_str());
        std::printf("  picture      %u x %u\n", width, height);
        std::printf("  faces        %u, the last at %s\n", file.PictureCount(),
                    formatLocalTime(file.LastPictureTime()).c_str());
    }

    const std::string stem = std::filesystem::path(options.file).stem().string();
    int status = 0;
    std::vector<uint8_t> grey;
    for (uint32_t index = 0; index < file.PictureCount(); ++index) {
        uint32_t time = 0, faceWidth = 0, faceHeight = 0;
        if (!file.ReadPicture(grey, time, faceWidth, faceHeight, int32_t(index))) {
            reportError(options.file, file.LastError());
            status = 1;
            if (!file.IsOpen() || file.CurrentIndex() <= index) break;  // nothing more can be read
            continue;
        }
        if (options.json) {
            json["faces"].push_back(
                {{"index", index}, {"time", time}, {"width", faceWidth}, {"height", faceHeight}});
        } else {
            std::printf("  %5u  %s  %u x %u\n", index, formatLocalTime(time).c_str(), faceWidth,
                        faceHeight);
        }
        if (!options.extract.empty()) {
            PictureFile picture;
            picture.setPixels(faceWidth, faceHeight, greyToHeldBgr(grey, faceWidth, faceHeight));
            picture.setTime(time);
            picture.setBoardName(file.BoardName());
            picture.setCameraName(file.CameraName());
            char name[32];
            std::snprintf(name, sizeof name, "-%04u.bmp", index);
            const std::string path =
                (std::filesystem::path(options.extract) / (stem + name)).string();
            if (!picture.save(PictureFormat::Bmp, path)) {
                reportError(path, picture.lastError());
                status = 1;
            }
        }
    }
    if (options.json) std::printf("%s\n", json.dump(2).c_str());
    return status;
}

}  // namespace kx
