// The "Quad play" window: four channel panes on one clock, driven by the quad player. Each pane
// (CQuadPane) shows its channel's pictures with their captions and keeps the channel's search
// matches, clip marks and snapshot; a row of buttons acts on the player and the current pane, and
// a slider per pane shows and sets that channel's position (only the current pane's shows).
#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "browse/quad_state.h"
#include "browse/quad_window.h"
#include "browse/search.h"
#include "platform/event_loop.h"
#include "playback/quad_play_wnd.h"
#include "present/widgets/picture_widget.h"

class QLabel;
class QPushButton;

namespace kx {

class AudioDevices;
class CQuadPlayDlg;
class SeekSliderWidget;

// Control ids of the window (object names "id<N>").
constexpr int kQuadPlayId = 1111;
constexpr int kQuadStopId = 1112;
constexpr int kQuadPauseId = 1113;
constexpr int kQuadPrevId = 1114;
constexpr int kQuadStepPrevId = 1115;
constexpr int kQuadStepNextId = 1116;
constexpr int kQuadNextId = 1117;
constexpr int kQuadAdvanceId = 1118;
constexpr int kQuadClipStartId = 1119;
constexpr int kQuadClipEndId = 1120;
constexpr int kQuadClipSaveId = 1121;
constexpr int kQuadClipPlayId = 1122;
constexpr int kQuadSnapshotId = 1123;
constexpr int kQuadTextId = 1124;
constexpr int kQuadTextColorId = 1125;
constexpr int kQuadSpeedOneId = 1130;  // "1 x"; the speed buttons are 1126 (1/8 x) to 1134 (XH)
constexpr int kQuadFirstSliderId = 1135;
constexpr int kQuadCloseId = 2;
constexpr int kQuadPaneObjectBase = 1200;  // panes are named "pane0" .. "pane3"

class CQuadPane : public PictureWidget, public EventTarget {
public:
    CQuadPane(CQuadPlayDlg& dialog, int index, EventLoop& loop, QWidget* parent);

    // Closes the channel, gives it `path` and, with a moment, positions it there (false, the
    // channel closed, when that fails).
    bool OpenInPane(const std::string& path, uint32_t moment);
    // Searches the pane's channel pair and opens the earliest-ending match at the moment.
    bool SearchAndOpen(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                       bool subfolders);
    void ClipStart();
    void ClipEnd();
    void ClipSave();
    void ClipPlay();
    void SnapshotChannel();
    void ToggleCaption();
    void ChooseCaptionColour();

    int Index() const { return m_index; }
    const std::string& Name() const { return m_name; }
    const std::string& FilePath() const { return m_filePath; }
    const std::string& LastClipPath() const { return m_lastClipPath; }
    const std::string& LastSnapshotPath() const { return m_lastSnapshotPath; }
    const QuadClipMarks& ClipMarks() const { return m_clip; }
    bool CaptionShown() const { return m_captionShown; }
    bool Enlarged() const { return m_enlarged; }
    ChannelSettings& Settings() { return m_settings; }
    SearchCandidates& Candidates() { return m_candidates; }
    void ClipMarksClear() { m_clip.Clear(); }

    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void OnChannelOpened();
    void OnPicture();
    void OnChannelEnded();
    void ShowClipSelection();

    CQuadPlayDlg& m_dialog;
    int m_index;
    ChannelSettings m_settings;
    SearchCandidates m_candidates;
    std::string m_name;
    bool m_captionShown = true;
    uint32_t m_captionColour = 0x00FFFF00;  // cyan, 0x00BBGGRR
    bool m_enlarged = false;
    QuadClipMarks m_clip;
    std::string m_filePath;
    std::string m_lastClipPath;
    std::string m_lastSnapshotPath;
};

class CQuadPlayDlg : public QDialog {
public:
    CQuadPlayDlg(QuadHost& host, EventLoop& loop, AudioDevices* audio);
    ~CQuadPlayDlg() override;

    // Each of the first pairs.size() panes searches its channel; true, and the window shown,
    // when any pane opened a file.
    bool LoadChannels(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                      const std::string& dvrName, bool subfolders);
    // Every pane opens its channel of the four-channel recording `path`; the window is shown.
    bool LoadFourChannel(const std::string& path);
    // Stops the player and closes every channel; the window is then only waiting to be deleted.
    void Shutdown();

    void SelectPane(int index);
    void LayoutPanes();
    void RefreshTitle();
    // The slider of `pane`: reset from the channel's recording, or moved to its frame.
    void ResetSlider(int pane);
    void MoveSlider(int pane, uint32_t position);
    void SetSliderSelection(int pane, int start, int end);
    void ClearSliderSelection(int pane);

    CQuadPlayWnd& Player() { return *m_player; }
    QuadHost& Host() { return m_host; }
    CQuadPane& Pane(int index) { return *m_panes[size_t(index)]; }
    int CurrentPane() const { return m_current; }
    int SpeedIndex() const { return m_speedIndex; }
    bool Advanced() const { return m_advanced; }
    bool IsActiveWindowFlag() const { return m_active; }
    const std::string& FourChannelPath() const { return m_filePath; }
    // Runs the command of button `id` as a click does.
    void OnButton(int id);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* AddButton(int id, const QString& text);
    void SetSpeed(int index);
    void OnPlay();
    void OnStop();
    void OnSliderMoved(int pane);
    void OnSliderReleased(int pane);

    QuadHost& m_host;
    std::unique_ptr<CQuadPlayWnd> m_player;
    std::array<CQuadPane*, kChannelCount> m_panes{};
    std::array<SeekSliderWidget*, kChannelCount> m_sliders{};
    std::array<uint32_t, kChannelCount> m_sliderPositions{};
    std::vector<QPushButton*> m_buttons;
    std::array<QPushButton*, 9> m_speedButtons{};
    QLabel* m_strip = nullptr;    // the 20-pixel strip above the panes: the title
    QLabel* m_readout = nullptr;  // the advanced line: the current pane's frame
    bool m_advanced = false;
    int m_speedIndex = 0;
    bool m_active = false;
    int m_current = -1;
    std::string m_filePath;
    bool m_shutDown = false;
};

// The window as the document holds it: destroying it stops the player at once and deletes the
// widgets once control is back in the event loop (Close may be what destroyed it).
std::unique_ptr<QuadWindow> makeQuadPlayWindow(QuadHost& host, EventLoop& loop, AudioDevices* audio);

}  // namespace kx
