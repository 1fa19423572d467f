// The control panel's icons, drawn with QPainter on a 16-unit grid so that they stay crisp at
// the buttons' size, and the speed lamps (nine levels, each unlit or lit, 8 x 8).
#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>

#include "present/widgets/icon_button.h"

class QPainter;

namespace kx {

enum class PanelIcon {
    Play,
    Pause,
    Stop,
    StepPrev,
    StepNext,
    PlayPrev,
    PlayNext,
    Open,
    Snapshot,
    ClipStart,
    ClipEnd,
    SaveClip,
    PlayClip,
    ZoomIn,
    ZoomOut,
    FullScreen,
    Caption,
    CaptionColour,
    Expand,
    Collapse,
    Authenticate,
    Close,
};
constexpr int kPanelIconCount = static_cast<int>(PanelIcon::Close) + 1;

// Draws `icon` scaled into `box` in the colours of `state`.
void drawPanelIcon(QPainter& painter, PanelIcon icon, const QRectF& box, IconState state);

// The speed lamps: lamp 2 x (level + 4) is the unlit lamp of a level (-4 .. 4), the one after
// it the lit lamp; a lit lamp is brighter than the unlit lamp of its level.
constexpr int kSpeedLampCount = 18;
constexpr int kSpeedLampSize = 8;
constexpr int speedLampIndex(int level, bool lit) {
    return 2 * (level + 4) + (lit ? 1 : 0);
}
void drawSpeedLamp(QPainter& painter, const QRectF& box, int lampIndex, IconState state);

// The drawings on a transparent image of the given size, as a button shows them.
QImage panelIconImage(PanelIcon icon, IconState state, QSize size);
QImage speedLampImage(int lampIndex, IconState state = IconState::Normal);

}  // namespace kx
