// The control panel: its controls on a fixed grid over a dark skin of our own, the button and
// slider handlers, the speed lamps, the expanded read-out strip and moving by the body.
#include "present/widgets/control_panel.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QWindow>
#include <algorithm>
#include <cassert>
#include <limits>

#include "present/seek_slider.h"
#include "present/widgets/icon_button.h"
#include "present/widgets/panel_icons.h"
#include "present/widgets/seek_slider_widget.h"

namespace kx {
namespace {

// The grid: nine columns of buttons under the slider.
constexpr int kMargin = 6;
constexpr int kPitch = 29;
constexpr int kButtonWidth = 28;
constexpr int kButtonHeight = 24;
constexpr int kSpeedHeight = 28;
constexpr int kSliderTop = 4;
constexpr int kSliderHeight = 28;
constexpr int kRowTop[] = {34, 60, 86};
constexpr int kSpeedTop = 113;
constexpr int kPanelWidth = 2 * kMargin + 8 * kPitch + kButtonWidth;
constexpr int kCollapsedHeight = kSpeedTop + kSpeedHeight + kMargin;

const QColor kSkinTop(0x3a, 0x3d, 0x42);
const QColor kSkinBottom(0x24, 0x26, 0x2a);
const QColor kSkinEdgeLight(0x5a, 0x5e, 0x65);
const QColor kSkinEdgeDark(0x14, 0x15, 0x17);

// A button of the panel: id, icon, tooltip (empty: none, the accessible name stands alone),
// accessible name, caption drawn beside the icon, place on the grid (row, first column,
// columns spanned), and the command it forwards; the buttons without one are handled by the
// panel (CPlayerPanel::onPanelButton).
struct PanelButton {
    int id;
    PanelIcon icon;
    const char* toolTip;
    const char* name;
    const char* caption;
    int row;
    int column;
    int span;
    void (*command)(PanelCommands&);
};

using P = PanelCommands;
const PanelButton kButtons[] = {
    {1003, PanelIcon::Open, "Open", "Open", "", 0, 0, 1, [](P& c) { c.open(); }},
    {1004, PanelIcon::Stop, "Stop", "Stop", "", 0, 1, 1, [](P& c) { c.stop(); }},
    {1007, PanelIcon::PlayPrev, "Play prev", "Play prev", "", 0, 3, 1, [](P& c) { c.playPrev(); }},
    {1008, PanelIcon::StepPrev, "Step prev", "Step prev", "", 0, 4, 1, [](P& c) { c.stepPrev(); }},
    {kPanelPlaybackId, PanelIcon::Play, "Playback", "Playback", "", 0, 5, 1, nullptr},
    {1005, PanelIcon::Pause, "Pause", "Pause", "", 0, 6, 1, [](P& c) { c.pause(); }},
    {1009, PanelIcon::StepNext, "Step next", "Step next", "", 0, 7, 1, [](P& c) { c.stepNext(); }},
    {1010, PanelIcon::PlayNext, "Play next", "Play next", "", 0, 8, 1, [](P& c) { c.playNext(); }},
    {kPanelClipStartId, PanelIcon::ClipStart, "Start clip", "Start clip", "", 1, 0, 1, nullptr},
    {kPanelClipEndId, PanelIcon::ClipEnd, "End clip", "End clip", "", 1, 1, 1, nullptr},
    {1013, PanelIcon::SaveClip, "Save clip", "Save clip", "", 1, 2, 1, [](P& c) { c.saveClip(); }},
    {kPanelPlayClipId, PanelIcon::PlayClip, "Play clip", "Play clip", "", 1, 3, 1, nullptr},
    {1015, PanelIcon::Snapshot, "Snapshot", "Snapshot", "", 1, 4, 1, [](P& c) { c.snapshot(); }},
    {kPanelAuthenticateId, PanelIcon::Authenticate, "", "Authenticate", "Authenticate", 1, 5, 4,
     [](P& c) { c.authenticate(); }},
    {1019, PanelIcon::ZoomIn, "Zoom in", "Zoom in", "", 2, 0, 1, [](P& c) { c.zoomIn(); }},
    {1020, PanelIcon::ZoomOut, "Zoom out", "Zoom out", "", 2, 1, 1, [](P& c) { c.zoomOut(); }},
    {1018, PanelIcon::FullScreen, "Full screen", "Full screen", "", 2, 2, 1,
     [](P& c) { c.fullScreen(); }},
    {1016, PanelIcon::Caption, "Caption", "Caption", "", 2, 3, 1, [](P& c) { c.toggleCaption(); }},
    {1017, PanelIcon::CaptionColour, "Caption color", "Caption color", "", 2, 4, 1,
     [](P& c) { c.captionColour(); }},
    {kPanelExpandId, PanelIcon::Expand, "Advance", "Advance", "", 2, 5, 1, nullptr},
    {kPanelCancelId, PanelIcon::Close, "", "Cancel", "Cancel", 2, 6, 3, nullptr},
};

struct SpeedEntry {
    const char* caption;
    const char* toolTip;
};
constexpr SpeedEntry kSpeeds[] = {
    {"1/8 x", "1/8 x"}, {"1/6 x", "1/6 x"},    {"1/4 x", "1/4 x"},
    {"1/2 x", "1/2 x"}, {"1 x", "1 x"},        {"2 x", "2 x"},
    {"4 x", "4 x"},     {"H x", "High Speed"}, {"XH x", "Extra High Speed"}};

int toSliderValue(uint64_t value) {
    return static_cast<int>(std::min<uint64_t>(value, std::numeric_limits<int>::max()));
}

int32_t toInt32(uint32_t value) {
    return static_cast<int32_t>(std::min<uint32_t>(value, std::numeric_limits<int32_t>::max()));
}

QString idName(int id) {
    return QStringLiteral("id%1").arg(id);
}

}  // namespace

QRect panelPlacement(QSize panel, const QRect& mainFrame, const QRect& screen) {
    const int width = panel.width();
    const int height = panel.height();
    const int screenRight = screen.x() + screen.width();    // one past the last column
    const int screenBottom = screen.y() + screen.height();  // one past the last row
    const int mainRight = mainFrame.x() + mainFrame.width();
    const int mainBottom = mainFrame.y() + mainFrame.height();
    // Aligned with the main window where possible, moved along its side to stay on the screen.
    const int alignedTop =
        std::clamp(mainFrame.y(), screen.y(), std::max(screen.y(), screenBottom - height));
    const int alignedLeft =
        std::clamp(mainFrame.x(), screen.x(), std::max(screen.x(), screenRight - width));
    const bool fitsTall = height <= screen.height();
    const bool fitsWide = width <= screen.width();

    if (fitsTall && mainRight >= screen.x() && mainRight + width <= screenRight)
        return {mainRight, alignedTop, width, height};
    if (fitsTall && mainFrame.x() - width >= screen.x() && mainFrame.x() <= screenRight)
        return {mainFrame.x() - width, alignedTop, width, height};
    if (fitsWide && mainBottom >= screen.y() && mainBottom + height <= screenBottom)
        return {alignedLeft, mainBottom, width, height};
    if (fitsWide && mainFrame.y() - height >= screen.y() && mainFrame.y() <= screenBottom)
        return {alignedLeft, mainFrame.y() - height, width, height};
    // No side has room: the panel must stay reachable, so it goes over the main window, in the
    // corner where it hides the least of a centred picture.
    return {std::max(screen.x(), screenRight - width), std::max(screen.y(), screenBottom - height),
            width, height};
}

CPlayerPanel::CPlayerPanel(PanelCommands& commands, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), m_commands(commands) {
    setWindowTitle(QStringLiteral("Player"));
    setAccessibleName(QStringLiteral("Player"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);

    QPalette skin = palette();
    skin.setColor(QPalette::Window, kSkinBottom);
    skin.setColor(QPalette::ButtonText, QColor(0xe0, 0xe3, 0xe8));
    skin.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x73, 0x78));
    skin.setColor(QPalette::WindowText, QColor(0xe0, 0xe3, 0xe8));
    setPalette(skin);

