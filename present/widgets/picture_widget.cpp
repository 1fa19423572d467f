// The picture widget: a copy under a lock, a queued repaint, a scaled draw.
#include "present/widgets/picture_widget.h"

#include <QMetaObject>
#include <QPainter>
#include <QResizeEvent>
#include <cstring>

namespace kx {

PictureWidget::PictureWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void PictureWidget::showPicture(const QImage& picture) {
    {
        std::lock_guard lock(m_mutex);
        // The same size as before: copy into the picture already held (no allocation per frame).
        if (m_picture.size() == picture.size() && m_picture.format() == picture.format() &&
            !m_picture.isNull() && m_picture.bytesPerLine() == picture.bytesPerLine()) {
            std::memcpy(m_picture.bits(), picture.constBits(), size_t(picture.sizeInBytes()));
        } else {
            m_picture = picture.copy();
        }
    }
    // Repaint later on the widget's own thread, whoever calls.
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

QSize PictureWidget::clientSize() const {
    // Read on any thread: the size as of the last resize seen on the widget's thread.
    std::lock_guard lock(m_mutex);
    return m_clientSize;
}

void PictureWidget::resizeEvent(QResizeEvent* event) {
    std::lock_guard lock(m_mutex);
    m_clientSize = event->size();
}

QImage PictureWidget::currentPicture() const {
    std::lock_guard lock(m_mutex);
    return m_picture.copy();
}

void PictureWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    std::lock_guard lock(m_mutex);
    if (m_picture.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_picture);
}

}  // namespace kx
