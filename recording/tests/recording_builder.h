// Lays out recording files byte by byte from the published tables, independently of the
// header writer, so that reader and writer are both checked against something else.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kx {
class CRecordFrame;
}

namespace kx::test {

class Bytes {
public:
    Bytes& u8(uint32_t v);
    Bytes& u16(uint32_t v);
    Bytes& u32(uint32_t v);
    Bytes& text(const std::string& s);
    Bytes& zeros(size_t n);
    Bytes& field(const std::string& s, size_t width);  // zero-padded fixed-width text
    Bytes& append(const std::vector<uint8_t>& other);
    void put32(size_t at, uint32_t v);
    size_t size() const { return m_data.size(); }
    const std::vector<uint8_t>& data() const { return m_data; }
    std::vector<uint8_t>& data() { return m_data; }

private:
    std::vector<uint8_t> m_data;
};

struct HeaderFields {
    uint32_t version = 0x101;
    uint8_t resolution = 135;  // resolution code, or picture selector for kinds 7 and 8
    uint8_t board = 2;
    uint8_t camera = 5;
    uint8_t reservedByte = 0x5A;
    uint32_t start = 1'700'000'000;
    uint32_t end = 1'700'000'100;
    uint32_t firstTick = 90'000;
    int32_t gmt = -3;
    uint32_t flags = 0x00000104;
    uint32_t reservedWord = 0xCAFEF00D;
    uint32_t extendedReserved = 0x01020304;
    uint32_t firstGroup = 0;  // 0: right after the header
    uint8_t extendedHighByte = 0xEE;  // kind 7: the uninterpreted byte after the reserved byte
    uint32_t fourChannelSpare = 0x11111111;  // kind 8: the uninterpreted words at 32 and 36
    std::string board_name = "Board A";
    std::string camera_name = "Lobby east";
    std::string host = "DVR-07";
    std::array<std::string, 4> channelCameras = {"Cam 1", "Cam 2", "Cam 3", "Cam 4"};
    std::array<std::string, 4> channelBoards = {"B1", "B2", "B3", "B4"};
};

struct FrameContent {
    uint16_t kind = 0;
    uint16_t flags = 0;
    uint32_t tick = 0;
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio;
};

// One four-channel record: the shared tick and each channel's own frame (its tick is ignored).
struct FourChannelFrame {
    uint32_t tick = 0;
    std::array<FrameContent, 4> channels;
};

struct GroupContent {
    uint32_t tick = 0;
    std::vector<FrameContent> frames;            // kinds 0 to 3 and 7
    std::vector<FourChannelFrame> quadFrames;  // kind 8
    uint16_t reserved = 0x7777;
};

std::vector<uint8_t> headerBytes(int kind, const HeaderFields& h);
std::vector<uint8_t> frameBytes(int kind, const FrameContent& f);

// A whole file: header, then the groups chained forward. groupOffsets receives where each
// group header was placed.
std::vector<uint8_t> recordingBytes(int kind, const HeaderFields& h, const std::vector<GroupContent>& groups,
                                    std::vector<uint32_t>* groupOffsets = nullptr);

// A frame with deterministic video (and audio when audioBytes > 0, with flag bit 15).
FrameContent makeFrame(uint32_t tick, uint32_t videoBytes, uint32_t audioBytes, uint8_t seed, uint16_t codec = 0);
// `count` groups of `perGroup` frames, 40 ms apart from `firstTick`.
std::vector<GroupContent> makeGroups(uint32_t count, uint32_t perGroup, uint32_t firstTick, bool audio);

// The groups of a recording as the reader finds them, with its header fields, so that tests
// can damage a recorder-written recording and lay it out again.
std::vector<GroupContent> groupsOfRecording(const std::string& path, HeaderFields& header);

// Checks a frame read back against the frame that was laid out.
void expectFrameMatches(const CRecordFrame& frame, const FrameContent& wanted);

// Writes bytes to `folder/name` and returns the path.
std::string writeFile(const std::string& folder, const std::string& name, const std::vector<uint8_t>& bytes);
// A fresh folder for one test.
std::string makeTestFolder();

// A folder that lives as long as the object, for the files of one test.
class TempFolder {
public:
    TempFolder() : m_path(makeTestFolder()) {}
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        return writeFile(m_path, name, bytes);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace kx::test
