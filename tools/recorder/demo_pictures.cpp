// Face files and snapshots of the demo folder, cut from the synthetic scene of each recording.
#include "tools/recorder/demo_pictures.h"

#include <ctime>
#include <filesystem>
#include <map>

#include "codec/colour/colour_convert.h"
#include "codec/picture/picture_file.h"
#include "recording/resolution.h"
#include "tools/recorder/face_file_writer.h"
#include "tools/recorder/synthetic_scene.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

// Seconds into each recording at which faces are taken (the recordings last 12 s).
constexpr uint32_t kFaceMoments[] = {2, 5, 9};
constexpr uint32_t kSnapshotMoment = 6;

std::string fileStem(const RecordingJob& job) {
    const std::time_t t = job.startTime;
    std::tm parts{};
    gmtime_r(&t, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &parts);
    std::string stem = job.boardName + "-" + job.cameraName + "-" + stamp;
    for (char& c : stem)
        if (c == ' ') c = '_';
    return stem;
}

// The scene of a recording's first channel at `seconds` into it.
void renderMoment(const RecordingJob& job, uint32_t seconds, YuvImage& image) {
    const PictureSize size = *CodedSizeOfCode(job.resolutionCode);
    const SyntheticScene scene(size.width, size.height, job.seed);
    scene.render(uint64_t(seconds * job.fps), job.fps, job.startTime + seconds, image);
}

// A face-sized window of the luma plane, moving along the picture from face to face; samples
// past the picture's edges repeat its last row or column.
std::vector<uint8_t> cutFace(const YuvImage& image, uint32_t width, uint32_t height, uint32_t number) {
    std::vector<uint8_t> grey(size_t(width) * height);
    const int left = int((number * 53u) % uint32_t(std::max(1, image.width - int(width))));
    const int top = std::max(0, (image.height - int(height)) / 2);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const int sx = std::min(image.width - 1, left + int(x));
            const int sy = std::min(image.height - 1, top + int(y));
            grey[size_t(y) * width + x] = image.y[size_t(sy) * size_t(image.width) + size_t(sx)];
        }
    return grey;
}

bool writeSnapshot(const RecordingJob& job, const fs::path& folder, std::string& error) {
    YuvImage image;
    renderMoment(job, kSnapshotMoment, image);
    std::vector<uint8_t> planar(image.y);
    planar.insert(planar.end(), image.cb.begin(), image.cb.end());
    planar.insert(planar.end(), image.cr.begin(), image.cr.end());
    const ptrdiff_t stride = ptrdiff_t(image.width) * 3;
    std::vector<uint8_t> bgr(size_t(stride) * size_t(image.height));
    // A negative stride puts the top row last: held pictures are bottom row first.
    PlanarYuv420ToBgr(planar.data(), bgr.data(), -stride, image.width, image.height, BgrPixelSize::Three);
    PictureFile picture;
    picture.setPixels(uint32_t(image.width), uint32_t(image.height), std::move(bgr));
    picture.setTime(job.startTime + kSnapshotMoment);
    picture.setBoardName(job.boardName);
    picture.setCameraName(job.cameraName);
    picture.setHostName(job.hostName);
    picture.setGmtOffset(job.gmtOffset);
    const std::string stem = (folder / fileStem(job)).string();
    for (PictureFormat format : {PictureFormat::Bmp, PictureFormat::Jpeg}) {
        if (!picture.save(format, stem)) {
            error = stem + ": " + picture.lastError();
            return false;
        }
    }
    return true;
}

}  // namespace

bool writeDemoPictures(const std::string& folder, const std::vector<RecordingJob>& jobs, std::string& error) {
    const fs::path faces = fs::path(folder) / "face";
    const fs::path snapshots = fs::path(folder) / "snapshots";
    std::error_code code;
    fs::create_directories(faces, code);
    fs::create_directories(snapshots, code);

    // The recordings of each camera, in order.
    std::map<std::pair<int, int>, std::vector<const RecordingJob*>> cameras;
    for (const RecordingJob& job : jobs)
        if (job.kind != kKindFourChannel) cameras[{job.boardNumber, job.cameraNumber}].push_back(&job);

    int cameraIndex = 0;
    for (const auto& [camera, recordings] : cameras) {
        const RecordingJob& first = *recordings.front();
        FaceFileJob faceJob;
        faceJob.path = (faces / (fileStem(first) + ".fac")).string();
        faceJob.version = cameraIndex % 2 == 0 ? 1 : 0;  // both layouts in the folder
        faceJob.boardNumber = first.boardNumber;
        faceJob.cameraNumber = first.cameraNumber;
        faceJob.hostName = first.hostName;
        faceJob.boardName = first.boardName;
        faceJob.cameraName = first.cameraName;
        faceJob.picturesPerGroup = 4;
        std::vector<FacePicture> pictures;
        YuvImage image;
        for (const RecordingJob* recording : recordings)
            for (uint32_t moment : kFaceMoments) {
                renderMoment(*recording, moment, image);
                pictures.push_back({recording->startTime + moment,
                                    cutFace(image, faceJob.width, faceJob.height, uint32_t(pictures.size()))});
            }
        if (!writeFaceFile(faceJob, pictures, error)) return false;
        if (cameraIndex == 0 || cameraIndex == 3) {
            if (!writeSnapshot(first, snapshots, error)) return false;
        }
        ++cameraIndex;
    }
    return true;
}

}  // namespace kx
