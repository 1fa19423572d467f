// The main view widget: mouse, wheel and Esc handed on, pictures shown by PictureWidget.
#include "present/widgets/video_view_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace kx {

VideoViewWidget::VideoViewWidget(QWidget* parent) : PictureWidget(parent) {
    setAccessibleName("Video");
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(16, 16);
}

void VideoViewWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_input) {
        const QPoint at = event->position().toPoint();
        m_input->leftButtonDown(at.x(), at.y());
    }
    PictureWidget::mousePressEvent(event);
}

void VideoViewWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_input) {
        const QPoint at = event->position().toPoint();
        m_input->leftButtonUp(at.x(), at.y());
    }
    PictureWidget::mouseReleaseEvent(event);
}

void VideoViewWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_input) m_input->leftDoubleClick();
}

void VideoViewWidget::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (m_input && delta != 0) m_input->wheel(delta);
    event->accept();
}

void VideoViewWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_input) {
        m_input->escapePressed();
        return;
    }
    PictureWidget::keyPressEvent(event);
}

void VideoViewWidget::resizeEvent(QResizeEvent* event) {
    PictureWidget::resizeEvent(event);
    if (m_input) m_input->resized();
}

}  // namespace kx
