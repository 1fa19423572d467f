// kxtool picture: the size and caption trailer of a BMP or JPEG picture file, as text or JSON.
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "codec/picture/picture_file.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

// BMP files begin "BM", JPEG streams with the start-of-image marker FF D8.
bool formatOfFile(const std::string& path, PictureFormat& format, std::string& reason) {
    std::ifstream in(path, std::ios::binary);
    char head[2] = {};
    if (!in || !in.read(head, 2)) {
        reason = in ? "the file is too short" : "cannot open the file";
        return false;
    }
    if (head[0] == 'B' && head[1] == 'M') {
        format = PictureFormat::Bmp;
        return true;
    }
    if (uint8_t(head[0]) == 0xFF && uint8_t(head[1]) == 0xD8) {
        format = PictureFormat::Jpeg;
        return true;
    }
    reason = "not a BMP or JPEG file";
    return false;
}

}  // namespace

int runPicture(const PictureOptions& options) {
    PictureFormat format;
    std::string reason;
    PictureFile picture;
    if (!formatOfFile(options.file, format, reason) || !picture.load(format, options.file)) {
        reportError(options.file, reason.empty() ? picture.lastError() : reason);
        return 1;
    }
    const uint8_t flags = picture.flags();
    if (options.json) {
        nlohmann::ordered_json object;
        object["width"] = picture.width();
        object["height"] = picture.height();
        object["flags"] = flags;
        if (flags & kPictureHasTime) object["time"] = picture.time();
        if (flags & kPictureHasBoardName) object["board_name"] = textToUtf8(picture.boardName());
        if (flags & kPictureHasCameraName) object["camera_name"] = textToUtf8(picture.cameraName());
        if (flags & kPictureHasHostName) {
            object["host_name"] = textToUtf8(picture.hostName());
            object["gmt_offset"] = picture.gmtOffset();
        }
        std::printf("%s\n", object.dump(2).c_str());
        return 0;
    }
    std::printf("%s\n", options.file.c_str());
    std::printf("  format       %s\n", format == PictureFormat::Bmp ? "BMP" : "JPEG");
    std::printf("  size         %u x %u\n", picture.width(), picture.height());
    std::printf("  flags        0x%02X\n", flags);
    if (flags & kPictureHasTime) {
        std::printf("  time         %s local", formatLocalTime(picture.time()).c_str());
        if (flags & kPictureHasHostName)
            std::printf(", %s recorder",
                        formatRecorderTime(picture.time(), picture.gmtOffset()).c_str());
        std::printf(" (%u)\n", picture.time());
    }
    if (flags & kPictureHasBoardName)
        std::printf("  board        \"%s\"\n", textToUtf8(picture.boardName()).c_str());
    if (flags & kPictureHasCameraName)
        std::printf("  camera       \"%s\"\n", textToUtf8(picture.cameraName()).c_str());
    if (flags & kPictureHasHostName) {
        std::printf("  host         \"%s\"\n", textToUtf8(picture.hostName()).c_str());
        std::printf("  time zone    %s\n", gmtText(picture.gmtOffset()).c_str());
    }
    return 0;
}

}  // namespace kx
