// CQuadPlayWnd: the worker's loop and channel step (opening, start and clock alignment, pacing,
// sound, decoding, presenting), level 4's group jump, and the loop-thread commands and relay.
#include "playback/quad_play_wnd.h"

#include <algorithm>
#include <cassert>

#include "codec/create_decoder.h"
#include "platform/system_clock.h"
#include "present/display.h"
#include "present/picture_copy.h"
#include "present/recording_caption.h"
#include "present/render_target.h"

namespace kx {
namespace {

constexpr int kAvcCodec = 4;
constexpr uint16_t kAvcDroppableKind = 3;
constexpr uint32_t kCaptionSwitched =
    kCaptionCameraName | kCaptionBoardName | kCaptionFrameTime | kCaptionEndTime | kCaptionStartTime;

bool IsDroppable(const CRecordFrame& frame) {
    return frame.Codec() == kAvcCodec && frame.Kind() == kAvcDroppableKind;
}

// Codecs the channels decode on the worker thread.
bool IsQuadCodec(int codec) {
    return codec == 0 || codec == 1 || codec == 2 || codec == kAvcCodec;
}

int64_t Difference(uint32_t a, uint32_t b) {
    return int64_t(a) - int64_t(b);
}

}  // namespace

// Posts a channel's audio completions to the window under the channel's own message id, so that
// closing one channel's output purges only its completions.
class CQuadPlayWnd::ChannelWaveDone : public WaveDoneTarget {
public:
    ChannelWaveDone(EventTarget& window, uint32_t messageId) : m_window(window), m_messageId(messageId) {}
    void postWaveDone(const WaveDone& message) override {
        m_window.loop().post(m_window, {m_messageId, message.stream, intptr_t(message.buffer)});
    }
    void purgeWaveDone(uint32_t) override { m_window.loop().purge(m_window, m_messageId); }

private:
    EventTarget& m_window;
    uint32_t m_messageId;
};

// One channel slot. Every field is guarded by `lock`.
struct CQuadPlayWnd::Channel {
    uint32_t lastTick = 0;
    uint32_t interval = 0;
    std::unique_ptr<CPlayFrame> frame;
    ChannelSettings* settings = nullptr;
    std::unique_ptr<CChannelAudio> audio;
    bool audioUnavailable = false;  // no device took the format: silent until the next open
    std::unique_ptr<CPlayFrame> seekFrame;
    std::unique_ptr<CRenderTarget> target;
    std::unique_ptr<LegacyDecoder> legacyDecoder;
    LegacyDecodeResult legacyResult;
    std::unique_ptr<VideoDecoder> decoder;
    CRecordInfo info;
    CaptionInfo caption;
    // The position record of the shown picture.
    bool shown = false;
    int32_t group = 0;
    int32_t position = 0;
    uint32_t positionValue = 0;
    uint32_t wallTime = 0;
    uint16_t shownFlags = 0;
    uint32_t jumpTime = 0;
    bool active = false;
    bool started = false;
    // Counts opens and closes; notifications of an earlier recording carry an older value and
    // are dropped.
    uint32_t generation = 0;
    std::unique_ptr<ChannelWaveDone> waveDone;
    mutable std::mutex lock;

