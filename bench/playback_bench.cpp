// The core at scale: opening a 1 GiB recording (header and the group walk), and steady
// playback of a 704 x 576 recording through the play engine, with the heap allocations per
// frame counted after the first group, beside the decoder's own cost on the same frames.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "codec/create_decoder.h"
#include "platform/file.h"
#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "playback/play_wnd.h"
#include "recording/byte_order.h"
#include "recording/record_reader.h"
#include "tools/recorder/recording_job.h"

// Every heap allocation of the program, counted. The replaced operators pair malloc with free,
// which GCC cannot see through once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace kx {
namespace {

constexpr uint64_t kLargeBytes = uint64_t(1) << 30;
constexpr uint32_t kGroupBytes = 1 << 20;   // a group a MiB: 1024 groups
constexpr uint32_t kFramesPerGroup = 25;

// A file name in the temporary folder; the extension names the recording's kind.
std::string scratch(const char* name, const char* extension) {
    return (std::filesystem::temp_directory_path() /
            (std::string("kx_bench_") + name + "_" + std::to_string(::getpid()) + extension))
        .string();
}

// A 1 GiB extended recording (kind 7): the header, then groups of 25 records a MiB apart, the
// records' payloads left as holes of the file, so it costs no disk space.
std::string largeRecording() {
    static const std::string path = [] {
        const std::string file = scratch("large", ".ckx");
        RecordingJob job;
        job.path = file;
        job.kind = kKindExtended;
        job.frames = 1;
        std::string error;
        if (!writeRecording(job, error)) return std::string();
        CRecordInfo info;
        if (!info.ReadInfo(file)) return std::string();
        const uint32_t first = info.FirstGroupOffset();
        File out;
        if (!out.open(file, FileMode::ReadWrite)) return std::string();
        const uint32_t recordBytes = (kGroupBytes - kExtendedGroupHeaderBytes) / kFramesPerGroup;
        const uint32_t groups = uint32_t((kLargeBytes - first) / kGroupBytes);
        for (uint32_t g = 0; g < groups; ++g) {
            const uint32_t at = first + g * kGroupBytes;
            uint8_t h[kExtendedGroupHeaderBytes] = {};
            storeLe32(h, g ? at - kGroupBytes : kNoGroup);
            storeLe32(h + 4, g + 1 < groups ? at + kGroupBytes : kNoGroup);
            storeLe16(h + 8, uint16_t(kFramesPerGroup));
            storeLe32(h + 10, info.FirstFrameTick() + g * 1000);
            out.seek(at);
            out.write(h, sizeof h);
            for (uint32_t f = 0; f < kFramesPerGroup; ++f) {
                uint8_t r[kLongRecordBytes] = {};
                storeLe32(r + 4, info.FirstFrameTick() + g * 1000 + f * 40);
                storeLe32(r + 8, recordBytes - kLongRecordBytes);
                out.seek(at + kExtendedGroupHeaderBytes + f * recordBytes);
                out.write(r, sizeof r);
            }
        }
        out.seek(kLargeBytes - 1);
        const uint8_t last = 0;
        out.write(&last, 1);
        return file;
    }();
    return path;
}

void BM_OpenLargeRecording(benchmark::State& state) {
    const std::string path = largeRecording();
    if (path.empty()) {
        state.SkipWithError("the large recording could not be made");
        return;
    }
    uint32_t groups = 0;
    for (auto _ : state) {
        CRecordInfo info;
        if (!info.ReadInfo(path)) state.SkipWithError("ReadInfo failed");
        CRecordReader reader;
        if (!reader.Open(&info, kReaderModeRead, -1)) state.SkipWithError("Open failed");
        groups = reader.GroupCount();
        benchmark::DoNotOptimize(reader.TotalFrameCount());
    }
    state.counters["groups"] = groups;
    state.counters["file_MiB"] = double(std::filesystem::file_size(path)) / (1 << 20);
}
BENCHMARK(BM_OpenLargeRecording)->Unit(benchmark::kMillisecond);

// 250 frames of the built-in scene at 704 x 576 (resolution code 137), a group a second.
std::string playbackRecording() {
    static const std::string path = [] {
        RecordingJob job;
        job.path = scratch("d1", ".kxz");
        job.kind = kKindClip;
        job.resolutionCode = 137;
        job.frames = 250;
        std::string error;
        if (writeRecording(job, error)) return job.path;
        std::fprintf(stderr, "%s\n", error.c_str());
        return std::string();
    }();
    return path;
}

class NullTarget : public EventTarget {
public:
    using EventTarget::EventTarget;
    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override {
        if (message.id == WM_PLAY_NOTIFY && message.wParam == kPlayEnded) ended = true;
        return 0;
    }
    bool ended = false;
};

// The engine's integrity pass presents one frame per millisecond of the manual clock: each
// step reads, decodes and announces a frame, which is the engine's whole per-frame work.
void BM_EngineSteadyPlayback704x576(benchmark::State& state) {
    const std::string path = playbackRecording();
    if (path.empty()) {
        state.SkipWithError("the recording could not be made");
        return;
    }
    ManualEventLoop loop(0);
    ManualAudioClock clock;
    NullAudioDevices devices(clock);
    NullTarget target(loop);
    uint64_t frames = 0;
    uint64_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CPlayWnd player(loop, &devices);
        player.Create(&target);
        target.ended = false;
        if (!player.Open(path, 0, false)) {
            state.SkipWithError("the recording does not open");
            break;
        }
        player.SetVerifying(true);
        const uint32_t total = player.Reader() ? player.Reader()->TotalFrameCount() : 0;
        // The first group (a second of frames) sets up the buffers; the count starts after it
        // and ends before the last frame, whose step meets the end of the recording.
        for (int i = 0; i < 25; ++i) loop.advanceMs(1);
        const uint64_t before = g_allocations.load();
        state.ResumeTiming();
        uint64_t steps = 0;
        for (uint32_t i = 25; i + 1 < total; ++i, ++steps) loop.advanceMs(1);
        state.PauseTiming();
        allocations += g_allocations.load() - before;
        frames += steps;
        while (!target.ended) loop.advanceMs(1);
        state.ResumeTiming();
    }
    state.counters["frames"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] = frames ? double(allocations) / double(frames) : 0;
    state.counters["us_per_frame"] =
        benchmark::Counter(double(frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EngineSteadyPlayback704x576)->Unit(benchmark::kMillisecond);

// The decoder alone on the same frames, read beforehand.
void BM_DecoderAlone704x576(benchmark::State& state) {
    const std::string path = playbackRecording();
    CRecordInfo info;
    info.SetPath(path);
    CRecordReader reader;
    if (path.empty() || !reader.Open(&info, kReaderModeRead, -1)) {
        state.SkipWithError("the recording does not open");
        return;
    }
    std::vector<std::unique_ptr<CRecordFrame>> frames;
    for (;;) {
        auto frame = std::make_unique<CRecordFrame>(info.Width(), info.Height(), 0);
        if (!reader.ReadFrame(*frame, -1, 0)) break;
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) return;
    RgbPicture picture(uint32_t(info.Width()), uint32_t(info.Height()));
    uint64_t decoded = 0;
    for (auto _ : state) {
        std::unique_ptr<VideoDecoder> decoder = createDecoder(frames[0]->Codec());
        for (const auto& frame : frames) benchmark::DoNotOptimize(decoder->decodeToRgb(*frame, picture));
        decoded += frames.size();
    }
    state.counters["frames"] = benchmark::Counter(double(decoded), benchmark::Counter::kIsRate);
    state.counters["us_per_frame"] =
        benchmark::Counter(double(decoded), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DecoderAlone704x576)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kx

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(kx::largeRecording());
    std::filesystem::remove(kx::playbackRecording());
    return 0;
}
