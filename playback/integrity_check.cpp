// IntegrityCheck: findings from the pass's reports, the group headers and the frame ticks.
#include "playback/integrity_check.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "codec/create_decoder.h"
#include "codec/picture_layout.h"
#include "platform/file.h"
#include "playback/play_frame.h"
#include "recording/byte_order.h"

namespace kx {
namespace {

std::string ms(int64_t value) { return std::to_string(value) + " ms"; }

bool carriesCodec(int fileKind) {
    return fileKind == kKindClip || fileKind == kKindExtended || fileKind == kKindFourChannel;
}

// The frame counts the group headers give, before the reader bounds them by the bytes there.
std::vector<uint32_t> declaredCounts(const CRecordReader& reader) {
    std::vector<uint32_t> counts;
    if (reader.Kind() == kKindFourChannel) {
        for (const auto& h : reader.FourChannelIndex()) counts.push_back(loadLe32(&h[16]));
        return counts;
    }
    File file;
    if (!file.open(reader.Path(), FileMode::Read)) return counts;
    for (const GroupEntry& entry : reader.Groups()) {
        uint8_t h[kShortGroupHeaderBytes] = {};
        file.seek(entry.offset);
        if (file.read(h, 10) != 10) break;
        counts.push_back(loadLe16(h + 8));
    }
    return counts;
}

}  // namespace

const char* findingKindName(FindingKind kind) {
    switch (kind) {
        case FindingKind::UnreadableRecord: return "unreadable_record";
        case FindingKind::OversizedRecord: return "oversized_record";
        case FindingKind::PictureUndecodable: return "picture_undecodable";
        case FindingKind::PictureDamaged: return "picture_damaged";
        case FindingKind::UnknownCodec: return "unknown_codec";
        case FindingKind::CodecChange: return "codec_change";
        case FindingKind::TickBackwards: return "tick_backwards";
        case FindingKind::TickGap: return "tick_gap";
        case FindingKind::GroupTimeOrder: return "group_time_order";
        case FindingKind::GroupCountMismatch: return "group_count_mismatch";
    }
    return "unknown";
}

void IntegrityCheck::add(FindingKind kind, uint32_t group, uint32_t position, uint32_t tick, uint32_t wallTime,
                         std::string detail) {
    Finding finding;
    finding.kind = kind;
    finding.group = group;
    finding.position = position;
    finding.tick = tick;
    finding.wallTime = wallTime;
    finding.detail = std::move(detail);
    if (m_findings.size() >= kMaxFindings) {
        ++m_omitted;
        return;
    }
    m_findings.push_back(std::move(finding));
}

void IntegrityCheck::begin(const CRecordReader& reader) {
    *this = IntegrityCheck();
    m_fileKind = reader.Kind();
    m_indexed = reader.TotalFrameCount();
    m_header = static_cast<const CRecordInfo&>(reader);
    m_groups = reader.Groups();
    const std::vector<GroupEntry>& groups = m_groups;
    const std::vector<uint32_t> declared = declaredCounts(reader);
    for (uint32_t g = 0; g < groups.size(); ++g) {
        const uint32_t wall = reader.GroupWallTime(int32_t(g));
        m_groupWallTimes.push_back(wall);
        if (g > 0 && int32_t(groups[g].groupTick - groups[g - 1].groupTick) < 0)
            add(FindingKind::GroupTimeOrder, g, 0, groups[g].groupTick, wall,
                "the group's tick is " + ms(int64_t(int32_t(groups[g - 1].groupTick - groups[g].groupTick))) +
                    " before the group's before it");
        if (g < declared.size() && declared[g] != groups[g].frameCount)
            add(FindingKind::GroupCountMismatch, g, 0, groups[g].groupTick, wall,
                "the group header counts " + std::to_string(declared[g]) + " frames, its bytes hold at most " +
                    std::to_string(groups[g].frameCount));
    }
}

bool IntegrityCheck::codecKnown(int codec) {
    uint8_t& known = m_codecKnown[codec & 15];
    // Through the overload with a picture size, so that the codecs whose decoders need one (6, 7
    // and 8) count as known; whether a decoder exists does not depend on the size.
    if (known == 0) known = createDecoder(codec, 16, 16) ? 1 : 2;
    return known == 1;
}

void IntegrityCheck::frameChecked(const CPlayFrame& frame) {
    const CRecordReader* reader = frame.Reader();
    const uint32_t g = frame.Group();
    const uint32_t p = frame.PositionInGroup();
    ++m_checked;
    if (!reader) return;
    const FrameTick now{reader->FirstFrameNumber(int32_t(g)) + p, g, p, frame.Tick(), frame.WallTime()};
    if (m_typicalKnown) {
        checkStep(m_lastTick, now);
    } else {
        m_ticks.push_back(now);
        if (m_ticks.size() >= kTimingSample) settleTiming();
    }
    m_lastTick = now;

    if (carriesCodec(m_fileKind) && !(frame.Flags() & kFrameFlagNoPicture)) {
        const int codec = frame.Codec();
        if (codec != m_lastCodec) {
            if (!codecKnown(codec))
                add(FindingKind::UnknownCodec, g, p, frame.Tick(), frame.WallTime(),
                    "codec identifier " + std::to_string(codec) + " has no decoder");
            if (m_lastCodec >= 0)
                add(FindingKind::CodecChange, g, p, frame.Tick(), frame.WallTime(),
                    "codec " + std::to_string(m_lastCodec) + " changes to codec " + std::to_string(codec));
            m_lastCodec = codec;
        }
    }

    // The last counted record of a group must end where the next group's header begins.
    // (Four-channel groups place their records by their own offsets, so they are left out.)
    const std::vector<GroupEntry>& groups = reader->Groups();
    if (m_fileKind != kKindFourChannel && g + 1 < groups.size() && p + 1 == groups[g].frameCount) {
        const uint32_t end = reader->NextPosition();
        const uint32_t next = groups[g + 1].offset;
        if (end < next)
            add(FindingKind::GroupCountMismatch, g, p, frame.Tick(), frame.WallTime(),
                std::to_string(next - end) + " bytes follow the group's last counted record: the group holds more "
                                             "than its header counts");
        else if (end > next)
            add(FindingKind::GroupCountMismatch, g, p, frame.Tick(), frame.WallTime(),
                "the group's counted records run " + std::to_string(end - next) +
                    " bytes into the next group: the group holds fewer than its header counts");
    }
}

void IntegrityCheck::frameFailed(const CPlayFrame& frame, const PlayError& error) {
    FindingKind kind = FindingKind::UnreadableRecord;
    switch (error.fault) {
        case FrameFault::OversizedRecord: kind = FindingKind::OversizedRecord; break;
        case FrameFault::PictureUndecodable: kind = FindingKind::PictureUndecodable; break;
        case FrameFault::PictureDamaged: kind = FindingKind::PictureDamaged; break;
        default: break;
    }
    const CRecordReader* reader = frame.Reader();
    const uint32_t wall = reader ? reader->WallTimeOfTick(error.tick) : 0;
    add(kind, error.group, error.position, error.tick, wall, error.text);
    if (kind != FindingKind::PictureDamaged) return;

    // The damaged picture as it is shown, small.
    const RgbPicture& picture = frame.Picture();
    const PixelFormat format = pictureFormatOf(m_fileKind, frame.Flags());
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    if (width == 0 || height == 0 || format.layout == PictureLayout::None) return;
    Finding& finding = m_findings.back();
    finding.thumbnailWidth = std::min(width, kThumbnailWidth);
    finding.thumbnailHeight = std::max<uint32_t>(1, uint32_t(uint64_t(height) * finding.thumbnailWidth / width));
    finding.thumbnail.resize(size_t(finding.thumbnailWidth) * finding.thumbnailHeight * 3);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (uint32_t ty = 0; ty < finding.thumbnailHeight; ++ty) {
        if (!readUprightRow(picture, format, uint32_t(uint64_t(ty) * height / finding.thumbnailHeight), row.data())) {
            finding.thumbnail.clear();
            finding.thumbnailWidth = finding.thumbnailHeight = 0;
            return;
        }
        uint8_t* out = finding.thumbnail.data() + size_t(ty) * finding.thumbnailWidth * 3;
        for (uint32_t tx = 0; tx < finding.thumbnailWidth; ++tx)
            std::copy_n(row.data() + size_t(uint64_t(tx) * width / finding.thumbnailWidth) * 3, 3, out + size_t(tx) * 3);
    }
}

// The typical interval from the sample, then the timing findings of the sampled frames; later
// frames are checked as they come.
void IntegrityCheck::settleTiming() {
    std::vector<uint32_t> steps;
    for (size_t i = 1; i < m_ticks.size(); ++i) {
        const int32_t step = int32_t(m_ticks[i].tick - m_ticks[i - 1].tick);
        if (step > 0) steps.push_back(uint32_t(step));
    }
    m_typical = 0;
    if (!steps.empty()) {
        std::nth_element(steps.begin(), steps.begin() + ptrdiff_t(steps.size() / 2), steps.end());
        m_typical = steps[steps.size() / 2];
    }
    m_typicalKnown = true;
    for (size_t i = 1; i < m_ticks.size(); ++i) checkStep(m_ticks[i - 1], m_ticks[i]);
    m_ticks.clear();
    m_ticks.shrink_to_fit();
}

void IntegrityCheck::checkStep(const FrameTick& before, const FrameTick& now) {
    const int32_t step = int32_t(now.tick - before.tick);
    // Only frames next to each other in the recording: a gap over frames the pass could not
    // read is that damage, not timing.
    const bool adjacent = now.number == before.number + 1;
    if (step < 0)
        add(FindingKind::TickBackwards, now.group, now.position, now.tick, now.wallTime,
            "the tick goes back " + ms(-int64_t(step)) + " from the frame before (" + std::to_string(before.group) +
                ":" + std::to_string(before.position) + ")");
    else if (adjacent && m_typical > 0 && uint64_t(step) > uint64_t(kGapIntervals) * m_typical)
        add(FindingKind::TickGap, now.group, now.position, now.tick, now.wallTime,
            ms(step) + " after the frame before, where frames are typically " + ms(m_typical) + " apart");
}

void IntegrityCheck::finish() {
    if (!m_typicalKnown) settleTiming();
    std::stable_sort(m_findings.begin(), m_findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.group, a.position) < std::tie(b.group, b.position);
    });
}

}  // namespace kx
