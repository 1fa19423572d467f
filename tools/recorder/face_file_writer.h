// Writes face files as recorders do: version 0 (raw grey pictures of one size) or version 1
// (pictures coded by FaceEncoder in a chain of groups), under a temporary name renamed into
// place when complete. CFacePictureFile reads both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx {

struct FacePicture {
    uint32_t time = 0;          // seconds since 1970, UTC
    std::vector<uint8_t> grey;  // width x height of the file, rows top first
};

struct FaceFileJob {
    std::string path;
    int version = 1;
    uint32_t width = 112;  // 16 to 1023 and a multiple of 16 for version 1
    uint32_t height = 144;
    uint8_t boardNumber = 0;  // counted from 0
    uint8_t cameraNumber = 0;
    std::string hostName = "KX-DVR";
    std::string boardName = "Board 1";
    std::string cameraName = "Camera 1";
    uint32_t picturesPerGroup = 8;  // version 1
    int quantiser = 4;              // version 1, 1 to 31
};

// The file's bytes; `error` says what is wrong with a job that cannot be written.
bool faceFileBytes(const FaceFileJob& job, const std::vector<FacePicture>& pictures, std::vector<uint8_t>& bytes,
                   std::string& error);
bool writeFaceFile(const FaceFileJob& job, const std::vector<FacePicture>& pictures, std::string& error);

}  // namespace kx
