// kxtool print checked from outside: pdftotext reads the path lines and the three caption lines
// with their places, pdftoppm renders the page so that the picture's size and place on the
// paper are measured against the print scaling and the mode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "codec/picture/picture_file.h"
#include "tools/kxtool/tests/tool_run.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr int kDpi = 100;           // of the rendering: 10 thousandths of an inch per dot
constexpr double kMarginInch = 0.25;  // the PDF's printable area starts here

struct Box {
    int left = -1, top = -1, right = -1, bottom = -1;  // dots, right and bottom inclusive
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

// The box of the pure red dots of a PPM page.
Box redBox(const fs::path& ppm) {
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    std::vector<uint8_t> dots(size_t(width) * height * 3);
    in.read(reinterpret_cast<char*>(dots.data()), std::streamsize(dots.size()));
    Box box;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &dots[(size_t(y) * width + x) * 3];
            if (p[0] < 200 || p[1] > 60 || p[2] > 60) continue;
            if (box.left < 0 || x < box.left) box.left = x;
            if (x > box.right) box.right = x;
            if (box.top < 0) box.top = y;
            box.bottom = y;
        }
    return box;
}

// The top of the first word `word` in pdftotext's boxes, in dots of kDpi.
double wordTop(const std::string& bbox, const std::string& word) {
    const size_t at = bbox.find(">" + word + "<");
    if (at == std::string::npos) return -1;
    const size_t yMin = bbox.rfind("yMin=\"", at);
    if (yMin == std::string::npos) return -1;
    return std::stod(bbox.substr(yMin + 6)) / 72.0 * kDpi;
}

class PrintCommand : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder name long enough that the path takes two lines of 58 characters.
        m_folder = fs::temp_directory_path() /
                   ("kxtool_print_" + std::to_string(::getpid()) + "_a_folder_with_a_long_name");
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    test::ToolRun run(const std::string& arguments) const {
        return test::runKxtool(arguments, m_folder);
    }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    // A red picture of w x h with its caption fields, saved as BMP.
    std::string redPicture(uint32_t w, uint32_t h) const {
        PictureFile picture;
        std::vector<uint8_t> pixels(size_t(w) * h * 3);
        for (size_t i = 0; i < pixels.size(); i += 3) pixels[i + 2] = 255;
        picture.setPixels(w, h, std::move(pixels));
        picture.setBoardName("Entrance");
        picture.setCameraName("Front\xE9gate");  // one byte of the recorders' code page
        picture.setHostName("KX-DVR-01");
        picture.setTime(1793606406);
        const std::string file = path("snapshot_" + std::to_string(w) + ".bmp");
        EXPECT_TRUE(picture.save(PictureFormat::Bmp, file));
        return file;
    }

    fs::path m_folder;
};

TEST_F(PrintCommand, PageHoldsPathPictureAtTheScalingAndTheCaptionLinesByMode) {
    const std::string picture = redPicture(100, 80);
    struct Case {
        const char* mode;
        int scaling;
        bool beside;
    };
    for (const Case c : {Case{"in", 10, false}, Case{"beside", 10, true}, Case{"in", 20, false},
                         Case{"beside", 3, true}}) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.scaling));
        const std::string pdf = path("page.pdf");
        test::ToolRun result = run("print --mode " + std::string(c.mode) + " --scaling " +
                                   std::to_string(c.scaling) + " " + picture + " " + pdf);
        ASSERT_EQ(result.status, 0) << result.err;
        ASSERT_TRUE(fs::exists(pdf));

        // Text: the path in lines of 58 characters, the three lines with names and time.
        const test::ToolRun text = test::runCommand("pdftotext -layout " + pdf + " -", m_folder);
        ASSERT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find(picture.substr(0, 58)), std::string::npos) << text.out;
        EXPECT_NE(text.out.find(picture.substr(58)), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("Board: Entrance"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("Camera: Front\u00E9gate"), std::string::npos) << text.out;
        // 1793606406 is 2026/11/02 08:00:06 UTC; the page shows the computer's time zone.
        const size_t time = text.out.find("Time: 2026/11/0");
        ASSERT_NE(time, std::string::npos) << text.out;
        EXPECT_EQ(text.out.substr(time + 16, 1), ",");
        EXPECT_EQ(text.out.substr(time + 19, 6), ":00:06") << text.out.substr(time, 30);

        // The picture: scaling thousandths of an inch per pixel, 1.5 inches from the left.
        ASSERT_EQ(test::runCommand("pdftoppm -r " + std::to_string(kDpi) + " " + pdf + " " +
                                       path("page"),
                                   m_folder)
                      .status,
                  0);
        const Box box = redBox(path("page-1.ppm"));
        ASSERT_GE(box.left, 0);
        EXPECT_NEAR(box.width(), 100 * c.scaling / 10, 1);
        EXPECT_NEAR(box.height(), 80 * c.scaling / 10, 1);
        EXPECT_NEAR(box.left, (kMarginInch + 1.5) * kDpi, 1);

        // The lines: above the picture beside it, on the picture in it.
        const test::ToolRun boxes = test::runCommand("pdftotext -bbox " + pdf + " -", m_folder);
        const double board = wordTop(boxes.out, "Board:");
        const double timeTop = wordTop(boxes.out, "Time:");
        ASSERT_GT(board, 0) << boxes.out;
        EXPECT_GT(timeTop, board);
        if (c.beside) {
            EXPECT_LT(timeTop, box.top);
        } else {
            EXPECT_GT(board, box.top);
            EXPECT_LT(board, box.bottom);
        }
        fs::remove(pdf);
    }
}

TEST_F(PrintCommand, PictureLargerThanThePageShrinksToFitWhole) {
    const std::string picture = redPicture(1200, 300);  // 24 x 6 inches at scaling 20
    const std::string pdf = path("wide.pdf");
    ASSERT_EQ(run("print --scaling 20 " + picture + " " + pdf).status, 0);
    ASSERT_EQ(test::runCommand("pdftoppm -r 100 " + pdf + " " + path("wide"), m_folder).status, 0);
    const Box box = redBox(path("wide-1.ppm"));
    // A4 is 8.27 inches wide: the picture fills the width right of 1.75 inches, proportions kept.
    EXPECT_NEAR(box.right + 1, (8.27 - kMarginInch) * kDpi, 2);
    EXPECT_NEAR(double(box.width()) / box.height(), 4.0, 0.05);
}

TEST_F(PrintCommand, RefusalsNameTheFile) {
    std::ofstream(path("text.bmp")) << "not a picture";
    const struct {
        std::string arguments;
        int status;
        std::string message;
    } cases[] = {
        {"print " + path("missing.bmp") + " " + path("a.pdf"), 1, "cannot open the file"},
        {"print " + path("text.bmp") + " " + path("a.pdf"), 1, "not a BMP or JPEG file"},
        {"print --scaling 21 " + path("text.bmp") + " " + path("a.pdf"), 2, "21"},
        {"print --scaling 0 " + path("text.bmp") + " " + path("a.pdf"), 2, "0"},
        {"print --mode over " + path("text.bmp") + " " + path("a.pdf"), 2, "over"},
        {"print " + redPicture(8, 8) + " " + path("no/such/folder/a.pdf"), 1, "cannot write"},
    };
    for (const auto& c : cases) {
        const test::ToolRun result = run(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.arguments << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(path("a.pdf")));
}

}  // namespace
}  // namespace kx
