// CKorvexPlayerDoc: the player's single document. It opens and closes recordings and pictures,
// owns the play engine of the open recording with its render target and caption, holds the
// user's settings (captions, motion search, continuous playback), the speed level, stepping,
// the pending seek, the clip marks and the integrity check, and writes the main window's title.
// It has no toolkit in it: the screen is reached through DocumentUi, the picture through the
// main view (CKorvexPlayerView), time through the event loop. User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/document_ui.h"
#include "browse/quad_window.h"
#include "browse/search.h"
#include "codec/picture/picture_file.h"
#include "platform/event_loop.h"
#include "playback/integrity_check.h"
#include "playback/motion_block.h"
#include "playback/play_wnd.h"
#include "present/caption_info.h"
#include "present/recording_caption.h"
#include "present/render_target.h"
#include "recording/record_info.h"

namespace kx {

class AudioDevices;
class CKorvexPlayerView;

// What the document shows: the kind of the open recording (0, 1, 2, 3 or 7), a BMP or a JPEG.
constexpr int32_t kContentBitmap = 4;
constexpr int32_t kContentJpeg = 6;

// OpenRecording's first option: open without telling the user why a file does not open (the
// next recording of continuous playback).
constexpr int kOpenQuietly = 1;

// The zoom state of the main view.
enum class ZoomState { None = 0, Dragging = 1, Chosen = 2, Zoomed = 3 };

// Level of the speed buttons: -4 (1/8 x) .. 0 (1 x) .. 2 (4 x), 3 H, 4 XH.
constexpr int32_t kMinSpeedLevel = -4;
constexpr int32_t kMaxSpeedLevel = 4;
constexpr int32_t kSpeedH = 3;
constexpr int32_t kSpeedXH = 4;

// The state text of the title: " Stop", " Pause", " Playing", with the speed in front while
// playing at a level other than 0 ("1/8Times", "4Times", "H", "XH").
std::string statusText(bool hasPlayer, bool paused, int32_t level);

class CKorvexPlayerDoc : public EventTarget, public SearchTarget, public QuadHost {
public:
    // `audio` null plays silent. `ui` and the loop must outlive the document.
    CKorvexPlayerDoc(EventLoop& loop, DocumentUi& ui, AudioDevices* audio);
    ~CKorvexPlayerDoc() override;

    // The view that shows the pictures; set once, before anything is opened.
    void SetView(CKorvexPlayerView* view) { m_view = view; }
    CKorvexPlayerView* View() const { return m_view; }

    // Opening. OpenPath is the Open dialog's way (pictures by extension, ".fac" refused until
    // the face window exists; the continuous list discarded); OpenRecording opens a recording
    // (a four-channel one is refused with the reason). Both tell the user why a file does not
    // open and return false.
    bool OpenPath(const std::string& path);
    bool OpenRecording(const std::string& path, int option1 = 0, int option2 = 0) override;
    // File, Open: pauses, runs the Open dialog, opens the answer or resumes.
    void OnFileOpen();
    // File, Close: closes the recording with a redraw unless a picture is shown.
    void OnFileClose();
    // Closes the recording; with `redraw` the title, view and slider show it; `keepResult` is
    // the Stop button of the integrity check (no "passed" verdict).
    void Close(bool redraw, bool keepResult = false);

    // Playback (nothing without a player or during the integrity check).
    void SetSpeed(int32_t level);
    void Play();
    void TogglePause();
    void StepNext();
    void StepPrev();
    void PlayNext();
    void PlayPrev();
    void SetPendingSeek(int32_t group, int32_t position);
    // The seek slider: paused, the seek waits for playback to resume; playing, it goes to the
    // first frame of `group` at once.
    void SliderSeek(int32_t group, int32_t offset);
    bool Seek(int32_t group, int32_t position);
    bool GoToTime(uint32_t wallTime);
    // The Stop button of the panel: closes the recording unless a picture is shown or the
    // integrity check runs.
    void StopButton();
    // Playback: back to normal playing at 1 x, also out of the integrity check.
    void PlaybackButton();

