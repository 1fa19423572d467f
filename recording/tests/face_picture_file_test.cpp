// CFacePictureFile and FaceDecoder on face files laid out here byte by byte: both header
// versions, the version 1 group chain, damaged files, and the luma-only intra picture syntax.
#include "recording/face_picture_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "codec/native/face_decoder.h"
#include "recording/byte_order.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

// MSB-first bits, as the native codec reads them.
class Bits {
public:
    void put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (m_bit == 0) m_bytes.push_back(0);
            m_bytes.back() |= uint8_t(((value >> i) & 1) << (7 - m_bit));
            m_bit = (m_bit + 1) % 8;
        }
    }
    void alignToEvenByte() {
        m_bit = 0;
        if (m_bytes.size() % 2) m_bytes.push_back(0);
    }
    std::vector<uint8_t> bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_bit = 0;
};

// A face picture whose macroblocks hold flat blocks of the given DCs (4 per macroblock, Y0 to
// Y3, raster order), with `leading` zero bits before the start code.
std::vector<uint8_t> flatFace(uint32_t width, uint32_t height, const std::vector<uint8_t>& dcs, int type = 0,
                              int quantiser = 5, int leading = 3) {
    Bits bits;
    bits.put(0, leading);
    bits.put(16, 21);
    bits.put(uint32_t(type), 2);
    bits.put(width, 10);
    bits.put(height, 10);
    bits.put(uint32_t(quantiser), 8);
    bits.put(1, 1);
    bits.alignToEvenByte();
    bits.put(0xBEEF, 16);
    for (size_t i = 0; i < dcs.size(); i += 4) {
        bits.put(0b0011, 4);  // CBPY: intra pattern 0, no coefficients
        bits.put(0, 2);
        for (size_t b = i; b < i + 4 && b < dcs.size(); ++b) bits.put(dcs[b], 8);
    }
    return bits.bytes();
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}
void putText(std::vector<uint8_t>& out, const std::string& text) {
    put32(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

class FaceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("kx_face_test_" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = (m_folder / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    fs::path m_folder;
};

// Version 0: header, texts, then records of 4 + width x height bytes.
std::vector<uint8_t> version0(uint32_t width, uint32_t height, uint32_t pictures, uint32_t spare) {
    std::vector<uint8_t> bytes;
    put32(bytes, 0x45434146);
    put32(bytes, 0);
    put32(bytes, 0);  // first record offset, below
    put32(bytes, width);
    put32(bytes, height);
    bytes.push_back(2);  // board number
    bytes.push_back(5);  // camera number
    put32(bytes, 0x11111111);
    put32(bytes, 0x22222222);
    putText(bytes, "KX-DVR-01");
    putText(bytes, "Entrance");
    putText(bytes, "");
    storeLe32(bytes.data() + 8, uint32_t(bytes.size()));
    for (uint32_t p = 0; p < pictures; ++p) {
        put32(bytes, 1000 + p);
        for (uint32_t i = 0; i < width * height; ++i) bytes.push_back(uint8_t(p * 40 + i % 7));
    }
    bytes.insert(bytes.end(), spare, 0xEE);
    return bytes;
}

TEST_F(FaceFileTest, Version0CountsWholeRecordsAndReadsByIndexAndInTurn) {
    const std::string path = write("v0.fac", version0(112, 144, 3, 2));
    CFacePictureFile file;
    ASSERT_TRUE(file.Open(path)) << file.LastError();
    EXPECT_EQ(file.Version(), 0u);
    EXPECT_EQ(file.PictureCount(), 3u);
    EXPECT_EQ(file.LastPictureTime(), 1002u);
    EXPECT_EQ(file.HostName(), "KX-DVR-01");
    EXPECT_EQ(file.BoardName(), "Entrance");
    EXPECT_EQ(file.CameraName(), "");
    EXPECT_EQ(file.BoardNumber(), 2);
    EXPECT_EQ(file.CameraNumber(), 5);
    EXPECT_EQ(file.HeaderWords()[0], 0x11111111u);
    EXPECT_EQ(file.HeaderWords()[1], 0x22222222u);

    std::vector<uint8_t> pixels;
    uint32_t time = 0, width = 0, height = 0;
    ASSERT_TRUE(file.ReadPicture(pixels, time, width, height, 1));
    EXPECT_EQ(time, 1001u);
    EXPECT_EQ(width, 112u);
    EXPECT_EQ(height, 144u);
    ASSERT_EQ(pixels.size(), 112u * 144);
    EXPECT_EQ(pixels[0], 40);
    EXPECT_EQ(pixels[8], 41);
    ASSERT_TRUE(file.ReadPicture(pixels, time, width, height));  // the one after
    EXPECT_EQ(time, 1002u);
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height));  // past the last
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height, 3));
    EXPECT_EQ(file.CurrentIndex(), 3u);
    EXPECT_EQ(file.CurrentTime(), 1002u);
    ASSERT_TRUE(file.ReadPicture(pixels, time, width, height, 0));
    EXPECT_EQ(time, 1000u);
    file.Close();
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height, 0));
}

