// CKorvexPlayerView: the main view's behaviour, without a toolkit. It is the play engine's notify
// target: each announced picture is copied upright into the document's render target (through
// the colour worker when colours are adjusted) and drawn with its caption on the picture window.
// It also runs the H/XH jump timer, turns drags and the wheel into zoom and motion regions, and
// draws still pictures, VIDEO LOST and the empty background. User-interface thread only, except
// the colour worker's "picture written" call, which only posts.
#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/event_loop.h"
#include "present/colour_adjust.h"
#include "present/colour_worker.h"

namespace kx {

class CKorvexPlayerDoc;
class CPlayFrame;
class PictureWindow;

class CKorvexPlayerView : public EventTarget {
public:
    static constexpr uint32_t kJumpTimer = 100;
    static constexpr uint32_t kJumpPeriodMs = 500;
    static constexpr uint32_t kColourWritten = 0x0400 + 210;  // the worker has a picture ready

    CKorvexPlayerView(EventLoop& loop, CKorvexPlayerDoc& document, PictureWindow& window);
    ~CKorvexPlayerView() override;

    // Mouse input in view pixels.
    void OnLeftButtonDown(int x, int y);
    void OnLeftButtonUp(int x, int y);
    // Positive: forward (zoom in on a chosen rectangle); negative: backward (zoom out).
    void OnMouseWheel(int delta);

    // Draws what the view shows now: the last picture again, VIDEO LOST, a still picture or the
    // background.
    void Redraw();

    // The colour dialog's settings: for a still picture its own set, for a recording the set the
    // worker applies (no worker while all four are 100).
    void SetColour(const ColourSettings& settings);
    const ColourSettings& RecordingColours() const { return m_recordingColours; }
    const ColourSettings& PictureColours() const { return m_pictureColours; }
    // The settings the colour dialog opens with: the still picture's or the recording's.
    const ColourSettings& CurrentColours() const;
    bool ColourWorkerRunning() const { return m_worker != nullptr; }
    // Stops the worker before the document re-makes or frees the render target.
    void StopColourWorker();

    // The caption over still pictures.
    void SetPictureCaption(bool on, uint32_t colourBgr);

    uint32_t ShownGroup() const { return m_shownGroup; }
    uint32_t ShownPosition() const { return m_shownPosition; }
    bool NoVideoShown() const { return m_noVideo; }
    bool JumpPending() const { return m_jumpTimer != 0; }
    // True while a notification of the engine is being handled (a player must not be deleted).
    bool InNotification() const { return m_notifyDepth > 0; }

    void onTimer(uint32_t timerId) override;
    intptr_t onMessage(const LoopMessage& message) override;

private:
    void OnPlayNotify(uint32_t code, intptr_t parameter);
    void ShowFrame(const CPlayFrame& frame);
    // Copies the frame's picture into the render target (or to the worker); false when the
    // sizes differ or the layout is unknown.
    bool CopyIntoTarget(const CPlayFrame& frame);
    void DrawTarget();
    void DrawStillPicture();
    void DrawImageOverWindow(const QImage& image);
    void StartColourWorker();
    // Keeps the target's picture as the unadjusted picture (before the worker first ran).
    void CaptureTargetPicture();

    CKorvexPlayerDoc& m_doc;
    PictureWindow& m_window;
    ColourSettings m_recordingColours;
    ColourSettings m_pictureColours;
    uint32_t m_jumpTimer = 0;
    int32_t m_jumpGroup = 0;
    int32_t m_jumpLevel = 0;
    bool m_noVideo = false;
    uint32_t m_shownGroup = 0;
    uint32_t m_shownPosition = 0;
    bool m_pictureCaptionOn = false;
    uint32_t m_pictureCaptionColour = 0x00FFFF00;
    int m_dragStartX = 0;
    int m_dragStartY = 0;
    bool m_regionDragPending = false;
    int m_notifyDepth = 0;
    std::unique_ptr<CColourWorker> m_worker;
    std::atomic<bool> m_redrawQueued{false};
    // The last picture as copied, before adjustment: a colour change while paused adjusts it.
    std::vector<uint8_t> m_lastRaw;
    uint32_t m_lastRawWidth = 0;
    uint32_t m_lastRawHeight = 0;
    uint32_t m_lastRawBytesPerPixel = 0;
};

// The picture shown without a recording: our own dark background with the program's name.
QImage backgroundPicture();

}  // namespace kx