    buildControls();
    setFixedSize(kPanelWidth, kCollapsedHeight);
}

CIconButton* CPlayerPanel::addButton(int id, const QString& accessibleName,
                                     const QString& toolTip) {
    auto* button = new CIconButton(this);
    button->setObjectName(idName(id));
    button->setAccessibleName(accessibleName);
    if (!toolTip.isEmpty()) button->setToolTip(toolTip);
    button->setFrameStyle(IconFrame::Raised);
    return button;
}

void CPlayerPanel::buildControls() {
    m_slider = new SeekSliderWidget(this);
    m_slider->setObjectName(idName(kPanelSliderId));
    m_slider->setAccessibleName(QStringLiteral("Seek"));
    m_slider->setGeometry(kMargin, kSliderTop, kPanelWidth - 2 * kMargin, kSliderHeight);
    m_slider->setRange(0, 0);
    QObject::connect(m_slider, &QAbstractSlider::sliderMoved, this, [this] { onThumbTracked(); });
    QObject::connect(m_slider, &QAbstractSlider::sliderReleased, this,
                     [this] { onThumbReleased(); });
    m_slider->onScrollEnded = [this] { onScrollEnded(); };
    m_slider->onValueSetFromOutside = [this] { seekToSlider(); };
    m_slider->onWheel = [this](int delta) { onWheel(delta); };

    for (const PanelButton& entry : kButtons) {
        CIconButton* button =
            addButton(entry.id, QString::fromLatin1(entry.name), QString::fromLatin1(entry.toolTip));
        button->setGeometry(kMargin + entry.column * kPitch, kRowTop[entry.row],
                            kButtonWidth + (entry.span - 1) * kPitch, kButtonHeight);
        const PanelIcon icon = entry.icon;
        button->setIconDrawing([icon](QPainter& painter, const QRectF& box, IconState state) {
            drawPanelIcon(painter, icon, box, state);
        });
        if (*entry.caption) {
            button->setText(QString::fromLatin1(entry.caption));
            button->setCaptionPlacement(IconCaption::Beside);
        }
        if (entry.id == kPanelExpandId) m_expandButton = button;

        if (entry.command) {
            const auto command = entry.command;
            QObject::connect(button, &QAbstractButton::clicked, this,
                             [this, command] { command(m_commands); });
        } else if (entry.id == kPanelCancelId) {
            // Closing the program destroys this panel: the call runs after the click's own
            // event handling has finished, and is dropped if the panel is gone by then.
            PanelCommands& commands = m_commands;
            QObject::connect(
                button, &QAbstractButton::clicked, this, [&commands] { commands.closeProgram(); },
                Qt::QueuedConnection);
        } else {
            const int id = entry.id;
            QObject::connect(button, &QAbstractButton::clicked, this,
                             [this, id] { onPanelButton(id); });
        }
    }

    QFont small = font();
    small.setPixelSize(9);
    for (int i = 0; i < 9; ++i) {
        auto* button = addButton(kPanelFirstSpeedId + i, QString::fromLatin1(kSpeeds[i].toolTip),
                                 QString::fromLatin1(kSpeeds[i].toolTip));
        button->setGeometry(kMargin + i * kPitch, kSpeedTop, kButtonWidth, kSpeedHeight);
        button->setIconSize(QSize(kSpeedLampSize, kSpeedLampSize));
        button->setFont(small);
        button->setText(QString::fromLatin1(kSpeeds[i].caption));
        button->setCaptionPlacement(IconCaption::Below);
        const int level = i + kMinPanelSpeedLevel;
        QObject::connect(button, &QAbstractButton::clicked, this,
                         [this, level] { selectSpeed(level); });
        m_speedButtons[i] = button;
        setLamp(level, level == m_speedLevel);
    }

    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("readout"));
    m_readout->setAccessibleName(QStringLiteral("Frame readout"));
    m_readout->setGeometry(kMargin, kCollapsedHeight - 2, kPanelWidth - 2 * kMargin,
                           kExpandHeight - 2);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPixelSize(10);
    m_readout->setFont(mono);
    m_readout->setStyleSheet(
        QStringLiteral("QLabel { background: #141619; color: #a6e6a6; border: 1px solid #0b0c0e; "
                       "padding: 0 3px; }"));
    m_readout->hide();
}

