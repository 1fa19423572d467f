// VideoViewWidget: the main view on the screen. It shows what the render target hands it, scaled
// over itself, and passes the mouse (drags, wheel, double-click) and Esc to whoever handles the
// view's behaviour; it decides nothing itself.
#pragma once

#include "present/widgets/picture_widget.h"

namespace kx {

// What the view widget reports, in view pixels. Called on the user-interface thread.
class ViewInput {
public:
    virtual ~ViewInput() = default;
    virtual void leftButtonDown(int x, int y) = 0;
    virtual void leftButtonUp(int x, int y) = 0;
    // Positive when the wheel turns forward.
    virtual void wheel(int delta) = 0;
    virtual void leftDoubleClick() = 0;
    virtual void escapePressed() = 0;
    // The widget's size changed (a still picture with a caption is drawn at window size).
    virtual void resized() = 0;
};

class VideoViewWidget : public PictureWidget {
public:
    explicit VideoViewWidget(QWidget* parent = nullptr);
    void setInput(ViewInput* input) { m_input = input; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ViewInput* m_input = nullptr;
};

}  // namespace kx
