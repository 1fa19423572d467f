// The face window's grid and pages, the search for a face's recording and the face bitmap.
#include "output/face_grid.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "recording/record_info.h"

namespace kx {

FaceGrid faceGridFor(int screenWidth, int screenHeight, int frameWidth, int frameHeight) {
    FaceGrid grid;
    grid.columns = std::max(1, (screenWidth - frameWidth) / kFaceCellPitchX);
    grid.rows = std::max(1, (screenHeight - frameHeight - kFaceFooterHeight) / kFaceCellPitchY);
    while (grid.cells() > kMaxFaceCells && grid.rows > 1) --grid.rows;
    grid.columns = std::min(grid.columns, kMaxFaceCells / grid.rows);
    return grid;
}

FacePage facePage(uint32_t page, uint32_t cells, uint32_t faceCount) {
    FacePage shown;
    const uint64_t first = uint64_t(page) * cells;
    shown.previous = page != 0;
    shown.next = uint64_t(faceCount) > first + cells;
    if (first < faceCount) {
        shown.first = uint32_t(first);
        shown.count = uint32_t(std::min<uint64_t>(cells, faceCount - first));
    }
    return shown;
}

std::string faceVideoFolder(const std::string& facePath) {
    const std::filesystem::path path(facePath);
    std::filesystem::path folder = path.parent_path();
    for (std::filesystem::path at = folder; !at.empty() && at != at.root_path();
         at = at.parent_path()) {
        std::string name = at.filename().string();
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (name == "face") return (at.parent_path() / "video").string() + "/";
        if (at == at.parent_path()) break;
    }
    return (folder / "video").string() + "/";
}

std::optional<std::string> FindFaceVideo(const std::string& folder, const FaceIdentity& face) {
    std::error_code code;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(folder, code), end; !code && it != end;
         it.increment(code)) {
        if (!it->is_directory(code)) names.push_back(it->path().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        CRecordInfo info;
        if (!info.ReadInfo(name)) continue;
        if (info.BoardName() == face.boardName && info.CameraName() == face.cameraName &&
            info.BoardNumber() == face.boardNumber && info.CameraNumber() == face.cameraNumber &&
            info.EndTime() >= face.time && info.StartTime() <= face.time)
            return name;
    }
    return std::nullopt;
}

bool writeFaceBitmap(const std::string& path, const std::vector<uint8_t>& grey, uint32_t width,
                     uint32_t height) {
    if (width == 0 || height == 0 || grey.size() < size_t(width) * height) return false;
    const uint32_t stride = ((width * 24 + 31) / 32) * 4;
    const uint64_t fileSize = 54 + uint64_t(stride) * height;
    if (fileSize > 0xFFFFFFFFu) return false;
    std::vector<uint8_t> bytes(size_t(fileSize), 0);
    const auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, uint32_t(fileSize));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bytes[26] = 1;   // planes
    bytes[28] = 24;  // bits per pixel
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = grey.data() + size_t(height - 1 - y) * width;
        uint8_t* out = bytes.data() + 54 + size_t(y) * stride;
        for (uint32_t x = 0; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
    }
    const std::filesystem::path target(path);
    const std::filesystem::path partial =
        target.parent_path() /
        ("." + target.filename().string() + ".part-" + std::to_string(::getpid()));
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return false;
        }
    }
    std::error_code code;
    std::filesystem::rename(partial, target, code);
    if (code) std::filesystem::remove(partial, code);
    return !code;
}

}  // namespace kx
