// CPlayWnd: opening, pacing, presenting, audio-driven advance, seeking and the integrity pass.
#include "playback/play_wnd.h"

#include <algorithm>

#include <cstdio>


namespace kx {

int CPlayWnd::s_instances = 0;

namespace {

constexpr int kAvcCodec = 4;
constexpr uint16_t kAvcDroppableKind = 3;

bool IsDroppable(const CRecordFrame& frame) {
    return frame.Codec() == kAvcCodec && frame.Kind() == kAvcDroppableKind;
}

bool IsLastFrame(const CRecordReader& reader, const CRecordFrame& frame) {
    return uint64_t(reader.FirstFrameNumber(int32_t(frame.Group()))) + frame.PositionInGroup() +
               1 >=
           reader.TotalFrameCount();
}

}  // namespace

CPlayWnd::CPlayWnd(EventLoop& loop, AudioDevices* audio)
    : EventTarget(loop), m_audioDevices(audio) {
    ++s_instances;
}

CPlayWnd::~CPlayWnd() {
    *m_alive = false;
    Stop(Notify::No);
    --s_instances;
}

bool CPlayWnd::Create(EventTarget* notify) {
    char title[32];
    std::snprintf(title, sizeof title, "video play wnd %d", s_instances);
    m_title = title;
    m_controlId = 400 + s_instances;
    m_notify = notify;
    return true;
}

bool CPlayWnd::Open(const std::string& path, int32_t speed, bool soundOn, int32_t /*unused*/) {
    if (!OpenFile(path, speed, soundOn)) return false;
    StartPlayTimer();
    return true;
}

bool CPlayWnd::FailOpen(std::string text) {
    Stop(Notify::No);
    m_error = {FrameFault::CannotOpen, 0, 0, 0, std::move(text)};
    return false;
}

bool CPlayWnd::OpenFile(const std::string& path, int32_t speed, bool soundOn) {
    Stop(Notify::No);
    m_path = path;
    m_error = {};

    CRecordInfo info;
    if (!info.ReadInfo(path)) return FailOpen(info.LastError().text);
    if (info.Kind() == kKindFourChannel)
        return FailOpen("a four-channel recording: it plays in quad play, not in the single player");
    auto reader = std::make_unique<CRecordReader>();
    if (!reader->Open(&info, kReaderModeRead, -1)) return FailOpen(reader->LastError().text);

    int width = info.Width();
    const int height = info.Height();
    if ((info.HeaderFlags() & kHeaderFlag352Pixels) && info.ResolutionCode() == 7) width = 352;
    // A resolution code outside the table gives no size: there is nothing to decode into.
    if (width <= 0 || height <= 0)
        return FailOpen("resolution code " + std::to_string(info.ResolutionCode()) + " gives no picture size");

    m_frame = std::make_unique<CPlayFrame>(width, height);
    m_frame->SetCameraBoardWord(uint32_t(info.CameraNumber()) | uint32_t(info.BoardNumber()) << 8);
    m_frame->AttachReader(std::move(reader));
    m_speed = speed;
    m_soundOn = soundOn;
    m_audioUnavailable = false;
    m_lastTick = Now();

    const ReadOutcome first = ReadNextFrame();
    if (first == ReadOutcome::Destroyed) return false;
    if (first != ReadOutcome::Read)
        return FailOpen("no first frame: " + (m_error.text.empty() ? std::string("none in the index") : m_error.text));
    m_error = {};
    m_lastTime = m_frame->Tick();

    // The decoder comes from the first frame; later frames of another codec go to it too.
    std::string reason;
    if (!m_decoder.setup(info.Kind(), info.Version(), m_frame->Codec(), reason, uint32_t(width), uint32_t(height))) return FailOpen(reason);
    return true;
}

void CPlayWnd::NoteFault(FrameFault fault, uint32_t group, uint32_t position, uint32_t tick, std::string text) {
    m_error = {fault, group, position, tick, std::move(text)};
}

// Reads on from the current frame. A record above the size cap is passed over (the reader
// has moved past it); during the integrity pass a record that cannot be read is reported and
// the pass goes on with the next group, so damage in one group hides none of the others.
CPlayWnd::ReadOutcome CPlayWnd::ReadNextFrame() {
    CRecordReader* reader = Reader();
    int32_t group = -1;
    for (;;) {
        if (m_frame->ReadAt(group, 0)) return ReadOutcome::Read;
        const RecordFailure& why = reader->LastError();
        if (why.code == RecordError::PastEnd) return ReadOutcome::End;
        const bool oversized = why.code == RecordError::OversizedRecord;
        NoteFault(oversized ? FrameFault::OversizedRecord : FrameFault::UnreadableRecord, reader->FailedGroup(),
                  reader->FailedPosition(), m_frame->Tick(), why.text);
        if (m_verifying && !Send(kPlayIntegrityFailed, m_frame.get())) return ReadOutcome::Destroyed;
        if (!m_frame) return ReadOutcome::End;  // the notify target stopped the player
        if (oversized) {
            group = -1;
            continue;
        }
        if (!m_verifying) return ReadOutcome::End;
        const uint32_t next = reader->FailedGroup() + 1;
        if (next >= reader->GroupCount()) return ReadOutcome::End;
        group = int32_t(next);
    }
}

void CPlayWnd::StartPlayTimer() {
    loop().setTimer(*this, kPlayTimer, kPlayPeriodMs);
    m_playTimer = kPlayTimer;
}

void CPlayWnd::Stop(Notify notify) {
    m_motion = {};
    m_motionDetected = false;
    m_detector.reset();
    if (m_playTimer) loop().killTimer(*this, m_playTimer);
    m_playTimer = 0;
    // The integrity pass ends here too, so its 1 ms timer does not outlive the recording.
    loop().killTimer(*this, kVerifyTimer);
    CloseAudio();
    m_audio.reset();
    m_frame.reset();
    m_seekFrame.reset();
    m_decoder.reset();
    m_secondFrame.reset();
    m_speed = 0;
    m_lastTick = 0;
    m_lastTime = 0;
    m_heldBack = false;
    m_soundOn = false;
    if (notify == Notify::Yes) Post(kPlayEnded);
}

void CPlayWnd::TogglePause() {
    if (!m_frame) return;
    if (m_playTimer == 0) {
        m_lastTick = Now();
        StartPlayTimer();
    } else {
        loop().killTimer(*this, m_playTimer);
        m_playTimer = 0;
        CloseAudio();
    }
}

void CPlayWnd::onTimer(uint32_t timerId) {
    if (timerId == kVerifyTimer) {
        if (m_frame) (void)PresentPicture();
        return;
    }
    if (m_playTimer == 0 || timerId != m_playTimer || !m_frame) return;
    const uint32_t now = Now();

    // Without motion in the regions, frames run through as fast as the timer allows.
    if (RegionsActive() && !m_motionDetected) {
        if (!PresentPicture()) return;
        m_lastTick = Now();
        return;
    }

    // Frame times are unsigned 32-bit and wrap with the recorder's clock. A step backwards
    // (a recorder clock set back, a damaged tick) would look like a wait of weeks: it plays at
    // once instead.
    // Every frame waits its gap in recording time, whatever the codec. The avc engine's status
    // word is not used for the wait: it is 0 after every B picture (the next reference lies
    // before the B picture in time) and after a repeat frame, so frames would go through
    // unpaced. A frame whose picture the codec holds back takes no turn of its own (see
    // PresentPicture), so the shown pictures keep the recording's rate in any coded order.
    uint32_t interval = m_frame->Tick() - m_lastTime;
    if (interval > 0x7FFFFFFFu) interval = 0;
    if (m_speed >= 1)
        interval = uint32_t(uint64_t(interval) / (2 * uint64_t(m_speed)));
    else if (m_speed <= -1)
        interval *= uint32_t(-2 * int64_t(m_speed));

    if (m_verifying)
        interval = 0;
    else if (now - m_lastTick < interval)
        return;
    if (!PresentPicture()) return;
    // The interval accumulates on the last tick, not on now, so a late tick shortens the next
    // wait and playback keeps its pace.
    m_lastTick += interval;
}

bool CPlayWnd::PresentPicture() {
    // A held-back frame (the first reference of a stream with B pictures, or any frame a
    // reordering codec keeps) shows nothing: the frame after it is presented in the same turn,
    // so it shows the picture due now. Bounded, so a stream that never yields a picture still
    // plays one frame a turn.
    for (int held = 0;; ++held) {
        if (!Present()) return false;
        if (!m_heldBack || !m_frame || m_verifying || held >= kMaxHeldBackInOneTurn) return true;
    }
}

bool CPlayWnd::Present() {
    FeedAudio();
    m_lastTime = m_frame->Tick();
    const FrameFault fault = DecodeFrame(*m_frame, Deblocking::On);
    m_heldBack = m_lastDecode == FrameDecode::NotYet;

    uint32_t motion = 0;
    if (m_verifying) {
        // The integrity test: a picture that does not decode, or only in part, fails the file.
        if (fault != FrameFault::None) {
            NoteFault(fault, m_frame->Group(), m_frame->PositionInGroup(), m_frame->Tick(), m_decoder.failureText());
            if (!Send(kPlayIntegrityFailed, m_frame.get())) return false;
        }
        if (m_frame && !Send(kPlayVerifying, m_frame.get())) return false;
    } else {
        if (RegionsActive() && !m_motionSuspended) motion = TestMotion();
        if (m_notify) {
            if (RegionsActive() && !Send(kPlayMotion, &m_motion)) return false;
            // At speed 2 only the frames at even positions in their group are drawn. A frame
            // whose picture the codec holds back has nothing new to draw.
            if (m_frame && !m_heldBack && !(m_speed == 2 && (m_frame->PositionInGroup() & 1)) &&
                !Send(kPlayPicture, m_frame.get()))
                return false;
        }
    }
    // The notify target may have stopped the player while handling the picture.
    if (!m_frame) return true;

    switch (ReadNextFrame()) {
        case ReadOutcome::Destroyed: return false;
        case ReadOutcome::End:
            if (m_frame) Stop(Notify::Yes);
            return true;
        case ReadOutcome::Read: break;
    }
    if (m_frame->Codec() == kAvcCodec && (m_speed > 0 || (RegionsActive() && motion == 0)) &&
        !SkipDroppable(*m_frame)) {
        Stop(Notify::Yes);
        return true;
    }
    if (RegionsActive() && !m_motionSuspended) {
        if (m_pauseOnMotion && !m_motionDetected && motion != 0) TogglePause();
        m_motionDetected = motion != 0;
    }
    return true;
}

void CPlayWnd::FeedAudio() {
    if (m_frame && m_soundOn && m_speed == 0) {
        if (RegionsActive() && !m_motionDetected) {
            CloseAudio();
            return;
        }
        if (m_frame->HasAudio()) {
            if (!m_audio && m_audioDevices && !m_audioUnavailable)
                m_audio = std::make_unique<CWaveOut>(*m_audioDevices);
            if (m_audio && !m_audio->IsOpen() &&
                !m_audio->Open(&m_waveDone, -1, WaveOutModeForVideoCodec(m_frame->Codec()),
                               kWaveOutDirectionOutput)) {
                // No device takes the format: play silent until the next recording is opened.
                m_audio.reset();
                m_audioUnavailable = true;
            }
            // A device error drops the block; playback goes on.
            if (m_audio) m_audio->Write(m_frame->AudioBuffer(), m_frame->AudioLength());
            return;
        }
    }
    CloseAudio();
}

void CPlayWnd::CloseAudio() {
    if (m_audio) m_audio->Close();
}

FrameFault CPlayWnd::DecodeFrame(CPlayFrame& frame, Deblocking deblocking) {
    const FrameDecode decoded = m_decoder.decode(frame, frame.Picture(), deblocking);
    m_lastDecode = decoded;
    if (VideoDecoder* decoder = m_decoder.decoder())
        if (std::string text = decoder->takeMessage(); !text.empty()) m_decoderMessage = std::move(text);
    switch (decoded) {
        case FrameDecode::Whole:
        case FrameDecode::NotYet: return FrameFault::None;
        case FrameDecode::Damaged: return FrameFault::PictureDamaged;
        case FrameDecode::Failed: break;
    }
    return FrameFault::PictureUndecodable;
}

bool CPlayWnd::SkipDroppable(CPlayFrame& frame) {
    CRecordReader* reader = Reader();
    while (frame.Kind() == kAvcDroppableKind)
        if (!reader->ReadFrame(frame, -1, 0)) return false;
    return true;
}

intptr_t CPlayWnd::onMessage(const LoopMessage& message) {
    if (message.id == kWaveDoneMessage) OnWaveDone(WaveDoneOfMessage(message));
    return 0;
}

void CPlayWnd::OnWaveDone(const WaveDone& message) {
    if (!m_audio) return;
    bool fewerThanTwo = false;
    if (!m_audio->BufferDone(message, fewerThanTwo) || !fewerThanTwo) return;

    if (m_soundOn && m_speed == 0 && m_frame && m_frame->HasAudio()) {
        // The sound queue runs low: frames whose audio blocks are empty are passed at once, up
        // to the next frame with sound (or without the audio flag), which is presented.
        while (m_frame->AudioLength() == 0) {
            m_lastTime = m_frame->Tick();
            DecodeFrame(*m_frame, Deblocking::Off);
            if (!m_frame->ReadNext()) {
                Stop(Notify::Yes);
                return;
            }
            if (!m_frame->HasAudio()) break;
        }
        (void)PresentPicture();  // nothing follows, whether or not the window still exists
        return;
    }
    CloseAudio();
}

CPlayFrame& CPlayWnd::SeekFrame() {
    if (!m_seekFrame || m_seekFrame->Width() != m_frame->Width() ||
        m_seekFrame->Height() != m_frame->Height())
        m_seekFrame = std::make_unique<CPlayFrame>(m_frame->Width(), m_frame->Height());
    return *m_seekFrame;
}

bool CPlayWnd::Seek(int32_t group, int32_t count) {
    if (!m_frame) return false;
    const SeekDecoding codec{[this] { m_decoder.restart(); }, [this] { return m_decoder.holdsPictures(); },
                             [this](CPlayFrame& frame) { DecodeFrame(frame, Deblocking::Off); }};
    return ReadForSeek(*Reader(), SeekFrame(), group, count, codec) && LoadSeekFrame();
}

bool CPlayWnd::GoToTime(uint32_t wallTime) {
    if (!m_frame) return false;
    CRecordReader* reader = Reader();
    const uint32_t groups = reader->GroupCount();
    if (groups == 0) return false;
    const uint32_t group = reader->LastGroupNotAfter(wallTime);

    // Frames before the time are decoded unannounced; the frame landed on is decoded when it is
    // presented. The search ends at the first frame of the next group at the latest, and at the
    // recording's last frame.
    CPlayFrame& seek = SeekFrame();
    if (!reader->ReadFrame(seek, int32_t(group), 0)) return false;
    m_decoder.restart();
    while (reader->WallTimeOfTick(seek.Tick()) < wallTime && seek.Group() == group &&
           !IsLastFrame(*reader, seek)) {
        if (!IsDroppable(seek)) DecodeFrame(seek, Deblocking::Off);
        if (!reader->ReadFrame(seek, -1, 0)) return false;
    }
    return LoadSeekFrame();
}

bool CPlayWnd::LoadSeekFrame() {
    CPlayFrame& seek = *m_seekFrame;
    if (IsDroppable(seek) && m_speed >= 1 && !SkipDroppable(seek)) {
        Stop(Notify::Yes);
        return false;
    }
    if (!m_frame->CopyFrom(seek)) return false;
    m_lastTime = m_frame->Tick();
    m_lastTick = Now();
    if (m_playTimer == 0 && !m_verifying) StartPlayTimer();
    return true;
}

void CPlayWnd::SetVerifying(bool on) {
    m_verifying = on;
    if (on) {
        const std::string path = m_path;
        const std::shared_ptr<bool> alive = m_alive;
        if (!OpenFile(path, 1, false)) {
            // Nothing to check: the pass ends as it would at the end of the recording.
            if (*alive) Post(kPlayEnded);
            return;
        }
        m_secondFrame = std::make_unique<CPlayFrame>(m_frame->Width(), m_frame->Height());
        loop().setTimer(*this, kVerifyTimer, kVerifyPeriodMs);
    } else {
        loop().killTimer(*this, kVerifyTimer);
        if (m_frame && m_playTimer == 0) {
            m_lastTick = Now();
            StartPlayTimer();
        }
    }
}

uint32_t CPlayWnd::TestMotion() {
    const CRecordReader* reader = Reader();
    if (!reader || (m_frame->Flags() & kFrameFlagNoPicture)) return m_motionDetected ? 1 : 0;
    const PixelFormat format = pictureFormatOf(reader->Kind(), m_frame->Flags());
    return m_detector.detect(m_motion, m_frame->Picture(), format, m_frame->Kind()) ? 1 : 0;
}

void CPlayWnd::SetMotionParams(int32_t sensitivity, int32_t changedPictures, bool pauseOnMotion) {
    m_detector.setThreshold(MotionDetector::thresholdOfLevel(sensitivity));
    m_detector.setChangedPictures(uint32_t(std::max(changedPictures, 0)));
    m_pauseOnMotion = pauseOnMotion;
}

bool CPlayWnd::AddRegion(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (m_motion.count >= MotionBlock::kMaxRegions) return false;
    m_motion.regions[m_motion.count++] = {left, top, right, bottom, 0, 0};
    return true;
}

void CPlayWnd::ClearRegions() {
    m_motion = {};
    m_motionDetected = false;
}

bool CPlayWnd::ToggleSuspend() {
    if (!m_motionSuspended && RegionsActive() && IsPaused() && m_frame) {
        for (MotionRegion& region : m_motion.regions) region.motion = 0;
        TogglePause();
    }
    m_motionSuspended = !m_motionSuspended;
    return m_motionSuspended;
}

void CPlayWnd::Post(uint32_t code) {
    if (m_notify) loop().post(*m_notify, {WM_PLAY_NOTIFY, code, 0});
}

bool CPlayWnd::Send(uint32_t code, const void* parameter) {
    if (!m_notify) return true;
    // The copy outlives the window if the target deletes it while handling the message.
    const std::shared_ptr<bool> alive = m_alive;
    loop().send(*m_notify, {WM_PLAY_NOTIFY, code, reinterpret_cast<intptr_t>(parameter)});
    return *alive;
}

}  // namespace kx