    // Called by the view for each announced frame (codes 1 and 2): stores the position and
    // time, moves the slider and the readout; false when the frame is not taken.
    bool AcceptFrame(const CPlayFrame& frame);
    // The single-step and H/XH rules after a drawn picture: true when the view must post the
    // H/XH jump.
    bool AfterPictureDrawn();
    // The H/XH jump of the view's timer: resumes and goes to the key frame `level` 3 (H) one
    // group, 4 (XH) two groups after `group`; past the last group the recording ends. False
    // when the jump failed.
    bool JumpAfterPause(int32_t group, int32_t level);
    // End of the recording (code 0): the next recording of the camera, or close.
    void OnPlayEnded();
    // Code 5: pause, "Frame Lost !" and the "Decode Err" dialog.
    void OnFrameLost();
    // Shows the player's message about a camera component, if it has one (each once).
    void ShowPlayerMessage();

    // Search (Ctrl+S): nothing while the quad play window exists; otherwise closes the open
    // file and runs the Search dialog on the criteria the document keeps.
    void OnSearch();
    // The dialog's searches: one channel in the main view, positioned at the moment; or up to
    // four channels in the quad play window ("Can not find video files !" when none is found).
    bool SearchChannel(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                       bool subfolders) override;
    bool SearchQuad(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                    const std::string& dvrName, bool subfolders) override;
    void CloseQuadWindow() override;
    QuadWindow* Quad() const { return m_quad.get(); }
    const SearchCriteria& Criteria() const { return m_search; }
    const SearchCandidates& Candidates() const { return m_candidates; }

    // Clip marks and clips.
    bool MarkClipStart();
    bool MarkClipEnd();
    bool SaveClipAs();
    bool PlayLastClip();

    // Snapshot of the shown picture to a BMP chosen by the user.
    bool TakeSnapshot();

    // Integrity check: on starts the pass, off returns to playing.
    void Authenticate(bool on);
    void OnVerifyProgress(const CPlayFrame& frame);
    void OnIntegrityFailure(const CPlayFrame& frame);
    bool IsChecking() const { return m_checking; }

    // Settings and their dialogs.
    void OnMotionSetup();
    void ToggleMotionSearch();
    void ToggleContinuousPlayback();
    void OnCaptionSetup();
    void ToggleCaption();
    void OnCaptionColour();
    void TogglePlayerPanel();

    // Motion region drawn on a view of `viewWidth` x `viewHeight` (view coordinates).
    void AddMotionRegion(int left, int top, int right, int bottom, int viewWidth, int viewHeight);
    void OnMotionBlock(const MotionBlock& block);
    bool MotionSetupMode() const { return m_motionEnabled; }
    // Zoom drags and the wheel (view coordinates).
    void BeginZoomDrag();
    void EndZoomDrag(int left, int top, int right, int bottom, int viewWidth, int viewHeight);
    void ZoomIn();
    void ZoomOut();
    ZoomState Zoom() const { return m_zoom; }
    const CaptionRect& ZoomRect() const { return m_zoomRect; }

    // State read by the view, the panel, the menus and the tests.
    CPlayWnd* Player() const { return m_player.get(); }
    bool HasPlayer() const { return m_player != nullptr; }
    bool IsPaused() const;
    bool IsStillPicture() const { return m_contentKind == kContentBitmap || m_contentKind == kContentJpeg; }
    int32_t ContentKind() const { return m_contentKind; }
    const CRecordInfo& Info() const { return m_info; }
    const PictureFile& StillPicture() const { return m_still; }
    int32_t SpeedLevel() const { return m_speedLevel; }
    bool SingleStep() const { return m_singleStep; }
    bool SeekPending() const { return m_seekPending; }
    int32_t CurrentGroup() const { return m_currentGroup; }
    int32_t CurrentPosition() const { return m_currentPosition; }
    uint32_t CurrentFrameTime() const { return m_currentFrameTime; }
    // What the panel's readout shows of the frame on screen; none without a recording.
    std::optional<FrameReadout> CurrentReadout() const;
    const std::string& CurrentFolder() const { return m_currentFolder; }
    int32_t GmtOffsetHours() const override { return m_gmtOffsetHours; }
    const std::string& TitlePrefix() const { return m_titlePrefix; }
    const std::string& Title() const { return m_title; }
    const std::string& LastRecordingPath() const { return m_lastPath; }
    const std::string& LastClipPath() const { return m_lastClipPath; }
    bool ClipStartMarked() const { return m_clipStartMarked; }
    bool ClipEndMarked() const { return m_clipEndMarked; }
    bool CaptionOn() const { return m_captionOn; }
    uint32_t CaptionColour() const { return m_captionSettings.colour; }
    uint32_t CaptionSwitches() const { return m_captionSettings.switches; }
    const MotionSettings& Motion() const { return m_motion; }
    bool MotionSearchEnabled() const { return m_motionEnabled; }
    const std::vector<CaptionRect>& MotionRegions() const { return m_regions; }
    bool ContinuousPlayback() const { return m_continuous; }
    int DisplayWidth() const { return m_displayWidth; }
    int DisplayHeight() const { return m_displayHeight; }

