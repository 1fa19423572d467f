// IntegrityCheck: turns what the play engine's integrity pass reports (codes 6 and 7 with its
// LastError) and what the group index and the ticks show into findings, each naming its frame.
// Recordings carry no checksums: the check finds what the reader and the decoders can detect
// and what the timing shows. Fed on the thread that runs the pass; toolkit-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "playback/play_error.h"
#include "recording/record_reader.h"

namespace kx {

class CPlayFrame;

enum class FindingKind {
    UnreadableRecord,
    OversizedRecord,
    PictureUndecodable,
    PictureDamaged,
    UnknownCodec,
    CodecChange,
    TickBackwards,
    TickGap,
    GroupTimeOrder,
    GroupCountMismatch,
};

// "unreadable_record", "oversized_record", ... as the tools print them.
const char* findingKindName(FindingKind kind);

struct Finding {
    FindingKind kind;
    uint32_t group = 0;
    uint32_t position = 0;
    uint32_t tick = 0;
    uint32_t wallTime = 0;
    std::string detail;
    // Damaged pictures: a small upright copy, B, G, R rows top first (empty otherwise).
    std::vector<uint8_t> thumbnail;
    uint32_t thumbnailWidth = 0;
    uint32_t thumbnailHeight = 0;
};

class IntegrityCheck {
public:
    // A gap longer than this many typical frame intervals is a finding.
    static constexpr uint32_t kGapIntervals = 4;
    static constexpr uint32_t kThumbnailWidth = 160;
    // The typical frame interval is the median step of the first frames checked.
    static constexpr size_t kTimingSample = 4096;
    // Findings kept in full; beyond them a damaged file's findings are only counted, so the
    // check's memory stays bounded whatever the file holds.
    static constexpr size_t kMaxFindings = 100'000;

    // Starts a check of the recording `reader` has open (the pass's own reader): the group
    // index is checked against the group headers here.
    void begin(const CRecordReader& reader);
    // Code 6: the frame was read and its picture presented.
    void frameChecked(const CPlayFrame& frame);
    // Code 7: the frame named by `error` could not be read or shown whole.
    void frameFailed(const CPlayFrame& frame, const PlayError& error);
    // After the pass: the timing findings, then every finding in frame order.
    void finish();

    uint32_t framesChecked() const { return m_checked; }
    uint32_t framesIndexed() const { return m_indexed; }
    const std::vector<Finding>& findings() const { return m_findings; }
    // Findings beyond kMaxFindings, counted but not kept.
    uint64_t findingsOmitted() const { return m_omitted; }
    // Every indexed frame checked and nothing found.
    bool passed() const { return m_findings.empty() && m_checked == m_indexed; }
    // What begin() saw of the recording, for the report: its header, index and group times.
    const CRecordInfo& header() const { return m_header; }
    const std::vector<GroupEntry>& groups() const { return m_groups; }
    const std::vector<uint32_t>& groupWallTimes() const { return m_groupWallTimes; }

private:
    struct FrameTick {
        uint32_t number;  // in reading order over the whole recording
        uint32_t group;
        uint32_t position;
        uint32_t tick;
        uint32_t wallTime;
    };
    void add(FindingKind kind, uint32_t group, uint32_t position, uint32_t tick, uint32_t wallTime, std::string detail);
    bool codecKnown(int codec);

    std::vector<Finding> m_findings;
    std::vector<FrameTick> m_ticks;  // the first kTimingSample frames, until the interval is known
    FrameTick m_lastTick{};           // afterwards only the frame before
    bool m_typicalKnown = false;
    uint32_t m_typical = 0;
    uint64_t m_omitted = 0;
    // The timing findings of `now`, checked after `before`, once the typical interval is known.
    void checkStep(const FrameTick& before, const FrameTick& now);
    void settleTiming();

    CRecordInfo m_header;
    std::vector<GroupEntry> m_groups;
    std::vector<uint32_t> m_groupWallTimes;
    int m_fileKind = 0;
    uint32_t m_checked = 0;
    uint32_t m_indexed = 0;
    int m_lastCodec = -1;
    uint8_t m_codecKnown[16] = {};  // 0 not asked yet, 1 a decoder exists, 2 none
};

}  // namespace kx