void CPlayerPanel::setLamp(int level, bool lit) {
    const int i = level - kMinPanelSpeedLevel;
    assert(i >= 0 && i < 9);
    m_lampLit[i] = lit;
    const int lamp = speedLampIndex(level, lit);
    m_speedButtons[i]->setIconDrawing(
        [lamp](QPainter& painter, const QRectF& box, IconState state) {
            drawSpeedLamp(painter, box, lamp, state);
        });
}

bool CPlayerPanel::speedLampLit(int level) const {
    if (level < kMinPanelSpeedLevel || level > kMaxPanelSpeedLevel) return false;
    return m_lampLit[level - kMinPanelSpeedLevel];
}

void CPlayerPanel::selectSpeed(int level) {
    if (level == m_speedLevel) return;
    setLamp(m_speedLevel, false);
    setLamp(level, true);
    m_speedLevel = level;
    m_commands.setSpeed(level);
}

void CPlayerPanel::showSpeedLevel(int level) {
    if (level < kMinPanelSpeedLevel || level > kMaxPanelSpeedLevel) return;
    for (int other = kMinPanelSpeedLevel; other <= kMaxPanelSpeedLevel; ++other)
        if (speedLampLit(other) != (other == level)) setLamp(other, other == level);
    m_speedLevel = level;
}