// Version 1 with groups of `counts` pictures (flat 32 x 16 faces, picture k all of grey 10 k),
// each picture with 3 extra bytes; next-group offsets as laid out unless `next` overrides them.
std::vector<uint8_t> version1(const std::vector<uint16_t>& counts, const std::vector<int64_t>& next = {}) {
    std::vector<uint8_t> bytes;
    uint32_t total = 0;
    for (uint16_t c : counts) total += c;
    put32(bytes, 0x45434146);
    put32(bytes, 1);
    put32(bytes, 0);  // first group offset, below
    put32(bytes, 7);
    put32(bytes, 2000 + total - 1);
    put32(bytes, 8);
    put32(bytes, total);
    put32(bytes, 9);
    put32(bytes, 32);
    put32(bytes, 16);
    bytes.push_back(1);
    bytes.push_back(3);
    putText(bytes, "host");
    putText(bytes, "board");
    putText(bytes, "camera");
    storeLe32(bytes.data() + 8, uint32_t(bytes.size()));
    uint32_t k = 0;
    std::vector<size_t> groupStarts;
    for (uint16_t count : counts) {
        groupStarts.push_back(bytes.size());
        for (int h = 0; h < 2; ++h) {
            std::vector<uint8_t> header(28, 0xA5);
            storeLe32(header.data() + 12, 0);
            storeLe16(header.data() + 24, count);
            bytes.insert(bytes.end(), header.begin(), header.end());
        }
        for (uint16_t p = 0; p < count; ++p, ++k) {
            const std::vector<uint8_t> coded = flatFace(32, 16, std::vector<uint8_t>(8, uint8_t(10 * k)));
            put32(bytes, 2000 + k);
            put32(bytes, uint32_t(coded.size()));
            bytes.insert(bytes.end(), {32, 0, 16, 0});
            put32(bytes, 3);
            bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF});
            bytes.insert(bytes.end(), coded.begin(), coded.end());
        }
    }
    for (size_t g = 0; g + 1 < groupStarts.size(); ++g) storeLe32(bytes.data() + groupStarts[g] + 12, uint32_t(groupStarts[g + 1]));
    for (size_t g = 0; g < next.size(); ++g)
        if (next[g] >= 0) storeLe32(bytes.data() + groupStarts[g] + 12, uint32_t(next[g] == 0 ? 0 : groupStarts[size_t(next[g] - 1)]));
    return bytes;
}

TEST_F(FaceFileTest, Version1WalksTheGroupsInTurnAndByIndex) {
    const std::string path = write("v1.fac", version1({2, 0, 3}));
    CFacePictureFile file;
    ASSERT_TRUE(file.Open(path)) << file.LastError();
    EXPECT_EQ(file.Version(), 1u);
    EXPECT_EQ(file.PictureCount(), 5u);
    EXPECT_EQ(file.LastPictureTime(), 2004u);
    EXPECT_EQ(file.HeaderWords(), (std::array<uint32_t, 3>{7, 8, 9}));
    EXPECT_EQ(file.CameraName(), "camera");
    EXPECT_EQ(file.BoardNumber(), 1);
    EXPECT_EQ(file.CameraNumber(), 3);
    uint32_t width = 0, height = 0;
    file.PictureSize(width, height);
    EXPECT_EQ(width, 32u);

    std::vector<uint8_t> pixels;
    uint32_t time = 0;
    // In turn: group 1 ends after 2 pictures and the empty group 2 ends the file.
    for (uint32_t k = 0; k < 2; ++k) {
        ASSERT_TRUE(file.ReadPicture(pixels, time, width, height)) << k << ": " << file.LastError();
        EXPECT_EQ(time, 2000 + k);
        EXPECT_EQ(width, 32u);
        EXPECT_EQ(height, 16u);
        ASSERT_EQ(pixels.size(), 32u * 16);
        for (uint8_t sample : pixels) ASSERT_NEAR(sample, 10 * k, 1);
    }
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height));
    EXPECT_EQ(file.CurrentIndex(), 2u);
    // By index the walk passes the empty group.
    for (int32_t k : {4, 2, 3, 0, 4}) {
        ASSERT_TRUE(file.ReadPicture(pixels, time, width, height, k)) << k << ": " << file.LastError();
        EXPECT_EQ(time, 2000u + uint32_t(k));
        EXPECT_NEAR(pixels[100], 10 * k, 1);
    }
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height));  // 4 was the last
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height, 5));
    EXPECT_EQ(file.CurrentIndex(), 5u);
    ASSERT_TRUE(file.ReadPicture(pixels, time, width, height, 1));
    EXPECT_EQ(time, 2001u);
    ASSERT_TRUE(file.ReadPicture(pixels, time, width, height, 0));  // back to the first group
    EXPECT_EQ(time, 2000u);
}

