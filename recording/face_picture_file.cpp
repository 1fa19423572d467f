// CFacePictureFile: the two face-file layouts, the version 1 group walk and the face decoder.
#include "recording/face_picture_file.h"

#include <algorithm>
#include <cstdint>

#include "codec/native/face_decoder.h"
#include "recording/byte_order.h"

namespace kx {
namespace {

constexpr uint32_t kVersion0FixedBytes = 30;
constexpr uint32_t kVersion1FixedBytes = 42;

}  // namespace

uint32_t CFacePictureFile::GroupPlace::pictureCount() const { return loadLe16(headers.data() + 24); }
uint32_t CFacePictureFile::GroupPlace::nextOffset() const { return loadLe32(headers.data() + 12); }

CFacePictureFile::CFacePictureFile() = default;
CFacePictureFile::~CFacePictureFile() = default;

bool CFacePictureFile::Fail(std::string reason) {
    m_error = std::move(reason);
    return false;
}

bool CFacePictureFile::Open(const std::string& path) {
    Close();
    m_error.clear();
    if (!m_file.open(path, FileMode::Read)) return Fail("cannot open: " + m_file.errorText());
    if (!ReadHeader()) {
        m_file.close();
        return false;
    }
    if (m_version1) {
        if (!m_decoder) m_decoder = std::make_unique<FaceDecoder>();
        if (!ReadGroup(m_firstRecordOffset, m_group)) {
            m_file.close();
            return false;
        }
    }
    m_currentIndex = 0;
    return true;
}

void CFacePictureFile::Close() {
    m_file.close();
    m_currentIndex = 0;
    m_pictureCount = 0;
    m_currentTime = 0;
    m_lastPictureTime = 0;
    m_group = GroupPlace{};
}

void CFacePictureFile::PictureSize(uint32_t& width, uint32_t& height) const {
    width = m_width;
    height = m_height;
}

bool CFacePictureFile::ReadText(std::string& text) {
    uint8_t length[4];
    if (m_file.read(length, 4) != 4) return Fail("the file ends inside the header texts");
    const uint32_t count = loadLe32(length);
    // The texts lie inside the header, before the first picture: that bounds their length.
    const uint64_t headerEnd = std::min<uint64_t>(m_firstRecordOffset, m_file.length());
    if (m_file.position() > headerEnd || count > headerEnd - m_file.position())
        return Fail("a header text of " + std::to_string(count) + " bytes runs past the header");
    text.resize(count);
    if (count > 0 && m_file.read(text.data(), count) != count) return Fail("the file ends inside the header texts");
    return true;
}

bool CFacePictureFile::ReadHeader() {
    m_file.seek(0);
    uint8_t fixed[kVersion1FixedBytes];
    if (m_file.read(fixed, 8) != 8) return Fail("the file ends inside the header");
    if (loadLe32(fixed) != kMagic) return Fail("not a face file (no FACE magic)");
    const uint32_t version = loadLe32(fixed + 4);
    if (version > 1) return Fail("face file version " + std::to_string(version) + " (0 and 1 are known)");
    m_version1 = version == 1;
    const uint32_t fixedBytes = m_version1 ? kVersion1FixedBytes : kVersion0FixedBytes;
    if (m_file.read(fixed + 8, fixedBytes - 8) != fixedBytes - 8) return Fail("the file ends inside the header");
    m_firstRecordOffset = loadLe32(fixed + 8);
    if (m_version1) {
        m_headerWords = {loadLe32(fixed + 12), loadLe32(fixed + 20), loadLe32(fixed + 28)};
        m_lastPictureTime = loadLe32(fixed + 16);
        m_pictureCount = loadLe32(fixed + 24);
        m_width = loadLe32(fixed + 32);
        m_height = loadLe32(fixed + 36);
        m_headerBytes = {fixed[40], fixed[41]};
    } else {
        m_width = loadLe32(fixed + 12);
        m_height = loadLe32(fixed + 16);
        m_headerBytes = {fixed[20], fixed[21]};
        m_headerWords = {loadLe32(fixed + 22), loadLe32(fixed + 26), 0};
    }
    for (std::string& text : m_texts)
        if (!ReadText(text)) return false;
    if (m_firstRecordOffset < fixedBytes || m_firstRecordOffset > m_file.length())
        return Fail("first picture offset " + std::to_string(m_firstRecordOffset) + " outside the file");
    if (m_version1) {
        m_file.seek(m_firstRecordOffset);
        return true;
    }

    if (m_width == 0 || m_height == 0 || m_width > kMaxSide || m_height > kMaxSide)
        return Fail("picture size " + std::to_string(m_width) + " x " + std::to_string(m_height) + " out of range");
    const uint64_t recordBytes = 4 + uint64_t(m_width) * m_height;
    const uint64_t count = (m_file.length() - m_firstRecordOffset) / recordBytes;
    m_pictureCount = uint32_t(std::min<uint64_t>(count, UINT32_MAX));
    if (m_pictureCount > 0) {
        uint8_t time[4];
        m_file.seek(m_firstRecordOffset + (m_pictureCount - 1) * recordBytes);
        if (m_file.read(time, 4) != 4) return Fail("cannot read the last picture's time");
        m_lastPictureTime = loadLe32(time);
    }
    m_file.seek(m_firstRecordOffset);
    return true;
}

bool CFacePictureFile::ReadPicture(std::vector<uint8_t>& pixels, uint32_t& time, uint32_t& width, uint32_t& height,
                                   int32_t index) {
    if (!m_file.isOpen()) return Fail("no face file is open");
    if (!m_version1) return ReadRawPicture(pixels, time, width, height, index < 0 ? m_currentIndex : uint32_t(index));
    if (index >= 0 && uint32_t(index) != m_currentIndex) {
        GroupPlace group;
        if (!SeekCodedPicture(uint32_t(index), group)) return false;
        m_group = group;
        m_currentIndex = uint32_t(index);
    }
    return ReadCodedPicture(pixels, time, width, height);
}

bool CFacePictureFile::ReadRawPicture(std::vector<uint8_t>& pixels, uint32_t& time, uint32_t& width,
                                      uint32_t& height, uint32_t index) {
    if (index >= m_pictureCount)
        return Fail("picture " + std::to_string(index) + " past the last (" + std::to_string(m_pictureCount) + ")");
    const uint64_t recordBytes = 4 + uint64_t(m_width) * m_height;
    m_file.seek(m_firstRecordOffset + index * recordBytes);
    uint8_t stamp[4];
    pixels.resize(size_t(m_width) * m_height);
    if (m_file.read(stamp, 4) != 4 || m_file.read(pixels.data(), pixels.size()) != pixels.size())
        return Fail("cannot read picture " + std::to_string(index));
    m_currentTime = time = loadLe32(stamp);
    m_lastDecoded = true;
    width = m_width;
    height = m_height;
    m_currentIndex = index + 1;
    return true;
}

bool CFacePictureFile::ReadGroup(uint64_t offset, GroupPlace& group) {
    m_file.seek(offset);
    if (m_file.read(group.headers.data(), group.headers.size()) != group.headers.size())
        return Fail("the file ends inside the group headers at " + std::to_string(offset));
    group.offset = offset;
    group.position = offset + group.headers.size();
    group.pictureInGroup = 0;
    return true;
}

bool CFacePictureFile::SeekCodedPicture(uint32_t index, GroupPlace& group) {
    GroupPlace walk;
    if (!ReadGroup(m_firstRecordOffset, walk)) return false;
    walk.picturesBefore = 0;
    // Every group takes at least its two headers, so a chain with more steps than that loops.
    const uint64_t maxSteps = m_file.length() / (2 * kGroupHeaderBytes) + 1;
    for (uint64_t steps = 0; uint64_t(walk.picturesBefore) + walk.pictureCount() <= index; ++steps) {
        if (walk.nextOffset() == 0 || steps >= maxSteps)
            return Fail("picture " + std::to_string(index) + " past the last group");
        const uint32_t before = walk.picturesBefore + walk.pictureCount();
        if (!ReadGroup(walk.nextOffset(), walk)) return false;
        walk.picturesBefore = before;
    }
    uint8_t header[kPictureHeaderBytes];
    for (uint32_t k = walk.picturesBefore; k < index; ++k) {
        m_file.seek(walk.position);
        if (m_file.read(header, sizeof header) != sizeof header)
            return Fail("the file ends inside the header of picture " + std::to_string(k));
        const uint64_t next = walk.position + sizeof header + uint64_t(loadLe32(header + 12)) + loadLe32(header + 4);
        if (next > m_file.length()) return Fail("picture " + std::to_string(k) + " runs past the end of the file");
        walk.position = next;
        ++walk.pictureInGroup;
    }
    group = walk;
    return true;
}

bool CFacePictureFile::ReadCodedPicture(std::vector<uint8_t>& pixels, uint32_t& time, uint32_t& width,
                                        uint32_t& height) {
    GroupPlace group = m_group;
    if (group.pictureInGroup >= group.pictureCount()) {
        // The next group; a group without pictures, or none, ends the file.
        if (group.pictureCount() == 0 || group.nextOffset() == 0) return Fail("no picture after the last one");
        const uint32_t before = group.picturesBefore + group.pictureCount();
        if (!ReadGroup(group.nextOffset(), group)) return false;
        group.picturesBefore = before;
        if (group.pictureCount() == 0) return Fail("no picture after the last one");
    }
    const uint32_t index = group.picturesBefore + group.pictureInGroup;
    uint8_t header[kPictureHeaderBytes];
    m_file.seek(group.position);
    if (m_file.read(header, sizeof header) != sizeof header)
        return Fail("the file ends inside the header of picture " + std::to_string(index));
    const uint32_t stamp = loadLe32(header);
    const uint32_t codedBytes = loadLe32(header + 4);
    const uint64_t start = group.position + sizeof header + loadLe32(header + 12);
    if (codedBytes > kMaxCodedBytes || start + codedBytes > m_file.length())
        return Fail("picture " + std::to_string(index) + " runs past the end of the file");
    m_coded.resize(codedBytes);
    m_file.seek(start);
    if (m_file.read(m_coded.data(), codedBytes) != codedBytes)
        return Fail("cannot read picture " + std::to_string(index));
    group.position = start + codedBytes;
    ++group.pictureInGroup;
    m_group = group;
    m_currentIndex = index + 1;
    m_currentTime = time = stamp;
    m_lastDecoded = m_decoder->decode(m_coded.data(), m_coded.size(), pixels, width, height);
    if (!m_lastDecoded) {
        pixels.clear();
        width = height = 0;
        Fail("picture " + std::to_string(index) + ": " + describe(m_decoder->lastFailure()));
    }
    return true;
}

}  // namespace kx