    // The picture composition: render target and caption record of the open recording.
    CRenderTarget* RenderTarget() const { return m_target.get(); }
    CaptionInfo* Caption() const { return m_caption.get(); }
    // The time of the frame on screen goes into the caption.
    void SetCaptionFrameTime(uint32_t wallTime);

    // Overrides for tests: the computer's zone, and the screen size for the first placement.
    void SetGmtOffsetHours(int32_t hours) { m_gmtOffsetHours = hours; m_captionSettings.computerGmtOffsetHours = hours; }

    void onTimer(uint32_t timerId) override;
    intptr_t onMessage(const LoopMessage& message) override;

private:
    static constexpr uint32_t kDeleteRetired = WM_USER + 200;
    static constexpr uint32_t kPlayEndedLater = WM_USER + 201;

    bool OpenStillPicture(const std::string& path, int32_t kind);
    void MakeTitlePrefix();
    void UpdateStatusTitle();
    void ApplyPendingSeek();
    void SetSliderFromInfo();
    bool MakeCaption();
    void ApplyCaptionFlags();
    void HandMotionToPlayer();
    void ClearZoomOutline();
    // Stops the player and deletes it once no notification of it is being handled.
    void RetirePlayer();
    void FinishCheck(bool keepResult);
    // Asks for a name and writes the last check's report there.
    void SaveIntegrityReport();
    bool ContinueWithNext();
    void BuildContinuousList();
    bool Usable() const { return m_player && !m_checking; }

    DocumentUi& m_ui;
    AudioDevices* m_audio;
    CKorvexPlayerView* m_view = nullptr;

    int32_t m_contentKind = 0;
    CRecordInfo m_info;
    std::unique_ptr<CPlayWnd> m_player;
    std::vector<std::unique_ptr<CPlayWnd>> m_retired;
    std::unique_ptr<CRenderTarget> m_target;
    std::unique_ptr<CaptionInfo> m_caption;
    PictureFile m_still;
    int m_displayWidth = 0;
    int m_displayHeight = 0;
    bool m_placed = false;
    std::string m_titlePrefix;
    std::string m_title;
    std::string m_currentFolder;
    std::string m_lastPath;
    int32_t m_currentGroup = 0;
    int32_t m_currentPosition = 0;
    uint32_t m_currentFrameTime = 0;
    uint32_t m_currentTick = 0;
    uint16_t m_currentFrameKind = 0;
    uint16_t m_currentFrameFlags = 0;

    int32_t m_speedLevel = 0;
    bool m_singleStep = false;
    bool m_seekPending = false;
    int32_t m_seekGroup = 0;
    int32_t m_seekPosition = 0;

    int32_t m_clipStartGroup = 0;
    int32_t m_clipEndGroup = 0;
    int32_t m_clipEndPosition = 0;
    bool m_clipStartMarked = false;
    bool m_clipEndMarked = false;
    std::string m_lastClipPath;

    bool m_captionOn = true;
    bool m_pictureCaptionOn = false;
    CaptionSettings m_captionSettings;
    int32_t m_gmtOffsetHours = 0;
    MotionSettings m_motion;
    bool m_motionEnabled = false;
    std::vector<CaptionRect> m_regions;
    bool m_continuous = false;
    std::optional<std::vector<CRecordInfo>> m_continuousList;

    SearchCriteria m_search;
    SearchCandidates m_candidates;  // the rest of the last single-channel search
    std::unique_ptr<QuadWindow> m_quad;

    ZoomState m_zoom = ZoomState::None;
    CaptionRect m_zoomRect;
    CaptionRect m_fullRect;

    bool m_checking = false;
    bool m_progressShown = false;
    bool m_failurePending = false;
    bool m_checkReachedEnd = false;  // the pass announced the end of the recording
    IntegrityCheck m_check;          // what the pass found, for the verdict and its report
    bool m_checkStarted = false;     // m_check belongs to the pass being finished
    uint32_t m_failTime = 0;
};

}  // namespace kx
