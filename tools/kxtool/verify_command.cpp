// kxtool verify: the integrity pass of the player, headless and as fast as the frames decode.
// Every frame is read and decoded in order; the check (IntegrityCheck) turns what the pass
// reports, the group index and the ticks into findings. Each finding is printed with its frame
// and time, then the verdict the player shows; --json gives one object instead, --report
// writes the HTML report. Exit status 0 when the file passed, 1 when it failed or could not
// be checked.
#include <cstdio>
#include <iostream>

#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "platform/system_clock.h"
#include "playback/integrity_check.h"
#include "playback/integrity_report.h"
#include "playback/play_wnd.h"
#include "recording/file_digest.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/text_format.h"

#include <nlohmann/json.hpp>

namespace kx {
namespace {

using Json = nlohmann::ordered_json;

// The notify target of the pass: feeds the check and shows progress.
class VerifyMonitor : public EventTarget {
public:
    VerifyMonitor(EventLoop& loop, IntegrityCheck& check, bool progress)
        : EventTarget(loop), m_check(check), m_progress(progress) {}
    void onTimer(uint32_t) override {}
    void setPlayer(const CPlayWnd* player) { m_player = player; }

    intptr_t onMessage(const LoopMessage& message) override {
        if (message.id != WM_PLAY_NOTIFY) return 0;
        if (message.wParam == kPlayEnded) {
            m_ended = true;
            return 0;
        }
        const auto* frame = reinterpret_cast<const CPlayFrame*>(message.lParam);
        if (message.wParam == kPlayIntegrityFailed) {
            m_check.frameFailed(*frame, m_player->LastError());
        } else if (message.wParam == kPlayVerifying) {
            m_check.frameChecked(*frame);
            const uint32_t total = m_check.framesIndexed();
            const uint32_t checked = m_check.framesChecked();
            const uint32_t percent = total ? uint32_t(uint64_t(checked) * 100 / total) : 100;
            if (m_progress && percent >= m_nextPercent) {
                std::fprintf(stderr, "\rchecked %u of %u frames (%u%%)", checked, total, percent);
                m_nextPercent = percent + 5;
            }
        }
        return 0;
    }

    bool ended() const { return m_ended; }

private:
    IntegrityCheck& m_check;
    const CPlayWnd* m_player = nullptr;
    bool m_progress;
    bool m_ended = false;
    uint32_t m_nextPercent = 0;
};

}  // namespace

int runVerify(const VerifyOptions& options) {
    ManualEventLoop loop(systemTickCountMs());
    ManualAudioClock audioClock;
    NullAudioDevices devices(audioClock);
    IntegrityCheck check;
    VerifyMonitor monitor(loop, check, options.progress);
    CPlayWnd player(loop, &devices);
    player.Create(&monitor);
    monitor.setPlayer(&player);
    if (!player.Open(options.file, 0, false)) {
        reportError(options.file, player.LastError().text);
        return 1;
    }
    player.SetVerifying(true);
    if (!player.Reader()) {
        reportError(options.file, player.LastError().text);
        return 1;
    }
    check.begin(*player.Reader());
    // One frame per millisecond of the pass's timer; the clock is moved by hand, so the pass
    // runs as fast as the frames read and decode.
    while (!monitor.ended()) {
        if (!loop.msUntilNextTimer() && loop.queuedMessages() == 0) break;
        loop.advanceMs(1);
    }
    if (options.progress) std::fprintf(stderr, "\n");
    check.finish();

    const std::string sha256 = sha256OfFile(options.file);
    if (!options.report.empty()) {
        std::string error;
        if (!writeIntegrityReport(options.report, options.file, check, sha256, error)) {
            reportError(options.report, error);
            return 1;
        }
    }
    const int32_t zone = check.header().GmtOffset();
    if (options.json) {
        Json findings = Json::array();
        for (const Finding& f : check.findings())
            findings.push_back({{"kind", findingKindName(f.kind)},
                                {"group", f.group},
                                {"position", f.position},
                                {"tick", f.tick},
                                {"wall_time", f.wallTime},
                                {"wall_time_text", formatRecorderTime(f.wallTime, zone)},
                                {"detail", f.detail}});
        Json result = {{"file", options.file},
                       {"verdict", check.passed() ? "passed" : "failed"},
                       {"frames_checked", check.framesChecked()},
                       {"frames_indexed", check.framesIndexed()},
                       {"sha256", sha256},
                       {"findings", findings},
                       {"findings_omitted", check.findingsOmitted()}};
        std::cout << result.dump(2) << "\n";
        return check.passed() ? 0 : 1;
    }

    for (const Finding& f : check.findings())
        std::printf("frame %u:%u at %s, tick %u: %s: %s\n", f.group, f.position,
                    formatRecorderTime(f.wallTime, zone).c_str(), f.tick, findingKindName(f.kind), f.detail.c_str());
    if (check.findingsOmitted() > 0)
        std::printf("%llu more findings, not listed\n", static_cast<unsigned long long>(check.findingsOmitted()));
    std::printf("%u of %u frames checked\n", check.framesChecked(), check.framesIndexed());
    if (check.passed()) {
        std::printf("This file has passed the authentication!\n");
        return 0;
    }
    // The first finding is the one that matters most: where the damage begins.
    const std::string when = check.findings().empty()
                                 ? std::string("(not every frame could be read)")
                                 : formatRecorderTime(check.findings().front().wallTime, zone).substr(11, 8);
    std::printf("This file has failed the authentication! %s\n", when.c_str());
    return 1;
}

}  // namespace kx
