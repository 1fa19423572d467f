// Face files written by the recorder (both versions, the face encoder) read back through
// CFacePictureFile, and the demo folder's face files and snapshots.
#include "tools/recorder/face_file_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <set>

#include "codec/native/face_decoder.h"
#include "codec/picture/picture_file.h"
#include "recording/face_picture_file.h"
#include "tools/recorder/demo_folder.h"
#include "tools/recorder/demo_pictures.h"
#include "tools/recorder/face_encoder.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class FaceWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kx_face_writer_test_" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    fs::path m_folder;
};

// A face-like grey picture: an oval with eyes on a textured background, different per number.
std::vector<uint8_t> facePicture(uint32_t width, uint32_t height, uint32_t number) {
    std::vector<uint8_t> grey(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const double dx = (double(x) - width / 2.0) / (width * 0.35);
            const double dy = (double(y) - height / 2.0) / (height * 0.4);
            double v = 60 + 20 * std::sin(0.3 * x + number) + 10 * std::cos(0.2 * y);
            if (dx * dx + dy * dy < 1) v = 170 + number * 5 - 30 * dy;
            if (std::abs(dy + 0.3) < 0.08 && std::abs(std::abs(dx) - 0.4) < 0.12) v = 30;
            grey[size_t(y) * width + x] = uint8_t(std::clamp(v, 0.0, 255.0));
        }
    return grey;
}

struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    Difference d;
    if (a.size() != b.size() || a.empty()) return {256, 256};
    for (size_t i = 0; i < a.size(); ++i) {
        const int e = std::abs(int(a[i]) - int(b[i]));
        d.largest = std::max(d.largest, e);
        d.mean += e;
    }
    d.mean /= double(a.size());
    return d;
}

TEST_F(FaceWriterTest, BothVersionsRoundTripThroughTheReader) {
    std::vector<FacePicture> pictures;
    for (uint32_t n = 0; n < 7; ++n) pictures.push_back({1793606402 + 3 * n, facePicture(112, 144, n)});
    for (int version : {0, 1}) {
        FaceFileJob job;
        job.path = (m_folder / ("v" + std::to_string(version) + ".fac")).string();
        job.version = version;
        job.boardNumber = 1;
        job.cameraNumber = 2;
        job.hostName = "KX-DVR-01";
        job.boardName = "Yard";
        job.cameraName = "Car park";
        job.picturesPerGroup = 3;
        std::string error;
        ASSERT_TRUE(writeFaceFile(job, pictures, error)) << error;
        EXPECT_FALSE(fs::exists(job.path + ".part" + std::to_string(::getpid())));

        CFacePictureFile file;
        ASSERT_TRUE(file.Open(job.path)) << file.LastError();
        EXPECT_EQ(file.Version(), uint32_t(version));
        EXPECT_EQ(file.PictureCount(), 7u);
        EXPECT_EQ(file.LastPictureTime(), pictures.back().time);
        EXPECT_EQ(file.HostName(), "KX-DVR-01");
        EXPECT_EQ(file.BoardName(), "Yard");
        EXPECT_EQ(file.CameraName(), "Car park");
        EXPECT_EQ(file.BoardNumber(), 1);
        EXPECT_EQ(file.CameraNumber(), 2);
        std::vector<uint8_t> grey;
        uint32_t time, width, height;
        // Backwards by index (each a walk from the first group), then in turn from the start.
        for (int32_t n = 6; n >= 0; --n) {
            ASSERT_TRUE(file.ReadPicture(grey, time, width, height, n)) << version << " " << n << ": " << file.LastError();
            EXPECT_EQ(time, pictures[size_t(n)].time);
            EXPECT_EQ(width, 112u);
            EXPECT_EQ(height, 144u);
            const Difference d = difference(grey, pictures[size_t(n)].grey);
            if (version == 0) {
                EXPECT_EQ(d.largest, 0);
            } else {
                EXPECT_LT(d.mean, 3.0) << n;
                EXPECT_LT(d.largest, 48) << n;
            }
        }
        for (uint32_t n = 1; n < 7; ++n) {
            ASSERT_TRUE(file.ReadPicture(grey, time, width, height)) << version << " " << n;
            EXPECT_EQ(time, pictures[n].time);
        }
        EXPECT_FALSE(file.ReadPicture(grey, time, width, height));
    }
}

