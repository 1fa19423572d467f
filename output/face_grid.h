// The face window's logic without a toolkit: the grid of cells the screen holds, the faces of a
// page, the recording that holds a face's moment (FindFaceVideo) and the 24-bit bitmap file a
// face is saved as.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx {

class CRecordInfo;

constexpr int kFaceCellPitchX = 115;
constexpr int kFaceCellPitchY = 159;
constexpr int kFaceCellWidth = 112;
constexpr int kFacePictureHeight = 144;
constexpr int kFaceTimeHeight = 15;
constexpr int kFaceFooterHeight = 45;
// The grid never holds more cells than this, however large the screen.
constexpr int kMaxFaceCells = 200;

struct FaceGrid {
    int columns = 1;
    int rows = 1;
    int cells() const { return columns * rows; }
    int clientWidth() const { return kFaceCellPitchX * columns - 3; }
    int clientHeight() const { return kFaceCellPitchY * rows + kFaceFooterHeight; }
};

// The grid of a screen of `screenWidth` x `screenHeight` for a window whose frame adds
// `frameWidth` x `frameHeight`: at least one cell, rows cut first and then columns so that at
// most kMaxFaceCells are made.
FaceGrid faceGridFor(int screenWidth, int screenHeight, int frameWidth, int frameHeight);

struct FacePage {
    uint32_t first = 0;  // index of the page's first face
    uint32_t count = 0;  // faces shown on the page
    bool previous = false;  // "Prev page" enabled
    bool next = false;      // "Next page" enabled
};
FacePage facePage(uint32_t page, uint32_t cells, uint32_t faceCount);

// The folder searched for a face's recordings: the face file's path up to the last folder named
// "face" (any case), then "video/"; a path without such a folder searches "video/" beside the
// face file's own folder.
std::string faceVideoFolder(const std::string& facePath);

struct FaceIdentity {
    std::string boardName;
    std::string cameraName;
    uint32_t boardNumber = 0;
    uint32_t cameraNumber = 0;
    uint32_t time = 0;
};
// The first recording of `folder` (in name order) of the face's board and camera, by names and
// numbers, whose start time is not after the face's time and whose end time is not before it.
std::optional<std::string> FindFaceVideo(const std::string& folder, const FaceIdentity& face);

// Writes a grey face (width x height bytes, top row first) as a 24-bit BMP file: the 54-byte
// header, rows bottom first padded to 4 bytes. Written under a temporary name and renamed into
// place; false when it cannot be written.
bool writeFaceBitmap(const std::string& path, const std::vector<uint8_t>& grey, uint32_t width,
                     uint32_t height);

}  // namespace kx
