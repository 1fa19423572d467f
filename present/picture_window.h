// PictureWindow: where a render target puts its finished picture. The widget that shows a
// recording implements it; tests and kxtool use an in-memory one.
#pragma once

#include <QImage>
#include <QSize>

namespace kx {

class PictureWindow {
public:
    virtual ~PictureWindow() = default;

    // Takes the finished picture, to be shown scaled over the whole window. Called on the user
    // interface thread or on a worker thread; copies what it needs before returning and never
    // blocks on the user interface (a widget repaints later, on its own thread).
    virtual void showPicture(const QImage& picture) = 0;

    // The size of the window's drawing area in pixels; an empty size when it has none.
    virtual QSize clientSize() const = 0;
};

}  // namespace kx