    uint32_t Wall() const { return frame ? frame->WallTime() : 0; }
};

CQuadPlayWnd::CQuadPlayWnd(EventLoop& loop, AudioDevices* audio) : EventTarget(loop), m_audioDevices(audio) {
    for (int ch = 0; ch < kChannels; ++ch) {
        m_channels[ch] = std::make_unique<Channel>();
        m_channels[ch]->waveDone = std::make_unique<ChannelWaveDone>(*this, kQuadWaveDone + uint32_t(ch));
    }
}

CQuadPlayWnd::~CQuadPlayWnd() {
    Destroy();
}

bool CQuadPlayWnd::Create() {
    if (m_created) return true;
    m_gmtOffsetHours = systemGmtOffsetHours();
    m_events.Reset(kStop | kAudioReady | kTick | kRun);
    loop().setTimer(*this, kTickTimer, kTickPeriodMs);
    m_worker = std::thread([this] { WorkerMain(); });
    m_created = true;
    return true;
}

void CQuadPlayWnd::Destroy() {
    if (!m_created) return;
    m_created = false;
    m_events.Reset(kRun);
    for (int ch = 0; ch < kChannels; ++ch) CloseChannel(ch, Notify::No);
    loop().killTimer(*this, kTickTimer);
    m_events.Set(kStop);
    if (m_worker.joinable()) m_worker.join();
    // What the worker posted before it stopped never reaches anyone.
    loop().purge(*this, WM_PLAY_NOTIFY);
    for (int ch = 0; ch < kChannels; ++ch) loop().purge(*this, kQuadWaveDone + uint32_t(ch));
}

// ---- Worker ------------------------------------------------------------------------------

void CQuadPlayWnd::WorkerMain() {
    for (;;) {
        const uint32_t woke = m_events.WaitAny(kStop | kAudioReady | kTick);
        if (woke & kStop) return;
        m_events.Reset(kTick | kAudioReady);
        const uint32_t now = Now();
        const Wake wake{(woke & kTick) != 0, (woke & kAudioReady) != 0};

        if (wake.tick && m_level.load() > 3 && !m_stepping.load()) {
            if (!WaitRun()) return;
            if (++m_jumpTicks < 10) continue;
            m_jumpTicks = 0;
            if (GroupJump(now)) continue;
        }
        for (int ch = 0; ch < kChannels; ++ch) {
            // A cleared run event is how pause holds the worker.
            if (!WaitRun()) return;
            ChannelStep(ch, now, wake);
        }
        if (m_stepping.load()) m_events.Reset(kRun);
    }
}

bool CQuadPlayWnd::WaitRun() {
    return (m_events.WaitAny(kStop | kRun) & kStop) == 0;
}

bool CQuadPlayWnd::GroupJump(uint32_t now) {
    int lead = -1;
    for (int pass = 0; pass < 2 && lead < 0; ++pass) {
        for (int ch = 0; ch < kChannels && lead < 0; ++ch) {
            const Channel& c = *m_channels[ch];
            std::lock_guard lock(c.lock);
            if (!c.active || !c.started) continue;
            if (pass == 1 || (c.settings && (c.settings->flags.load() & kChannelSoundOn))) lead = ch;
        }
    }
    if (lead < 0) return false;
    uint32_t jumpTime = 0;
    {
        Channel& c = *m_channels[lead];
        std::unique_lock lock(c.lock);
        if (!c.active || !c.frame) return false;
        const int32_t next = (c.shown ? c.group : int32_t(c.frame->Group())) + 1;
        if (uint32_t(next) >= c.frame->Reader()->GroupCount() || !c.frame->ReadAt(next, 0)) {
            EndChannel(c, lead, lock);
            return false;
        }
        RestartDecoder(c);
        c.jumpTime = c.frame->WallTime();
        jumpTime = c.jumpTime;
    }
    // The lead shows its new group at once; the others align on it.
    JumpOthers(lead, jumpTime);
    Wake jump;
    jump.jump = true;
    ChannelStep(lead, now, jump);
    for (int ch = 0; ch < kChannels; ++ch)
        if (ch != lead) ChannelStep(ch, now, jump);
    return true;
}

void CQuadPlayWnd::ChannelStep(int ch, uint32_t now, Wake wake) {
    Channel& c = *m_channels[ch];
    std::unique_lock lock(c.lock);
    if (!c.active) return;
    if (!c.frame) {
        if (!OpenFile(c, ch)) {
            EndChannel(c, ch, lock);
            return;
        }
        PostNotify(c, ch, kPlayChannelOpened);
    }
    if (!c.started && !StartAligned(c, ch)) return;
    // Woken only for sound: the channels without sound wait for the tick.
    if (wake.audio && !wake.tick && !wake.jump && !c.audio) return;

    const Align align = ClockAlign(c, ch);
    if (align == Align::End) {
        EndChannel(c, ch, lock);
        return;
    }
    const bool stepping = wake.jump || m_stepping.load();
    const bool byAudio = wake.audio && c.audio;
    if (align == Align::Pace && !byAudio && !stepping && now - c.lastTick < c.interval) return;

    const int32_t level = m_level.load();
    if (c.audio && level == 0 && !stepping && c.frame->HasAudio()) {
        c.audio->Write(c.frame->AudioBuffer(), c.frame->AudioLength());
        if (c.audio->WantsSound())
            m_events.Set(kAudioReady);
        else
            m_events.Reset(kAudioReady);
    }

    DecodeFrame(c, *c.frame, Deblocking::On);
    bool ended = false;
    if (level == 3) {
        // One picture in six: the five frames after this one are decoded unannounced.
        for (int decoded = 0; decoded < 5;) {
            if (!c.frame->ReadNext()) {
                ended = true;
                break;
            }
            if (IsDroppable(*c.frame)) continue;
            DecodeFrame(c, *c.frame, decoded == 4 ? Deblocking::On : Deblocking::Off);
            ++decoded;
        }
    }
    Present(c, ch);

    const uint32_t shownTick = c.frame->Tick();
    if (ended || !c.frame->ReadNext() ||
        (level >= 1 && IsDroppable(*c.frame) && !SkipDroppable(*c.frame->Reader(), *c.frame))) {
        EndChannel(c, ch, lock);
        return;
    }
    // A tick that goes backwards (a recorder clock set back) plays at once.
    uint32_t interval = c.frame->Tick() - shownTick;
    if (interval > 0x7FFFFFFFu) interval = 0;
    if (!stepping) {
        if (level >= 1)
            interval = uint32_t(uint64_t(interval) / (2 * uint64_t(level)));
        else if (level <= -1)
            interval *= uint32_t(-2 * int64_t(level));
    }
    c.interval = interval;
    c.lastTick = now;
}

bool CQuadPlayWnd::OpenFile(Channel& c, int ch) {
    CRecordInfo info = c.info;
    const int kind = info.Kind();
    auto reader = std::make_unique<CRecordReader>();
    if (!reader->Open(&info, kReaderModeRead, kind == kKindFourChannel ? ch : -1)) return false;
    int width = info.Width();
    const int height = info.Height();
    if ((info.HeaderFlags() & kHeaderFlag352Pixels) && info.ResolutionCode() == 7) width = 352;
    if (width <= 0 || height <= 0) return false;

    auto frame = std::make_unique<CPlayFrame>(width, height);
    frame->SetCameraBoardWord(uint32_t(info.CameraNumber()) | uint32_t(info.BoardNumber()) << 8);
    frame->AttachReader(std::move(reader));
    if (!frame->ReadNext()) return false;

    c.decoder.reset();
    c.legacyDecoder.reset();
    // Clips, extended and four-channel recordings carry a codec identifier in each frame; the
    // older kinds use the legacy decoder.
    if (kind == kKindClip || kind == kKindExtended || kind == kKindFourChannel) {
        if (!IsQuadCodec(frame->Codec())) return false;
        c.decoder = createDecoder(frame->Codec());
        if (!c.decoder) return false;
    } else {
        c.legacyDecoder = std::make_unique<LegacyDecoder>();
        if (!c.legacyDecoder->Setup(LegacyDecoder::VariantOfVersion(info.Version()))) {
            c.legacyDecoder.reset();
            return false;
        }
    }
    c.frame = std::move(frame);
    c.lastTick = Now();
    c.interval = 0;
    return true;
}

void CQuadPlayWnd::RestartDecoder(Channel& c) {
    // A jump to another group: a codec that reorders pictures forgets the ones it holds, which
    // belong to where the channel was.
    if (c.decoder) c.decoder->restart();
}

bool CQuadPlayWnd::DecodeFrame(Channel& c, CPlayFrame& frame, Deblocking deblocking) {
    if (frame.Flags() & kFrameFlagNoPicture) return true;
    bool decoded = true;
    if (c.decoder) {
        if (frame.Codec() == kAvcCodec)
            decoded = c.decoder->decodeInto(frame, frame.Picture(), nullptr, deblocking);
        else
            decoded = c.decoder->decodeToRgb(frame, frame.Picture());
    }
    if (c.legacyDecoder) {
        RgbPicture& picture = frame.Picture();
        c.legacyDecoder->Decode(c.legacyResult, frame.VideoBuffer(), frame.VideoLength(), picture.pixels(),
                                picture.byteCount(), 0);
        decoded = c.legacyResult.error == 0;
    }
    return decoded;
}

bool CQuadPlayWnd::SkipDroppable(CRecordReader& reader, CPlayFrame& frame) {
    while (IsDroppable(frame))
        if (!reader.ReadFrame(frame, -1, 0)) return false;
    return true;
}

bool CQuadPlayWnd::StartAligned(Channel& c, int ch) {
    // Against the latest of the started channels; while none has started, against the earliest
    // of the others waiting, so that the channel that begins first starts whatever its number.
    uint32_t latestStarted = 0;
    uint32_t earliestWaiting = 0;
    bool anyStarted = false;
    for (int other = 0; other < kChannels; ++other) {
        if (other == ch) continue;
        const Channel& o = *m_channels[other];
        std::lock_guard lock(o.lock);
        if (!o.active || !o.frame) continue;
        const uint32_t wall = o.Wall();
        if (o.started) {
            anyStarted = true;
            latestStarted = std::max(latestStarted, wall);
        } else if (earliestWaiting == 0 || wall < earliestWaiting) {
            earliestWaiting = wall;
        }
    }
    const uint32_t reference = anyStarted ? latestStarted : earliestWaiting;
    if (reference != 0 && c.Wall() > reference) return false;
    c.started = true;
    if (c.settings) c.settings->picture = c.target.get();
    return true;
}

CQuadPlayWnd::Align CQuadPlayWnd::ClockAlign(Channel& c, int ch) {
    uint32_t reference = 0;
    const bool jumped = c.jumpTime != 0;
    if (jumped) {
        reference = c.jumpTime;
        c.jumpTime = 0;
    } else {
        // The first started channel with sound sets the clock; else the latest started one.
        bool bySound = false;
        uint32_t latest = 0;
        for (int other = 0; other < kChannels && !bySound; ++other) {
            const Channel& o = *m_channels[other];
            std::unique_lock<std::mutex> lock;
            if (other != ch) lock = std::unique_lock(o.lock);
            if (!o.started || !o.frame) continue;
            if (o.audio) {
                reference = o.Wall();
                bySound = true;
            }
            latest = std::max(latest, o.Wall());
        }
        if (!bySound) reference = latest;
    }
    if (reference == 0) return Align::Pace;

    const int32_t level = m_level.load();
    // A jump time (a seek, the group jump) is met exactly; the common clock within a tolerance.
    const int64_t tolerance = jumped ? 0 : level >= 1 && level <= 3 ? level : 1;
    const uint32_t own = c.Wall();
    CRecordReader& reader = *c.frame->Reader();
    const int32_t current = int32_t(c.frame->Group());
    const int32_t groups = int32_t(reader.GroupCount());
    if (Difference(reference, own) > tolerance) {
        // Behind: forward to the first group not before the reference; the time may lie in the
        // group before it (the last group when none follows).
        int32_t group = current + 1;
        while (group < groups && reader.GroupWallTime(group) < reference) ++group;
        if (group - 1 > current) {
            if (!c.frame->ReadAt(group - 1, 0)) return Align::End;
            RestartDecoder(c);
        }
        return DecodeUpTo(c, reference) ? Align::Realigned : Align::End;
    }
    if (Difference(own, reference) > tolerance) {
        // Ahead: back to the last group not after the reference.
        int32_t group = std::min(current, groups - 1);
        while (group >= 0 && reader.GroupWallTime(group) > reference) --group;
        if (group < 0 || !c.frame->ReadAt(group, 0)) return Align::End;
        RestartDecoder(c);
        return DecodeUpTo(c, reference) ? Align::Realigned : Align::End;
    }
    return Align::Pace;
}

bool CQuadPlayWnd::DecodeUpTo(Channel& c, uint32_t reference) {
    CPlayFrame& frame = *c.frame;
    while (frame.WallTime() < reference) {
        if (!IsDroppable(frame)) DecodeFrame(c, frame, Deblocking::Off);
        if (!frame.ReadNext()) return false;
    }
    return true;
}

void CQuadPlayWnd::Present(Channel& c, int ch) {
    const CPlayFrame& frame = *c.frame;
    const bool noPicture = (frame.Flags() & kFrameFlagNoPicture) != 0;
    if (!noPicture && c.target) {
        const RgbPicture& picture = frame.Picture();
        PictureDesc desc;
        if (c.target->GetDesc(&desc) == 0) {
            if (desc.pixels && desc.width == picture.width() && desc.height == picture.height()) {
                const RowOrder rows = c.target->IsComposing() ? RowOrder::TopDown : RowOrder::BottomUp;
                copyPictureUpright(picture, c.info.Kind(), frame.Flags(),
                                   {desc.pixels, desc.width, desc.height, desc.bytesPerPixel,
                                    uint32_t(desc.pitch), rows});
            }
            c.target->Unlock();
        }
    }

    const uint32_t wall = frame.WallTime();
    const uint32_t settingsFlags = c.settings ? c.settings->flags.load() : kChannelDefaultFlags;
    uint32_t flags = c.caption.flags & ~(kCaptionSwitched | kCaptionNoVideo | kCaptionAudio | kCaptionHandIcon);
    if (noPicture) flags |= kCaptionNoVideo;
    if (c.audio) flags |= kCaptionAudio;
    if (settingsFlags & kChannelCaptionOn)
        flags |= kCaptionCameraName | kCaptionBoardName | kCaptionFrameTime | kCaptionEndTime;
    if (settingsFlags & kChannelSoundOn) flags |= kCaptionHandIcon;
    c.caption.flags = flags;
    const uint32_t colour = c.settings ? c.settings->captionColour.load() : 0x00FFFF00;
    c.caption.cameraColour = c.caption.boardColour = c.caption.timeColour = colour;
    CaptionSettings zone;
    zone.switches = 0;
    zone.computerGmtOffsetHours = m_gmtOffsetHours;
    setCaptionFrameTime(c.caption, wall, c.info, zone);
    if (c.target && c.settings && c.settings->window) c.target->Draw(c.settings->window, &c.caption);

    const CRecordReader& reader = *frame.Reader();
    c.shown = true;
    c.group = int32_t(frame.Group());
    c.position = int32_t(frame.PositionInGroup());
    c.positionValue = reader.FirstFrameNumber(c.group) + frame.PositionInGroup();
    c.wallTime = wall;
    c.shownFlags = frame.Flags();
    PostNotify(c, ch, kPlayPicture);
}

void CQuadPlayWnd::EndChannel(Channel& c, int ch, std::unique_lock<std::mutex>& lock) {
    c.active = false;
    c.started = false;
    const uint32_t generation = c.generation;
    lock.unlock();
    loop().post(*this, {WM_PLAY_NOTIFY, kPlayEnded, intptr_t(uint32_t(ch) | generation << 2)});
}

void CQuadPlayWnd::PostNotify(const Channel& c, int ch, uint32_t code) {
    loop().post(*this, {WM_PLAY_NOTIFY, code, intptr_t(uint32_t(ch) | c.generation << 2)});
}

// ---- Loop thread -------------------------------------------------------------------------

void CQuadPlayWnd::onTimer(uint32_t timerId) {
    if (timerId == kTickTimer) m_events.Set(kTick);
}

intptr_t CQuadPlayWnd::onMessage(const LoopMessage& message) {
    if (message.id == WM_PLAY_NOTIFY) {
        Relay(uint32_t(message.wParam), message.lParam);
        return 0;
    }
    if (message.id >= kQuadWaveDone && message.id < kQuadWaveDone + kChannels) {
        Channel& c = *m_channels[message.id - kQuadWaveDone];
        std::lock_guard lock(c.lock);
        if (c.audio && c.audio->BufferDone(WaveDoneOfMessage(message)) && c.audio->WantsSound())
            m_events.Set(kAudioReady);
    }
    return 0;
}

void CQuadPlayWnd::Relay(uint32_t code, intptr_t parameter) {
    const int ch = int(uint32_t(parameter) & 3);
    const uint32_t generation = uint32_t(parameter) >> 2;
    Channel& c = *m_channels[ch];
    EventTarget* notify = nullptr;
    LoopMessage relayed{WM_PLAY_NOTIFY, code, 0};
    {
        std::lock_guard lock(c.lock);
        // A notification of a recording the channel no longer plays.
        if (c.generation != generation || !c.settings) return;
        notify = c.settings->notify;
        if (code == kPlayPicture) {
            UpdateAudio(c);
            c.caption.flags = c.audio ? c.caption.flags | kCaptionAudio : c.caption.flags & ~kCaptionAudio;
            c.settings->caption = c.caption;
            relayed.lParam = reinterpret_cast<intptr_t>(&c.settings->caption);
        } else if (code == kPlayChannelOpened) {
            relayed.lParam = ch;
        }
    }
    if (code == kPlayEnded) {
        CloseChannel(ch, Notify::Yes);
        return;
    }
    if (notify && (code == kPlayPicture || code == kPlayChannelOpened)) loop().send(*notify, relayed);
}

void CQuadPlayWnd::UpdateAudio(Channel& c) {
    const bool wanted = m_audioDevices && m_audioEnabled.load() && c.active && c.settings &&
                        (c.settings->flags.load() & kChannelSoundOn) && m_level.load() == 0 &&
                        !m_stepping.load() && (c.shownFlags & kFrameFlagAudio) && c.frame;
    if (!wanted) {
        if (c.audio) c.audio->Close();
        c.audio.reset();
        return;
    }
    if (c.audio || c.audioUnavailable) return;
    auto audio = std::make_unique<CChannelAudio>(*m_audioDevices);
    if (!audio->Open(c.waveDone.get(), CodecOfFlags(c.shownFlags))) {
        c.audioUnavailable = true;
        return;
    }
    c.audio = std::move(audio);
}

void CQuadPlayWnd::Play(int32_t level) {
    m_stepping = false;
    m_level = level;
    m_events.Set(kRun);
}

void CQuadPlayWnd::Normal() {
    Play(0);
}

void CQuadPlayWnd::TogglePause() {
    if (m_events.IsSet(kRun))
        m_events.Reset(kRun);
    else
        m_events.Set(kRun);
}

bool CQuadPlayWnd::IsPaused() const {
    return !m_events.IsSet(kRun);
}

void CQuadPlayWnd::StepOnce() {
    m_level = 0;
    m_stepping = true;
    m_events.Set(kRun);
}

void CQuadPlayWnd::StepBack() {
    m_level = 0;
    m_stepping = true;
    m_events.Reset(kRun);
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel& c = *m_channels[ch];
        bool atFirst = false;
        {
            std::lock_guard lock(c.lock);
            if (!c.active || !c.started || !c.frame) continue;
            // The picture before the one on screen.
            const CRecordReader& reader = *c.frame->Reader();
            int32_t group = c.shown ? c.group : int32_t(c.frame->Group());
            int32_t position = (c.shown ? c.position : int32_t(c.frame->PositionInGroup())) - 1;
            while (position < 0 && group > 0) {
                --group;
                position = int32_t(reader.GroupFrameCount(group)) - 1;
            }
            atFirst = position < 0;
            if (!atFirst) SeekHeld(c, group, position);
        }
        if (atFirst) CloseChannel(ch, Notify::Yes);
    }
    m_events.Set(kRun);
}

