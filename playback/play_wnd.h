// CPlayWnd: the single-recording play engine behind the main view. It owns the open recording
// (through its CPlayFrame), the decoder and the audio output, paces frames by a 10 ms timer on
// the tick count (scaled by the speed) or by the audio output's completions, and announces each
// picture to its notify target with a sent WM_PLAY_NOTIFY, so the picture is drawn before the
// next frame is read. Everything runs on the event loop's thread; the audio completions are
// posted to it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "codec/frame_decoder.h"
#include "codec/video_decoder.h"
#include "platform/audio_device.h"
#include "platform/event_loop.h"
#include "playback/loop_wave_done.h"
#include "playback/motion_block.h"
#include "playback/motion_detector.h"
#include "playback/play_frame.h"
#include "playback/play_error.h"
#include "playback/play_notify.h"
#include "playback/wave_out.h"

namespace kx {

enum class Notify { No, Yes };

class CPlayWnd : public EventTarget {
public:
    static constexpr uint32_t kPlayTimer = 102;
    static constexpr uint32_t kPlayPeriodMs = 10;
    static constexpr uint32_t kVerifyTimer = 101;
    static constexpr uint32_t kVerifyPeriodMs = 1;

    // `audio` provides the sound outputs; null plays silent. Both must outlive the window.
    CPlayWnd(EventLoop& loop, AudioDevices* audio);
    ~CPlayWnd() override;

    // Names the window "video play wnd N" with the instance count and takes `notify` as the
    // target of WM_PLAY_NOTIFY (null: pictures are decoded but announced to nobody). The
    // notify target must outlive the window or be replaced first.
    // A notify target must not delete the window while it handles a sent notification (codes
    // 1, 4, 6, 7): it should Stop the window there and delete it later, from a posted message.
    // The engine survives a deletion all the same: it returns at once without touching the
    // destroyed window.
    bool Create(EventTarget* notify);
    void SetNotifyTarget(EventTarget* notify) { m_notify = notify; }

    // Opens `path`, creates its decoder and starts playing at `speed`. False, stopped and with
    // nothing posted, when the file cannot be opened, has no first frame, or its codec has no
    // decoder. `unused` is accepted for the callers' sake.
    bool Open(const std::string& path, int32_t speed, bool soundOn, int32_t unused = 0);
    // Closes the recording and forgets all state; with Notify::Yes posts code 0.
    void Stop(Notify notify);
    void TogglePause();
    bool IsPaused() const { return m_playTimer == 0; }
    // The decoder's message about its component (once per decoder); empty when there is none.
    std::string TakeDecoderMessage() { return std::exchange(m_decoderMessage, {}); }
    // Speed factor: s >= 1 divides every frame interval by 2s, s <= -1 multiplies it by -2s,
    // 0 is real time. Takes effect at the next tick.
    void SetSpeed(int32_t speed) { m_speed = speed; }
    int32_t Speed() const { return m_speed; }
    // Loads frame `count` of group `group`, decoding the frames before it unannounced; starts
    // playing. False (current frame unchanged) when the frames cannot be read.
    bool Seek(int32_t group, int32_t count);
    // Loads the first frame whose wall time is not before `wallTime` (seconds since 1970).
    bool GoToTime(uint32_t wallTime);
    // Starts (true) the integrity-check pass: the file is opened again and every frame is
    // presented on the 1 ms timer 101 and reported with code 6 until code 0 ends it. A frame
    // that cannot be read or whose picture does not decode (or decodes only in part) is
    // reported with code 7 first, LastError() saying what and where; after a record that
    // cannot be read the pass goes on with the next group.
    void SetVerifying(bool on);
    bool IsVerifying() const { return m_verifying; }
    CRecordReader* Reader() const { return m_frame ? m_frame->Reader() : nullptr; }
    // The last fault met: why Open failed, or the last frame that could not be read or shown
    // as it is. Cleared by Open.
    const PlayError& LastError() const { return m_error; }

