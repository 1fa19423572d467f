// CRecordReader::SaveClip: copies a stretch of the open recording into a new recording file.
// Whole groups are copied byte for byte with their headers rewritten into a new chain; the last
// group is copied frame by frame up to the end mark and followed by an empty closing group.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "recording/byte_order.h"
#include "recording/record_reader.h"

namespace kx {
namespace {

constexpr size_t kCopyPieceBytes = 1024;
constexpr int kCopyFrameWidth = 640;
constexpr int kCopyFrameHeight = 240;
constexpr uint32_t kCopyFrameAudioBytes = 65536;

// Copies `count` bytes from the source's position to the clip's; false when the source ends.
bool copyBytes(File& from, File& to, uint64_t count) {
    std::array<uint8_t, kCopyPieceBytes> piece;
    while (count > 0) {
        const size_t want = size_t(std::min<uint64_t>(count, piece.size()));
        const size_t got = from.read(piece.data(), want);
        to.write(piece.data(), got);
        if (got < want) return false;
        count -= got;
    }
    return true;
}

// The video and audio lengths of the frame record at the file's position, which is kept.
std::pair<uint32_t, uint32_t> peekPayloadLengths(File& file, FrameLayout layout) {
    const uint64_t at = file.position();
    uint8_t h[kLongRecordBytes] = {};
    file.read(h, layout == FrameLayout::Long ? kLongRecordBytes : 16);
    file.seek(at);
    if (layout == FrameLayout::Long) return {loadLe32(h + 8), loadLe32(h + 12)};
    const bool audio = loadLe16(h + 2) & kFrameFlagAudio;
    return {loadLe32(h + 8), audio ? loadLe32(h + 12) : 0};
}

}  // namespace

bool CRecordReader::SaveClip(const std::string& path, int32_t firstGroup, int32_t lastGroup, int32_t lastPosition) {
    if (path.empty()) return Fail(RecordError::BadArgument, "no clip name");
    if (!m_file) return Fail(RecordError::NotOpen, "no recording is open");
    const auto groups = uint32_t(m_groups.size());
    if (firstGroup < 0 || uint32_t(firstGroup) >= groups)
        return Fail(RecordError::PastEnd, "clip start group " + std::to_string(firstGroup) + " is not in the recording");
    if (lastGroup < 0 || lastPosition < 0) return Fail(RecordError::BadArgument, "negative clip end");
    uint32_t g1 = uint32_t(lastGroup);
    uint32_t p1 = uint32_t(lastPosition);
    if (g1 >= groups) {
        g1 = groups - 1;
        p1 = 0;
    }
    const auto g0 = uint32_t(firstGroup);
    if (g1 < g0) return Fail(RecordError::BadArgument, "the clip ends before it starts");
    if (g1 == g0 && p1 == 0) return Fail(RecordError::NothingToSave, "the clip holds no frame");

    const std::string temporary = path + ".part" + std::to_string(::getpid());
    File clip;
    if (!clip.open(temporary, FileMode::CreateWrite))
        return Fail(RecordError::CannotWrite, temporary + ": " + clip.errorText());

    const uint64_t resume = m_file->position();
    const uint32_t clipStart = StartTime() + (m_groups[g0].groupTick - FirstFrameTick()) / 1000u;
    bool written = Kind() == kKindFourChannel ? WriteFourChannelClip(clip, g0, g1, p1, clipStart)
                                              : WriteClip(clip, g0, g1, p1, clipStart);
    m_file->seek(resume);
    if (written && !clip.errorText().empty()) written = Fail(RecordError::CannotWrite, clip.errorText());
    clip.close();
    if (written && std::rename(temporary.c_str(), path.c_str()) != 0)
        written = Fail(RecordError::CannotWrite, path + ": cannot rename the finished clip into place");
    if (!written) std::remove(temporary.c_str());
    return written;
}

bool CRecordReader::WriteClip(File& clip, uint32_t g0, uint32_t g1, uint32_t p1, uint32_t clipStart) {
    const bool extended = Kind() == kKindExtended;
    const uint32_t headerBytes = GroupHeaderBytes();
    const size_t tickAt = extended ? 10 : 12;
    const uint32_t e0 = m_groups[g0].groupTick;

    // The clip's header: this file's, marked as a clip, with the clip's times. The recorder's
    // time zone is kept, as the clip's wall times are the recorder's.
    CRecordInfo header(static_cast<const CRecordInfo&>(*this));
    header.SetClipFlag(true);
    header.SetFirstFrameTick(e0);
    header.SetStartTime(clipStart);
    header.SetGmtOffset(GmtOffset());
    header.SetEndTime(clipStart);
    if (!header.WriteHeader(clip)) return Fail(RecordError::CannotWrite, clip.errorText());

    std::array<uint8_t, kShortGroupHeaderBytes> h{};
    const auto readGroupHeader = [&](uint32_t g) {
        m_file->seek(m_groups[g].offset);
        return m_file->read(h.data(), headerBytes) == headerBytes;
    };
    uint32_t previous = kNoGroup;
    for (uint32_t g = g0; g < g1; ++g) {
        // The index holds each group where the previous one's next-group offset pointed.
        const uint32_t size = m_groups[g + 1].offset - m_groups[g].offset;
        if (!readGroupHeader(g) || size < headerBytes) return Fail(RecordError::Truncated, "damaged group " + std::to_string(g));
        const auto at = uint32_t(clip.position());
        storeLe32(&h[0], previous);
        storeLe32(&h[4], at + size);
        clip.write(h.data(), headerBytes);
        // The next group's offset was written for the whole group: a source that ends inside it
        // (it shrank since it was opened) would break the clip's chain.
        if (!copyBytes(*m_file, clip, size - headerBytes))
            return Fail(RecordError::Truncated, "the recording ends inside group " + std::to_string(g));
        previous = at;
    }

    // The last group, frame by frame, through a frame record big enough for each frame.
    if (!readGroupHeader(g1)) return Fail(RecordError::Truncated, "damaged group " + std::to_string(g1));
    const uint32_t wanted = std::min(p1, m_groups[g1].frameCount);
    const auto last = uint32_t(clip.position());
    storeLe32(&h[0], previous);
    storeLe32(&h[4], kNoGroup);
    clip.write(h.data(), headerBytes);
    const FrameLayout layout = extended ? FrameLayout::Long : FrameLayout::Short;
    auto frame = std::make_unique<CRecordFrame>(kCopyFrameWidth, kCopyFrameHeight, kCopyFrameAudioBytes);
    uint32_t copied = 0;
    uint32_t lastTick = m_groups[g1].groupTick;
    for (; copied < wanted; ++copied) {
        const auto [video, audio] = peekPayloadLengths(*m_file, layout);
        if (video > frame->VideoCapacity() || audio > frame->AudioCapacity()) {
            if (uint64_t(video) + audio > m_file->length()) break;  // cannot be read: the copy ends here
            frame = std::make_unique<CRecordFrame>(int(std::max<size_t>((video + 1) / 2, frame->VideoCapacity() / 2)), 1,
                                                   std::max<uint32_t>(audio, kCopyFrameAudioBytes));
        }
        if (!frame->Read(*m_file, layout)) break;  // a source that ends early gives a shorter clip
        if (frame->Write(clip, layout) == 0) return Fail(RecordError::CannotWrite, clip.errorText());
        lastTick = frame->Tick();
    }

    if (copied == 0 && FirstFrameNumber(int32_t(g1)) == FirstFrameNumber(int32_t(g0)))
        return Fail(RecordError::NothingToSave, "no frame of the clip's range can be read");
    const auto end = uint32_t(clip.position());
    storeLe16(&h[8], uint16_t(copied));
    storeLe32(&h[4], copied ? end : kNoGroup);
    clip.seek(last);
    clip.write(h.data(), headerBytes);
    clip.seek(end);
    if (copied) {
        storeLe32(&h[0], last);
        storeLe32(&h[4], kNoGroup);
        storeLe16(&h[8], 0);
        storeLe32(&h[tickAt], lastTick);
        clip.write(h.data(), headerBytes);
    }
    header.SetEndTime(clipStart + (lastTick - e0) / 1000u);
    clip.seek(0);
    if (!header.WriteHeader(clip)) return Fail(RecordError::CannotWrite, clip.errorText());
    return true;
}

bool CRecordReader::WriteFourChannelClip(File& clip, uint32_t g0, uint32_t g1, uint32_t p1, uint32_t clipStart) {
    const uint32_t e0 = m_groups[g0].groupTick;
    std::array<uint8_t, kFourChannelHeaderBytes> header{};
    m_file->seek(0);
    if (m_file->read(header.data(), header.size()) != header.size())
        return Fail(RecordError::Truncated, "file ends inside the header");
    storeLe32(&header[8], kFourChannelHeaderBytes);
    storeLe32(&header[24], clipStart);
    storeLe32(&header[28], clipStart);
    storeLe32(&header[40], e0);
    clip.write(header.data(), header.size());

    uint32_t previous = kNoGroup;
    for (uint32_t g = g0; g < g1; ++g) {
        std::array<uint8_t, kFourChannelGroupHeaderBytes> h = m_fourChannelIndex[g];
        const uint32_t own = loadLe32(&h[4]);
        const uint32_t size = loadLe32(&h[12]) - own;  // the chain only goes forward
        if (size < kFourChannelGroupHeaderBytes) return Fail(RecordError::Truncated, "damaged group " + std::to_string(g));
        const auto at = uint32_t(clip.position());
        storeLe32(&h[4], at);
        storeLe32(&h[8], previous);
        storeLe32(&h[12], at + size);
        clip.write(h.data(), h.size());
        m_file->seek(uint64_t(own) + kFourChannelGroupHeaderBytes);
        if (!copyBytes(*m_file, clip, size - kFourChannelGroupHeaderBytes))
            return Fail(RecordError::Truncated, "the recording ends inside group " + std::to_string(g));
        previous = at;
    }

    std::array<uint8_t, kFourChannelGroupHeaderBytes> h = m_fourChannelIndex[g1];
    const uint32_t wanted = std::min(p1, m_groups[g1].frameCount);
    const auto last = uint32_t(clip.position());
    m_file->seek(uint64_t(loadLe32(&h[4])) + kFourChannelGroupHeaderBytes);
    storeLe32(&h[4], last);
    storeLe32(&h[8], previous);
    storeLe32(&h[12], kNoGroup);
    clip.write(h.data(), h.size());
    uint32_t copied = 0;
    uint32_t lastTick = m_groups[g1].groupTick;
    for (; copied < wanted; ++copied) {
        uint8_t f[kFourChannelFrameHeaderBytes];
        if (m_file->read(f, sizeof f) != sizeof f || loadLe32(f) != kFourChannelFrameMagic) break;
        uint64_t payload = 0;
        for (int c = 0; c < 2 * kChannelCount; ++c) payload += loadLe32(f + 32 + 4 * c);
        if (m_file->position() + payload > m_file->length()) break;  // an incomplete frame is not copied
        clip.write(f, sizeof f);
        if (!copyBytes(*m_file, clip, payload))
            return Fail(RecordError::Truncated, "the recording ends inside group " + std::to_string(g1));
        lastTick = loadLe32(f + 4);
    }

    if (copied == 0 && FirstFrameNumber(int32_t(g1)) == FirstFrameNumber(int32_t(g0)))
        return Fail(RecordError::NothingToSave, "no frame of the clip's range can be read");
    const auto end = uint32_t(clip.position());
    storeLe32(&h[16], copied);
    storeLe32(&h[12], copied ? end : kNoGroup);
    clip.seek(last);
    clip.write(h.data(), h.size());
    clip.seek(end);
    if (copied) {
        // The closing group: the last group's header with no frames; its own-offset word stays
        // the last group's position.
        storeLe32(&h[8], last);
        storeLe32(&h[12], kNoGroup);
        storeLe32(&h[16], 0);
        storeLe32(&h[20], lastTick);
        clip.write(h.data(), h.size());
    }
    storeLe32(&header[28], clipStart + (lastTick - e0) / 1000u);
    clip.seek(0);
    clip.write(header.data(), header.size());
    return true;
}

}  // namespace kx
