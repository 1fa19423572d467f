// IntegrityCheck fed frame by frame from a reader: the timing findings before and after the
// typical interval is settled from its sample, the bound on the findings it keeps, and the
// codec findings.
#include "playback/integrity_check.h"

#include <gtest/gtest.h>

#include "playback/play_frame.h"
#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

using test::FrameContent;
using test::GroupContent;

// `count` frames carrying no picture, 40 ms apart, 100 a group, with `change` applied to the
// tick of each frame (by its number).
std::vector<GroupContent> timedGroups(uint32_t count, uint32_t (*change)(uint32_t number, uint32_t tick)) {
    std::vector<GroupContent> groups;
    for (uint32_t n = 0; n < count; ++n) {
        if (n % 100 == 0) {
            groups.emplace_back();
            groups.back().tick = 1000 + n * 40;
        }
        FrameContent frame;
        frame.flags = kFrameFlagNoPicture | 1 << 4;
        frame.tick = change(n, 1000 + n * 40);
        frame.video.assign(4, 0);
        groups.back().frames.push_back(frame);
    }
    return groups;
}

IntegrityCheck checkOf(const std::string& path) {
    CRecordInfo info;
    info.SetPath(path);
    auto reader = std::make_unique<CRecordReader>();
    EXPECT_TRUE(reader->Open(&info, kReaderModeRead, -1));
    IntegrityCheck check;
    check.begin(*reader);
    CPlayFrame frame(info.Width(), info.Height());
    frame.AttachReader(std::move(reader));
    while (frame.ReadNext()) check.frameChecked(frame);
    check.finish();
    return check;
}

TEST(IntegrityCheck, TimingIsCheckedInTheSampleAndAfterIt) {
    test::TempFolder folder;
    test::HeaderFields header;
    header.firstTick = 1000;
    // One tick set back and one gap inside the sample of the first frames, the same after it.
    const auto change = [](uint32_t n, uint32_t tick) -> uint32_t {
        if (n >= 3000) tick += 1000;
        if (n >= 7000) tick += 1000;
        return n == 10 || n == 6000 ? tick - 100 : tick;
    };
    const std::string path = folder.write("t.kxz", test::recordingBytes(kKindClip, header, timedGroups(8000, change)));
    const IntegrityCheck check = checkOf(path);
    EXPECT_EQ(check.framesChecked(), 8000u);
    std::vector<std::pair<FindingKind, uint32_t>> found;
    for (const Finding& f : check.findings()) found.emplace_back(f.kind, f.group * 100 + f.position);
    // A tick set back by 100 ms also leaves the step after it 140 ms long, under 4 x 40.
    EXPECT_EQ(found, (std::vector<std::pair<FindingKind, uint32_t>>{{FindingKind::TickBackwards, 10},
                                                                    {FindingKind::TickGap, 3000},
                                                                    {FindingKind::TickBackwards, 6000},
                                                                    {FindingKind::TickGap, 7000}}));
    EXPECT_FALSE(check.passed());
}

TEST(IntegrityCheck, FindingsBeyondTheBoundAreCountedNotKept) {
    test::TempFolder folder;
    test::HeaderFields header;
    header.firstTick = 1000;
    // Every other tick goes back: a finding every second frame.
    const auto change = [](uint32_t n, uint32_t tick) -> uint32_t { return n % 2 ? tick - 100 : tick; };
    const uint32_t frames = uint32_t(2 * IntegrityCheck::kMaxFindings + 1000);
    const std::string path = folder.write("b.kxz", test::recordingBytes(kKindClip, header, timedGroups(frames, change)));
    const IntegrityCheck check = checkOf(path);
    EXPECT_EQ(check.findings().size(), IntegrityCheck::kMaxFindings);
    EXPECT_EQ(check.findings().size() + check.findingsOmitted(), frames / 2);
}

// Codecs whose decoders need the picture size (6, 7, 8) have decoders all the same; 5 has none.
TEST(IntegrityCheck, OnlyCodecsWithoutADecoderAreUnknown) {
    test::TempFolder folder;
    test::HeaderFields header;
    header.firstTick = 1000;
    std::vector<GroupContent> groups(1);
    groups[0].tick = 1000;
    const int codecs[] = {6, 6, 3, 7, 8, 5};
    for (size_t n = 0; n < std::size(codecs); ++n) {
        FrameContent frame;
        frame.flags = uint16_t(codecs[n] << 4);
        frame.tick = 1000 + uint32_t(n) * 40;
        frame.video.assign(4, 0);
        groups[0].frames.push_back(frame);
    }
    const IntegrityCheck check = checkOf(folder.write("c.kxz", test::recordingBytes(kKindClip, header, groups)));
    std::vector<std::pair<FindingKind, uint32_t>> found;
    for (const Finding& f : check.findings())
        if (f.kind == FindingKind::UnknownCodec || f.kind == FindingKind::CodecChange) found.emplace_back(f.kind, f.position);
    EXPECT_EQ(found, (std::vector<std::pair<FindingKind, uint32_t>>{{FindingKind::CodecChange, 2},
                                                                    {FindingKind::CodecChange, 3},
                                                                    {FindingKind::CodecChange, 4},
                                                                    {FindingKind::UnknownCodec, 5},
                                                                    {FindingKind::CodecChange, 5}}));
}

}  // namespace
}  // namespace kx
