// kxplayer [FILE]: the player on the desktop. FILE (a recording or a picture) opens once the
// main window is shown.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/dialogs/program_icon.h"
#include "app/player_application.h"
#include "platform/qt/qt_audio_device.h"

int main(int argc, char** argv) {
    std::optional<std::string> file;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("usage: kxplayer [FILE]\n  FILE: a recording (.kx .kxx .kxq .kxz .ckx) or "
                        "a picture (.bmp .jpg) to open at start\n");
            return 0;
        }
        if (argv[i][0] == '-' && argv[i][1] != 0) continue;  // Qt's own options
        if (!file) file = argv[i];
    }
    // Without a display Qt would abort; say so plainly instead.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "kxplayer: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
        return 1;
    }
    QApplication application(argc, argv);
    application.setApplicationDisplayName(QString());
    application.setWindowIcon(kx::programIcon());
    kx::QtAudioDevices audio;
    kx::PlayerApplication player(&audio);
    player.start(file);
    return application.exec();
}
