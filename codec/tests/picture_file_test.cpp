// PictureFile: name rules, BMP and JPEG layouts with the caption trailer, damaged and foreign
// files, and agreement with ImageMagick, which reads what we write and writes what we read.
#include "codec/picture/picture_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "recording/byte_order.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class PictureFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kx_picture_test_" + std::to_string(::getpid()) + "_" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    fs::path m_folder;
};

// A smooth picture (JPEG keeps it close) with distinct B, G and R: held order, bottom row first.
std::vector<uint8_t> testPixels(uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(size_t(y) * width + x) * 3];
            p[0] = uint8_t(40 + 150 * x / width);   // blue grows to the right
            p[1] = uint8_t(60 + 120 * y / height);  // green grows upwards (rows are bottom first)
            p[2] = uint8_t(200 - 100 * x / width);  // red falls to the right
        }
    return pixels;
}

PictureFile pictureOf(uint32_t width, uint32_t height) {
    PictureFile picture;
    picture.setPixels(width, height, testPixels(width, height));
    return picture;
}

std::vector<uint8_t> readBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
        if (::pclose(pipe) != 0) output = "failed: " + command;
    }
    return output;
}

// ImageMagick's decoding of a file as packed R, G, B rows, top row first.
std::vector<uint8_t> magickRgb(const std::string& file, uint32_t& width, uint32_t& height) {
    const std::string size = run("identify -format '%w %h' '" + file + "[0]'");
    if (std::sscanf(size.c_str(), "%u %u", &width, &height) != 2) return {};
    const std::string rgb = file + ".rgb";
    if (!run("convert '" + file + "' -depth 8 'rgb:" + rgb + "' && echo ok").starts_with("ok")) return {};
    return readBytes(rgb);
}

// The held picture (B, G, R, bottom first) as R, G, B top first.
std::vector<uint8_t> heldAsRgb(const PictureFile& picture) {
    uint32_t width = 0, height = 0;
    const uint8_t* pixels = picture.getPixels(width, height);
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(size_t(y) * width + x) * 3 + size_t(c)] = pixels[(size_t(height - 1 - y) * width + x) * 3 + size_t(2 - c)];
    return rgb;
}

int largestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return 256;
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

void setAllFields(PictureFile& picture) {
    picture.setTime(1793606400);
    picture.setBoardName("Entrance");
    picture.setCameraName("Front gate");
    picture.setHostName("KX-DVR-01");
    picture.setGmtOffset(-5);
}

TEST_F(PictureFileTest, SaveNamesTheFileByTheRules) {
    struct Case {
        PictureFormat format;
        const char* given;
        const char* written;
    };
    const Case cases[] = {
        {PictureFormat::Bmp, "", "capture.bmp"},         {PictureFormat::Jpeg, "", "capture.jpg"},
        {PictureFormat::Bmp, "snap", "snap.bmp"},        {PictureFormat::Jpeg, "snap.JPG", "snap.JPG"},
        {PictureFormat::Bmp, "snap.BmP", "snap.BmP"},    {PictureFormat::Jpeg, "snap.bmp", "snap.bmp.jpg"},
        {PictureFormat::Jpeg, "snap.jpeg", "snap.jpeg.jpg"},
    };
    const fs::path before = fs::current_path();
    fs::current_path(m_folder);  // "capture" is relative
    for (const Case& c : cases) {
        PictureFile picture = pictureOf(8, 4);
        EXPECT_TRUE(picture.save(c.format, c.given)) << c.given << ": " << picture.lastError();
        EXPECT_EQ(picture.fileName(), c.written);
        EXPECT_TRUE(fs::exists(m_folder / c.written)) << c.written;
    }
    // Nothing but the named files: every temporary file was renamed into place.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 7);
    fs::current_path(before);
}

