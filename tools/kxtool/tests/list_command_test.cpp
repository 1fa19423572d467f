// kxtool list on a folder written here (recordings by the recorder, a JPEG snapshot, a face
// file): the heading line and tab-separated cells, the JSON fields, --sort in both directions,
// and the error for a folder that does not exist.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "codec/picture/picture_file.h"
#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/face_file_writer.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793606400;  // 2026-11-02 08:00:00 UTC
constexpr const char* kHeading =
    "File Name\tStart Time\tEnd Time\tBoard Name\tCamera Name\tVideo Size\tFile Length\tHost Name";

class ListCommand : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kxtool_list_" + std::to_string(::getpid()) + "_" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder / "rec");
        for (uint32_t i = 0; i < 3; ++i) {
            RecordingJob job;
            job.path = (m_folder / "rec" / ("Cam" + std::to_string(i) + ".ckx")).string();
            job.resolutionCode = 7;
            job.frames = 2;
            job.fps = 1;
            job.startTime = i == 0 ? kStart : kStart + 7200;  // Cam1 and Cam2 start together
            job.cameraNumber = uint8_t(i);
            job.cameraName = "Gate " + std::to_string(i);
            std::string error;
            ASSERT_TRUE(writeRecording(job, error)) << error;
        }
        PictureFile picture;
        picture.setPixels(16, 8, std::vector<uint8_t>(16 * 8 * 3, 50));
        picture.setTime(kStart + 60);
        picture.setCameraName("Caf\xE9");  // recorder text: shown as UTF-8
        ASSERT_TRUE(picture.save(PictureFormat::Jpeg, (m_folder / "rec" / "snap.jpg").string()));
        FaceFileJob faces;
        faces.path = (m_folder / "rec" / "faces.fac").string();
        faces.version = 0;
        faces.width = 16;
        faces.height = 16;
        std::string error;
        ASSERT_TRUE(writeFaceFile(faces, {{kStart + 5, std::vector<uint8_t>(256, 1)}}, error)) << error;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    test::ToolRun list(const std::string& arguments) const {
        return test::runCommand(std::string("TZ=UTC ") + KXTOOL_PATH + " list " + arguments, m_folder);
    }
    std::string folder() const { return (m_folder / "rec").string(); }

    fs::path m_folder;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string firstCell(const std::string& line) { return line.substr(0, line.find('\t')); }

std::string lengthCell(uint64_t bytes) {
    return bytes < 1024 ? std::to_string(bytes) + "Bytes" : std::to_string(bytes / 1024) + "KB";
}

TEST_F(ListCommand, PrintsTheHeadingAndEightCellsPerRow) {
    const test::ToolRun run = list(folder());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> rows = lines(run.out);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], kHeading);
    std::map<std::string, std::string> byName;
    for (size_t i = 1; i < rows.size(); ++i) byName[firstCell(rows[i])] = rows[i];
    EXPECT_EQ(byName.at("Cam1.ckx"), "Cam1.ckx\t26/11/02,10:00:00\t26/11/02,10:00:01\tBoard 1(1)\tGate 1(2)\t640X480\t" +
                                         lengthCell(fs::file_size(m_folder / "rec" / "Cam1.ckx")) +
                                         "\tKX-DVR(GMT+00:00)");
    EXPECT_EQ(byName.at("snap.jpg"), "snap.jpg\t26/11/02,08:01:00\t\t\tCaf\xC3\xA9\t16X8\t" +
                                         lengthCell(fs::file_size(m_folder / "rec" / "snap.jpg")) + "\t");
    EXPECT_EQ(byName.at("faces.fac"),
              "faces.fac\t2026/11/02,08:00:05\t2026/11/02,08:00:05\tBoard 1\tCamera 1\t16X16\t\tKX-DVR");
}

TEST_F(ListCommand, SortsAsClicksOnAHeading) {
    // One click on "Start Time": latest first; two clicks: earliest first.
    test::ToolRun run = list("--sort 1 " + folder());
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> rows = lines(run.out);
    ASSERT_EQ(rows.size(), 6u);
    std::vector<std::string> names;
    for (size_t i = 1; i < rows.size(); ++i) names.push_back(firstCell(rows[i]));
    // Cam1 and Cam2 start together: the tie goes to the name, in the same direction.
    EXPECT_EQ(names, (std::vector<std::string>{"Cam2.ckx", "Cam1.ckx", "snap.jpg", "faces.fac", "Cam0.ckx"}));

    run = list("--sort 1:reverse " + folder());
    rows = lines(run.out);
    names.clear();
    for (size_t i = 1; i < rows.size(); ++i) names.push_back(firstCell(rows[i]));
    EXPECT_EQ(names, (std::vector<std::string>{"Cam0.ckx", "faces.fac", "snap.jpg", "Cam1.ckx", "Cam2.ckx"}));

    run = list("--sort 0 " + folder());  // the first click on "File Name" sorts upwards
    rows = lines(run.out);
    names.clear();
    for (size_t i = 1; i < rows.size(); ++i) names.push_back(firstCell(rows[i]));
    EXPECT_EQ(names, (std::vector<std::string>{"Cam0.ckx", "Cam1.ckx", "Cam2.ckx", "faces.fac", "snap.jpg"}));

    for (const char* bad : {"--sort 8", "--sort 1:up", "--sort x"}) {
        run = list(std::string(bad) + " " + folder());
        EXPECT_NE(run.status, 0) << bad;
    }
}

TEST_F(ListCommand, JsonHoldsTheRecordAndTheCells) {
    const test::ToolRun run = list("--json --sort 0 " + folder());
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json rows = nlohmann::json::parse(run.out);
    ASSERT_EQ(rows.size(), 5u);
    const nlohmann::json& cam = rows[0];
    EXPECT_EQ(cam["name"], "Cam0.ckx");
    EXPECT_EQ(cam["kind"], 0);
    EXPECT_EQ(cam["start"], kStart);
    EXPECT_EQ(cam["end"], kStart + 1);
    EXPECT_EQ(cam["board"], "Board 1");
    EXPECT_EQ(cam["camera"], "Gate 0");
    EXPECT_EQ(cam["width"], 640);
    EXPECT_EQ(cam["height"], 480);
    EXPECT_EQ(cam["length"], fs::file_size(m_folder / "rec" / "Cam0.ckx"));
    EXPECT_EQ(cam["host"], "KX-DVR");
    ASSERT_EQ(cam["cells"].size(), 8u);
    EXPECT_EQ(cam["cells"][4], "Gate 0(1)");
    EXPECT_EQ(cam["cells"][7], "KX-DVR(GMT+00:00)");
    EXPECT_EQ(rows[3]["name"], "faces.fac");
    EXPECT_EQ(rows[3]["kind"], 5);
    EXPECT_EQ(rows[3]["length"], 0);
    EXPECT_EQ(rows[4]["kind"], 6);
    EXPECT_EQ(rows[4]["camera"], "Caf\xC3\xA9");
    EXPECT_EQ(rows[4]["end"], 0);
}

TEST_F(ListCommand, FolderThatDoesNotExist) {
    const std::string missing = (m_folder / "missing").string();
    const test::ToolRun run = list(missing);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "kxtool: " + missing + ": No such file or directory\n");
}

}  // namespace
}  // namespace kx
