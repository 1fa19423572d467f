// Recognising a recording's kind and reading and writing the header layouts of every kind.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/file.h"
#include "recording/byte_order.h"
#include "recording/record_info.h"
#include "recording/resolution.h"

namespace kx {
namespace {

constexpr uint8_t kFourChannelMagic[4] = {0x34, 0x58, 0x58, 0x4B};  // "4XXK"
constexpr uint8_t kClipMagic[4] = {0x20, 0x58, 0x58, 0x4B};         // " XXK"
constexpr uint32_t kExtendedMagic = 0x51445220;                     // " RDQ" read as one word
constexpr uint32_t kLegacyFixedBytes = 36;
constexpr uint32_t kClipFixedBytes = 40;
constexpr uint32_t kExtendedFixedBytes = 45;
constexpr uint32_t kMaxLegacyVersion = 0x1000;
constexpr uint32_t kLegacyGmtVersion = 0x101;
constexpr size_t kFourChannelHostBytes = 32;
constexpr size_t kFourChannelNameBytes = 64;

bool endsWithIgnoringCase(const std::string& text, const char* suffix) {
    const size_t n = std::char_traits<char>::length(suffix);
    if (text.size() < n) return false;
    return std::equal(text.end() - static_cast<long>(n), text.end(), suffix, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

std::string fixedFieldText(const uint8_t* field, size_t width) {
    const auto* end = std::find(field, field + width, uint8_t{0});
    return std::string(reinterpret_cast<const char*>(field), static_cast<size_t>(end - field));
}

void putFixedFieldText(uint8_t* field, size_t width, const std::string& text) {
    std::copy_n(text.begin(), std::min(width, text.size()), field);
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

uint32_t cappedLength(const std::string& text) {
    return static_cast<uint32_t>(std::min(text.size(), kMaxNameLength));
}

// Appends little-endian fields and capped length-prefixed names to a header being written.
class HeaderBytes {
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u16(uint16_t v) { m_bytes.insert(m_bytes.end(), {uint8_t(v), uint8_t(v >> 8)}); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void text(const std::string& s) { m_bytes.insert(m_bytes.end(), s.begin(), s.begin() + cappedLength(s)); }
    void prefixedText(const std::string& s) {
        u32(cappedLength(s));
        text(s);
    }
    bool writeTo(File& file) const { return file.write(m_bytes.data(), m_bytes.size()) == m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
};

// Picture selector written for a resolution code: the inverse of ResolutionCodeOfSelector, so
// that every code a kind can hold reads back unchanged.
uint8_t selectorOfCode(int kind, uint8_t code) {
    switch (code) {
        case 135: return 0;
        case 7: return 1;
        case 131: return 2;
        case 3: return 3;
        case 144: return kind == kKindFourChannel ? 128 : 0;
        case 145: return kind == kKindFourChannel ? 129 : 0;
        default: return kind == kKindFourChannel ? 1 : 0;
    }
}

}  // namespace

bool CRecordInfo::ReadName(File& file, const char* what, std::string& name, uint32_t& consumed) {
    uint8_t lengthBytes[4];
    if (file.read(lengthBytes, 4) != 4)
        return Fail(RecordError::Truncated, std::string("file ends before the ") + what + " length");
    const uint32_t length = loadLe32(lengthBytes);
    if (length > kMaxNameLength)
        return Fail(RecordError::NameTooLong,
                    std::string(what) + " length " + std::to_string(length) + " exceeds 500");
    std::string text(length, '\0');
    if (file.read(text.data(), length) != length)
        return Fail(RecordError::Truncated, std::string("file ends inside the ") + what);
    name = std::move(text);
    consumed += 4 + length;
    return true;
}

// The camera, board and host names of the clip and extended headers, each a 32-bit length and
// its bytes; returns the header size so far, 0 on failure.
uint32_t CRecordInfo::ReadPrefixedNames(File& file, uint32_t consumed) {
    if (!ReadName(file, "camera name", m_cameraName, consumed) ||
        !ReadName(file, "board name", m_boardName, consumed) || !ReadName(file, "host name", m_hostName, consumed))
        return 0;
    return consumed;
}

uint32_t CRecordInfo::ParseHeader(File& file) {
    ClearError();
    file.seek(0);
    uint8_t first[4] = {0, 0, 0, 0};
    file.read(first, 4);
    std::copy_n(first, 4, m_magic.begin());

    const std::string& name = file.path();
    if (std::equal(first, first + 4, kFourChannelMagic))
        m_kind = kKindFourChannel;
    else if (endsWithIgnoringCase(name, "kxx"))
        m_kind = kKindLegacyKxx;
    else if (endsWithIgnoringCase(name, "kxq"))
        m_kind = kKindLegacyKxq;
    else if (endsWithIgnoringCase(name, "kxz"))
        m_kind = kKindClip;
    else if (endsWithIgnoringCase(name, "ckx"))
        m_kind = kKindExtended;
    else if (endsWithIgnoringCase(name, "kx"))
        m_kind = kKindLegacyKx;

    file.seek(0);
    switch (m_kind) {
        case kKindClip: return ParseClipHeader(file);
        case kKindExtended: return ParseExtendedHeader(file);
        case kKindFourChannel: return ParseFourChannelHeader(file);
        default: return ParseLegacyHeader(file);
    }
}

uint32_t CRecordInfo::ParseLegacyHeader(File& file) {
    uint8_t h[kLegacyFixedBytes];
    const size_t got = file.read(h, sizeof h);
    if (got < 2 || h[0] != 'K' || h[1] != 'X')
        return Reject(RecordError::BadMagic, "header does not begin with \"KX\"");
    if (got < sizeof h) return Reject(RecordError::Truncated, "file ends inside the header");
    m_version = loadLe16(h + 2);
    if (m_version > kMaxLegacyVersion)
        return Reject(RecordError::BadVersion, "version " + hex32(m_version) + " exceeds 0x1000");
    m_boardNumber = h[5];
    m_cameraNumber = h[6];
    m_legacyReservedByte = h[7];
    m_startTime = loadLe32(h + 8);
    m_endTime = loadLe32(h + 12);
    m_firstFrameTick = loadLe32(h + 16);
    m_headerFlags = loadLe32(h + 24);
    m_legacyFlagsByte = h[24];
    m_firstGroupOffset = loadLe32(h + 28);
    m_reserved = loadLe32(h + 32);
    SetResolutionCode(h[4]);

    const uint32_t boardLength = loadLe16(h + 20);
    const uint32_t cameraLength = loadLe16(h + 22);
    if (boardLength > kMaxNameLength)
        return Reject(RecordError::NameTooLong, "board name length " + std::to_string(boardLength) + " exceeds 500");
    if (cameraLength > kMaxNameLength)
        return Reject(RecordError::NameTooLong, "camera name length " + std::to_string(cameraLength) + " exceeds 500");
    std::string board(boardLength, '\0');
    std::string camera(cameraLength, '\0');
    if (file.read(board.data(), boardLength) != boardLength || file.read(camera.data(), cameraLength) != cameraLength)
        return Reject(RecordError::Truncated, "file ends inside the names");
    m_boardName = std::move(board);
    m_cameraName = std::move(camera);

    uint32_t consumed = kLegacyFixedBytes + boardLength + cameraLength;
    if (!ReadName(file, "host name", m_hostName, consumed)) return 0;
    if (m_version >= kLegacyGmtVersion) {
        uint8_t offset[4];
        if (file.read(offset, 4) != 4) return Reject(RecordError::Truncated, "file ends before the GMT offset");
        m_gmtOffset = static_cast<int32_t>(loadLe32(offset));
        consumed += 4;
    }
    return consumed;
}

uint32_t CRecordInfo::ParseClipHeader(File& file) {
    uint8_t h[kClipFixedBytes];
    const size_t got = file.read(h, sizeof h);
    if (got < 4 || !std::equal(h, h + 4, kClipMagic))
        return Reject(RecordError::BadMagic, "clip header does not begin with \" XXK\"");
    if (got < sizeof h) return Reject(RecordError::Truncated, "file ends inside the header");
    m_version = loadLe32(h + 4);
    m_firstGroupOffset = loadLe32(h + 8);
    m_headerFlags = loadLe32(h + 12);
    m_reserved = loadLe32(h + 16);
    m_cameraNumber = h[20];
    m_boardNumber = h[21];
    m_reservedByte = h[23];
    m_startTime = loadLe32(h + 24);
    m_endTime = loadLe32(h + 28);
    m_firstFrameTick = loadLe32(h + 32);
    m_gmtOffset = static_cast<int32_t>(loadLe32(h + 36));
    SetResolutionCode(h[22]);
    return ReadPrefixedNames(file, kClipFixedBytes);
}

uint32_t CRecordInfo::ParseExtendedHeader(File& file) {
    uint8_t h[kExtendedFixedBytes];
    const size_t got = file.read(h, sizeof h);
    if (got < 4 || loadLe32(h) != kExtendedMagic)
        return Reject(RecordError::BadMagic, "extended header does not begin with \" RDQ\"");
    if (got < sizeof h) return Reject(RecordError::Truncated, "file ends inside the header");
    m_version = loadLe32(h + 4);
    m_firstGroupOffset = loadLe32(h + 8);
    m_headerFlags = loadLe32(h + 12);
    m_reserved = loadLe32(h + 16);
    m_cameraNumber = h[20];
    m_boardNumber = h[21];
    m_extendedReserved = loadLe32(h + 23);
    m_reservedByte = h[27];
    m_startTime = loadLe32(h + 29);
    m_endTime = loadLe32(h + 33);
    m_firstFrameTick = loadLe32(h + 37);
    m_gmtOffset = static_cast<int32_t>(loadLe32(h + 41));
    SetResolutionCode(ResolutionCodeOfSelector(kKindExtended, h[22]));
    return ReadPrefixedNames(file, kExtendedFixedBytes);
}

uint32_t CRecordInfo::ParseFourChannelHeader(File& file) {
    std::vector<uint8_t> h(kFourChannelHeaderBytes);
    const size_t got = file.read(h.data(), h.size());
    if (got < 4 || !std::equal(h.begin(), h.begin() + 4, kFourChannelMagic))
        return Reject(RecordError::BadMagic, "four-channel header does not begin with \"4XXK\"");
    if (got < h.size())
        return Reject(RecordError::Truncated,
                      "four-channel header is " + std::to_string(got) + " bytes, expected 852");
    m_version = loadLe32(&h[4]);
    m_firstGroupOffset = loadLe32(&h[8]);
    m_headerFlags = loadLe32(&h[12]);
    m_reserved = loadLe32(&h[16]);
    m_cameraNumber = h[20];
    m_boardNumber = h[21];
    m_reservedByte = h[23];
    m_startTime = loadLe32(&h[24]);
    m_endTime = loadLe32(&h[28]);
    m_firstFrameTick = loadLe32(&h[40]);
    m_gmtOffset = static_cast<int32_t>(loadLe32(&h[44]));
    m_hostName = fixedFieldText(&h[48], kFourChannelHostBytes);
    for (size_t c = 0; c < kChannelCount; ++c) {
        m_channelCameraNames[c] = fixedFieldText(&h[80 + 64 * c], kFourChannelNameBytes);
        m_channelBoardNames[c] = fixedFieldText(&h[336 + 64 * c], kFourChannelNameBytes);
    }
    SetResolutionCode(ResolutionCodeOfSelector(kKindFourChannel, h[22]));
    return kFourChannelHeaderBytes;
}

uint32_t CRecordInfo::HeaderSize() const {
    const uint32_t names = cappedLength(m_cameraName) + cappedLength(m_boardName) + cappedLength(m_hostName);
    switch (m_kind) {
        case kKindExtended: return 57 + names;
        case kKindClip: return 52 + names;
        case kKindFourChannel: return kFourChannelHeaderBytes;
        default: return 40 + names + (m_version >= kLegacyGmtVersion ? 4 : 0);
    }
}

bool CRecordInfo::WriteHeader(File& file) {
    m_firstGroupOffset = HeaderSize();
    HeaderBytes out;
    // The end of the clip and extended layouts.
    const auto writeTimesAndNames = [&] {
        out.u32(m_startTime);
        out.u32(m_endTime);
        out.u32(m_firstFrameTick);
        out.u32(static_cast<uint32_t>(m_gmtOffset));
        out.prefixedText(m_cameraName);
        out.prefixedText(m_boardName);
        out.prefixedText(m_hostName);
    };
    switch (m_kind) {
        case kKindExtended:
            out.u32(kExtendedMagic);
            out.u32(m_version);
            out.u32(m_firstGroupOffset);
            out.u32(m_headerFlags);
            out.u32(m_reserved);
            out.u8(m_cameraNumber);
            out.u8(m_boardNumber);
            out.u8(selectorOfCode(m_kind, m_resolutionCode));
            out.u32(m_extendedReserved);
            out.u16(m_reservedByte);
            writeTimesAndNames();
            break;
        case kKindClip:
            for (uint8_t b : kClipMagic) out.u8(b);
            out.u32(m_version);
            out.u32(m_firstGroupOffset);
            out.u32(m_headerFlags);
            out.u32(m_reserved);
            out.u8(m_cameraNumber);
            out.u8(m_boardNumber);
            out.u8(m_resolutionCode);
            out.u8(m_reservedByte);
            writeTimesAndNames();
            break;
        case kKindFourChannel: {
            // The four-channel layout: a legacy header here would not match the 852-byte
            // first-group offset. Bytes the player does not interpret are written as zero.
            std::vector<uint8_t> h(kFourChannelHeaderBytes, 0);
            std::copy_n(kFourChannelMagic, 4, h.begin());
            storeLe32(&h[4], m_version);
            storeLe32(&h[8], m_firstGroupOffset);
            storeLe32(&h[12], m_headerFlags);
            storeLe32(&h[16], m_reserved);
            h[20] = m_cameraNumber;
            h[21] = m_boardNumber;
            h[22] = selectorOfCode(m_kind, m_resolutionCode);
            h[23] = m_reservedByte;
            storeLe32(&h[24], m_startTime);
            storeLe32(&h[28], m_endTime);
            storeLe32(&h[40], m_firstFrameTick);
            storeLe32(&h[44], static_cast<uint32_t>(m_gmtOffset));
            putFixedFieldText(&h[48], kFourChannelHostBytes, m_hostName);
            for (size_t c = 0; c < kChannelCount; ++c) {
                putFixedFieldText(&h[80 + 64 * c], kFourChannelNameBytes, m_channelCameraNames[c]);
                putFixedFieldText(&h[336 + 64 * c], kFourChannelNameBytes, m_channelBoardNames[c]);
            }
            return file.write(h.data(), h.size()) == h.size();
        }
        default:
            out.u8('K');
            out.u8('X');
            out.u16(static_cast<uint16_t>(m_version));
            out.u8(m_resolutionCode);
            out.u8(m_boardNumber);
            out.u8(m_cameraNumber);
            out.u8(m_legacyReservedByte);
            out.u32(m_startTime);
            out.u32(m_endTime);
            out.u32(m_firstFrameTick);
            out.u16(static_cast<uint16_t>(cappedLength(m_boardName)));
            out.u16(static_cast<uint16_t>(cappedLength(m_cameraName)));
            out.u32((m_headerFlags & ~0xFFu) | m_legacyFlagsByte);
            out.u32(m_firstGroupOffset);
            out.u32(m_reserved);
            out.text(m_boardName);
            out.text(m_cameraName);
            out.prefixedText(m_hostName);
            if (m_version >= kLegacyGmtVersion) out.u32(static_cast<uint32_t>(m_gmtOffset));
            break;
    }
    return out.writeTo(file);
}

}  // namespace kx
