// Our own drawings of the control panel's icons: simple filled shapes on a 16 x 16 grid in a
// light colour for the dark panel, an accent colour where it helps to tell buttons apart.
#include "present/widgets/panel_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <algorithm>
#include <cassert>

namespace kx {
namespace {

constexpr double kGrid = 16.0;

const QColor kGlyph(0xdc, 0xe0, 0xe6);
const QColor kDisabledGlyph(0x6c, 0x70, 0x76);
const QColor kDarkInk(0x26, 0x28, 0x2c);

// The glyph colour of a state, from the icon's own colour.
QColor stateColour(const QColor& base, IconState state) {
    switch (state) {
        case IconState::Normal:
            return base;
        case IconState::Hover:
            return base.lighter(125);
        case IconState::Pressed:
            return base.darker(115);
        case IconState::Disabled:
            return kDisabledGlyph;
    }
    return base;
}

QColor accentOf(PanelIcon icon) {
    switch (icon) {
        case PanelIcon::Play:
        case PanelIcon::PlayClip:
            return {0x7c, 0xd9, 0x7c};
        case PanelIcon::Stop:
            return {0xec, 0x6a, 0x64};
        case PanelIcon::Open:
            return {0xf0, 0xc8, 0x5a};
        case PanelIcon::ClipStart:
        case PanelIcon::ClipEnd:
            return {0x8c, 0xc4, 0xff};
        case PanelIcon::Authenticate:
            return {0x6c, 0xa8, 0xe8};
        default:
            return kGlyph;
    }
}

QPolygonF polygon(std::initializer_list<QPointF> points) {
    return QPolygonF(QList<QPointF>(points));
}

void fillPolygon(QPainter& p, const QPolygonF& shape, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(shape);
}

void stroke(QPainter& p, const QColor& colour, double width) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
}

QPolygonF mirrored(const QPolygonF& shape) {
    QPolygonF result;
    for (const QPointF& point : shape) result << QPointF(kGrid - point.x(), point.y());
    return result;
}

// Right-pointing triangle with its back at x, tip at x + width, 10 units high.
QPolygonF triangleRight(double x, double width) {
    return polygon({{x, 3}, {x + width, 8}, {x, 13}});
}

void drawMagnifier(QPainter& p, const QColor& c, bool plus) {
    stroke(p, c, 1.6);
    p.drawEllipse(QPointF(6.5, 6.5), 4.6, 4.6);
    p.setPen(QPen(c, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.2, 10.2), QPointF(14.2, 14.2));
    p.fillRect(QRectF(4.2, 5.7, 4.6, 1.6), c);
    if (plus) p.fillRect(QRectF(5.7, 4.2, 1.6, 4.6), c);
}

void drawBracket(QPainter& p, const QColor& c, bool opening, double x) {
    // An opening bracket's arms point right, a closing one's left.
    const double arm = opening ? 3 : -3;
    stroke(p, c, 1.8);
    p.drawPolyline(polygon({{x + arm, 2.5}, {x, 2.5}, {x, 13.5}, {x + arm, 13.5}}));
}

void drawGlyph(QPainter& p, PanelIcon icon, IconState state) {
    const QColor c = stateColour(accentOf(icon), state);
    switch (icon) {
        case PanelIcon::Play:
            fillPolygon(p, polygon({{4, 2.5}, {13.5, 8}, {4, 13.5}}), c);
            return;
        case PanelIcon::Pause:
            p.fillRect(QRectF(4, 3, 3, 10), c);
            p.fillRect(QRectF(9, 3, 3, 10), c);
            return;
        case PanelIcon::Stop:
            p.fillRect(QRectF(3.5, 3.5, 9, 9), c);
            return;
        case PanelIcon::StepNext:
            fillPolygon(p, triangleRight(3, 7), c);
            p.fillRect(QRectF(11, 3, 2, 10), c);
            return;
        case PanelIcon::StepPrev:
            fillPolygon(p, mirrored(triangleRight(3, 7)), c);
            p.fillRect(QRectF(3, 3, 2, 10), c);
            return;
        case PanelIcon::PlayNext:
            fillPolygon(p, triangleRight(1, 5.5), c);
            fillPolygon(p, triangleRight(6, 5.5), c);
            p.fillRect(QRectF(12.5, 3, 2, 10), c);
            return;
        case PanelIcon::PlayPrev:
            fillPolygon(p, mirrored(triangleRight(1, 5.5)), c);
            fillPolygon(p, mirrored(triangleRight(6, 5.5)), c);
            p.fillRect(QRectF(1.5, 3, 2, 10), c);
            return;
        case PanelIcon::Open: {
            // The folder's back with its tab, and the open front tilted towards the viewer.
            fillPolygon(p,
                        polygon({{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {13.5, 5}, {13.5, 13}, {1.5, 13}}),
                        c.darker(135));
            fillPolygon(p, polygon({{3.5, 7.5}, {15, 7.5}, {13, 13}, {1.5, 13}}), c);
            return;
        }
        case PanelIcon::Snapshot: {
            QPainterPath body;
            body.addRoundedRect(QRectF(1.5, 4.5, 13, 9), 1.5, 1.5);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(body);
            p.drawRect(QRectF(5, 2.5, 5, 2.5));
            p.setBrush(kDarkInk);
            p.drawEllipse(QPointF(8, 9), 3.2, 3.2);
            p.setBrush(c);
            p.drawEllipse(QPointF(8, 9), 1.7, 1.7);
            p.fillRect(QRectF(11.5, 6, 1.5, 1.2), kDarkInk);
            return;
        }
        case PanelIcon::ClipStart:
            drawBracket(p, c, true, 2.5);
            fillPolygon(p, polygon({{7, 4.5}, {13, 8}, {7, 11.5}}), stateColour(kGlyph, state));
            return;
        case PanelIcon::ClipEnd:
            fillPolygon(p, polygon({{3, 4.5}, {9, 8}, {3, 11.5}}), stateColour(kGlyph, state));
            drawBracket(p, c, false, 13.5);
            return;
        case PanelIcon::SaveClip: {
            fillPolygon(p, polygon({{2, 2}, {12, 2}, {14, 4}, {14, 14}, {2, 14}}), c);
            p.fillRect(QRectF(5, 2, 5, 4), kDarkInk);
            p.fillRect(QRectF(8, 2.8, 1.4, 2.4), c);
            p.fillRect(QRectF(4, 8.5, 8, 5.5), kDarkInk);
            return;
        }
        case PanelIcon::PlayClip:
            drawBracket(p, stateColour(kGlyph, state), true, 1.5);
            drawBracket(p, stateColour(kGlyph, state), false, 14.5);
            fillPolygon(p, polygon({{5.5, 4}, {11.5, 8}, {5.5, 12}}), c);
            return;
        case PanelIcon::ZoomIn:
            drawMagnifier(p, c, true);
            return;
        case PanelIcon::ZoomOut:
            drawMagnifier(p, c, false);
            return;
        case PanelIcon::FullScreen:
            stroke(p, c, 2);
            p.drawPolyline(polygon({{2, 6}, {2, 2}, {6, 2}}));
            p.drawPolyline(polygon({{10, 2}, {14, 2}, {14, 6}}));
            p.drawPolyline(polygon({{14, 10}, {14, 14}, {10, 14}}));
            p.drawPolyline(polygon({{6, 14}, {2, 14}, {2, 10}}));
            p.fillRect(QRectF(5, 5, 6, 6), c.darker(140));
            return;
        case PanelIcon::Caption:
            p.fillRect(QRectF(2.5, 2, 11, 2.6), c);
            p.fillRect(QRectF(6.7, 2, 2.6, 12), c);
            return;
        case PanelIcon::CaptionColour: {
            // A painter's palette: a light blob with a thumb hole and four paint dots.
            QPainterPath board;
            board.addEllipse(QRectF(1, 2, 14, 12));
            QPainterPath hole;
            hole.addEllipse(QRectF(9.5, 9, 3, 3));
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(board.subtracted(hole));
            const bool grey = state == IconState::Disabled;
            const QColor dots[] = {
                {0xe2, 0x3c, 0x3c}, {0x3c, 0xb4, 0x4a}, {0x3c, 0x6e, 0xe6}, {0xf0, 0xc0, 0x20}};
            const QPointF centres[] = {{4.5, 7}, {7.5, 4.6}, {11, 5.2}, {5.2, 10.6}};
            for (int i = 0; i < 4; ++i) {
                p.setBrush(grey ? kDarkInk : dots[i]);
                p.drawEllipse(centres[i], 1.5, 1.5);
            }
            return;
        }
        case PanelIcon::Expand:
        case PanelIcon::Collapse: {
            stroke(p, c, 2);
            p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const double top = icon == PanelIcon::Expand ? 5 : 11;
            const double tip = icon == PanelIcon::Expand ? 11 : 5;
            p.drawPolyline(polygon({{3, top}, {8, tip}, {13, top}}));
            return;
        }
        case PanelIcon::Authenticate: {
            QPainterPath shield;
            shield.moveTo(8, 1.2);
            shield.lineTo(14.2, 3.4);
            shield.lineTo(14.2, 7.5);
            shield.cubicTo(14.2, 11, 11, 13.6, 8, 15);
            shield.cubicTo(5, 13.6, 1.8, 11, 1.8, 7.5);
            shield.lineTo(1.8, 3.4);
            shield.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(shield);
            p.setPen(QPen(state == IconState::Disabled ? kDarkInk : QColor(Qt::white), 1.9,
                          Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(polygon({{4.8, 8}, {7.1, 10.4}, {11.4, 5.4}}));
            return;
        }
        case PanelIcon::Close:
            p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
            return;
    }
}

// The lamp colour of each level: blue-green for the slow speeds, green for real time, amber
// for 2 x and 4 x, red for the group jumps.
QColor lampColour(int level) {
    static const QColor colours[] = {{0x3c, 0xc8, 0xe6}, {0x3c, 0xc8, 0xe6}, {0x3c, 0xc8, 0xe6},
                                     {0x3c, 0xc8, 0xe6}, {0x50, 0xf0, 0x50}, {0xf8, 0xc0, 0x30},
                                     {0xf8, 0xc0, 0x30}, {0xff, 0x50, 0x40}, {0xff, 0x50, 0x40}};
    return colours[level + 4];
}

}  // namespace

void drawPanelIcon(QPainter& painter, PanelIcon icon, const QRectF& box, IconState state) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.topLeft());
    painter.scale(box.width() / kGrid, box.height() / kGrid);
    drawGlyph(painter, icon, state);
    painter.restore();
}

void drawSpeedLamp(QPainter& painter, const QRectF& box, int lampIndex, IconState state) {
    assert(lampIndex >= 0 && lampIndex < kSpeedLampCount);
    const bool lit = lampIndex % 2 == 1;
    const QColor base = lampColour(lampIndex / 2 - 4);
    QColor centre = lit ? base.lighter(135) : base.darker(330);
    QColor rim = lit ? base : base.darker(500);
    if (state == IconState::Disabled) {
        centre = lit ? QColor(0x90, 0x90, 0x90) : QColor(0x40, 0x40, 0x40);
        rim = centre.darker(150);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF middle = box.center();
    const double radius = std::min(box.width(), box.height()) / 2.0 - 0.25;
    QRadialGradient glow(middle - QPointF(radius / 3, radius / 3), radius * 1.4);
    glow.setColorAt(0, lit ? centre.lighter(140) : centre.lighter(130));
    glow.setColorAt(0.6, centre);
    glow.setColorAt(1, rim);
    painter.setPen(QPen(QColor(0x10, 0x10, 0x12), 0.6));
    painter.setBrush(glow);
    painter.drawEllipse(middle, radius, radius);
    painter.restore();
}

QImage panelIconImage(PanelIcon icon, IconState state, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawPanelIcon(painter, icon, QRectF(QPointF(0, 0), QSizeF(size)), state);
    return image;
}

QImage speedLampImage(int lampIndex, IconState state) {
    QImage image(kSpeedLampSize, kSpeedLampSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawSpeedLamp(painter, QRectF(0, 0, kSpeedLampSize, kSpeedLampSize), lampIndex, state);
    return image;
}

}  // namespace kx
