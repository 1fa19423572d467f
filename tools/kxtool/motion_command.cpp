// kxtool motion: motion search headless. The play engine runs through the recording with the
// given regions, fast where nothing moves and at the recording's pace where something does,
// and each stretch with motion is printed: "motion from TIME (G:P) to TIME (G:P)". The times
// are those of the pictures that switched motion on and off.
#include <cstdio>
#include <string>

#include "platform/manual/manual_event_loop.h"
#include "platform/system_clock.h"
#include "playback/play_wnd.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

class MotionPrinter : public EventTarget {
public:
    explicit MotionPrinter(EventLoop& loop) : EventTarget(loop) {}
    void onTimer(uint32_t) override {}

    intptr_t onMessage(const LoopMessage& message) override {
        if (message.id != WM_PLAY_NOTIFY) return 0;
        if (message.wParam == kPlayEnded) {
            if (m_inMotion) std::printf(" to the end\n");
            m_inMotion = false;
            m_ended = true;
        } else if (message.wParam == kPlayMotion) {
            const auto* block = reinterpret_cast<const MotionBlock*>(message.lParam);
            m_motionNow = block->anyMotion();
        } else if (message.wParam == kPlayPicture) {
            const auto* frame = reinterpret_cast<const CPlayFrame*>(message.lParam);
            if (m_motionNow == m_inMotion) return 0;
            const std::string at = formatLocalTime(frame->Reader()->WallTimeOfTick(frame->Tick()));
            std::printf(m_motionNow ? "motion from %s (%u:%u)" : " to %s (%u:%u)\n", at.c_str(),
                        frame->Group(), frame->PositionInGroup());
            if (m_motionNow) ++m_stretches;
            m_inMotion = m_motionNow;
        }
        return 0;
    }

    bool ended() const { return m_ended; }
    int stretches() const { return m_stretches; }

private:
    bool m_motionNow = false;
    bool m_inMotion = false;
    bool m_ended = false;
    int m_stretches = 0;
};

}  // namespace

int runMotion(const MotionOptions& options) {
    ManualEventLoop loop(systemTickCountMs());
    MotionPrinter printer(loop);
    CPlayWnd player(loop, nullptr);
    player.Create(&printer);
    if (!player.Open(options.file, 0, false)) {
        reportError(options.file, player.LastError().text);
        return 1;
    }
    player.SetMotionParams(options.sensitivity, options.changedPictures, false);
    for (const MotionRegionOption& region : options.regions)
        player.AddRegion(region.left, region.top, region.right, region.bottom);
    // The clock is moved by hand: quiet stretches pass a picture a tick, moving ones at their
    // recorded pace, both without waiting.
    while (!printer.ended()) {
        if (!loop.msUntilNextTimer() && loop.queuedMessages() == 0) break;
        loop.advanceMs(CPlayWnd::kPlayPeriodMs);
    }
    std::printf("%d stretches with motion\n", printer.stretches());
    return 0;
}

}  // namespace kx
