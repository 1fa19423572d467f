// Listing a folder of 10,000 small recordings through the recording list's folder reader (every
// row built: header read, cells formatted), beside the floor of enumerating the folder and
// reading the first KiB of each file, warm cache. The list's figure also gives the time until
// the first batch of rows is handed over, which is when the Open window shows its first rows.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "browse/recording_list.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr int kFileCount = 10000;
constexpr uint32_t kStart = 1793606400;  // 2026-11-02 08:00:00 UTC

// The folder, written once per run with the recorder: clips of two 160 x 112 pictures, sixteen
// cameras, one a minute; removed at exit.
class RecordingFolder {
public:
    RecordingFolder() : m_path(fs::temp_directory_path() / ("kx_list_bench_" + std::to_string(::getpid()))) {
        fs::create_directories(m_path);
        for (int i = 0; i < kFileCount; ++i) {
            RecordingJob job;
            char name[64];
            std::snprintf(name, sizeof name, "Cam%02d-%05d.kxz", i % 16, i);
            job.path = (m_path / name).string();
            job.kind = kKindClip;
            job.resolutionCode = 0;
            job.frames = 2;
            job.fps = 25;
            job.cameraNumber = uint8_t(i % 16);
            job.cameraName = "Camera " + std::to_string(i % 16 + 1);
            job.startTime = kStart + 60u * uint32_t(i);
            job.seed = uint32_t(i);
            std::string error;
            if (!writeRecording(job, error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                std::abort();
            }
        }
    }
    ~RecordingFolder() { fs::remove_all(m_path); }
    std::string path() const { return m_path.string(); }

private:
    fs::path m_path;
};

const std::string& folder() {
    static const RecordingFolder written;
    static const std::string path = written.path();
    return path;
}

// The floor: what any listing must do at least, enumerate and open each file and read its start.
size_t readFirstKiB(const std::string& path) {
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) std::abort();
    size_t files = 0;
    char buffer[1024];
    const int folderFd = ::dirfd(directory);
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_type == DT_DIR) continue;
        const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        benchmark::DoNotOptimize(::read(fd, buffer, sizeof buffer));
        ::close(fd);
        ++files;
    }
    ::closedir(directory);
    return files;
}

void BM_FloorOpenAndReadFirstKiB(benchmark::State& state) {
    const std::string& path = folder();
    readFirstKiB(path);  // warm the cache
    size_t files = 0;
    for (auto _ : state) files = readFirstKiB(path);
    state.counters["files"] = double(files);
    state.counters["files/s"] = benchmark::Counter(double(files) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FloorOpenAndReadFirstKiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The list's own path: the worker thread reads the folder and hands the rows over in batches.
void BM_ListFolderRows(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const std::string& path = folder();
    std::atomic<size_t> rows{0};
    std::atomic<int64_t> firstBatchNs{-1};
    Clock::time_point started;
    RecordingFolderReader reader([&](uint64_t, std::vector<ListRow>&& batch) {
        if (firstBatchNs.load() < 0)
            firstBatchNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
        rows += batch.size();
        benchmark::DoNotOptimize(batch.data());
    });
    reader.start(path, 0);  // warm the cache
    reader.wait();
    double firstBatchTotalMs = 0;
    double firstBatchWorstMs = 0;
    for (auto _ : state) {
        rows = 0;
        firstBatchNs = -1;
        started = Clock::now();
        reader.start(path, 0);
        reader.wait();
        const double ms = double(firstBatchNs.load()) / 1e6;
        firstBatchTotalMs += ms;
        firstBatchWorstMs = std::max(firstBatchWorstMs, ms);
    }
    if (rows != size_t(kFileCount)) state.SkipWithError("not every file got a row");
    state.counters["rows"] = double(rows.load());
    state.counters["rows/s"] =
        benchmark::Counter(double(rows.load()) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["first_rows_ms"] = firstBatchTotalMs / double(state.iterations());
    state.counters["first_rows_worst_ms"] = firstBatchWorstMs;
}
BENCHMARK(BM_ListFolderRows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kx

BENCHMARK_MAIN();
