// File: reads through the window agree with the bytes on disk wherever they start and end.
#include "platform/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

namespace kx {
namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = (std::filesystem::temp_directory_path() /
                  ("kx_file_test_" + std::to_string(::getpid()) + ".bin")).string();
        m_bytes.resize(200 * 1024);
        for (size_t i = 0; i < m_bytes.size(); ++i) m_bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        std::ofstream(m_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_bytes.data()), static_cast<std::streamsize>(m_bytes.size()));
    }
    void TearDown() override { std::remove(m_path.c_str()); }

    std::string m_path;
    std::vector<uint8_t> m_bytes;
};

TEST_F(FileTest, ReadsMatchTheFileAtEveryBoundary) {
    File file;
    ASSERT_TRUE(file.open(m_path, FileMode::Read));
    EXPECT_EQ(file.length(), m_bytes.size());
    struct Case { uint64_t at; size_t count; };
    // Small reads inside and across the 64 KiB window, a read larger than the window, the tail.
    const Case cases[] = {{0, 12}, {12, 100}, {65530, 20}, {65536, 1}, {1000, 70000},
                          {131000, 5000}, {200 * 1024 - 3, 3}, {10, 150000}};
    for (const Case& c : cases) {
        std::vector<uint8_t> got(c.count, 0);
        file.seek(c.at);
        ASSERT_EQ(file.read(got.data(), c.count), c.count) << c.at;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), m_bytes.begin() + static_cast<long>(c.at))) << c.at;
        EXPECT_EQ(file.position(), c.at + c.count);
    }
}

TEST_F(FileTest, ReadAtTheEndIsShortAndPastTheEndIsEmpty) {
    File file;
    ASSERT_TRUE(file.open(m_path, FileMode::Read));
    uint8_t buffer[16];
    file.seek(m_bytes.size() - 4);
    EXPECT_EQ(file.read(buffer, sizeof buffer), 4u);
    file.seek(m_bytes.size() + 100);
    EXPECT_EQ(file.read(buffer, sizeof buffer), 0u);
}

TEST_F(FileTest, WriteReplacesBytesAlreadyInTheWindow) {
    File file;
    ASSERT_TRUE(file.open(m_path, FileMode::ReadWrite));
    uint8_t before[8];
    ASSERT_EQ(file.read(before, 8), 8u);
    const uint8_t patch[4] = {1, 2, 3, 4};
    file.seek(2);
    ASSERT_EQ(file.write(patch, 4), 4u);
    uint8_t after[8];
    file.seek(0);
    ASSERT_EQ(file.read(after, 8), 8u);
    EXPECT_EQ(after[1], before[1]);
    EXPECT_EQ(after[2], 1);
    EXPECT_EQ(after[5], 4);
    EXPECT_EQ(after[6], before[6]);
}

TEST(FileOpen, MissingFileAndDirectoryAreRefusedWithAReason) {
    File file;
    EXPECT_FALSE(file.open("/nonexistent/kx/file.kxz", FileMode::Read));
    EXPECT_FALSE(file.errorText().empty());
    EXPECT_FALSE(file.open(std::filesystem::temp_directory_path().string(), FileMode::Read));
    EXPECT_EQ(file.errorText(), "is a directory");
}

}  // namespace
}  // namespace kx