TEST_F(PictureFileTest, SaveWithoutPixelsOrIntoAMissingFolderWritesNothing) {
    PictureFile empty;
    EXPECT_FALSE(empty.save(PictureFormat::Bmp, path("a")));
    EXPECT_FALSE(empty.save(PictureFormat::Jpeg, path("a")));
    PictureFile picture = pictureOf(8, 8);
    EXPECT_FALSE(picture.save(PictureFormat::Bmp, path("no/such/folder/a")));
    EXPECT_FALSE(picture.save(PictureFormat::Jpeg, path("no/such/folder/a")));
    EXPECT_TRUE(picture.save(PictureFormat::None, path("a")));
    EXPECT_TRUE(fs::is_empty(m_folder));

    // Pixels that do not make the size given are refused; the held picture is what is saved.
    for (const size_t bytes : {size_t(0), size_t(16 * 16 * 3 - 1), size_t(16 * 16 * 3 + 3)}) {
        EXPECT_FALSE(picture.setPixels(16, 16, std::vector<uint8_t>(bytes, 7))) << bytes;
        EXPECT_EQ(picture.width(), 8u);
        EXPECT_EQ(picture.height(), 8u);
    }
    EXPECT_FALSE(empty.setPixels(4096, 4096, std::vector<uint8_t>(12)));
    EXPECT_FALSE(empty.hasPixels());
    EXPECT_TRUE(picture.save(PictureFormat::Bmp, path("b")));
    EXPECT_EQ(fs::file_size(path("b.bmp")), 54u + 8 * 8 * 3);
}

TEST_F(PictureFileTest, BmpOfWidthMultipleOfFourHasTheHeldBytesThenTheTrailer) {
    PictureFile picture = pictureOf(8, 3);
    setAllFields(picture);
    ASSERT_TRUE(picture.save(PictureFormat::Bmp, path("a.bmp")));
    const std::vector<uint8_t> bytes = readBytes(path("a.bmp"));
    const size_t pixelBytes = 8 * 3 * 3;
    const std::vector<uint8_t> trailer = picture.captionTrailer();
    ASSERT_EQ(bytes.size(), 54 + pixelBytes + trailer.size());
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(loadLe32(&bytes[2]), bytes.size());
    EXPECT_EQ(loadLe32(&bytes[10]), 54u);
    EXPECT_EQ(loadLe32(&bytes[14]), 40u);
    EXPECT_EQ(loadLe32(&bytes[18]), 8u);
    EXPECT_EQ(loadLe32(&bytes[22]), 3u);
    EXPECT_EQ(loadLe16(&bytes[26]), 1);
    EXPECT_EQ(loadLe16(&bytes[28]), 24);
    EXPECT_EQ(loadLe32(&bytes[30]), 0u);
    EXPECT_EQ(loadLe32(&bytes[34]), pixelBytes);
    uint32_t width, height;
    const uint8_t* held = picture.getPixels(width, height);
    EXPECT_TRUE(std::equal(held, held + pixelBytes, bytes.begin() + 54));
    // Trailer: flags, time, three names with 16-bit lengths, GMT offset.
    const std::vector<uint8_t> expected = {
        0x0F, 0x00, 0x43, 0xE8, 0x6A,                                       // time 1793606400
        8, 0, 'E', 'n', 't', 'r', 'a', 'n', 'c', 'e',                       // board
        10, 0, 'F', 'r', 'o', 'n', 't', ' ', 'g', 'a', 't', 'e',           // camera
        9, 0, 'K', 'X', '-', 'D', 'V', 'R', '-', '0', '1', 0xFB, 0xFF, 0xFF, 0xFF,  // host, -5
    };
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 54 + ptrdiff_t(pixelBytes), bytes.end()), expected);
}

TEST_F(PictureFileTest, BmpWithoutFieldsHasNoTrailer) {
    PictureFile picture = pictureOf(4, 2);
    ASSERT_TRUE(picture.save(PictureFormat::Bmp, path("a")));
    EXPECT_EQ(readBytes(path("a.bmp")).size(), 54u + 4 * 2 * 3);
}

