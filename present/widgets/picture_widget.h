// PictureWidget: a widget that shows the pictures a render target hands it, scaled over its
// whole area. Pictures may arrive on any thread (quad play draws from its worker); the widget
// keeps a copy and repaints on its own thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <mutex>

#include "present/picture_window.h"

namespace kx {

class PictureWidget : public QWidget, public PictureWindow {
public:
    explicit PictureWidget(QWidget* parent = nullptr);

    void showPicture(const QImage& picture) override;
    QSize clientSize() const override;

    // The picture shown now (a copy), null before the first.
    QImage currentPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    mutable std::mutex m_mutex;  // guards m_picture and m_clientSize
    QImage m_picture;
    QSize m_clientSize;
};

}  // namespace kx
