// Draws the program's icon with QPainter: a dark film frame with sprocket holes along its top
// and bottom edges and a glass lens in the middle.
#include "app/dialogs/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <QSaveFile>

namespace kx {

QImage renderProgramIcon(int size) {
    if (size < kMinProgramIconSize || size > kMaxProgramIconSize) return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // The film frame: a rounded dark body filling most of the square.
    const QRectF body(s * 0.03, s * 0.12, s * 0.94, s * 0.76);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x26, 0x2B, 0x33));
    painter.drawRoundedRect(body, s * 0.10, s * 0.10);

    // Sprocket holes along the top and bottom edges (fewer on small icons, where they would
    // merge).
    const int holes = size < 32 ? 4 : 6;
    const qreal holeWidth = body.width() / (holes * 2.0);
    const qreal holeHeight = s * 0.07;
    painter.setBrush(QColor(0xE8, 0xEC, 0xF0));
    for (int i = 0; i < holes; ++i) {
        const qreal x = body.left() + holeWidth * (2 * i + 0.5);
        painter.drawRect(QRectF(x, body.top() + s * 0.03, holeWidth, holeHeight));
        painter.drawRect(QRectF(x, body.bottom() - s * 0.03 - holeHeight, holeWidth, holeHeight));
    }

    // The lens: a metal ring, the glass with a deep blue gradient, and a highlight.
    const QPointF centre(s * 0.5, s * 0.5);
    const qreal ring = s * 0.27;
    QRadialGradient metal(centre, ring);
    metal.setColorAt(0.0, QColor(0x9A, 0xA3, 0xAD));
    metal.setColorAt(1.0, QColor(0x4A, 0x52, 0x5C));
    painter.setBrush(metal);
    painter.drawEllipse(centre, ring, ring);

    const qreal glass = s * 0.20;
    QRadialGradient deep(centre + QPointF(-glass * 0.3, -glass * 0.3), glass * 1.3);
    deep.setColorAt(0.0, QColor(0x5B, 0xB8, 0xF5));
    deep.setColorAt(0.5, QColor(0x1C, 0x5F, 0xA8));
    deep.setColorAt(1.0, QColor(0x0A, 0x1A, 0x3A));
    painter.setBrush(deep);
    painter.drawEllipse(centre, glass, glass);

    const qreal pupil = s * 0.07;
    painter.setBrush(QColor(0x05, 0x0A, 0x14));
    painter.drawEllipse(centre, pupil, pupil);

    painter.setBrush(QColor(255, 255, 255, 200));
    painter.drawEllipse(centre + QPointF(-glass * 0.42, -glass * 0.42), glass * 0.22, glass * 0.22);

    // A red recording lamp in the top right corner of the frame.
    painter.setBrush(QColor(0xE5, 0x39, 0x35));
    const qreal lamp = s * 0.06;
    painter.drawEllipse(QPointF(body.right() - s * 0.12, body.top() + s * 0.20), lamp, lamp);
    painter.end();
    return image;
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(renderProgramIcon(size)));
    return icon;
}

bool writeProgramIconPng(const std::string& path, int size) {
    const QImage image = renderProgramIcon(size);
    if (image.isNull() || path.empty()) return false;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!image.save(&file, "PNG")) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace kx
