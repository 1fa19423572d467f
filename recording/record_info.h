// CRecordInfo: the parsed header of one recording file, read without opening it for playing.
// The recording list, the search, quad play and the document read headers through it; the
// reader derives from it. Nothing here talks to the user: failures return false/0 and leave a
// reason in LastError().
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "recording/record_error.h"

namespace kx {

class File;

enum RecordKind : int32_t {
    kKindLegacyKx = 0,   // .kx
    kKindLegacyKxx = 1,  // .kxx
    kKindLegacyKxq = 2,  // .kxq
    kKindClip = 3,       // .kxz
    kKindExtended = 7,   // .ckx
    kKindFourChannel = 8,
};

// The older kinds 0 to 2, whose frames the legacy codec carries.
constexpr bool isLegacyKind(int kind) {
    return kind == kKindLegacyKx || kind == kKindLegacyKxx || kind == kKindLegacyKxq;
}

constexpr uint32_t kHeaderFlagClip = 0x2;
constexpr uint32_t kHeaderFlag352Pixels = 0x4;
constexpr size_t kMaxNameLength = 500;
constexpr uint32_t kFourChannelHeaderBytes = 852;
constexpr int kChannelCount = 4;

class CRecordInfo {
public:
    CRecordInfo() = default;
    virtual ~CRecordInfo() = default;
    CRecordInfo(const CRecordInfo&) = default;
    CRecordInfo& operator=(const CRecordInfo&) = default;

    // Opens `path` for reading, stores its length, parses the header and closes it again.
    // On success the path is stored; on failure the fields parsed so far are kept.
    bool ReadInfo(const std::string& path);
    // Recognises the kind and reads the header from offset 0 of an open file; returns the
    // number of header bytes read, 0 when the header is rejected.
    uint32_t ParseHeader(File& file);
    // Sets the first-group offset to HeaderSize() and writes the header of the record's kind at
    // the file's current position.
    bool WriteHeader(File& file);
    // Bytes of the header as WriteHeader writes it (names capped at 500 bytes).
    uint32_t HeaderSize() const;
    // Stores the code and, when the code is in the table, the coded size it stands for.
    void SetResolutionCode(uint8_t code);
    // Wall time (seconds since 1970) of a tick of the recorder's clock.
    uint32_t WallTimeOfTick(uint32_t tick) const;

    // The group index; an information record has none, the reader answers for its file.
    virtual uint32_t GroupFrameCount(int32_t group) const;
    virtual uint32_t GroupCount() const;
    virtual uint32_t TotalFrameCount() const;
    virtual uint32_t FirstFrameNumber(int32_t group, uint32_t base) const;
    virtual uint32_t FirstFrameNumber(int32_t group) const;

    int32_t Kind() const { return m_kind; }
    uint32_t ExtendedReservedWord() const { return m_extendedReserved; }
    const std::array<uint8_t, 4>& Magic() const { return m_magic; }
    uint32_t Version() const { return m_version; }
    uint32_t FirstGroupOffset() const { return m_firstGroupOffset; }
    uint32_t HeaderFlags() const { return m_headerFlags; }
    uint32_t ReservedWord() const { return m_reserved; }
    uint8_t CameraNumber() const { return m_cameraNumber; }
    uint8_t BoardNumber() const { return m_boardNumber; }
    uint8_t ResolutionCode() const { return m_resolutionCode; }
    uint8_t ReservedByte() const { return m_reservedByte; }
    uint32_t StartTime() const { return m_startTime; }
    uint32_t EndTime() const { return m_endTime; }
    uint32_t FirstFrameTick() const { return m_firstFrameTick; }
    int32_t GmtOffset() const { return m_gmtOffset; }
    // Channel 0 to 3 selects a channel's name of a four-channel file, -1 the file-wide name.
    const std::string& CameraName(int channel = -1) const;
    const std::string& BoardName(int channel = -1) const;
    const std::string& HostName() const { return m_hostName; }
    uint8_t LegacyReservedByte() const { return m_legacyReservedByte; }
    uint8_t LegacyFlagsByte() const { return m_legacyFlagsByte; }
    const std::string& Path() const { return m_path; }
    uint32_t FileLength() const { return m_fileLength; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    const RecordFailure& LastError() const { return m_error; }

    void SetPath(const std::string& path) { m_path = path; }
    // Also replaces the GMT offset with the computer's current one (currentGmtOffsetHours()).
    void SetStartTime(uint32_t seconds);
    void SetEndTime(uint32_t seconds) { m_endTime = seconds; }
    void SetFirstFrameTick(uint32_t tick) { m_firstFrameTick = tick; }
    void SetClipFlag(bool clip);

    // Setters for writers of new recordings (the recorder, tests).
    void SetKind(int32_t kind) { m_kind = kind; }
    void SetVersion(uint32_t version) { m_version = version; }
    void SetHeaderFlags(uint32_t flags);
    void SetCameraNumber(uint8_t number) { m_cameraNumber = number; }
    void SetBoardNumber(uint8_t number) { m_boardNumber = number; }
    void SetGmtOffset(int32_t hours) { m_gmtOffset = hours; }
    void SetCameraName(const std::string& name, int channel = -1);
    void SetBoardName(const std::string& name, int channel = -1);
    void SetHostName(const std::string& name) { m_hostName = name; }

protected:
    bool Fail(RecordError code, std::string text);
    uint32_t Reject(RecordError code, std::string text) {
        Fail(code, std::move(text));
        return 0;
    }
    void ClearError() { m_error = {}; }
    void SetFileLength(uint64_t length);

private:
    uint32_t ParseLegacyHeader(File& file);
    uint32_t ParseClipHeader(File& file);
    uint32_t ParseExtendedHeader(File& file);
    uint32_t ParseFourChannelHeader(File& file);
    bool ReadName(File& file, const char* what, std::string& name, uint32_t& consumed);
    uint32_t ReadPrefixedNames(File& file, uint32_t consumed);

    int32_t m_kind = 0;
    uint32_t m_extendedReserved = 0;
    std::array<uint8_t, 4> m_magic = {0x20, 0x58, 0x58, 0x4B};
    uint32_t m_version = 0;
    uint32_t m_firstGroupOffset = 0;
    uint32_t m_headerFlags = 0;
    uint32_t m_reserved = 0;
    uint8_t m_cameraNumber = 159;
    uint8_t m_boardNumber = 0;
    uint8_t m_resolutionCode = 0;
    uint8_t m_reservedByte = 0;
    uint32_t m_startTime = 0;
    uint32_t m_endTime = 0;
    uint32_t m_firstFrameTick = 0;
    int32_t m_gmtOffset = 0;
    std::string m_cameraName;
    std::string m_boardName;
    std::string m_hostName;
    uint8_t m_legacyReservedByte = 0;
    uint8_t m_legacyFlagsByte = 0;
    std::string m_path;
    uint32_t m_fileLength = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    std::array<std::string, kChannelCount> m_channelCameraNames;
    std::array<std::string, kChannelCount> m_channelBoardNames;
    RecordFailure m_error;
};

// The file-name extension under which a recording of `kind` is recognised again: ".kx",
// ".kxx", ".kxq", ".kxz", ".ckx" for kind 7, and ".ckx" for four-channel recordings (which are
// recognised by their contents whatever the name). Clips must be named with it.
const char* RecordingExtension(int kind);

// The time-zone offset, in whole hours east of GMT, that new start times are stamped with.
// Taken from the computer once; the document sets it when it is created.
int32_t currentGmtOffsetHours();
void setCurrentGmtOffsetHours(int32_t hours);

}  // namespace kx