    // Motion search. The settings: sensitivity 0 (only large changes) to 10 (any change), the
    // changed pictures that switch a region's motion on, and whether motion starting pauses.
    void SetMotionParams(int32_t sensitivity, int32_t changedPictures, bool pauseOnMotion);
    // Adds a region in picture pixels (right and bottom exclusive); false when three exist.
    bool AddRegion(int32_t left, int32_t top, int32_t right, int32_t bottom);
    void ClearRegions();
    // Suspends detection (the seek slider is dragged) or resumes it; resuming nothing, a paused
    // player with regions is resumed and its flags cleared on suspending. The new state.
    bool ToggleSuspend();
    bool MotionSuspended() const { return m_motionSuspended; }
    // The regions and their results. With no region every motion branch is inactive.
    const MotionBlock& Motion() const { return m_motion; }
    bool MotionDetected() const { return m_motionDetected; }

    const CPlayFrame* Frame() const { return m_frame.get(); }
    const CPlayFrame* SecondFrame() const { return m_secondFrame.get(); }
    const std::string& Path() const { return m_path; }
    const std::string& Title() const { return m_title; }
    int ControlId() const { return m_controlId; }
    bool SoundOn() const { return m_soundOn; }
    const CWaveOut* AudioOutput() const { return m_audio.get(); }
    static int InstanceCount() { return s_instances; }

    void onTimer(uint32_t timerId) override;
    intptr_t onMessage(const LoopMessage& message) override;

private:
    bool OpenFile(const std::string& path, int32_t speed, bool soundOn);
    void StartPlayTimer();
    // Presents the current frame; false when the notify target destroyed the window meanwhile.
    [[nodiscard]] bool Present();
    // Presents the current frame and, while the codec holds the frames' pictures back, the
    // frames after it in the same turn; false as Present.
    [[nodiscard]] bool PresentPicture();
    static constexpr int kMaxHeldBackInOneTurn = 16;
    void FeedAudio();
    void CloseAudio();
    // Decodes the video of `frame` into its picture unless it carries none. None when the
    // picture decoded whole (or there is none), else the fault.
    FrameFault DecodeFrame(CPlayFrame& frame, Deblocking deblocking);
    // Reads the frame after the current one, passing over records above the size cap. False at
    // the end or at a record that cannot be read (then m_error says which, when it is not the end).
    enum class ReadOutcome { Read, End, Destroyed };
    ReadOutcome ReadNextFrame();
    void NoteFault(FrameFault fault, uint32_t group, uint32_t position, uint32_t tick, std::string text);
    bool FailOpen(std::string text);
    // Reads on over avc frames of kind 3 (dropped when playing fast); false at the end.
    bool SkipDroppable(CPlayFrame& frame);
    // Loads the frame read into the seek frame as the current frame and starts playing.
    bool LoadSeekFrame();
    CPlayFrame& SeekFrame();
    void OnWaveDone(const WaveDone& message);
    bool RegionsActive() const { return m_motion.count > 0; }
    uint32_t TestMotion();
    void Post(uint32_t code);
    // Sends a notification; false when the notify target destroyed the window while handling
    // it, in which case the caller returns at once without touching a member.
    [[nodiscard]] bool Send(uint32_t code, const void* parameter);
    uint32_t Now() const { return loop().tickCountMs(); }

    // True while the window exists; Send keeps its own copy across the notification.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::unique_ptr<CPlayFrame> m_frame;
    EventTarget* m_notify = nullptr;
    uint32_t m_playTimer = 0;
    int32_t m_speed = 0;
    bool m_soundOn = false;
    uint32_t m_lastTick = 0;
    uint32_t m_lastTime = 0;
    FrameDecode m_lastDecode = FrameDecode::Whole;  // what the last DecodeFrame gave
    bool m_heldBack = false;  // the frame presented last showed no picture: the codec holds it back
    MotionBlock m_motion;
    MotionDetector m_detector;
    bool m_motionDetected = false;
    bool m_pauseOnMotion = false;
    bool m_motionSuspended = false;
    bool m_verifying = false;
    std::string m_path;
    AudioDevices* m_audioDevices;
    LoopWaveDoneTarget m_waveDone{*this};  // the audio output's completions, posted to this window
    std::unique_ptr<CWaveOut> m_audio;
    std::string m_decoderMessage;
    bool m_audioUnavailable = false;  // no device took the format: silent until the next open
    FrameDecoder m_decoder;
    std::unique_ptr<CPlayFrame> m_secondFrame;
    std::unique_ptr<CPlayFrame> m_seekFrame;  // Seek's and GoToTime's frame, kept per size
    PlayError m_error;
    std::string m_title;
    int m_controlId = 0;

    static int s_instances;
};

}  // namespace kx
