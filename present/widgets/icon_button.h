// CIconButton: a button that draws its own icon (and an optional caption) in four states,
// normal, hover, pressed and disabled, inside a 3D frame chosen by its style.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <functional>

namespace kx {

enum class IconState { Normal, Hover, Pressed, Disabled };

// Flat: never a frame. HoverRaised: raised while the pointer is over it. Raised: always
// raised. Sunken: always sunken, with a highlight inside the shadow. Every style but Flat
// shows a pressed button sunken.
enum class IconFrame { Flat, HoverRaised, Raised, Sunken };

// Where the caption goes: none shown, under the icon, or to its right.
enum class IconCaption { None, Below, Beside };

// The face colour of the button in each state; the frame's light and shadow are made from it.
// A disabled button uses the normal colour.
struct IconFrameColours {
    QColor normal{0x44, 0x47, 0x4c};
    QColor hover{0x56, 0x5a, 0x61};
    QColor pressed{0x33, 0x35, 0x39};
};

class CIconButton : public QAbstractButton {
public:
    // Draws the icon into `box` (the button's iconSize(), centred or placed beside the
    // caption) for the given state. It must only paint inside the box.
    using IconDrawing = std::function<void(QPainter& painter, const QRectF& box, IconState state)>;

    explicit CIconButton(QWidget* parent = nullptr);

    void setIconDrawing(IconDrawing drawing);
    void setFrameStyle(IconFrame frame);
    IconFrame frameStyle() const { return m_frame; }
    void setFrameColours(const IconFrameColours& colours);
    const IconFrameColours& frameColours() const { return m_colours; }
    void setCaptionPlacement(IconCaption placement);

    // The state the button is drawn in now.
    IconState state() const;
    bool isHovered() const { return m_hovered; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void drawFrame(QPainter& painter, const QColor& face, IconState state) const;
    void setHovered(bool hovered);

    IconDrawing m_drawing;
    IconFrame m_frame = IconFrame::HoverRaised;
    IconFrameColours m_colours;
    IconCaption m_caption = IconCaption::None;
    bool m_hovered = false;
};

}  // namespace kx
