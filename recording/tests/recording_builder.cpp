// Byte-by-byte recording layouts for the tests.
#include "recording/tests/recording_builder.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "recording/record_frame.h"
#include "recording/record_reader.h"

namespace kx::test {

Bytes& Bytes::u8(uint32_t v) {
    m_data.push_back(static_cast<uint8_t>(v));
    return *this;
}
Bytes& Bytes::u16(uint32_t v) { return u8(v).u8(v >> 8); }
Bytes& Bytes::u32(uint32_t v) { return u16(v).u16(v >> 16); }
Bytes& Bytes::text(const std::string& s) {
    m_data.insert(m_data.end(), s.begin(), s.end());
    return *this;
}
Bytes& Bytes::zeros(size_t n) {
    m_data.insert(m_data.end(), n, 0);
    return *this;
}
Bytes& Bytes::field(const std::string& s, size_t width) {
    const size_t n = std::min(s.size(), width);
    m_data.insert(m_data.end(), s.begin(), s.begin() + static_cast<long>(n));
    return zeros(width - n);
}
Bytes& Bytes::append(const std::vector<uint8_t>& other) {
    m_data.insert(m_data.end(), other.begin(), other.end());
    return *this;
}
void Bytes::put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) m_data[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> headerBytes(int kind, const HeaderFields& h) {
    Bytes b;
    auto prefixed = [&](const std::string& s) { b.u32(uint32_t(s.size())).text(s); };
    size_t firstGroupAt = 0;
    switch (kind) {
        case 3:
            b.u8(0x20).text("XXK").u32(h.version);
            firstGroupAt = b.size();
            b.u32(h.firstGroup).u32(h.flags).u32(h.reservedWord);
            b.u8(h.camera).u8(h.board).u8(h.resolution).u8(h.reservedByte);
            b.u32(h.start).u32(h.end).u32(h.firstTick).u32(uint32_t(h.gmt));
            prefixed(h.camera_name);
            prefixed(h.board_name);
            prefixed(h.host);
            break;
        case 7:
            b.u8(0x20).text("RDQ").u32(h.version);
            firstGroupAt = b.size();
            b.u32(h.firstGroup).u32(h.flags).u32(h.reservedWord);
            b.u8(h.camera).u8(h.board).u8(h.resolution).u32(h.extendedReserved);
            b.u8(h.reservedByte).u8(h.extendedHighByte);
            b.u32(h.start).u32(h.end).u32(h.firstTick).u32(uint32_t(h.gmt));
            prefixed(h.camera_name);
            prefixed(h.board_name);
            prefixed(h.host);
            break;
        case 8:
            b.text("4XXK").u32(h.version);
            firstGroupAt = b.size();
            b.u32(h.firstGroup).u32(h.flags).u32(h.reservedWord);
            b.u8(h.camera).u8(h.board).u8(h.resolution).u8(h.reservedByte);
            b.u32(h.start).u32(h.end).u32(h.fourChannelSpare).u32(h.fourChannelSpare);
            b.u32(h.firstTick).u32(uint32_t(h.gmt));
            b.field(h.host, 32);
            for (const std::string& name : h.channelCameras) b.field(name, 64);
            for (const std::string& name : h.channelBoards) b.field(name, 64);
            b.zeros(260);
            break;
        default:
            b.text("KX").u16(h.version).u8(h.resolution).u8(h.board).u8(h.camera).u8(h.reservedByte);
            b.u32(h.start).u32(h.end).u32(h.firstTick);
            b.u16(uint32_t(h.board_name.size())).u16(uint32_t(h.camera_name.size())).u32(h.flags);
            firstGroupAt = b.size();
            b.u32(h.firstGroup).u32(h.reservedWord);
            b.text(h.board_name).text(h.camera_name);
            prefixed(h.host);
            if (h.version >= 0x101) b.u32(uint32_t(h.gmt));
            break;
    }
    if (h.firstGroup == 0) b.put32(firstGroupAt, uint32_t(b.size()));
    return b.data();
}

std::vector<uint8_t> frameBytes(int kind, const FrameContent& f) {
    Bytes b;
    const bool audioFlag = (f.flags & 0x8000) != 0;
    if (kind == 7) {
        b.u32(uint32_t(f.kind & 0xFF) | 0xAB00u | uint32_t(f.flags) << 16);
        b.u32(f.tick).u32(uint32_t(f.video.size())).u32(uint32_t(f.audio.size())).u32(0x12345678);
        b.append(f.video).append(f.audio);
    } else {
        b.u16(f.kind).u16(f.flags).u32(f.tick).u32(uint32_t(f.video.size()));
        if (audioFlag) b.u32(uint32_t(f.audio.size()));
        b.append(f.video);
        if (audioFlag) b.append(f.audio);
    }
    return b.data();
}

static std::vector<uint8_t> fourChannelFrameBytes(const FourChannelFrame& f) {
    Bytes b;
    b.u32(0x5A5AA5A5).u32(f.tick).u32(0xDEADBEEF).u32(0xDEADBEEF);
    for (const FrameContent& c : f.channels) b.u16(c.flags).u8(c.kind).u8(0x99);
    for (const FrameContent& c : f.channels) b.u32(uint32_t(c.video.size()));
    for (const FrameContent& c : f.channels) b.u32(uint32_t(c.audio.size()));
    for (const FrameContent& c : f.channels) b.append(c.video).append(c.audio);
    return b.data();
}

std::vector<uint8_t> recordingBytes(int kind, const HeaderFields& h, const std::vector<GroupContent>& groups,
                                    std::vector<uint32_t>* groupOffsets) {
    Bytes b;
    b.append(headerBytes(kind, h));
    if (h.firstGroup > b.size()) b.zeros(h.firstGroup - b.size());
    uint32_t previous = 0xFFFFFFFF;
    std::vector<size_t> nextFields;
    for (const GroupContent& g : groups) {
        const auto offset = uint32_t(b.size());
        if (groupOffsets) groupOffsets->push_back(offset);
        if (!nextFields.empty()) b.put32(nextFields.back(), offset);
        if (kind == 8) {
            b.u32(0x55AAAA55).u32(offset).u32(previous);
            nextFields.push_back(b.size());
            b.u32(0xFFFFFFFF).u32(uint32_t(g.quadFrames.size())).u32(g.tick).u32(0x31313131).u32(0x32323232);
            for (const FourChannelFrame& f : g.quadFrames) b.append(fourChannelFrameBytes(f));
        } else {
            b.u32(previous);
            nextFields.push_back(b.size());
            b.u32(0xFFFFFFFF).u16(uint32_t(g.frames.size()));
            if (kind != 7) b.u16(g.reserved);
            b.u32(g.tick);
            for (const FrameContent& f : g.frames) b.append(frameBytes(kind, f));
        }
        previous = offset;
    }
    return b.data();
}

FrameContent makeFrame(uint32_t tick, uint32_t videoBytes, uint32_t audioBytes, uint8_t seed, uint16_t codec) {
    FrameContent f;
    f.tick = tick;
    f.kind = seed % 3 == 0 ? 0 : 1;
    f.flags = static_cast<uint16_t>(codec << 4 | (audioBytes ? 0x8000 : 0));
    for (uint32_t i = 0; i < videoBytes; ++i) f.video.push_back(static_cast<uint8_t>(seed + i * 31));
    for (uint32_t i = 0; i < audioBytes; ++i) f.audio.push_back(static_cast<uint8_t>(seed * 7 + i));
    return f;
}

std::vector<GroupContent> makeGroups(uint32_t count, uint32_t perGroup, uint32_t firstTick, bool audio) {
    std::vector<GroupContent> groups(count);
    uint32_t tick = firstTick;
    uint8_t seed = 1;
    for (GroupContent& g : groups) {
        g.tick = tick;
        for (uint32_t i = 0; i < perGroup; ++i, tick += 40, ++seed)
            g.frames.push_back(makeFrame(tick, 20 + seed % 50, audio ? 24 : 0, seed));
    }
    return groups;
}

void expectFrameMatches(const CRecordFrame& frame, const FrameContent& wanted) {
    EXPECT_EQ(frame.Kind(), wanted.kind);
    EXPECT_EQ(frame.Flags(), wanted.flags);
    EXPECT_EQ(frame.Tick(), wanted.tick);
    ASSERT_EQ(frame.VideoLength(), wanted.video.size());
    EXPECT_TRUE(std::equal(wanted.video.begin(), wanted.video.end(), frame.VideoBuffer()));
    ASSERT_EQ(frame.AudioLength(), wanted.audio.size());
    EXPECT_TRUE(std::equal(wanted.audio.begin(), wanted.audio.end(), frame.AudioBuffer()));
}

std::string writeFile(const std::string& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = (std::filesystem::path(folder) / name).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string makeTestFolder() {
    static std::atomic<int> counter{0};
    const auto folder = std::filesystem::temp_directory_path() /
                        ("kx_recording_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder.string();
}

TempFolder::~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::vector<GroupContent> groupsOfRecording(const std::string& path, HeaderFields& header) {
    CRecordInfo info;
    info.SetPath(path);
    CRecordReader reader;
    EXPECT_TRUE(reader.Open(&info, kReaderModeRead, -1)) << path;
    header.version = info.Version();
    header.resolution = uint8_t(info.ResolutionCode());
    header.flags = info.HeaderFlags();
    header.firstTick = info.FirstFrameTick();
    header.start = info.StartTime();
    header.end = info.EndTime();
    header.gmt = info.GmtOffset();
    std::vector<GroupContent> groups;
    CRecordFrame frame(info.Width(), info.Height(), 65536);
    while (reader.ReadFrame(frame, -1, 0)) {
        while (frame.Group() >= groups.size()) {
            groups.emplace_back();
            groups.back().tick = reader.Groups()[groups.size() - 1].groupTick;
        }
        FrameContent content;
        content.kind = frame.Kind();
        content.flags = frame.Flags();
        content.tick = frame.Tick();
        content.video.assign(frame.VideoBuffer(), frame.VideoBuffer() + frame.VideoLength());
        if (frame.HasAudio()) content.audio.assign(frame.AudioBuffer(), frame.AudioBuffer() + frame.AudioLength());
        groups.back().frames.push_back(content);
    }
    return groups;
}

}  // namespace kx::test
