// kxtool picture and kxtool faces on files written here through PictureFile and the recorder's
// face-file writer: text, JSON keys, extracted faces (opened by ImageMagick) and errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "codec/picture/picture_file.h"
#include "recording/face_picture_file.h"
#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/face_file_writer.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

using test::ToolRun;

class PictureFacesCommand : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("kxtool_pictures_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    ToolRun run(const std::string& arguments) const { return test::runKxtool(arguments, m_folder); }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    fs::path m_folder;
};

PictureFile smallPicture() {
    PictureFile picture;
    std::vector<uint8_t> pixels(32 * 16 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
    picture.setPixels(32, 16, std::move(pixels));
    return picture;
}

TEST_F(PictureFacesCommand, PictureShowsSizeAndTrailerFields) {
    PictureFile full = smallPicture();
    full.setTime(1793606406);
    full.setBoardName("Entrance");
    full.setCameraName("Front gate");
    full.setHostName("KX-DVR-01");
    full.setGmtOffset(9);
    ASSERT_TRUE(full.save(PictureFormat::Jpeg, path("full.jpg")));
    PictureFile timeOnly = smallPicture();
    timeOnly.setTime(5);
    ASSERT_TRUE(timeOnly.save(PictureFormat::Bmp, path("time.bmp")));
    ASSERT_TRUE(smallPicture().save(PictureFormat::Bmp, path("plain.bmp")));

    ToolRun result = run("picture --json " + path("full.jpg"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(nlohmann::json::parse(result.out), nlohmann::json({{"width", 32},
                                                                 {"height", 16},
                                                                 {"flags", 15},
                                                                 {"time", 1793606406},
                                                                 {"board_name", "Entrance"},
                                                                 {"camera_name", "Front gate"},
                                                                 {"host_name", "KX-DVR-01"},
                                                                 {"gmt_offset", 9}}));
    result = run("picture --json " + path("time.bmp"));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(nlohmann::json::parse(result.out),
              nlohmann::json({{"width", 32}, {"height", 16}, {"flags", 1}, {"time", 5}}));
    result = run("picture --json " + path("plain.bmp"));
    EXPECT_EQ(nlohmann::json::parse(result.out),
              nlohmann::json({{"width", 32}, {"height", 16}, {"flags", 0}}));

    result = run("picture " + path("full.jpg"));
    ASSERT_EQ(result.status, 0);
    for (const char* text : {"JPEG", "32 x 16", "\"Entrance\"", "\"Front gate\"", "\"KX-DVR-01\"",
                             "(GMT+09:00)", "1793606406"})
        EXPECT_NE(result.out.find(text), std::string::npos) << text << " in\n" << result.out;
}

TEST_F(PictureFacesCommand, PictureErrorsNameTheFile) {
    std::ofstream(path("text.bmp")) << "hello";
    std::ofstream(path("cut.bmp")) << "BM";
    std::ofstream(path("cut.jpg")) << "\xFF\xD8\xFF";
    for (const char* name : {"missing.jpg", "text.bmp", "cut.bmp", "cut.jpg"}) {
        const ToolRun result = run("picture " + path(name));
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_EQ(result.err.rfind("kxtool: " + path(name) + ": ", 0), 0u) << result.err;
        EXPECT_TRUE(result.out.empty()) << name;
    }
}

TEST_F(PictureFacesCommand, FacesListsAndExtractsEveryFace) {
    std::vector<FacePicture> pictures;
    for (uint32_t n = 0; n < 5; ++n) {
        std::vector<uint8_t> grey(112 * 144);
        for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t(40 + n * 30 + (i % 112) / 4);
        pictures.push_back({1793606402 + n, std::move(grey)});
    }
    for (int version : {0, 1}) {
        FaceFileJob job;
        job.path = path("cam" + std::to_string(version) + ".fac");
        job.version = version;
        job.picturesPerGroup = 2;
        job.boardName = "Yard";
        std::string error;
        ASSERT_TRUE(writeFaceFile(job, pictures, error)) << error;

        ToolRun result = run("faces --json " + job.path);
        ASSERT_EQ(result.status, 0) << result.err;
        const nlohmann::json json = nlohmann::json::parse(result.out);
        EXPECT_EQ(json["version"], version);
        EXPECT_EQ(json["width"], 112);
        EXPECT_EQ(json["height"], 144);
        EXPECT_EQ(json["count"], 5);
        ASSERT_EQ(json["faces"].size(), 5u);
        for (uint32_t n = 0; n < 5; ++n)
            EXPECT_EQ(
                json["faces"][n],
                nlohmann::json(
                    {{"index", n}, {"time", 1793606402 + n}, {"width", 112}, {"height", 144}}));

        const std::string extract = path("out" + std::to_string(version));
        result = run("faces --extract " + extract + " " + job.path);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("\"Yard\""), std::string::npos);
        CFacePictureFile reader;
        ASSERT_TRUE(reader.Open(job.path));
        for (uint32_t n = 0; n < 5; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "cam%d-%04u.bmp", version, n);
            const std::string bmp = (fs::path(extract) / name).string();
            PictureFile face;
            ASSERT_TRUE(face.load(PictureFormat::Bmp, bmp)) << bmp;
            EXPECT_EQ(face.time(), 1793606402 + n);
            EXPECT_EQ(face.boardName(), "Yard");
            std::vector<uint8_t> grey;
            uint32_t time, width, height;
            ASSERT_TRUE(reader.ReadPicture(grey, time, width, height, int32_t(n)));
            const uint8_t* pixels = face.getPixels(width, height);
            // Top row of the face is the last held row; all three bytes carry the grey.
            for (uint32_t x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(pixels[(size_t(height - 1) * width + x) * 3 + size_t(c)], grey[x]);
        }
        const ToolRun identify =
            test::runCommand("identify -format '%w %h\\n' " + extract + "/cam" +
                                 std::to_string(version) + "-0003.bmp",
                             m_folder);
        EXPECT_EQ(identify.status, 0);
        EXPECT_EQ(identify.out, "112 144\n");
    }
}

TEST_F(PictureFacesCommand, FacesErrorsNameTheFile) {
    std::ofstream(path("notface.fac")) << "FACX and more bytes than a header has, surely enough";
    for (const char* name : {"missing.fac", "notface.fac"}) {
        const ToolRun result = run("faces " + path(name));
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_EQ(result.err.rfind("kxtool: " + path(name) + ": ", 0), 0u) << result.err;
    }
    // A file cut inside its last face: the faces before it are listed, exit status 1.
    std::vector<FacePicture> pictures{{7, std::vector<uint8_t>(16 * 16, 9)},
                                      {8, std::vector<uint8_t>(16 * 16, 9)}};
    FaceFileJob job;
    job.path = path("cut.fac");
    job.version = 1;
    job.width = job.height = 16;
    std::string error;
    ASSERT_TRUE(writeFaceFile(job, pictures, error));
    fs::resize_file(job.path, fs::file_size(job.path) - 3);
    const ToolRun result = run("faces --json " + job.path);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("kxtool: " + job.path + ": picture 1"), std::string::npos)
        << result.err;
    EXPECT_EQ(nlohmann::json::parse(result.out)["faces"].size(), 1u);
}

}  // namespace
}  // namespace kx