bool CQuadPlayWnd::PlayNext(int ch) {
    return JumpGroups(ch, +1);
}

bool CQuadPlayWnd::PlayPrev(int ch) {
    return JumpGroups(ch, -1);
}

// Moves channel `ch` to the start of the group `step` groups from the one shown (the first
// group at the most going back, nothing past the last going forward) and brings the other
// channels to its time. Playback stays paused when it was.
bool CQuadPlayWnd::JumpGroups(int ch, int32_t step) {
    assert(ch >= 0 && ch < kChannels);
    const bool wasRunning = m_events.IsSet(kRun);
    m_events.Reset(kRun);
    Channel& c = *m_channels[ch];
    uint32_t wall = 0;
    bool done = false;
    {
        std::lock_guard lock(c.lock);
        if (c.active && c.frame) {
            const int32_t target = std::max((c.shown ? c.group : int32_t(c.frame->Group())) + step, 0);
            done = uint32_t(target) < c.frame->Reader()->GroupCount() && SeekHeld(c, target, 0);
            wall = c.jumpTime;
        }
    }
    if (!done) {
        if (wasRunning) m_events.Set(kRun);
        return false;
    }
    JumpOthers(ch, wall);
    m_events.Set(kRun);
    return true;
}

bool CQuadPlayWnd::Seek(int ch, int32_t group, int32_t position) {
    assert(ch >= 0 && ch < kChannels);
    Channel& c = *m_channels[ch];
    uint32_t wall = 0;
    {
        std::lock_guard lock(c.lock);
        if (!c.active || !SeekHeld(c, group, position)) return false;
        wall = c.jumpTime;
    }
    JumpOthers(ch, wall);
    return true;
}

