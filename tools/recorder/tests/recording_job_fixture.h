// RecordingJobFixture: a test fixture with a folder of its own for the recordings a test writes
// (removed after the test), and the check that writeRecording refuses a job.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tools/recorder/recording_job.h"

namespace kx {

class RecordingJobFixture : public ::testing::Test {
protected:
    // The folder is named from `prefix` and the process id, so test programs running at the
    // same time do not share it.
    explicit RecordingJobFixture(const std::string& prefix)
        : m_folder(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {
        std::filesystem::create_directories(m_folder);
    }
    ~RecordingJobFixture() override { std::filesystem::remove_all(m_folder); }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    // writeRecording refuses `job` with an error that contains `reason`, and leaves no file.
    static void expectRefused(const RecordingJob& job, const char* reason) {
        std::string error;
        EXPECT_FALSE(writeRecording(job, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(job.path)) << reason;
    }

    std::filesystem::path m_folder;
};

}  // namespace kx