void CPlayerPanel::onPanelButton(int id) {
    switch (id) {
        case kPanelPlaybackId:
            // Playback plays at real time: the "1 x" lamp is lit again, without a SetSpeed.
            if (m_speedLevel != 0) {
                setLamp(m_speedLevel, false);
                setLamp(0, true);
                m_speedLevel = 0;
            }
            m_commands.playback();
            return;
        case kPanelClipStartId:
            markClipStart();
            return;
        case kPanelClipEndId:
            markClipEnd();
            return;
        case kPanelPlayClipId:
            playClip();
            return;
        case kPanelExpandId:
            toggleExpanded();
            return;
        default:
            assert(false && "a panel button without a handler");
    }
}

void CPlayerPanel::toggleExpanded() {
    m_expanded = !m_expanded;
    setFixedSize(kPanelWidth, kCollapsedHeight + (m_expanded ? kExpandHeight : 0));
    m_readout->setVisible(m_expanded);
    const PanelIcon icon = m_expanded ? PanelIcon::Collapse : PanelIcon::Expand;
    m_expandButton->setIconDrawing([icon](QPainter& painter, const QRectF& box, IconState state) {
        drawPanelIcon(painter, icon, box, state);
    });
    if (onExpandedChanged) onExpandedChanged(m_expanded);
}

void CPlayerPanel::setReadout(const QString& text) {
    m_readout->setText(text);
}

void CPlayerPanel::markClipStart() {
    if (!m_commands.markClipStart()) return;
    const int position = m_slider->value();
    m_slider->setSelection(position, toSliderValue(uint64_t(std::max(0, position)) + 1));
}

void CPlayerPanel::markClipEnd() {
    if (!m_commands.markClipEnd()) return;
    const int position = m_slider->value();
    // With no start shown (the document accepted an end without one) the end alone is shown.
    const int start = m_slider->selection() ? m_slider->selection()->start : position;
    m_slider->setSelection(std::min(start, position), std::max(start, position));
}

void CPlayerPanel::playClip() {
    if (m_commands.playClip()) m_slider->clearSelection();
}

