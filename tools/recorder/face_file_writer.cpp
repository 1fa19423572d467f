// Face file layouts: the "FACE" header of either version, raw records or groups of coded pictures.
#include "tools/recorder/face_file_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "recording/byte_order.h"
#include "tools/recorder/face_encoder.h"

namespace kx {
namespace {

constexpr uint32_t kMagic = 0x45434146;  // "FACE"
constexpr size_t kGroupHeaderBytes = 28;
// Each coded picture carries 4 extra bytes before its code: where the face was found in the
// camera picture (x and y, 16 bits each). Readers skip them.
constexpr uint32_t kExtraBytes = 4;

void put32(std::vector<uint8_t>& out, uint32_t value) {
    const size_t at = out.size();
    out.resize(at + 4);
    storeLe32(out.data() + at, value);
}

void putText(std::vector<uint8_t>& out, const std::string& text) {
    put32(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

bool faceFileBytes(const FaceFileJob& job, const std::vector<FacePicture>& pictures, std::vector<uint8_t>& bytes,
                   std::string& error) {
    const auto fail = [&](const std::string& text) {
        error = job.path + ": " + text;
        return false;
    };
    if (job.version != 0 && job.version != 1) return fail("face file version must be 0 or 1");
    if (job.width < 16 || job.height < 16 || job.width > FaceEncoder::kMaxSide || job.height > FaceEncoder::kMaxSide)
        return fail("face pictures must be 16 to 1023 pixels wide and high");
    if (job.version == 1 && (job.width % 16 != 0 || job.height % 16 != 0))
        return fail("coded face pictures must be whole macroblocks (multiples of 16)");
    if (job.picturesPerGroup == 0 || job.picturesPerGroup > 0xFFFF) return fail("pictures per group out of range");
    const size_t pictureBytes = size_t(job.width) * job.height;
    for (const FacePicture& picture : pictures)
        if (picture.grey.size() != pictureBytes) return fail("a face picture of the wrong size");
    const uint32_t firstTime = pictures.empty() ? 0 : pictures.front().time;
    const uint32_t lastTime = pictures.empty() ? 0 : pictures.back().time;

    bytes.clear();
    put32(bytes, kMagic);
    put32(bytes, uint32_t(job.version));
    if (job.version == 0) {
        put32(bytes, 0);  // first record offset, set below
        put32(bytes, job.width);
        put32(bytes, job.height);
        bytes.push_back(job.boardNumber);
        bytes.push_back(job.cameraNumber);
        put32(bytes, firstTime);
        put32(bytes, 0);
    } else {
        put32(bytes, 0);  // first group offset, set below
        put32(bytes, firstTime);
        put32(bytes, lastTime);
        put32(bytes, job.picturesPerGroup);
        put32(bytes, uint32_t(pictures.size()));
        put32(bytes, 0);
        put32(bytes, job.width);
        put32(bytes, job.height);
        bytes.push_back(job.boardNumber);
        bytes.push_back(job.cameraNumber);
    }
    putText(bytes, job.hostName);
    putText(bytes, job.boardName);
    putText(bytes, job.cameraName);
    storeLe32(bytes.data() + 8, uint32_t(bytes.size()));

    if (job.version == 0) {
        for (const FacePicture& picture : pictures) {
            put32(bytes, picture.time);
            bytes.insert(bytes.end(), picture.grey.begin(), picture.grey.end());
        }
        return true;
    }

    FaceEncoder encoder(job.quantiser);
    // At least one group, even without pictures, so that the file has its group headers.
    const size_t groups = std::max<size_t>(1, (pictures.size() + job.picturesPerGroup - 1) / job.picturesPerGroup);
    for (size_t g = 0; g < groups; ++g) {
        const size_t first = g * job.picturesPerGroup;
        const size_t count = std::min<size_t>(job.picturesPerGroup, pictures.size() - std::min(first, pictures.size()));
        const size_t groupStart = bytes.size();
        std::vector<uint8_t> header(kGroupHeaderBytes, 0);
        storeLe32(header.data(), uint32_t(g));
        storeLe32(header.data() + 4, count ? pictures[first].time : 0);
        storeLe32(header.data() + 8, count ? pictures[first + count - 1].time : 0);
        storeLe32(header.data() + 16, uint32_t(first));
        storeLe16(header.data() + 24, uint16_t(count));
        bytes.insert(bytes.end(), header.begin(), header.end());
        bytes.insert(bytes.end(), header.begin(), header.end());  // the second header: a copy
        for (size_t i = first; i < first + count; ++i) {
            const std::span<const uint8_t> coded =
                encoder.encode(pictures[i].grey.data(), int(job.width), int(job.height), ptrdiff_t(job.width));
            put32(bytes, pictures[i].time);
            put32(bytes, uint32_t(coded.size()));
            const size_t at = bytes.size();
            bytes.resize(at + 4);
            storeLe16(bytes.data() + at, uint16_t(job.width));
            storeLe16(bytes.data() + at + 2, uint16_t(job.height));
            put32(bytes, kExtraBytes);
            put32(bytes, uint32_t(i * 37 % 300) | uint32_t(i * 11 % 200) << 16);
            bytes.insert(bytes.end(), coded.begin(), coded.end());
        }
        if (g + 1 < groups) {
            // Both headers name the next group.
            storeLe32(bytes.data() + groupStart + 12, uint32_t(bytes.size()));
            storeLe32(bytes.data() + groupStart + kGroupHeaderBytes + 12, uint32_t(bytes.size()));
        }
    }
    return true;
}

bool writeFaceFile(const FaceFileJob& job, const std::vector<FacePicture>& pictures, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!faceFileBytes(job, pictures, bytes, error)) return false;
    const std::string temporary = job.path + ".part" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            error = job.path + ": cannot write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), job.path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = job.path + ": cannot rename the finished file into place";
        return false;
    }
    return true;
}

}  // namespace kx