void CQuadPlayWnd::JumpOthers(int ch, uint32_t wallTime) {
    for (int other = 0; other < kChannels; ++other) {
        if (other == ch) continue;
        Channel& o = *m_channels[other];
        std::lock_guard lock(o.lock);
        if (o.active && o.started) o.jumpTime = wallTime;
    }
}

CPlayFrame& CQuadPlayWnd::SeekFrame(Channel& c) {
    if (!c.seekFrame || c.seekFrame->Width() != c.frame->Width() || c.seekFrame->Height() != c.frame->Height())
        c.seekFrame = std::make_unique<CPlayFrame>(c.frame->Width(), c.frame->Height());
    return *c.seekFrame;
}

bool CQuadPlayWnd::SeekHeld(Channel& c, int32_t group, int32_t position) {
    if (!c.frame) return false;
    const SeekDecoding codec{[this, &c] { RestartDecoder(c); },
                             [&c] { return c.decoder && c.decoder->holdsPictures(); },
                             [this, &c](CPlayFrame& frame) { DecodeFrame(c, frame, Deblocking::Off); }};
    return ReadForSeek(*c.frame->Reader(), SeekFrame(c), group, position, codec) && LoadSeekFrame(c);
}

bool CQuadPlayWnd::LoadSeekFrame(Channel& c) {
    CPlayFrame& seek = *c.seekFrame;
    if (m_level.load() >= 1 && IsDroppable(seek) && !SkipDroppable(*c.frame->Reader(), seek)) return false;
    if (!c.frame->CopyFrom(seek)) return false;
    c.lastTick = Now();
    c.interval = 0;
    c.jumpTime = c.frame->WallTime();
    return true;
}

