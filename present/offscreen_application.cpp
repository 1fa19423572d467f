// The offscreen Qt application of programs without windows.
#include "present/offscreen_application.h"

#include <QGuiApplication>
#include <cstdlib>

namespace kx {

void ensureOffscreenApplication() {
    if (QCoreApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "kx";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
}

}  // namespace kx