TEST_F(FaceFileTest, Version1ChainThatLoopsEndsTheWalk) {
    // Group 2 names group 1 again: a walk to a far index must end, not go round for ever.
    const std::string path = write("loop.fac", version1({1, 1}, {-1, 1}));
    CFacePictureFile file;
    ASSERT_TRUE(file.Open(path));
    std::vector<uint8_t> pixels;
    uint32_t time, width, height;
    EXPECT_TRUE(file.ReadPicture(pixels, time, width, height, 1));
    EXPECT_FALSE(file.ReadPicture(pixels, time, width, height, 1'000'000));
    EXPECT_TRUE(file.ReadPicture(pixels, time, width, height, 0));
}

TEST_F(FaceFileTest, APictureThatDoesNotDecodeIsPassedOverInTurn) {
    std::vector<uint8_t> bytes = version1({3});
    const size_t codedBytes = flatFace(32, 16, std::vector<uint8_t>(8, 0)).size();
    const size_t second = loadLe32(bytes.data() + 8) + 56 + (16 + 3 + codedBytes) + 16 + 3;
    std::fill_n(bytes.begin() + ptrdiff_t(second), codedBytes, 0);  // no start code left
    CFacePictureFile file;
    ASSERT_TRUE(file.Open(write("bad1.fac", bytes))) << file.LastError();
    std::vector<uint8_t> pixels;
    uint32_t time = 0, width = 0, height = 0;
    std::vector<uint32_t> times;
    while (file.ReadPicture(pixels, time, width, height)) {
        times.push_back(time);
        if (time == 2001) {
            EXPECT_FALSE(file.LastPictureDecoded());
            EXPECT_FALSE(file.LastError().empty());
            EXPECT_TRUE(pixels.empty());
            EXPECT_EQ(width * height, 0u);
        } else {
            EXPECT_TRUE(file.LastPictureDecoded());
            EXPECT_EQ(pixels.size(), 32u * 16);
        }
    }
    EXPECT_EQ(times, (std::vector<uint32_t>{2000, 2001, 2002}));
}

TEST_F(FaceFileTest, HeaderTextsAreBoundedByTheHeaderNotByAFixedLength) {
    // A 700-byte name: the format gives no limit, the header holds it.
    std::vector<uint8_t> bytes = version0(16, 16, 1, 0);
    const size_t firstText = 30;
    const std::string longName(700, 'n');
    std::vector<uint8_t> text;
    putText(text, longName);
    const uint32_t oldLength = loadLe32(bytes.data() + firstText);
    bytes.erase(bytes.begin() + firstText, bytes.begin() + firstText + 4 + oldLength);
    bytes.insert(bytes.begin() + firstText, text.begin(), text.end());
    storeLe32(bytes.data() + 8, loadLe32(bytes.data() + 8) + 700 - oldLength);
    CFacePictureFile file;
    ASSERT_TRUE(file.Open(write("long.fac", bytes))) << file.LastError();
    EXPECT_EQ(file.HostName(), longName);
    std::vector<uint8_t> pixels;
    uint32_t time = 0, width = 0, height = 0;
    ASSERT_TRUE(file.ReadPicture(pixels, time, width, height));
    EXPECT_EQ(time, 1000u);

    // A length that reaches past the first picture is damage.
    storeLe32(bytes.data() + firstText, 710);
    EXPECT_FALSE(file.Open(write("past.fac", bytes)));
}

TEST_F(FaceFileTest, DamagedFilesAreRefused) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool opens;
    };
    std::vector<Case> cases;
    const std::vector<uint8_t> good0 = version0(16, 16, 2, 0);
    const std::vector<uint8_t> good1 = version1({2});
    auto with = [](std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
        storeLe32(bytes.data() + offset, value);
        return bytes;
    };
    cases.push_back({"magic", with(good0, 0, 0x45434147), false});
    cases.push_back({"version 2", with(good0, 4, 2), false});
    cases.push_back({"truncated header", std::vector<uint8_t>(good0.begin(), good0.begin() + 20), false});
    cases.push_back({"huge text", with(good0, 30, 0xFFFFFFF0), false});
    cases.push_back({"truncated text", std::vector<uint8_t>(good0.begin(), good0.begin() + 36), false});
    cases.push_back({"width 0", with(good0, 12, 0), false});
    cases.push_back({"huge width", with(good0, 12, 0x10000000), false});
    cases.push_back({"first record past the end", with(good0, 8, 0x7FFFFFFF), false});
    cases.push_back({"v1 truncated group headers", std::vector<uint8_t>(good1.begin(), good1.begin() + 80), false});
    const size_t firstPicture = loadLe32(good1.data() + 8) + 56;
    cases.push_back({"v1 coded length past the end", with(good1, firstPicture + 4, 0xFFFFFF00), true});
    cases.push_back({"v1 extra length past the end", with(good1, firstPicture + 12, 0xFFFFFF00), true});
    for (const Case& c : cases) {
        CFacePictureFile file;
        EXPECT_EQ(file.Open(write("bad.fac", c.bytes)), c.opens) << c.name;
        if (!c.opens) {
            EXPECT_FALSE(file.IsOpen()) << c.name;
            EXPECT_FALSE(file.LastError().empty()) << c.name;
            continue;
        }
        std::vector<uint8_t> pixels;
        uint32_t time, width, height;
        EXPECT_FALSE(file.ReadPicture(pixels, time, width, height)) << c.name;
        EXPECT_FALSE(file.ReadPicture(pixels, time, width, height, 1)) << c.name;
    }
}