TEST(FaceEncoder, FinerQuantisersComeCloserAndFlatPicturesAreExact) {
    const std::vector<uint8_t> face = facePicture(64, 48, 3);
    FaceEncoder coarse(16), fine(2);
    FaceDecoder decoder;
    std::vector<uint8_t> grey;
    uint32_t width, height;
    const auto coded = coarse.encode(face.data(), 64, 48, 64);
    ASSERT_TRUE(decoder.decode(coded.data(), coded.size(), grey, width, height));
    const Difference coarseDifference = difference(grey, face);
    const auto codedFine = fine.encode(face.data(), 64, 48, 64);
    EXPECT_GT(codedFine.size(), coded.size());
    ASSERT_TRUE(decoder.decode(codedFine.data(), codedFine.size(), grey, width, height));
    const Difference fineDifference = difference(grey, face);
    EXPECT_LT(fineDifference.mean, coarseDifference.mean);
    EXPECT_LT(fineDifference.mean, 1.0) << "coarse " << coarseDifference.mean;

    // DC only, including the value 128 that the stream writes as 255.
    for (uint8_t level : {0, 77, 128, 254}) {
        const std::vector<uint8_t> flat(32 * 32, level);
        const auto flatCoded = coarse.encode(flat.data(), 32, 32, 32);
        ASSERT_TRUE(decoder.decode(flatCoded.data(), flatCoded.size(), grey, width, height));
        EXPECT_LE(difference(grey, flat).largest, 1) << int(level);
    }
}

TEST_F(FaceWriterTest, JobsThatCannotBeWrittenAreRefused) {
    std::vector<FacePicture> pictures{{1, std::vector<uint8_t>(112 * 144)}};
    struct Case {
        const char* name;
        int version;
        uint32_t width;
        size_t pictureBytes;
    };
    const Case cases[] = {
        {"version 2", 2, 112, 112 * 144},
        {"coded width not whole macroblocks", 1, 100, 100 * 144},
        {"picture of the wrong size", 0, 112, 10},
    };
    for (const Case& c : cases) {
        FaceFileJob job;
        job.path = (m_folder / "x.fac").string();
        job.version = c.version;
        job.width = c.width;
        pictures[0].grey.assign(c.pictureBytes, 0);
        std::string error;
        EXPECT_FALSE(writeFaceFile(job, pictures, error)) << c.name;
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(fs::exists(job.path)) << c.name;
    }
}

TEST_F(FaceWriterTest, DemoFacesFallInsideTheirCamerasRecordingsAndSnapshotsCarryTheirCaptions) {
    const std::vector<RecordingJob> jobs = demoJobs(m_folder.string());
    std::string error;
    ASSERT_TRUE(writeDemoPictures(m_folder.string(), jobs, error)) << error;
    int faceFiles = 0;
    std::set<uint32_t> versions;
    for (const auto& entry : fs::directory_iterator(m_folder / "face")) {
        CFacePictureFile file;
        ASSERT_TRUE(file.Open(entry.path().string())) << entry.path() << ": " << file.LastError();
        ++faceFiles;
        versions.insert(file.Version());
        EXPECT_NE(entry.path().string().find("face"), std::string::npos);
        std::vector<uint8_t> grey;
        uint32_t time, width, height;
        for (uint32_t n = 0; n < file.PictureCount(); ++n) {
            ASSERT_TRUE(file.ReadPicture(grey, time, width, height)) << entry.path() << " " << n;
            // What the face window's search needs: a recording of the same camera holding the moment.
            bool found = false;
            for (const RecordingJob& job : jobs)
                found |= job.kind != kKindFourChannel && job.boardName == file.BoardName() &&
                         job.cameraName == file.CameraName() && job.boardNumber == file.BoardNumber() &&
                         job.cameraNumber == file.CameraNumber() && job.startTime <= time &&
                         time <= job.startTime + uint32_t(job.frames / job.fps) - 1;
            EXPECT_TRUE(found) << entry.path() << " face " << n << " at " << time;
        }
    }
    std::set<std::pair<int, int>> cameras;
    for (const RecordingJob& job : jobs)
        if (job.kind != kKindFourChannel) cameras.insert({job.boardNumber, job.cameraNumber});
    EXPECT_EQ(faceFiles, int(cameras.size()));
    EXPECT_EQ(versions, (std::set<uint32_t>{0, 1}));

    int snapshots = 0;
    for (const auto& entry : fs::directory_iterator(m_folder / "snapshots")) {
        PictureFile picture;
        const bool jpeg = entry.path().extension() == ".jpg";
        ASSERT_TRUE(picture.load(jpeg ? PictureFormat::Jpeg : PictureFormat::Bmp, entry.path().string()))
            << entry.path() << ": " << picture.lastError();
        ++snapshots;
        EXPECT_EQ(picture.flags(), 0x0F);
        EXPECT_FALSE(picture.boardName().empty());
        EXPECT_EQ(picture.hostName(), "KX-DVR-01");
        EXPECT_GT(picture.width(), 100u);
    }
    EXPECT_EQ(snapshots, 4);
}

}  // namespace
}  // namespace kx
