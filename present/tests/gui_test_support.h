// What the composition tests share: a Qt application on the offscreen platform (text needs
// one), a window that keeps what it was shown, and pixel helpers.
#pragma once

#include <QImage>

#include "present/offscreen_application.h"
#include "present/picture_window.h"

namespace kx::test {

inline void ensureGuiApplication() {
    ensureOffscreenApplication();
}

class MemoryWindow : public PictureWindow {
public:
    explicit MemoryWindow(QSize client = {}) : m_client(client) {}
    void showPicture(const QImage& picture) override {
        shown = picture.copy();
        ++showCount;
    }
    QSize clientSize() const override { return m_client; }

    QImage shown;
    int showCount = 0;

private:
    QSize m_client;
};

inline QRgb pixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

}  // namespace kx::test
