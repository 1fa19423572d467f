// kxtool verify: the integrity pass of the player, headless and as fast as the frames decode.
// Every frame is read and decoded in order; a picture that does not decode, or a record that
// cannot be read where the group index promises one, fails the file. Each failure is printed
// with its frame and time, then the verdict the player shows. Exit status 0 when the file
// passed, 1 when it failed or could not be checked.
#include <cstdio>
#include <vector>

#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "platform/system_clock.h"
#include "playback/play_wnd.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

struct Failure {
    uint32_t group;
    uint32_t position;
    uint32_t wallTime;
    // A failure reported for a frame already checked is a record after it that cannot be read;
    // otherwise the frame's own picture does not decode.
    bool unreadableAfter;
};

// The notify target of the pass: counts checked frames, keeps the failures, shows progress.
class VerifyMonitor : public EventTarget {
public:
    VerifyMonitor(EventLoop& loop, bool progress) : EventTarget(loop), m_progress(progress) {}
    void onTimer(uint32_t) override {}

    intptr_t onMessage(const LoopMessage& message) override {
        if (message.id != WM_PLAY_NOTIFY) return 0;
        if (message.wParam == kPlayEnded) {
            m_ended = true;
            return 0;
        }
        const auto* frame = reinterpret_cast<const CPlayFrame*>(message.lParam);
        const CRecordReader* reader = frame->Reader();
        if (message.wParam == kPlayIntegrityFailed) {
            const bool checked = m_checked > 0 && frame->Group() == m_lastGroup &&
                                 frame->PositionInGroup() == m_lastPosition;
            m_failures.push_back({frame->Group(), frame->PositionInGroup(),
                                  reader->WallTimeOfTick(frame->Tick()), checked});
        } else if (message.wParam == kPlayVerifying) {
            ++m_checked;
            m_lastGroup = frame->Group();
            m_lastPosition = frame->PositionInGroup();
            const uint32_t total = reader->TotalFrameCount();
            const uint32_t percent = total ? uint32_t(uint64_t(m_checked) * 100 / total) : 100;
            if (m_progress && percent >= m_nextPercent) {
                std::fprintf(stderr, "\rchecked %u of %u frames (%u%%)", m_checked, total, percent);
                m_nextPercent = percent + 5;
            }
        }
        return 0;
    }

    bool ended() const { return m_ended; }
    uint32_t checked() const { return m_checked; }
    const std::vector<Failure>& failures() const { return m_failures; }

private:
    bool m_progress;
    bool m_ended = false;
    uint32_t m_checked = 0;
    uint32_t m_lastGroup = 0;
    uint32_t m_lastPosition = 0;
    uint32_t m_nextPercent = 0;
    std::vector<Failure> m_failures;
};

}  // namespace

int runVerify(const VerifyOptions& options) {
    ManualEventLoop loop(systemTickCountMs());
    ManualAudioClock audioClock;
    NullAudioDevices devices(audioClock);
    VerifyMonitor monitor(loop, options.progress);
    CPlayWnd player(loop, &devices);
    player.Create(&monitor);
    if (!player.Open(options.file, 0, false)) {
        reportError(options.file, whyNotPlayable(options.file));
        return 1;
    }
    const uint32_t total = player.Reader()->TotalFrameCount();
    player.SetVerifying(true);
    // One frame per millisecond of the pass's timer; the clock is moved by hand, so the pass
    // runs as fast as the frames read and decode.
    while (!monitor.ended()) {
        if (!loop.msUntilNextTimer() && loop.queuedMessages() == 0) break;
        loop.advanceMs(1);
    }
    if (options.progress) std::fprintf(stderr, "\n");

    for (const Failure& failure : monitor.failures())
        std::printf(failure.unreadableAfter
                        ? "after frame %u:%u at %s: the next frame cannot be read\n"
                        : "frame %u:%u at %s: the picture does not decode\n",
                    failure.group, failure.position, formatLocalTime(failure.wallTime).c_str());
    std::printf("%u of %u frames checked\n", monitor.checked(), total);
    if (monitor.failures().empty() && monitor.checked() == total) {
        std::printf("This file has passed the authentication!\n");
        return 0;
    }
    // The first failure is the one that matters most: where the damage begins.
    const std::string when = monitor.failures().empty()
                                 ? std::string("(not every frame could be read)")
                                 : formatLocalTime(monitor.failures().front().wallTime).substr(11);
    std::printf("This file has failed the authentication! %s\n", when.c_str());
    return 1;
}

}  // namespace kx
