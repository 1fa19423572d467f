// CRecordInfo: fields, ReadInfo, times and the setters. Header layouts are in record_header.cpp.
#include "recording/record_info.h"

#include <atomic>
#include <limits>

#include "platform/file.h"
#include "platform/system_clock.h"
#include "recording/resolution.h"

namespace kx {
namespace {

// Sentinel for "not yet taken from the computer"; real offsets lie within -24..24.
constexpr int32_t kOffsetUnset = std::numeric_limits<int32_t>::min();
std::atomic<int32_t> g_gmtOffsetHours{kOffsetUnset};

const std::string& channelName(const std::array<std::string, kChannelCount>& names,
                               const std::string& fileWide, int channel) {
    if (channel >= 0 && channel < kChannelCount) return names[static_cast<size_t>(channel)];
    return fileWide;
}

}  // namespace

int32_t currentGmtOffsetHours() {
    int32_t hours = g_gmtOffsetHours.load(std::memory_order_relaxed);
    if (hours == kOffsetUnset) {
        hours = systemGmtOffsetHours();
        g_gmtOffsetHours.store(hours, std::memory_order_relaxed);
    }
    return hours;
}

void setCurrentGmtOffsetHours(int32_t hours) {
    g_gmtOffsetHours.store(hours, std::memory_order_relaxed);
}

const char* RecordingExtension(int kind) {
    switch (kind) {
        case kKindLegacyKxx: return ".kxx";
        case kKindLegacyKxq: return ".kxq";
        case kKindClip: return ".kxz";
        case kKindExtended:
        case kKindFourChannel: return ".ckx";
        default: return ".kx";
    }
}

bool CRecordInfo::ReadInfo(const std::string& path) {
    File file;
    if (!file.open(path, FileMode::Read)) return Fail(RecordError::CannotOpen, file.errorText());
    SetFileLength(file.length());
    file.seek(0);
    if (ParseHeader(file) == 0) return false;
    m_path = path;
    return true;
}

void CRecordInfo::SetResolutionCode(uint8_t code) {
    m_resolutionCode = code;
    if (const std::optional<PictureSize> size = CodedSizeOfCode(code)) {
        m_width = size->width;
        m_height = size->height;
    }
    if (m_kind == kKindLegacyKx && code == 131) {
        m_width = 640;
        m_height = 240;
    }
}

uint32_t CRecordInfo::WallTimeOfTick(uint32_t tick) const {
    return m_startTime + (tick - m_firstFrameTick) / 1000u;
}

uint32_t CRecordInfo::GroupFrameCount(int32_t) const { return 0; }
uint32_t CRecordInfo::GroupCount() const { return 0; }
uint32_t CRecordInfo::TotalFrameCount() const { return 0; }
uint32_t CRecordInfo::FirstFrameNumber(int32_t, uint32_t) const { return 0; }
uint32_t CRecordInfo::FirstFrameNumber(int32_t) const { return 0; }

const std::string& CRecordInfo::CameraName(int channel) const {
    return channelName(m_channelCameraNames, m_cameraName, channel);
}

const std::string& CRecordInfo::BoardName(int channel) const {
    return channelName(m_channelBoardNames, m_boardName, channel);
}

void CRecordInfo::SetStartTime(uint32_t seconds) {
    m_startTime = seconds;
    m_gmtOffset = currentGmtOffsetHours();
}

// The legacy header stores the flags' low byte separately and writes it back over the flags, so
// the two are kept in step here; otherwise a clip of a legacy kind would lose its clip flag.
void CRecordInfo::SetHeaderFlags(uint32_t flags) {
    m_headerFlags = flags;
    m_legacyFlagsByte = static_cast<uint8_t>(flags);
}

void CRecordInfo::SetClipFlag(bool clip) {
    SetHeaderFlags(clip ? (m_headerFlags | kHeaderFlagClip) : (m_headerFlags & ~kHeaderFlagClip));
}

void CRecordInfo::SetCameraName(const std::string& name, int channel) {
    if (channel >= 0 && channel < kChannelCount)
        m_channelCameraNames[static_cast<size_t>(channel)] = name;
    else
        m_cameraName = name;
}

void CRecordInfo::SetBoardName(const std::string& name, int channel) {
    if (channel >= 0 && channel < kChannelCount)
        m_channelBoardNames[static_cast<size_t>(channel)] = name;
    else
        m_boardName = name;
}

bool CRecordInfo::Fail(RecordError code, std::string text) {
    m_error = {code, std::move(text)};
    return false;
}

void CRecordInfo::SetFileLength(uint64_t length) {
    m_fileLength = static_cast<uint32_t>(std::min<uint64_t>(length, 0xFFFFFFFFu));
}

}  // namespace kx
