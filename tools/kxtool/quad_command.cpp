// kxtool quad: runs the quad play engine headless on the computer's clock with the null audio
// device and prints one line per presented picture, "channel group position wall_time
// elapsed_ms", then a summary. Up to four recordings on channels 0 to 3, or the four channels
// of one four-channel recording.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "platform/system_clock.h"
#include "tools/kxtool/steady_audio_clock.h"
#include "playback/quad_play_wnd.h"
#include "recording/record_info.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"

namespace kx {
namespace {

// One pane: prints the channel's pictures and notes its end.
class ChannelPrinter : public EventTarget {
public:
    ChannelPrinter(ManualEventLoop& loop, CQuadPlayWnd& quad, int ch)
        : EventTarget(loop), m_manual(loop), m_quad(quad), m_ch(ch) {}
    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override {
        if (message.id != WM_PLAY_NOTIFY) return 0;
        if (message.wParam == kPlayEnded) ended = true;
        if (message.wParam != kPlayPicture) return 0;
        const ChannelView view = m_quad.View(m_ch);
        std::printf("%d %d %d %u %llu\n", m_ch, view.group, view.position, view.wallTime,
                    static_cast<unsigned long long>(m_manual.elapsedMs()));
        ++pictures;
        return 0;
    }

    bool ended = false;
    uint64_t pictures = 0;

private:
    ManualEventLoop& m_manual;
    CQuadPlayWnd& m_quad;
    int m_ch;
};

// Why a channel could not be opened, found again step by step.
std::string whyNotQuad(const std::string& file) {
    CRecordInfo info;
    CRecordReader reader;
    std::string reason;
    if (!openRecording(file, -1, info, reader, reason)) return reason;
    CRecordFrame frame(info.Width(), info.Height(), CPlayFrame::kAudioCapacity);
    if (!reader.ReadFrame(frame, -1, 0)) return "no first frame: " + reader.LastError().text;
    return "codec " + std::to_string(frame.Codec()) + " of the first frame does not play in quad play";
}

}  // namespace

int runQuad(const QuadOptions& options) {
    // Which file each channel plays: one four-channel recording gives its four channels.
    std::vector<std::string> channels = options.files;
    if (channels.size() == 1) {
        CRecordInfo info;
        if (info.ReadInfo(channels[0]) && info.Kind() == kKindFourChannel) channels.assign(4, options.files[0]);
    }

    using Clock = std::chrono::steady_clock;
    ManualEventLoop loop(systemTickCountMs());
    SteadyAudioClock audioClock;
    NullAudioDevices devices(audioClock);
    loop.setClockObserver([&devices] { devices.pump(); });
    CQuadPlayWnd quad(loop, &devices);
    quad.Create();
    ChannelSettings settings[CQuadPlayWnd::kChannels];
    std::vector<std::unique_ptr<ChannelPrinter>> printers;
    for (size_t ch = 0; ch < channels.size(); ++ch) {
        printers.push_back(std::make_unique<ChannelPrinter>(loop, quad, int(ch)));
        settings[ch].notify = printers.back().get();
        // As the quad window: sound on the first channel only.
        if (ch == 0) settings[ch].flags = kChannelDefaultFlags | kChannelSoundOn;
        if (!quad.OpenChannel(int(ch), channels[ch], &settings[ch])) {
            reportError(channels[ch], whyNotQuad(channels[ch]));
            return 1;
        }
    }
    quad.SetAudioEnabled(true);

    const Clock::time_point startedAt = Clock::now();
    quad.Play(options.level);
    const uint64_t limitMs = options.seconds ? uint64_t(*options.seconds * 1000.0) : UINT64_MAX;
    const auto allEnded = [&] {
        for (const auto& printer : printers)
            if (!printer->ended) return false;
        return true;
    };
    // The loop's clock follows the computer's: sleep until the next tick, then move it on.
    while (!allEnded() && loop.elapsedMs() < limitMs) {
        const std::optional<uint64_t> wait = loop.msUntilNextTimer();
        if (wait && *wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(*wait));
        const auto elapsed = uint64_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - startedAt).count());
        loop.advanceMs(elapsed > loop.elapsedMs() ? elapsed - loop.elapsedMs() : 0);
    }
    quad.Destroy();
    uint64_t pictures = 0;
    for (const auto& printer : printers) pictures += printer->pictures;
    std::printf("# %llu pictures on %zu channels in %llu ms at level %d\n",
                static_cast<unsigned long long>(pictures), channels.size(),
                static_cast<unsigned long long>(loop.elapsedMs()), options.level);
    return 0;
}

}  // namespace kx
