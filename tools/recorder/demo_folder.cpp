// The demo folder's recordings and writing several recordings at once.
#include "tools/recorder/demo_folder.h"

#include <atomic>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <thread>

namespace kx {
namespace {

struct DemoCamera {
    uint8_t board;
    uint8_t camera;
    const char* boardName;
    const char* cameraName;
    int kind;
    int codec;
    uint8_t resolutionCode;
    AudioFormat audio;
    uint32_t firstStart;  // seconds since 1970, UTC
    uint32_t version = 1;
    int avcVersion = 4;
    int bFrames = 0;
    CameraStream stream = CameraStream::Jpeg;  // codecs 7 and 8
    bool quarterSample = false;                // codecs 2 and 6
};

constexpr uint32_t kDay1 = 1793606400;  // 2026-11-02 08:00:00 UTC
constexpr uint32_t kDay0 = 1793520000;  // 2026-11-01 08:00:00 UTC
constexpr uint32_t kSecondsPerRecording = 12;
constexpr uint32_t kPauseBetweenRecordings = 3;

std::string stamp(uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

}  // namespace

std::vector<RecordingJob> demoJobs(const std::string& folder) {
    const std::filesystem::path video = std::filesystem::path(folder) / "video";
    const DemoCamera cameras[] = {
        {0, 0, "Entrance", "Front gate", kKindExtended, 1, 135, AudioFormat::G726, kDay1},
        {0, 1, "Entrance", "Lobby", kKindExtended, 0, 7, AudioFormat::None, kDay1 + 20},
        // A second board over the same stretch of time, each camera starting at its own moment,
        // so that a search of channels 1, 2, 5 and 6 finds four recordings to play side by side.
        {1, 0, "Yard", "Car park", kKindClip, 1, 137, AudioFormat::None, kDay1 + 10},
        {1, 1, "Yard", "Loading bay", kKindClip, 0, 3, AudioFormat::G726, kDay1 + 30},
        // An older recorder: the three older kinds with the legacy codec, one of them with the
        // pictures the player doubles horizontally (header version 0x1000).
        {2, 0, "Archive", "Back door", kKindLegacyKx, 0, 2, AudioFormat::None, kDay0, 0x100},
        {2, 1, "Archive", "Stairs", kKindLegacyKxx, 0, 122, AudioFormat::G726, kDay0 + 30, 0x101},
        {2, 2, "Archive", "Shop floor", kKindLegacyKxq, 0, 3, AudioFormat::None, kDay0 + 60, 0x1000},
        // A newer recorder with the avc codec: version 4 with skipped macroblocks, and version 3
        // with B pictures and direct macroblocks.
        {3, 0, "Garage", "Ramp", kKindExtended, 4, 135, AudioFormat::G726, kDay1 + 60, 1, 4, 0},
        {3, 1, "Garage", "Exit", kKindClip, 4, 7, AudioFormat::None, kDay1 + 80, 1, 3, 2},
        // Network cameras whose streams the recorder stores as they arrive: JPEG pictures through
        // the SNC stream library (codec 7), H.264 through the media viewer (codec 8).
        {3, 2, "Street", "Crossing", kKindExtended, 7, 135, AudioFormat::None, kDay1 + 40, 1, 4, 0, CameraStream::Jpeg},
        {3, 3, "Street", "Bus stop", kKindExtended, 8, 135, AudioFormat::G726, kDay1 + 50, 1, 4, 0, CameraStream::H264},
        // MPEG-4 recorders: the player's own engine (codec 2, with B pictures), the media object
        // (codec 3, simple profile) and XviD (codec 6, B pictures and quarter-sample motion).
        {4, 0, "Office", "Reception", kKindExtended, 2, 135, AudioFormat::G726, kDay1 + 15, 1, 4, 1},
        {4, 1, "Office", "Corridor", kKindClip, 3, 7, AudioFormat::None, kDay1 + 25, 1, 4, 0},
        {4, 2, "Office", "Server room", kKindExtended, 6, 135, AudioFormat::G726, kDay1 + 35, 1, 4, 2,
         CameraStream::Jpeg, true},
    };
    std::vector<RecordingJob> jobs;
    uint32_t seed = 1;
    for (const DemoCamera& camera : cameras) {
        for (uint32_t part = 0; part < 3; ++part, ++seed) {
            RecordingJob job;
            job.kind = camera.kind;
            job.codec = camera.codec;
            job.resolutionCode = camera.resolutionCode;
            job.audio = camera.audio;
            job.frames = uint32_t(kSecondsPerRecording * job.fps);
            job.boardNumber = camera.board;
            job.cameraNumber = camera.camera;
            job.hostName = "KX-DVR-01";
            job.boardName = camera.boardName;
            job.cameraName = camera.cameraName;
            job.gmtOffset = 1;
            job.startTime = camera.firstStart + part * (kSecondsPerRecording + kPauseBetweenRecordings);
            job.firstTick = 40'000'000 + seed * 1'000'000;
            job.seed = seed;
            job.jitterMs = part == 1 ? 4 : 0;
            job.version = camera.version;
            job.quantiser = defaultQuantiser(camera.codec);
            if (camera.codec == 4) {
                job.avcVersion = camera.avcVersion;
                job.bFrames = camera.bFrames;
            }
            if (camera.codec == 2 || camera.codec == 3 || camera.codec == 6) {
                job.bFrames = camera.bFrames;
                job.quarterSample = camera.quarterSample;
            }
            job.cameraStream = camera.stream;
            const char* const extensions[] = {".kx", ".kxx", ".kxq", ".kxz"};
            const std::string extension = camera.kind <= kKindClip ? extensions[camera.kind] : ".ckx";
            job.path = (video / (std::string(camera.boardName) + "-" + camera.cameraName + "-" + stamp(job.startTime) +
                                 extension))
                           .string();
            for (char& c : job.path)
                if (c == ' ') c = '_';
            jobs.push_back(job);
        }
    }
    RecordingJob quad;
    quad.kind = kKindFourChannel;
    quad.codec = 1;
    quad.resolutionCode = 135;
    quad.audio = AudioFormat::G726;
    quad.frames = 10 * 25;
    quad.hostName = "KX-QUAD-02";
    quad.channelCameraNames = {"North", "East", "South", "West"};
    quad.channelBoardNames = {"Perimeter", "Perimeter", "Perimeter", "Perimeter"};
    quad.gmtOffset = 1;
    quad.startTime = kDay1 + 3600;
    quad.seed = 100;
    quad.path = (video / ("Perimeter-quad-" + stamp(quad.startTime) + ".ckx")).string();
    jobs.push_back(quad);
    return jobs;
}

bool writeRecordings(const std::vector<RecordingJob>& jobs, std::string& error) {
    std::atomic<size_t> next{0};
    std::mutex lock;
    std::string firstError;
    const auto work = [&] {
        for (size_t i; (i = next++) < jobs.size();) {
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(jobs[i].path).parent_path(), ignored);
            std::string jobError;
            if (!writeRecording(jobs[i], jobError)) {
                const std::lock_guard guard(lock);
                if (firstError.empty()) firstError = jobError;
            }
        }
    };
    const unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), unsigned(jobs.size())));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    error = firstError;
    return firstError.empty();
}

}  // namespace kx
