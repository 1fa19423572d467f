// kxtool play: runs the play engine headless on the computer's clock with the null audio
// device and prints one line per announced picture, "group position tick elapsed_ms", then a
// summary. Levels 3 and 4 (H and XH) jump by one or two groups every 500 ms, as the main view
// drives them.
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "platform/system_clock.h"
#include "tools/kxtool/steady_audio_clock.h"
#include "playback/play_wnd.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

constexpr uint32_t kJumpTimer = 100;
constexpr uint32_t kJumpPeriodMs = 500;

// The notify target: prints pictures, and plays the part of the document and the view for the
// group jumps of levels 3 and 4.
class PlayPrinter : public EventTarget {
public:
    PlayPrinter(ManualEventLoop& loop, int32_t level)
        : EventTarget(loop), m_manual(loop), m_level(level) {}
    void setPlayer(CPlayWnd* player) { m_player = player; }

    void onTimer(uint32_t timerId) override {
        if (timerId != kJumpTimer) return;
        loop().killTimer(*this, kJumpTimer);
        m_player->TogglePause();
        if (!m_player->Seek(int32_t(m_shownGroup) + (m_level == 3 ? 1 : 2), 0))
            loop().post(*this, {WM_PLAY_NOTIFY, kPlayEnded, 0});
    }

    intptr_t onMessage(const LoopMessage& message) override {
        if (message.id != WM_PLAY_NOTIFY) return 0;
        if (message.wParam == kPlayEnded) {
            m_ended = true;
            return 0;
        }
        if (message.wParam != kPlayPicture) return 0;
        const auto* frame = reinterpret_cast<const CPlayFrame*>(message.lParam);
        std::printf("%u %u %u %llu\n", frame->Group(), frame->PositionInGroup(), frame->Tick(),
                    static_cast<unsigned long long>(m_manual.elapsedMs()));
        ++m_pictures;
        m_shownGroup = frame->Group();
        if (m_level >= 3 && !m_player->IsPaused()) {
            m_player->TogglePause();
            loop().setTimer(*this, kJumpTimer, kJumpPeriodMs);
        }
        return 0;
    }

    bool ended() const { return m_ended; }
    uint64_t pictures() const { return m_pictures; }

private:
    ManualEventLoop& m_manual;
    int32_t m_level;
    CPlayWnd* m_player = nullptr;
    uint32_t m_shownGroup = 0;
    uint64_t m_pictures = 0;
    bool m_ended = false;
};

}  // namespace

int runPlay(const PlayOptions& options) {
    std::optional<uint32_t> at;
    if (!options.at.empty()) {
        at = parseTime(options.at);
        if (!at) {
            reportError(options.at, "not a time (YYYY-MM-DD HH:MM:SS or seconds)");
            return 1;
        }
    }

    using Clock = std::chrono::steady_clock;
    ManualEventLoop loop(systemTickCountMs());
    SteadyAudioClock audioClock;
    NullAudioDevices devices(audioClock);
    loop.setClockObserver([&devices] { devices.pump(); });
    PlayPrinter printer(loop, options.level);
    CPlayWnd player(loop, &devices);
    player.Create(&printer);
    printer.setPlayer(&player);

    const Clock::time_point openedAt = Clock::now();
    // Levels 3 and 4 play at real time between their jumps.
    if (!player.Open(options.file, options.level < 3 ? options.level : 0, true)) {
        reportError(options.file, player.LastError().text);
        return 1;
    }
    if (options.seekGroup && !player.Seek(*options.seekGroup, options.seekCount)) {
        reportError(options.file, "no frame " + std::to_string(options.seekCount) +
                                      " in or after group " + std::to_string(*options.seekGroup));
        return 1;
    }
    if (at && !player.GoToTime(*at)) {
        reportError(options.file, "cannot go to " + options.at);
        return 1;
    }

    // The loop's clock follows the computer's: sleep until the next timer, then move it on.
    while (!printer.ended()) {
        const std::optional<uint64_t> wait = loop.msUntilNextTimer();
        if (!wait && loop.queuedMessages() == 0) break;
        if (wait && *wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(*wait));
        const auto elapsed = uint64_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - openedAt).count());
        loop.advanceMs(elapsed > loop.elapsedMs() ? elapsed - loop.elapsedMs() : 0);
    }
    std::printf("# %llu pictures in %llu ms at level %d\n",
                static_cast<unsigned long long>(printer.pictures()),
                static_cast<unsigned long long>(loop.elapsedMs()), options.level);
    return 0;
}

}  // namespace kx