TEST(FaceDecoder, FlatBlocksLandInTheirQuartersWithZeroBeyondWholeMacroblocks) {
    FaceDecoder decoder;
    // 40 x 20: two whole macroblocks across, one down; 8 columns and 4 rows beyond them.
    const std::vector<uint8_t> coded = flatFace(40, 20, {10, 20, 30, 40, 50, 60, 70, 255});
    std::vector<uint8_t> grey;
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(decoder.pictureSize(coded.data(), coded.size(), width, height));
    EXPECT_EQ(width, 40u);
    EXPECT_EQ(height, 20u);
    ASSERT_TRUE(decoder.decode(coded.data(), coded.size(), grey, width, height));
    ASSERT_EQ(grey.size(), 800u);
    const auto at = [&](int x, int y) { return int(grey[size_t(y) * 40 + size_t(x)]); };
    EXPECT_NEAR(at(0, 0), 10, 1);
    EXPECT_NEAR(at(15, 0), 20, 1);
    EXPECT_NEAR(at(0, 15), 30, 1);
    EXPECT_NEAR(at(15, 15), 40, 1);
    EXPECT_NEAR(at(16, 0), 50, 1);
    EXPECT_NEAR(at(31, 15), 128, 1);  // 255 stands for 128
    EXPECT_EQ(at(32, 0), 0);
    EXPECT_EQ(at(0, 16), 0);
}

TEST(FaceDecoder, Dc128EndsTheMacroblockAndLaterBlocksKeepWhatTheyHeld) {
    FaceDecoder decoder;
    // Macroblock 2 stops at its second block: Y0 is new, Y1 is zero, Y2 and Y3 are macroblock 1's.
    const std::vector<uint8_t> coded = flatFace(32, 16, {10, 20, 30, 40, 90, 128, 0, 0});
    std::vector<uint8_t> grey;
    uint32_t width, height;
    ASSERT_TRUE(decoder.decode(coded.data(), coded.size(), grey, width, height));
    const auto at = [&](int x, int y) { return int(grey[size_t(y) * 32 + size_t(x)]); };
    EXPECT_NEAR(at(16, 0), 90, 1);
    EXPECT_EQ(at(24, 0), 0);
    EXPECT_NEAR(at(16, 8), 30, 1);
    EXPECT_NEAR(at(24, 8), 40, 1);
}

TEST(FaceDecoder, RefusesWhatIsNotAFacePicture) {
    FaceDecoder decoder;
    std::vector<uint8_t> grey;
    uint32_t width, height;
    const std::vector<uint8_t> type1 = flatFace(16, 16, {1, 2, 3, 4}, 1);
    EXPECT_FALSE(decoder.decode(type1.data(), type1.size(), grey, width, height));
    const std::vector<uint8_t> zeroQuantiser = flatFace(16, 16, {1, 2, 3, 4}, 0, 0);
    EXPECT_FALSE(decoder.decode(zeroQuantiser.data(), zeroQuantiser.size(), grey, width, height));
    EXPECT_EQ(decoder.lastFailure(), DecodeFailure::ZeroQuantiser);
    const std::vector<uint8_t> zeroWidth = flatFace(0, 16, {});
    EXPECT_FALSE(decoder.decode(zeroWidth.data(), zeroWidth.size(), grey, width, height));
    const uint8_t noStart[] = {0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(decoder.decode(noStart, sizeof noStart, grey, width, height));
    EXPECT_FALSE(decoder.decode(noStart, 0, grey, width, height));
    // Data that ends after the header decodes as zeros, within the buffer.
    const std::vector<uint8_t> full = flatFace(64, 64, std::vector<uint8_t>(64, 200));
    ASSERT_TRUE(decoder.decode(full.data(), 12, grey, width, height));
    EXPECT_EQ(grey.size(), 64u * 64);
}

}  // namespace
}  // namespace kx