bool CQuadPlayWnd::GoToTime(int ch, uint32_t wallTime) {
    assert(ch >= 0 && ch < kChannels);
    Channel& c = *m_channels[ch];
    std::lock_guard lock(c.lock);
    if (!c.active || !c.frame) return false;
    CRecordReader* reader = c.frame->Reader();
    const uint32_t groups = reader->GroupCount();
    if (groups == 0) return false;
    const uint32_t group = reader->LastGroupNotAfter(wallTime);
    // The frames of the group before the time are decoded unannounced; the one landed on is
    // decoded when it is shown. The search ends with the group's frames.
    const uint32_t frames = reader->GroupFrameCount(int32_t(group));
    CPlayFrame& seek = SeekFrame(c);
    if (!reader->ReadFrame(seek, int32_t(group), 0)) return false;
    RestartDecoder(c);
    for (uint32_t read = 1; reader->WallTimeOfTick(seek.Tick()) < wallTime && read < frames; ++read) {
        if (!IsDroppable(seek)) DecodeFrame(c, seek, Deblocking::Off);
        if (!reader->ReadFrame(seek, -1, 0)) return false;
    }
    return LoadSeekFrame(c);
}

void CQuadPlayWnd::CloseHeld(Channel& c) {
    if (c.audio) c.audio->Close();
    c.audio.reset();
    c.audioUnavailable = false;
    if (c.settings) c.settings->picture = nullptr;
    if (c.target) c.target->Release();
    c.target.reset();
    c.frame.reset();
    c.seekFrame.reset();
    c.decoder.reset();
    c.legacyDecoder.reset();
    c.info = CRecordInfo();
    c.caption = CaptionInfo();
    c.shown = false;
    c.group = c.position = 0;
    c.positionValue = c.wallTime = 0;
    c.shownFlags = 0;
    c.jumpTime = 0;
    c.active = false;
    c.started = false;
    c.lastTick = c.interval = 0;
    ++c.generation;
}

