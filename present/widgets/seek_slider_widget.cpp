// The seek slider's painting (grey ground, sunken groove, selection band, group ticks, thumb)
// and the end-of-scroll and wheel reports the control panel acts on.
#include "present/widgets/seek_slider_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <utility>

namespace kx {
namespace {

constexpr int kGrooveHeight = 4;
constexpr int kTickLength = 3;
const QColor kGrooveFill(0x70, 0x70, 0x70);
const QColor kShadow(0x4c, 0x4c, 0x4c);
const QColor kLight(0xe4, 0xe4, 0xe4);
const QColor kSelection(0x24, 0x5c, 0xd0);
const QColor kTick(0x30, 0x30, 0x30);
const QColor kThumbFace(0xd6, 0xd6, 0xd6);

}  // namespace

SeekSliderWidget::SeekSliderWidget(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    // Ticks are painted from m_ticks; the style is asked only for the room below the groove.
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(0);
    setTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(this, &QAbstractSlider::valueChanged, this, [this] {
        if (m_inputDepth == 0 && !isSliderDown() && onValueSetFromOutside) onValueSetFromOutside();
    });
}

bool SeekSliderWidget::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel: {
            ++m_inputDepth;
            const bool handled = QSlider::event(event);
            --m_inputDepth;
            return handled;
        }
        default:
            return QSlider::event(event);
    }
}

void SeekSliderWidget::setTicks(std::vector<uint32_t> ticks) {
    m_ticks = std::move(ticks);
    update();
}

void SeekSliderWidget::setSelection(int start, int end) {
    m_selection = SliderSelection{std::min(start, end), std::max(start, end)};
    update();
}

void SeekSliderWidget::clearSelection() {
    m_selection.reset();
    update();
}

QSize SeekSliderWidget::sizeHint() const {
    return {200, 28};
}

QRect SeekSliderWidget::grooveRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
}

QRect SeekSliderWidget::handleRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

int SeekSliderWidget::pixelOfValue(int value) const {
    // The same mapping QSlider uses to turn a drag position into a value.
    const QRect groove = grooveRect();
    const int length = handleRect().width();
    const int span = std::max(0, groove.width() - length);
    return groove.x() +
           QStyle::sliderPositionFromValue(minimum(), maximum(), value, span,
                                           invertedAppearance()) +
           length / 2;
}

void SeekSliderWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);

    const QRect handle = handleRect();
    const int middle = handle.center().y();
    const int left = pixelOfValue(minimum());
    const int right = pixelOfValue(maximum());
    const QRect groove(left - 2, middle - kGrooveHeight / 2, right - left + 5, kGrooveHeight);
    painter.fillRect(groove, isEnabled() ? kGrooveFill : kBackground.darker(115));
    painter.setPen(kShadow);
    painter.drawLine(groove.topLeft(), groove.topRight());
    painter.drawLine(groove.topLeft(), groove.bottomLeft());
    painter.setPen(kLight);
    painter.drawLine(groove.bottomLeft() + QPoint(0, 1), groove.bottomRight() + QPoint(1, 1));
    painter.drawLine(groove.topRight() + QPoint(1, 0), groove.bottomRight() + QPoint(1, 1));

    if (m_selection) {
        const int from = pixelOfValue(std::clamp(m_selection->start, minimum(), maximum()));
        const int to = pixelOfValue(std::clamp(m_selection->end, minimum(), maximum()));
        painter.fillRect(
            QRect(from, groove.top() + 1, std::max(2, to - from + 1), kGrooveHeight - 1),
            kSelection);
        // Small markers above the groove at both ends, seen even when the thumb covers the band.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kSelection);
        const int top = std::max(0, handle.top() - 1);
        for (int x : {from, to})
            painter.drawPolygon(
                QPolygon({QPoint(x - 3, top), QPoint(x + 3, top), QPoint(x, top + 3)}));
        painter.setRenderHint(QPainter::Antialiasing, false);
    }

    if (!m_ticks.empty() && maximum() > minimum()) {
        const int tickTop = std::min(height() - kTickLength, handle.bottom() + 2);
        std::vector<QLine> lines;
        int lastX = -1;
        for (uint32_t tick : m_ticks) {
            if (tick < static_cast<uint32_t>(std::max(0, minimum())) ||
                tick > static_cast<uint32_t>(maximum()))
                continue;
            const int x = pixelOfValue(static_cast<int>(tick));
            if (x == lastX) continue;  // many short groups share a pixel
            lastX = x;
            lines.emplace_back(x, tickTop, x, tickTop + kTickLength - 1);
        }
        painter.setPen(kTick);
        painter.drawLines(lines.data(), static_cast<int>(lines.size()));
    }

    // The thumb: a raised grey block with a groove of its own down the middle.
    const QColor face = !isEnabled()     ? kBackground
                        : isSliderDown() ? kThumbFace.darker(112)
                                         : kThumbFace;
    painter.fillRect(handle, face);
    painter.setPen(kLight.lighter(110));
    painter.drawLine(handle.topLeft(), handle.topRight());
    painter.drawLine(handle.topLeft(), handle.bottomLeft());
    painter.setPen(kShadow.darker(150));
    painter.drawLine(handle.bottomLeft(), handle.bottomRight());
    painter.drawLine(handle.topRight(), handle.bottomRight());
    const int grip = handle.center().x();
    painter.setPen(kShadow);
    painter.drawLine(grip, handle.top() + 3, grip, handle.bottom() - 3);

    if (hasFocus()) {
        painter.setPen(QPen(kShadow, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void SeekSliderWidget::mousePressEvent(QMouseEvent* event) {
    QSlider::mousePressEvent(event);
    // QSlider accepts the presses it acts on (thumb, page step, jump) and ignores the others.
    if (event->isAccepted()) m_mouseScroll = true;
}

void SeekSliderWidget::mouseReleaseEvent(QMouseEvent* event) {
    const bool ends = m_mouseScroll && event->buttons() == Qt::NoButton;
    QSlider::mouseReleaseEvent(event);
    if (!ends) return;
    m_mouseScroll = false;
    if (onScrollEnded) onScrollEnded();
}

void SeekSliderWidget::keyPressEvent(QKeyEvent* event) {
    const int before = sliderPosition();
    QSlider::keyPressEvent(event);
    if (event->isAccepted() && sliderPosition() != before) m_keyScroll = true;
}

void SeekSliderWidget::keyReleaseEvent(QKeyEvent* event) {
    QSlider::keyReleaseEvent(event);
    if (!m_keyScroll || event->isAutoRepeat()) return;
    m_keyScroll = false;
    if (onScrollEnded) onScrollEnded();
}

void SeekSliderWidget::wheelEvent(QWheelEvent* event) {
    // The wheel jumps by whole groups through the document; moving the thumb here as well would
    // show (and on the next end of scroll, seek to) a position the user did not choose. The
    // document moves the thumb when the next group's frame is shown.
    event->accept();
    if (onWheel) onWheel(event->angleDelta().y());
}

}  // namespace kx
