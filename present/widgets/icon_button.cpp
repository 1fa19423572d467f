// The icon button: face, 3D frame, icon and caption painted by the button itself; hover comes
// from the pointer entering and leaving it.
#include "present/widgets/icon_button.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <utility>

namespace kx {
namespace {

constexpr int kCaptionGap = 3;  // pixels between the icon and the caption

// Draws a bevel of `depth` pixels: `topLeft` along the top and left edges, `bottomRight`
// along the bottom and right ones.
void drawBevel(QPainter& painter, QRect rect, const QColor& topLeft, const QColor& bottomRight,
               int depth) {
    for (int i = 0; i < depth; ++i) {
        painter.setPen(topLeft);
        painter.drawLine(rect.topLeft(), rect.topRight() - QPoint(1, 0));
        painter.drawLine(rect.topLeft(), rect.bottomLeft() - QPoint(0, 1));
        painter.setPen(bottomRight);
        painter.drawLine(rect.bottomLeft(), rect.bottomRight());
        painter.drawLine(rect.topRight(), rect.bottomRight());
        rect.adjust(1, 1, -1, -1);
    }
}

}  // namespace

CIconButton::CIconButton(QWidget* parent) : QAbstractButton(parent) {
    // The button paints every pixel of itself: nothing needs to be erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_Hover);
    setIconSize(QSize(16, 16));
    setFocusPolicy(Qt::TabFocus);
}

void CIconButton::setIconDrawing(IconDrawing drawing) {
    m_drawing = std::move(drawing);
    update();
}

void CIconButton::setFrameStyle(IconFrame frame) {
    m_frame = frame;
    update();
}

void CIconButton::setFrameColours(const IconFrameColours& colours) {
    m_colours = colours;
    update();
}

void CIconButton::setCaptionPlacement(IconCaption placement) {
    m_caption = placement;
    updateGeometry();
    update();
}

IconState CIconButton::state() const {
    if (!isEnabled()) return IconState::Disabled;
    if (isDown()) return IconState::Pressed;
    if (m_hovered) return IconState::Hover;
    return IconState::Normal;
}

QSize CIconButton::sizeHint() const {
    const QSize icon = iconSize();
    if (m_caption == IconCaption::None || text().isEmpty()) return icon + QSize(8, 8);
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    if (m_caption == IconCaption::Below)
        return {std::max(icon.width(), textWidth) + 8,
                icon.height() + kCaptionGap + metrics.height() + 6};
    return {icon.width() + kCaptionGap + textWidth + 12,
            std::max(icon.height(), metrics.height()) + 8};
}

void CIconButton::drawFrame(QPainter& painter, const QColor& face, IconState state) const {
    const QColor light = face.lighter(170);
    const QColor shadow = face.darker(220);
    const QColor innerShadow = face.darker(140);
    const bool pressed = state == IconState::Pressed;
    const QRect r = rect();
    switch (m_frame) {
        case IconFrame::Flat:
            return;
        case IconFrame::HoverRaised:
            if (pressed) {
                drawBevel(painter, r, shadow, light, 1);
            } else if (state == IconState::Hover) {
                drawBevel(painter, r, light, shadow, 1);
            }
            return;
        case IconFrame::Raised:
            if (pressed) {
                drawBevel(painter, r, shadow, light, 1);
                drawBevel(painter, r.adjusted(1, 1, -1, -1), innerShadow, face, 1);
            } else {
                drawBevel(painter, r, light, shadow, 1);
                drawBevel(painter, r.adjusted(1, 1, -1, -1), face.lighter(125), innerShadow, 1);
            }
            return;
        case IconFrame::Sunken:
            drawBevel(painter, r, shadow, light, 1);
            // The highlight inside the shadow; a pressed button loses it and sinks deeper.
            drawBevel(painter, r.adjusted(1, 1, -1, -1), pressed ? innerShadow : face.lighter(135),
                      face, 1);
            return;
    }
}

void CIconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const IconState current = state();
    const QColor face = current == IconState::Hover     ? m_colours.hover
                        : current == IconState::Pressed ? m_colours.pressed
                                                        : m_colours.normal;
    painter.fillRect(rect(), face);
    drawFrame(painter, face, current);

    // A pressed button's content moves one pixel down and right, as into the panel.
    const QPoint shift =
        current == IconState::Pressed && m_frame != IconFrame::Flat ? QPoint(1, 1) : QPoint(0, 0);
    const QRect inner = rect().adjusted(2, 2, -2, -2).translated(shift);
    const QSize icon = iconSize();
    const bool withCaption = m_caption != IconCaption::None && !text().isEmpty();
    const QFontMetrics metrics(font());

    QRect iconBox(QPoint(0, 0), icon);
    QRect textBox;
    if (!withCaption) {
        iconBox.moveCenter(inner.center());
    } else if (m_caption == IconCaption::Below) {
        const int total = icon.height() + kCaptionGap + metrics.height();
        const int top = inner.top() + (inner.height() - total) / 2;
        iconBox.moveTopLeft({inner.left() + (inner.width() - icon.width()) / 2, top});
        textBox = QRect(inner.left(), iconBox.bottom() + 1 + kCaptionGap, inner.width(),
                        metrics.height());
    } else {
        const int total = icon.width() + kCaptionGap + metrics.horizontalAdvance(text());
        const int left = inner.left() + std::max(0, (inner.width() - total) / 2);
        iconBox.moveTopLeft({left, inner.top() + (inner.height() - icon.height()) / 2});
        textBox = QRect(iconBox.right() + 1 + kCaptionGap, inner.top(),
                        inner.right() - iconBox.right() - kCaptionGap, inner.height());
    }

    if (m_drawing) {
        painter.save();
        painter.setClipRect(iconBox);
        m_drawing(painter, QRectF(iconBox), current);
        painter.restore();
    }
    if (withCaption) {
        const QPalette::ColorGroup group =
            current == IconState::Disabled ? QPalette::Disabled : QPalette::Active;
        QColor textColour = palette().color(group, QPalette::ButtonText);
        if (current == IconState::Hover || current == IconState::Pressed)
            textColour = textColour.lighter(130);
        painter.setPen(textColour);
        const Qt::Alignment align = m_caption == IconCaption::Below
                                        ? Qt::AlignHCenter | Qt::AlignTop
                                        : Qt::AlignLeft | Qt::AlignVCenter;
        painter.drawText(textBox, int(align), text());
    }
    if (hasFocus()) {
        painter.setPen(QPen(face.lighter(200), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(2, 2, -3, -3));
    }
}

void CIconButton::setHovered(bool hovered) {
    if (m_hovered == hovered) return;
    m_hovered = hovered;
    update();
}

void CIconButton::enterEvent(QEnterEvent* event) {
    setHovered(true);
    QAbstractButton::enterEvent(event);
}

void CIconButton::leaveEvent(QEvent* event) {
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

void CIconButton::hideEvent(QHideEvent* event) {
    // A hidden button gets no leave event; it must not come back showing the hover state.
    setHovered(false);
    QAbstractButton::hideEvent(event);
}

void CIconButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        // A disabled button may miss the pointer's leave: take the hover state afresh.
        m_hovered = isEnabled() && underMouse();
        update();
    }
    QAbstractButton::changeEvent(event);
}

}  // namespace kx
