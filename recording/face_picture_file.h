// CFacePictureFile: reads the face files ("FACE" magic, versions 0 and 1) in which recorders keep
// small grey pictures of faces with the time each was taken. The face window opens one, reads
// its names and hands out the pictures by index or one after the other. Version 0 stores raw
// grey pictures of one size; version 1 stores coded pictures (FaceDecoder) in a chain of groups.
// Used by one thread at a time; failures return false with a reason in LastError().
//
// Version 1 groups: at each group's offset stand two 28-byte group headers, the first holding
// the offset of the next group's headers at 12 (0 for none) and the group's picture count at
// 24 (16 bits); the other bytes are carried. The group's pictures follow the two headers, each
// a 16-byte picture header (time, coded length L, width and height in 16 bits, extra length E),
// E extra bytes and L coded bytes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace kx {

class FaceDecoder;

class CFacePictureFile {
public:
    static constexpr uint32_t kMagic = 0x45434146;  // "FACE"
    static constexpr uint32_t kGroupHeaderBytes = 28;
    static constexpr uint32_t kPictureHeaderBytes = 16;
    // Version 0 pictures are at most this wide and high; version 1 pictures carry 10-bit sizes.
    static constexpr uint32_t kMaxSide = 4096;
    // Coded pictures longer than this are damage (a 1023 x 1023 picture codes far smaller).
    static constexpr uint32_t kMaxCodedBytes = 8u << 20;

    CFacePictureFile();
    ~CFacePictureFile();
    CFacePictureFile(const CFacePictureFile&) = delete;
    CFacePictureFile& operator=(const CFacePictureFile&) = delete;

    // Opens the file and reads its header (and, for version 1, the first group's headers).
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_file.isOpen(); }

    // Reads picture `index`, or with -1 the picture after the last one read, into `pixels`:
    // width x height grey bytes, top row first. Reading past the last picture fails and changes
    // nothing. A picture whose bytes are read but do not decode is still passed over: true with
    // no pixels and a size of 0 x 0, its time, and LastPictureDecoded() false (LastError()
    // says why), so a caller reading in turn goes on with the next.
    bool ReadPicture(std::vector<uint8_t>& pixels, uint32_t& time, uint32_t& width, uint32_t& height,
                     int32_t index = -1);
    bool LastPictureDecoded() const { return m_lastDecoded; }
    // The picture size of the header.
    void PictureSize(uint32_t& width, uint32_t& height) const;

    uint32_t Version() const { return m_version1 ? 1 : 0; }
    // Version 0: pictures counted from the file length; version 1: the header's count.
    uint32_t PictureCount() const { return m_pictureCount; }
    // Index of the picture the next sequential read returns.
    uint32_t CurrentIndex() const { return m_currentIndex; }
    uint32_t CurrentTime() const { return m_currentTime; }
    uint32_t LastPictureTime() const { return m_lastPictureTime; }
    uint32_t FirstRecordOffset() const { return m_firstRecordOffset; }
    // The face window shows the header bytes as the board and camera numbers (from 0) and the
    // three texts as the host, board and camera names.
    uint8_t BoardNumber() const { return m_headerBytes[0]; }
    uint8_t CameraNumber() const { return m_headerBytes[1]; }
    const std::string& HostName() const { return m_texts[0]; }
    const std::string& BoardName() const { return m_texts[1]; }
    const std::string& CameraName() const { return m_texts[2]; }
    // The header words, carried: version 0 has the first two, version 1 all three.
    const std::array<uint32_t, 3>& HeaderWords() const { return m_headerWords; }
    const std::string& LastError() const { return m_error; }

private:
    struct GroupPlace {
        std::array<uint8_t, 2 * kGroupHeaderBytes> headers{};
        uint64_t offset = 0;            // of the group's headers
        uint64_t position = 0;          // of the group's next picture
        uint32_t picturesBefore = 0;    // in the groups before this one
        uint32_t pictureInGroup = 0;    // index of the next picture within the group
        uint32_t pictureCount() const;  // of the group
        uint32_t nextOffset() const;
    };

    bool ReadHeader();
    bool ReadText(std::string& text);
    bool ReadGroup(uint64_t offset, GroupPlace& group);
    bool ReadRawPicture(std::vector<uint8_t>& pixels, uint32_t& time, uint32_t& width, uint32_t& height,
                        uint32_t index);
    bool SeekCodedPicture(uint32_t index, GroupPlace& group);
    bool ReadCodedPicture(std::vector<uint8_t>& pixels, uint32_t& time, uint32_t& width, uint32_t& height);
    bool Fail(std::string reason);

    uint32_t m_firstRecordOffset = 0;
    std::array<uint8_t, 2> m_headerBytes{};
    uint32_t m_width = 112;
    uint32_t m_height = 144;
    std::array<std::string, 3> m_texts;
    std::array<uint32_t, 3> m_headerWords{};
    uint32_t m_currentTime = 0;
    uint32_t m_pictureCount = 0;
    uint32_t m_currentIndex = 0;
    bool m_lastDecoded = false;
    uint32_t m_lastPictureTime = 0;
    File m_file;
    bool m_version1 = false;

    GroupPlace m_group;                   // version 1: where the next sequential read starts
    std::vector<uint8_t> m_coded;         // version 1: the coded bytes of one picture
    std::unique_ptr<FaceDecoder> m_decoder;
    std::string m_error;
};

}  // namespace kx
