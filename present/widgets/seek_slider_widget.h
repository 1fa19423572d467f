// SeekSliderWidget: the control panel's seek slider. A QSlider that paints itself on the grey
// panel colour with ticks at arbitrary positions (the group starts) and a selection band (the
// clip), and reports the two events a QSlider has no signal for: the end of a scroll (mouse or
// key released) and a wheel turn, which it does not turn into a move of its own.
#pragma once

#include <QColor>
#include <QSlider>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kx {

struct SliderSelection {
    int start = 0;
    int end = 0;
    bool operator==(const SliderSelection&) const = default;
};

class SeekSliderWidget : public QSlider {
public:
    static inline const QColor kBackground{0xa8, 0xa8, 0xa8};

    explicit SeekSliderWidget(QWidget* parent = nullptr);

    // Tick marks at these slider values (values outside the range are not drawn).
    void setTicks(std::vector<uint32_t> ticks);
    const std::vector<uint32_t>& ticks() const { return m_ticks; }

    void setSelection(int start, int end);
    void clearSelection();
    const std::optional<SliderSelection>& selection() const { return m_selection; }

    // Called after the mouse button that pressed the slider is released (after QSlider's own
    // sliderReleased), and when a key that moved the slider is released.
    std::function<void()> onScrollEnded;
    // Called when the value was set by something other than the user's mouse and keys and the
    // document (which sets it with signals blocked): a screen reader or another assistive tool.
    std::function<void()> onValueSetFromOutside;
    // Called with the wheel's vertical turn (positive: away from the user); the slider itself
    // does not move by the wheel.
    std::function<void(int delta)> onWheel;

    // The x coordinate at which `value` is drawn (the middle of the thumb placed there).
    int pixelOfValue(int value) const;

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QRect grooveRect() const;
    QRect handleRect() const;

    std::vector<uint32_t> m_ticks;
    std::optional<SliderSelection> m_selection;
    bool m_mouseScroll = false;  // a press the slider took is under way
    bool m_keyScroll = false;    // a key moved the slider and is not yet released
    int m_inputDepth = 0;        // mouse, key or wheel events being handled
};

}  // namespace kx
