// The face window's arithmetic (grid from the screen, pages), the folder and the search for a
// face's recording among recordings written by the recorder, and the face bitmap as ImageMagick
// reads it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "output/face_grid.h"
#include "tools/recorder/recording_writer.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

TEST(FaceGrid, GridFromTheScreen) {
    struct Case {
        int screenWidth, screenHeight, frameWidth, frameHeight;
        int columns, rows;
    };
    const Case cases[] = {
        {1024, 768, 6, 25, 8, 4},
        {1280, 1024, 8, 30, 11, 5},
        {100, 100, 6, 25, 1, 1},     // smaller than a cell: still one
        {3840, 2160, 6, 25, 33, 6},  // 33 x 13 would be 429 cells: rows cut to stay within 200
    };
    for (const Case& c : cases) {
        const FaceGrid grid = faceGridFor(c.screenWidth, c.screenHeight, c.frameWidth, c.frameHeight);
        EXPECT_EQ(grid.columns, c.columns) << c.screenWidth << " x " << c.screenHeight;
        EXPECT_EQ(grid.rows, c.rows) << c.screenWidth << " x " << c.screenHeight;
        EXPECT_LE(grid.cells(), kMaxFaceCells);
    }
    const FaceGrid grid = faceGridFor(1024, 768, 6, 25);
    EXPECT_EQ(grid.clientWidth(), 115 * 8 - 3);
    EXPECT_EQ(grid.clientHeight(), 159 * 4 + 45);
}

TEST(FaceGrid, PagesOfThirtyThreeFacesOnThirtyTwoCells) {
    struct Case {
        uint32_t page, first, count;
        bool previous, next;
    };
    const Case cases[] = {{0, 0, 32, false, true}, {1, 32, 1, true, false}, {2, 0, 0, true, false}};
    for (const Case& c : cases) {
        const FacePage page = facePage(c.page, 32, 33);
        EXPECT_EQ(page.first, c.first) << "page " << c.page;
        EXPECT_EQ(page.count, c.count) << "page " << c.page;
        EXPECT_EQ(page.previous, c.previous) << "page " << c.page;
        EXPECT_EQ(page.next, c.next) << "page " << c.page;
    }
    EXPECT_FALSE(facePage(0, 32, 32).next);
    EXPECT_EQ(facePage(0, 32, 0).count, 0u);
}

TEST(FaceGrid, VideoFolderBesideTheFaceFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"/data/dvr/face/a.fac", "/data/dvr/video/"},
        {"/data/dvr/FACE/a.fac", "/data/dvr/video/"},
        {"/surface/dvr/face/a.fac", "/surface/dvr/video/"},  // "face" inside a name is no folder
        {"/data/faces/face/day/a.fac", "/data/faces/video/"},
        {"/data/pictures/a.fac", "/data/pictures/video/"},   // no face folder: beside the file
    };
    for (const auto& [face, video] : cases) EXPECT_EQ(faceVideoFolder(face), video) << face;
}

TEST(FaceGrid, FindFaceVideoTakesTheRecordingAroundTheFace) {
    const fs::path folder = fs::temp_directory_path() / ("kx_face_video_" + std::to_string(::getpid()));
    fs::create_directories(folder / "video");
    const uint32_t start = 1793606400;
    const auto write = [&](const std::string& name, uint32_t startTime, uint8_t camera,
                           const std::string& cameraName) {
        RecordingJob job;
        job.path = (folder / "video" / name).string();
        job.kind = kKindClip;
        job.frames = 50;  // 2 s at 25 per second: the header spans 1 s
        job.startTime = startTime;
        job.cameraNumber = camera;
        job.cameraName = cameraName;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;
    };
    write("a.kxz", start, 0, "Gate");
    write("b.kxz", start + 10, 0, "Gate");
    write("c.kxz", start + 20, 1, "Gate");      // another camera number, same name
    write("d.kxz", start + 30, 0, "Gate 2");    // another camera name
    std::ofstream(folder / "video" / "notes.txt") << "not a recording";
    const std::string video = (folder / "video").string();
    const struct {
        uint32_t time;
        uint32_t camera;
        std::string cameraName;
        const char* found;
    } cases[] = {
        {start, 0, "Gate", "a.kxz"},          // the start time
        {start + 1, 0, "Gate", "a.kxz"},      // the end time
        {start + 10, 0, "Gate", "b.kxz"},
        {start + 5, 0, "Gate", nullptr},      // between the recordings
        {start + 20, 0, "Gate", nullptr},
        {start + 20, 1, "Gate", "c.kxz"},
        {start + 30, 0, "Gate 2", "d.kxz"},
        {start + 30, 0, "gate 2", nullptr},   // names match exactly
    };
    for (const auto& c : cases) {
        const std::optional<std::string> found =
            FindFaceVideo(video, {"Board 1", c.cameraName, 0, c.camera, c.time});
        if (c.found) {
            ASSERT_TRUE(found) << c.time - start;
            EXPECT_EQ(fs::path(*found).filename(), c.found);
        } else {
            EXPECT_FALSE(found) << c.time - start << " found " << found.value_or("");
        }
    }
    EXPECT_FALSE(FindFaceVideo((folder / "nowhere").string(), {"Board 1", "Gate", 0, 0, start}));
    fs::remove_all(folder);
}

TEST(FaceGrid, FaceBitmapIsA24BitBottomUpBmp) {
    const fs::path folder = fs::temp_directory_path() / ("kx_face_bmp_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const uint32_t width = 5, height = 3;  // rows of 15 bytes padded to 16
    std::vector<uint8_t> grey(width * height);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(i * 17);
    const std::string path = (folder / "face.bmp").string();
    ASSERT_TRUE(writeFaceBitmap(path, grey, width, height));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(bytes.size(), 54u + 16 * 3);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(uint8_t(bytes[2]), 54 + 48);
    EXPECT_EQ(uint8_t(bytes[10]), 54);
    EXPECT_EQ(uint8_t(bytes[28]), 24);
    // The bottom row first: the last grey row.
    EXPECT_EQ(uint8_t(bytes[54]), grey[10]);
    EXPECT_EQ(uint8_t(bytes[54 + 15]), 0);  // padding
    // ImageMagick reads the same picture: top-left pixel and size.
    const std::string command = "convert " + path + " -format '%w %h %[pixel:p{0,0}]' info:";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char text[128] = {};
    const size_t got = std::fread(text, 1, sizeof text - 1, pipe);
    ::pclose(pipe);
    EXPECT_EQ(std::string(text, got), "5 3 srgb(0,0,0)");
    EXPECT_FALSE(writeFaceBitmap((folder / "no" / "face.bmp").string(), grey, width, height));
    EXPECT_FALSE(writeFaceBitmap(path, grey, width, height + 1));  // fewer bytes than the size
    fs::remove_all(folder);
}

}  // namespace
}  // namespace kx
