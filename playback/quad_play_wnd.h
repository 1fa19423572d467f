// CQuadPlayWnd: the four-channel play engine of quad play. One worker thread reads, decodes and
// paces the four channels on a common wall clock, woken by a 5 ms tick or by a channel's sound
// running low; it draws each picture through the channel's render target and posts
// WM_PLAY_NOTIFY to this object, whose handler relays it to the channel's notify target on the
// event loop's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/legacy/legacy_decoder.h"
#include "codec/video_decoder.h"
#include "platform/audio_device.h"
#include "platform/event_loop.h"
#include "playback/channel_audio.h"
#include "playback/event_group.h"
#include "playback/play_frame.h"
#include "playback/play_notify.h"
#include "playback/play_wnd.h"
#include "present/caption_info.h"
#include "recording/record_info.h"

namespace kx {

class CRenderTarget;
class PictureWindow;

// Flags of ChannelSettings.
constexpr uint32_t kChannelCaptionOn = 0x1;
constexpr uint32_t kChannelSoundOn = 0x4;
constexpr uint32_t kChannelDefaultFlags = 0x22;

// One channel's settings, owned by its pane, which must keep it until the channel is closed.
// The worker reads the flags and the colour while the pane may change them, hence the atomics.
struct ChannelSettings {
    EventTarget* notify = nullptr;   // receives WM_PLAY_NOTIFY codes 0, 1 and 3 (loop thread)
    PictureWindow* window = nullptr;  // where the channel's pictures are drawn, from the worker
    std::atomic<uint32_t> flags = kChannelDefaultFlags;  // bit 0 caption, bit 2 sound on
    std::atomic<uint32_t> captionColour = 0x00FFFF00;    // 0x00BBGGRR, cyan
    // The caption of the last picture, copied here on the loop thread before code 1 is sent.
    CaptionInfo caption;
    // The channel's render target, published by the player when the channel starts and cleared
    // when it closes (loop thread).
    std::atomic<CRenderTarget*> picture = nullptr;
};

// What a pane shows of its channel, read under the channel's lock.
struct ChannelView {
    bool active = false;
    bool started = false;
    CRecordInfo info;                       // the header of the channel's recording
    bool hasFrame = false;                  // a picture has been shown since the last open
    int32_t group = 0;                      // of the shown picture
    int32_t position = 0;                   // in its group
    uint32_t positionValue = 0;             // running frame number of the shown picture
    uint32_t wallTime = 0;                  // of the shown picture
    std::vector<uint32_t> groupFrameCounts;  // of the recording, one per group
};

class CQuadPlayWnd : public EventTarget {
public:
    static constexpr int kChannels = 4;
    static constexpr uint32_t kTickTimer = 100;
    static constexpr uint32_t kTickPeriodMs = 5;
    // Audio completions of channel c arrive as message kQuadWaveDone + c.
    static constexpr uint32_t kQuadWaveDone = 0x8110;

    // `audio` provides the channels' sound outputs (null: silent). Both outlive the window.
    CQuadPlayWnd(EventLoop& loop, AudioDevices* audio);
    ~CQuadPlayWnd() override;

    // Loop thread, for every call below. Starts timer 100 and the worker, paused, with every
    // channel inactive.
    bool Create();
    // Stops the worker and closes every channel without notification; nothing stays queued
    // for this window. Safe to call twice.
    void Destroy();

    void Play(int32_t level);
    void Normal();
    void TogglePause();
    bool IsPaused() const;
    // Presents one picture per active channel, then pauses.
    void StepOnce();
    // Every started channel goes back one picture (a channel at its first one is closed with
    // notification), shown at the next tick, then pauses.
    void StepBack();
    // The group after (before) the channel's shown picture; false when there is none.
    bool PlayNext(int ch);
    bool PlayPrev(int ch);
    // Closes the channel's audio output, recording and decoders; with Notify::Yes sends code 0
    // (lParam 0) to its notify target.
    void CloseChannel(int ch, Notify notify);
    // Wall time of the channel's shown picture (of its loaded frame before the first); 0 when
    // it has none.
    uint32_t ChannelTime(int ch) const;
    // The channel's shown picture as 24-bit B, G, R pixels, bottom row first, width x height x
    // 3 bytes (what a snapshot file stores). False when the channel has no picture.
    bool Snapshot(int ch, std::vector<uint8_t>& bgr, uint32_t& width, uint32_t& height);
    // Switching off closes the sound of all four channels.
    void SetAudioEnabled(bool on);
    int32_t Level() const { return m_level.load(); }