TEST_F(PictureFileTest, BmpRoundTripsEveryRowPaddingAndTheFields) {
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 13u}) {
        PictureFile picture = pictureOf(width, 5);
        setAllFields(picture);
        picture.setBoardName(std::string(300, 'b'));  // written and read back cut to 255 bytes
        const std::string file = path("w" + std::to_string(width) + ".bmp");
        ASSERT_TRUE(picture.save(PictureFormat::Bmp, file));
        const size_t stride = (width * 3 + 3) & ~3u;
        EXPECT_EQ(loadLe32(&readBytes(file)[34]), stride * 5) << width;

        PictureFile loaded;
        ASSERT_TRUE(loaded.load(PictureFormat::Bmp, file)) << loaded.lastError();
        uint32_t w, h;
        const uint8_t* pixels = loaded.getPixels(w, h);
        ASSERT_EQ(w, width);
        ASSERT_EQ(h, 5u);
        uint32_t ow, oh;
        EXPECT_TRUE(std::equal(pixels, pixels + w * h * 3, picture.getPixels(ow, oh))) << width;
        EXPECT_EQ(loaded.flags(), 0x0F);
        EXPECT_EQ(loaded.time(), 1793606400u);
        EXPECT_EQ(loaded.boardName(), std::string(255, 'b'));
        EXPECT_EQ(loaded.cameraName(), "Front gate");
        EXPECT_EQ(loaded.hostName(), "KX-DVR-01");
        EXPECT_EQ(loaded.gmtOffset(), -5);
    }
}

// Rows without padding, with the file-size field counting them so: how files of widths that
// are not a multiple of 4 were laid out without padding.
TEST_F(PictureFileTest, BmpWithUnpaddedRowsIsRead) {
    const uint32_t width = 5, height = 3;
    std::vector<uint8_t> pixels = testPixels(width, height);
    std::vector<uint8_t> bytes(54);
    bytes[0] = 'B';
    bytes[1] = 'M';
    storeLe32(&bytes[2], uint32_t(54 + pixels.size()));
    storeLe32(&bytes[10], 54);
    storeLe32(&bytes[14], 40);
    storeLe32(&bytes[18], width);
    storeLe32(&bytes[22], height);
    storeLe16(&bytes[26], 1);
    storeLe16(&bytes[28], 24);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    bytes.insert(bytes.end(), {0x01, 0x10, 0x20, 0x30, 0x40});  // flags: time
    writeBytes(path("a.bmp"), bytes);

    PictureFile loaded;
    ASSERT_TRUE(loaded.load(PictureFormat::Bmp, path("a.bmp"))) << loaded.lastError();
    uint32_t w, h;
    const uint8_t* held = loaded.getPixels(w, h);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), held));
    EXPECT_EQ(loaded.flags(), kPictureHasTime);
    EXPECT_EQ(loaded.time(), 0x40302010u);
}

TEST_F(PictureFileTest, DamagedOrUnsupportedBmpIsRefusedAndKeepsThePicture) {
    PictureFile source = pictureOf(6, 4);
    ASSERT_TRUE(source.save(PictureFormat::Bmp, path("good.bmp")));
    const std::vector<uint8_t> good = readBytes(path("good.bmp"));
    struct Case {
        const char* name;
        size_t offset;  // of a 32-bit field to replace, or truncation length when value is ~0
        uint32_t value;
    };
    const Case cases[] = {
        {"truncated pixels", good.size() - 1, ~0u},   {"truncated header", 30, ~0u},
        {"32 bits", 28, 32 | (0u << 16)},             {"compressed", 30, 1},
        {"huge width", 18, 0x7FFFFFFF},                {"huge height", 22, 0x80000000},
        {"pixel offset in header", 10, 20},            {"pixels past the end", 10, 0xFFFFFF00},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        if (c.value == ~0u)
            bytes.resize(c.offset);
        else if (c.offset == 28)
            storeLe16(&bytes[28], uint16_t(c.value));
        else
            storeLe32(&bytes[c.offset], c.value);
        writeBytes(path("bad.bmp"), bytes);
        PictureFile loaded = pictureOf(2, 2);
        EXPECT_FALSE(loaded.load(PictureFormat::Bmp, path("bad.bmp"))) << c.name;
        EXPECT_FALSE(loaded.lastError().empty()) << c.name;
        EXPECT_EQ(loaded.width(), 2u) << c.name;
    }
    PictureFile none;
    EXPECT_FALSE(none.load(PictureFormat::Bmp, path("missing.bmp")));
    EXPECT_FALSE(none.hasPixels());
}

