// kxtool print: prints a BMP or JPEG picture's page (path, picture, caption lines) into a PDF
// file without a window, as the player's Print command lays it out.
#include <cstdio>
#include <fstream>

#include "codec/picture/picture_file.h"
#include "output/print_page.h"
#include "present/offscreen_application.h"
#include "tools/kxtool/commands.h"

namespace kx {

int runPrint(const PrintOptions& options) {
    std::ifstream in(options.file, std::ios::binary);
    char head[2] = {};
    if (!in || !in.read(head, 2)) {
        reportError(options.file, in ? "the file is too short" : "cannot open the file");
        return 1;
    }
    PictureFormat format;
    if (head[0] == 'B' && head[1] == 'M') {
        format = PictureFormat::Bmp;
    } else if (uint8_t(head[0]) == 0xFF && uint8_t(head[1]) == 0xD8) {
        format = PictureFormat::Jpeg;
    } else {
        reportError(options.file, "not a BMP or JPEG file");
        return 1;
    }
    PictureFile picture;
    if (!picture.load(format, options.file)) {
        reportError(options.file, picture.lastError());
        return 1;
    }
    ensureOffscreenApplication();
    std::string error;
    if (!printPageToPdf(options.file, picture,
                        options.beside ? PrintMode::TextBeside : PrintMode::TextInPicture,
                        options.scaling, options.out, error)) {
        reportError(options.out, error);
        return 1;
    }
    return 0;
}

}  // namespace kx
