// The Qt application of the widget tests: a QApplication on the offscreen platform (unless
// QT_QPA_PLATFORM names another), made once and kept to the end of the process.
#pragma once

#include <QApplication>
#include <cstdlib>

namespace kx::test {

inline QApplication& widgetApplication() {
    static int argc = 1;
    static char name[] = "kx_widget_test";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

}  // namespace kx::test