TEST_F(PictureFileTest, JpegTrailerWithoutFieldsIsSizeFlagsAndLengthNine) {
    PictureFile picture = pictureOf(24, 16);
    ASSERT_TRUE(picture.save(PictureFormat::Jpeg, path("a")));
    const std::vector<uint8_t> bytes = readBytes(path("a.jpg"));
    ASSERT_GT(bytes.size(), 13u + 4);
    const uint8_t* trailer = &bytes[bytes.size() - 13];
    EXPECT_EQ(loadLe32(trailer), 24u);
    EXPECT_EQ(loadLe32(trailer + 4), 16u);
    EXPECT_EQ(trailer[8], 0);
    EXPECT_EQ(loadLe32(trailer + 9), 9u);
    EXPECT_EQ(trailer[-2], 0xFF);  // the JPEG stream ends (EOI) right before the trailer
    EXPECT_EQ(trailer[-1], 0xD9);
}

TEST_F(PictureFileTest, JpegRoundTripKeepsFieldsAndHeldPixels) {
    PictureFile picture = pictureOf(40, 24);
    setAllFields(picture);
    const std::vector<uint8_t> before = testPixels(40, 24);
    ASSERT_TRUE(picture.save(PictureFormat::Jpeg, path("a.jpg")));
    uint32_t w, h;
    const uint8_t* held = picture.getPixels(w, h);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), held)) << "saving changed the held picture";

    PictureFile loaded;
    ASSERT_TRUE(loaded.load(PictureFormat::Jpeg, path("a.jpg"))) << loaded.lastError();
    EXPECT_EQ(loaded.width(), 40u);
    EXPECT_EQ(loaded.height(), 24u);
    EXPECT_LE(largestDifference(heldAsRgb(loaded), heldAsRgb(picture)), 40);
    EXPECT_EQ(loaded.flags(), 0x0F);
    EXPECT_EQ(loaded.time(), 1793606400u);
    EXPECT_EQ(loaded.boardName(), "Entrance");
    EXPECT_EQ(loaded.cameraName(), "Front gate");
    EXPECT_EQ(loaded.hostName(), "KX-DVR-01");
    EXPECT_EQ(loaded.gmtOffset(), -5);
}

TEST_F(PictureFileTest, JpegWhoseTrailerNamesAnotherSizeLoadsTheStreamSize) {
    PictureFile picture = pictureOf(16, 16);
    ASSERT_TRUE(picture.save(PictureFormat::Jpeg, path("a.jpg")));
    std::vector<uint8_t> bytes = readBytes(path("a.jpg"));
    storeLe32(&bytes[bytes.size() - 13], 4000);  // trailer width
    storeLe32(&bytes[bytes.size() - 9], 3);      // trailer height
    writeBytes(path("a.jpg"), bytes);
    PictureFile loaded;
    ASSERT_TRUE(loaded.load(PictureFormat::Jpeg, path("a.jpg")));
    EXPECT_EQ(loaded.width(), 16u);
    EXPECT_EQ(loaded.height(), 16u);
}