void CQuadPlayWnd::CloseChannel(int ch, Notify notify) {
    assert(ch >= 0 && ch < kChannels);
    Channel& c = *m_channels[ch];
    EventTarget* target = nullptr;
    {
        std::lock_guard lock(c.lock);
        target = c.settings ? c.settings->notify : nullptr;
        CloseHeld(c);
        c.settings = nullptr;
    }
    if (notify == Notify::Yes && target) loop().send(*target, {WM_PLAY_NOTIFY, kPlayEnded, 0});
}

bool CQuadPlayWnd::OpenChannel(int ch, const std::string& path, ChannelSettings* settings) {
    assert(ch >= 0 && ch < kChannels && settings != nullptr);
    Channel& c = *m_channels[ch];
    std::lock_guard lock(c.lock);
    CloseHeld(c);
    c.settings = settings;
    CRecordInfo info;
    if (!info.ReadInfo(path)) return false;
    c.info = info;
    if (!OpenFile(c, ch)) {
        CloseHeld(c);
        return false;
    }
    const uint32_t width = uint32_t(c.frame->Width());
    const uint32_t height = uint32_t(c.frame->Height());
    CaptionSettings captions;
    captions.colour = settings->captionColour.load();
    captions.computerGmtOffsetHours = m_gmtOffsetHours;
    fillRecordingCaption(c.caption, info, int(width), int(height), captions);
    if (info.Kind() == kKindFourChannel) {
        setCaptionText(c.caption.cameraName, info.CameraName(ch));
        setCaptionText(c.caption.boardName, info.BoardName(ch));
    }
    c.target = std::make_unique<CRenderTarget>();
    int32_t result = c.target->Init(width, height, &c.caption);
    if (result == kRenderNoDevice) {
        c.target = std::make_unique<CDibRenderTarget>();
        result = c.target->Init(width, height, &c.caption);
    }
    if (result != 0) {
        CloseHeld(c);
        return false;
    }
    c.active = true;
    PostNotify(c, ch, kPlayChannelOpened);
    return true;
}