    // Gives the channel a recording: reads the header, opens the reader (channel `ch` of a
    // four-channel recording), reads the first frame, creates the decoder and the channel's
    // render target, posts code 3 and marks the channel active. Whatever the channel played
    // before is closed without notification. False, with the channel inactive, when the file
    // cannot be opened or played.
    bool OpenChannel(int ch, const std::string& path, ChannelSettings* settings);
    // Loads the channel's first frame whose wall time is not before `wallTime`, decoding the
    // frames before it unannounced. False when the channel has no recording or it cannot be read.
    bool GoToTime(int ch, uint32_t wallTime);
    // Loads frame `position` of group `group`, decoding the ones before it unannounced; the
    // other channels follow it to its time. False (frame unchanged) when it cannot be read.
    bool Seek(int ch, int32_t group, int32_t position);
    bool IsActive(int ch) const;
    ChannelView View(int ch) const;

    // Waits until the worker has handled everything it was woken for and waits again; false
    // after `limitMs`. For tests and tools that move the loop's clock by hand.
    bool WaitWorkerIdle(uint32_t limitMs = 10'000);

    void onTimer(uint32_t timerId) override;
    intptr_t onMessage(const LoopMessage& message) override;

private:
    struct Channel;
    class ChannelWaveDone;

    enum Event : uint32_t { kStop = 1, kAudioReady = 2, kTick = 4, kRun = 8 };
    enum class Align { End, Pace, Realigned };
    // Why the worker woke.
    struct Wake {
        bool tick = false;
        bool audio = false;
        bool jump = false;  // level 4's group jump: one picture each, unpaced
    };

    void WorkerMain();
    // False when stop was set while waiting for run.
    bool WaitRun();
    // Level 4: the lead channel moves to its next group and the others follow. True when done.
    bool GroupJump(uint32_t now);
    void ChannelStep(int ch, uint32_t now, Wake wake);

    // Channel helpers; the channel's lock is held by the caller.
    bool OpenFile(Channel& c, int ch);
    void RestartDecoder(Channel& c);
    bool DecodeFrame(Channel& c, CPlayFrame& frame, Deblocking deblocking);
    // Reads on over avc frames of kind 3; false at the end.
    bool SkipDroppable(CRecordReader& reader, CPlayFrame& frame);
    bool StartAligned(Channel& c, int ch);
    Align ClockAlign(Channel& c, int ch);
    // Decodes unannounced from the loaded frame on until a frame's wall time is not before `r`.
    bool DecodeUpTo(Channel& c, uint32_t r);
    void Present(Channel& c, int ch);
    bool SeekHeld(Channel& c, int32_t group, int32_t position);
    // Makes the frame read into the seek frame the loaded one.
    bool LoadSeekFrame(Channel& c);
    CPlayFrame& SeekFrame(Channel& c);
    // Ends the channel from the worker: inactive, lock released, code 0 posted.
    void EndChannel(Channel& c, int ch, std::unique_lock<std::mutex>& lock);
    void CloseHeld(Channel& c);
    void PostNotify(const Channel& c, int ch, uint32_t code);
    // Every other started channel aligns on `wallTime` at its next step.
    void JumpOthers(int ch, uint32_t wallTime);
    bool JumpGroups(int ch, int32_t step);

    void Relay(uint32_t code, intptr_t parameter);
    // Opens or closes the channel's sound for the picture just shown.
    void UpdateAudio(Channel& c);
    uint32_t Now() const { return loop().tickCountMs(); }

    AudioDevices* m_audioDevices;
    std::array<std::unique_ptr<Channel>, kChannels> m_channels;
    std::atomic<int32_t> m_level{0};
    std::atomic<bool> m_stepping{false};
    std::atomic<bool> m_audioEnabled{true};
    EventGroup m_events;
    std::thread m_worker;
    uint32_t m_jumpTicks = 0;  // worker only: ticks counted towards level 4's group jump
    int32_t m_gmtOffsetHours = 0;
    bool m_created = false;
};

}  // namespace kx