TEST_F(PictureFileTest, DamagedJpegReportsTheLibraryMessageAndKeepsThePicture) {
    PictureFile picture = pictureOf(32, 32);
    ASSERT_TRUE(picture.save(PictureFormat::Jpeg, path("a.jpg")));
    std::vector<uint8_t> bytes = readBytes(path("a.jpg"));
    std::vector<uint8_t> noImage(bytes.begin(), bytes.begin() + 2);  // SOI, then nothing
    noImage.insert(noImage.end(), {0xFF, 0xD9});
    writeBytes(path("b.jpg"), noImage);
    bytes[3] ^= 0xFF;  // the first marker's length
    bytes[4] ^= 0xFF;
    writeBytes(path("c.jpg"), bytes);
    writeBytes(path("d.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'});
    for (const char* name : {"b.jpg", "c.jpg", "d.jpg"}) {
        PictureFile loaded = pictureOf(2, 2);
        std::vector<std::string> messages;
        loaded.setJpegErrorHandler([&](const std::string& message) { messages.push_back(message); });
        EXPECT_FALSE(loaded.load(PictureFormat::Jpeg, path(name))) << name;
        ASSERT_EQ(messages.size(), 1u) << name;
        EXPECT_FALSE(messages[0].empty());
        EXPECT_EQ(loaded.width(), 2u) << name;
    }
    // A JPEG error while saving: libjpeg refuses a width beyond its limit.
    PictureFile wide;
    wide.setPixels(70000, 1, std::vector<uint8_t>(70000 * 3));
    std::string message;
    wide.setJpegErrorHandler([&](const std::string& text) { message = text; });
    EXPECT_FALSE(wide.save(PictureFormat::Jpeg, path("wide")));
    EXPECT_FALSE(message.empty());
    EXPECT_FALSE(fs::exists(path("wide.jpg")));
}

TEST_F(PictureFileTest, ImageMagickReadsOurFilesWithTheRightPixels) {
    for (uint32_t width : {8u, 7u}) {  // no row padding, and padding
        PictureFile picture = pictureOf(width, 6);
        setAllFields(picture);
        const std::string stem = path("w" + std::to_string(width));
        ASSERT_TRUE(picture.save(PictureFormat::Bmp, stem));
        ASSERT_TRUE(picture.save(PictureFormat::Jpeg, stem));
        uint32_t w = 0, h = 0;
        EXPECT_EQ(magickRgb(stem + ".bmp", w, h), heldAsRgb(picture)) << width;
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, 6u);
        const std::vector<uint8_t> jpeg = magickRgb(stem + ".jpg", w, h);
        EXPECT_EQ(w, width);
        EXPECT_LE(largestDifference(jpeg, heldAsRgb(picture)), 40) << width;
        PictureFile ours;
        ASSERT_TRUE(ours.load(PictureFormat::Jpeg, stem + ".jpg"));
        EXPECT_LE(largestDifference(heldAsRgb(ours), jpeg), 1) << "same library, same decoding";
    }
}

TEST_F(PictureFileTest, FilesMadeByImageMagickLoadWithoutTrailer) {
    ASSERT_EQ(run("convert -size 19x11 gradient:red-blue -depth 8 '" + path("colour.ppm") + "' && echo ok"), "ok\n");
    for (const char* target : {"BMP3:colour.bmp", "BMP:colour4.bmp", "colour.jpg"}) {
        const std::string argument(target);
        const size_t colon = argument.find(':');
        const std::string out = colon == std::string::npos ? path(argument) : argument.substr(0, colon + 1) + path(argument.substr(colon + 1));
        ASSERT_EQ(run("convert '" + path("colour.ppm") + "' -type TrueColor '" + out + "' && echo ok"), "ok\n") << target;
        const std::string file = path(colon == std::string::npos ? argument : argument.substr(colon + 1));
        PictureFile loaded;
        const bool jpeg = file.ends_with(".jpg");
        ASSERT_TRUE(loaded.load(jpeg ? PictureFormat::Jpeg : PictureFormat::Bmp, file)) << target << ": " << loaded.lastError();
        uint32_t w, h;
        EXPECT_EQ(magickRgb(file, w, h), heldAsRgb(loaded)) << target;
        EXPECT_EQ(loaded.width(), 19u);
        EXPECT_EQ(loaded.height(), 11u);
        EXPECT_EQ(loaded.flags(), 0) << target;
    }
    // A grey JPEG (one component) loads as three equal bytes per pixel.
    ASSERT_EQ(run("convert -size 9x7 gradient:white-black -colorspace Gray '" + path("grey.jpg") + "' && echo ok"), "ok\n");
    EXPECT_NE(run("identify -format '%[colorspace] %[channels]' '" + path("grey.jpg") + "'").find("Gray"), std::string::npos);
    PictureFile grey;
    ASSERT_TRUE(grey.load(PictureFormat::Jpeg, path("grey.jpg"))) << grey.lastError();
    uint32_t w, h;
    const uint8_t* pixels = grey.getPixels(w, h);
    ASSERT_EQ(w * h, 63u);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        EXPECT_EQ(pixels[3 * i], pixels[3 * i + 1]);
        EXPECT_EQ(pixels[3 * i], pixels[3 * i + 2]);
    }
    EXPECT_EQ(magickRgb(path("grey.jpg"), w, h), heldAsRgb(grey));
    EXPECT_GT(pixels[3 * 62], pixels[0] + 100) << "white at the top, held last";
}

}  // namespace
}  // namespace kx
