// CPlayerPanel: the player's control panel, a small frameless tool window beside the main
// window with the seek slider, the transport, clip and view buttons and the nine speed buttons.
// Every control forwards to PanelCommands; the panel keeps only the lit speed lamp, the
// expanded state and the slider's last position.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "present/widgets/panel_commands.h"

class QLabel;

namespace kx {

class CIconButton;
class SeekSliderWidget;

// Control ids of the panel; each control's object name is "id" followed by its id.
constexpr int kPanelCancelId = 2;
constexpr int kPanelSliderId = 1000;
constexpr int kPanelExpandId = 1002;
constexpr int kPanelPlaybackId = 1006;
constexpr int kPanelClipStartId = 1011;
constexpr int kPanelClipEndId = 1012;
constexpr int kPanelPlayClipId = 1014;
constexpr int kPanelFirstSpeedId = 1057;  // 1057 .. 1065: levels -4 .. 4
constexpr int kPanelAuthenticateId = 1177;

constexpr int kMinPanelSpeedLevel = -4;
constexpr int kMaxPanelSpeedLevel = 4;

// Where the panel goes beside a main window of frame `mainFrame` on `screen`: to its right, top
// aligned; if that does not fit on the screen, to its left; then below it; then above it. The
// panel is never put over the main window, so the picture stays in view, unless no side has
// room (a main window filling the screen): then it sits in the screen's bottom-right corner,
// still on the screen.
QRect panelPlacement(QSize panel, const QRect& mainFrame, const QRect& screen);

class CPlayerPanel : public QWidget {
public:
    // The expanded strip: 19 pixels a line, two lines of frame readout (group and position,
    // frame number, tick; wall time to the millisecond, codec and kind).
    static constexpr int kReadoutLines = 2;
    static constexpr int kExpandHeight = 19 * kReadoutLines;

    explicit CPlayerPanel(PanelCommands& commands, QWidget* parent = nullptr);

    // Range 0 .. total with a tick at each of `ticks` (the running sums of the group frame
    // counts).
    void setSliderRange(uint32_t total, const std::vector<uint32_t>& ticks);
    // No ticks, position 0, no selection.
    void clearSlider();
    // Shows the frame on screen; also the last position that a released thumb is compared with.
    // Never seeks. While the user holds the thumb it stays where the user put it.
    void setSliderPosition(uint32_t position);
    uint32_t lastSliderPosition() const { return m_lastPosition; }

    // Lights the lamp of `level` (-4 .. 4) as the document chose it (keys change levels too);
    // hands nothing back to the document. Other levels leave the lamps as they are.
    void showSpeedLevel(int level);
    int speedLevel() const { return m_speedLevel; }
    bool speedLampLit(int level) const;

    // The text of the strip shown while the panel is expanded.
    void setReadout(const QString& text);
    // Called after the strip opens (true) or closes (false), so that its text can be filled.
    std::function<void(bool)> onExpandedChanged;
    bool isExpanded() const { return m_expanded; }

    void placeBeside(const QRect& mainWindowFrame, const QRect& screen);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void buildControls();
    CIconButton* addButton(int id, const QString& accessibleName, const QString& toolTip);
    void onPanelButton(int id);
    void selectSpeed(int level);
    void setLamp(int level, bool lit);
    void toggleExpanded();
    void markClipStart();
    void markClipEnd();
    void playClip();
    void onThumbTracked();
    void onThumbReleased();
    void onScrollEnded();
    void onWheel(int delta);
    void seekToSlider();

    PanelCommands& m_commands;
    SeekSliderWidget* m_slider = nullptr;
    CIconButton* m_expandButton = nullptr;
    QLabel* m_readout = nullptr;
    std::array<CIconButton*, 9> m_speedButtons{};
    std::array<bool, 9> m_lampLit{};
    int m_speedLevel = 0;
    bool m_expanded = false;
    uint32_t m_lastPosition = 0;
    bool m_dragging = false;
    QPoint m_dragOffset;  // pointer position minus the window's top-left corner
};

}  // namespace kx