void CPlayerPanel::setSliderRange(uint32_t total, const std::vector<uint32_t>& ticks) {
    const QSignalBlocker quiet(m_slider);
    m_slider->setRange(0, toSliderValue(total));
    // The ticks of a recording replace those of the one before; its clip marks went with it.
    m_slider->setTicks(ticks);
    m_slider->clearSelection();
    m_slider->setPageStep(std::max(1, toSliderValue(total) / 20));
}

void CPlayerPanel::clearSlider() {
    const QSignalBlocker quiet(m_slider);
    m_slider->setTicks({});
    m_slider->clearSelection();
    m_lastPosition = 0;
    if (!m_slider->isSliderDown()) m_slider->setValue(0);
}

void CPlayerPanel::setSliderPosition(uint32_t position) {
    m_lastPosition = position;
    // While the user holds the thumb, moving it under the pointer would fight the drag (and a
    // held slider reports every move as a drag).
    if (m_slider->isSliderDown()) return;
    const QSignalBlocker quiet(m_slider);
    m_slider->setValue(toSliderValue(position));
}

void CPlayerPanel::seekToSlider() {
    const SliderTarget target = sliderTarget(
        m_slider->ticks(), static_cast<uint32_t>(std::max(0, m_slider->sliderPosition())));
    m_commands.sliderSeek(toInt32(target.group), toInt32(target.offset));
}

void CPlayerPanel::onThumbTracked() {
    if (!m_commands.motionSuspended()) m_commands.toggleMotionSuspend();
    seekToSlider();
}

void CPlayerPanel::onThumbReleased() {
    const int64_t position = m_slider->sliderPosition();
    if (position > int64_t(m_lastPosition)) {
        m_commands.playNext();
    } else if (position < int64_t(m_lastPosition)) {
        m_commands.playPrev();
    }
}

void CPlayerPanel::onScrollEnded() {
    if (m_commands.motionSuspended()) m_commands.toggleMotionSuspend();
    seekToSlider();
}

void CPlayerPanel::onWheel(int delta) {
    if (!m_commands.motionSuspended()) m_commands.toggleMotionSuspend();
    if (delta > 0) {
        m_commands.playPrev();
    } else if (delta < 0) {
        m_commands.playNext();
    }
    if (m_commands.motionSuspended()) m_commands.toggleMotionSuspend();
}

void CPlayerPanel::placeBeside(const QRect& mainWindowFrame, const QRect& screen) {
    move(panelPlacement(frameGeometry().size(), mainWindowFrame, screen).topLeft());
}

void CPlayerPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient skin(0, 0, 0, height());
    skin.setColorAt(0, kSkinTop);
    skin.setColorAt(1, kSkinBottom);
    painter.fillRect(rect(), skin);
    // A bevelled edge, and a groove under the slider and above the speed row.
    const QRect edge = rect().adjusted(0, 0, -1, -1);
    painter.setPen(kSkinEdgeLight);
    painter.drawLine(edge.topLeft(), edge.topRight());
    painter.drawLine(edge.topLeft(), edge.bottomLeft());
    painter.setPen(kSkinEdgeDark);
    painter.drawLine(edge.bottomLeft(), edge.bottomRight());
    painter.drawLine(edge.topRight(), edge.bottomRight());
    for (int y : {kRowTop[0] - 2, kSpeedTop - 2}) {
        painter.setPen(kSkinEdgeDark);
        painter.drawLine(kMargin, y - 1, width() - kMargin - 1, y - 1);
        painter.setPen(kSkinEdgeLight);
        painter.drawLine(kMargin, y, width() - kMargin - 1, y);
    }
}

void CPlayerPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        // As Cancel: after this event is done, since the program's end destroys the panel.
        QMetaObject::invokeMethod(
            this, [this] { m_commands.closeProgram(); }, Qt::QueuedConnection);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CPlayerPanel::mousePressEvent(QMouseEvent* event) {
    // Only presses on the panel's own background arrive here: the controls take theirs.
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // Where the window system moves windows itself (and must, on some), let it.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

void CPlayerPanel::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    move(event->globalPosition().toPoint() - m_dragOffset);
}

void CPlayerPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

}  // namespace kx