bool CQuadPlayWnd::IsActive(int ch) const {
    assert(ch >= 0 && ch < kChannels);
    const Channel& c = *m_channels[ch];
    std::lock_guard lock(c.lock);
    return c.active;
}

uint32_t CQuadPlayWnd::ChannelTime(int ch) const {
    assert(ch >= 0 && ch < kChannels);
    const Channel& c = *m_channels[ch];
    std::lock_guard lock(c.lock);
    return c.shown ? c.wallTime : c.Wall();
}

ChannelView CQuadPlayWnd::View(int ch) const {
    assert(ch >= 0 && ch < kChannels);
    const Channel& c = *m_channels[ch];
    std::lock_guard lock(c.lock);
    ChannelView view;
    view.active = c.active;
    view.started = c.started;
    view.info = c.info;
    view.hasFrame = c.shown;
    view.group = c.group;
    view.position = c.position;
    view.positionValue = c.positionValue;
    view.wallTime = c.wallTime;
    if (c.frame && c.frame->Reader()) {
        const CRecordReader& reader = *c.frame->Reader();
        view.groupFrameCounts.reserve(reader.Groups().size());
        for (const GroupEntry& group : reader.Groups()) view.groupFrameCounts.push_back(group.frameCount);
    }
    return view;
}

bool CQuadPlayWnd::Snapshot(int ch, std::vector<uint8_t>& bgr, uint32_t& width, uint32_t& height) {
    assert(ch >= 0 && ch < kChannels);
    Channel& c = *m_channels[ch];
    std::lock_guard lock(c.lock);
    if (!c.shown || !c.target) return false;
    return c.target->CopyPicture(bgr, width, height);
}

void CQuadPlayWnd::SetAudioEnabled(bool on) {
    if (m_audioEnabled.exchange(on) == on || on) return;
    for (auto& channel : m_channels) {
        std::lock_guard lock(channel->lock);
        if (channel->audio) channel->audio->Close();
        channel->audio.reset();
    }
}

bool CQuadPlayWnd::WaitWorkerIdle(uint32_t limitMs) {
    if (!m_created) return true;
    return m_events.WaitIdle(kStop, std::chrono::milliseconds(limitMs));
}

}  // namespace kx
