// The reader: the group index, the chain rules, both ways of reading frames and the cursor.
#include <gtest/gtest.h>

#include "recording/record_reader.h"
#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

using test::FrameContent;
using test::GroupContent;
using test::HeaderFields;

constexpr uint32_t kFirstTick = 90'000;

void expectFrame(const CRecordFrame& frame, const FrameContent& wanted, uint32_t group, uint32_t position) {
    EXPECT_EQ(frame.Group(), group);
    EXPECT_EQ(frame.PositionInGroup(), position);
    test::expectFrameMatches(frame, wanted);
}

class RecordReaderTest : public ::testing::Test {
protected:
    // Writes the bytes as `name` and opens them on `channel`.
    bool open(const std::string& name, const std::vector<uint8_t>& bytes, int channel = -1) {
        m_info.SetPath(m_folder.write(name, bytes));
        return m_reader.Open(&m_info, kReaderModeRead, channel);
    }

    test::TempFolder m_folder;
    CRecordInfo m_info;
    CRecordReader m_reader;
    CRecordFrame m_frame{64, 64, 256};
};

TEST_F(RecordReaderTest, SequentialReadingWalksEveryFrameOfEveryKindThenFails) {
    struct Case { const char* name; int kind; bool audio; };
    const Case cases[] = {{"r.kx", 0, false}, {"r.kxx", 1, true}, {"r.kxq", 2, false}, {"r.kxz", 3, true},
                          {"r.ckx", 7, true}, {"r2.ckx", 7, false}};
    for (const Case& c : cases) {
        HeaderFields h;
        h.firstTick = kFirstTick;
        const std::vector<GroupContent> groups = test::makeGroups(3, 4, kFirstTick, c.audio);
        m_reader.Close();
        ASSERT_TRUE(open(c.name, test::recordingBytes(c.kind, h, groups))) << c.name << m_reader.LastError().text;
        EXPECT_EQ(m_info.Kind(), c.kind);  // the caller's record now describes the file
        EXPECT_EQ(m_info.HostName(), h.host);
        EXPECT_EQ(m_reader.GroupCount(), 3u);
        EXPECT_EQ(m_reader.TotalFrameCount(), 12u);
        for (uint32_t g = 0; g < 3; ++g)
            for (uint32_t p = 0; p < 4; ++p) {
                ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0)) << c.name << m_reader.LastError().text;
                expectFrame(m_frame, groups[g].frames[p], g, p);
            }
        EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0)) << c.name;
        EXPECT_EQ(m_reader.LastError().code, RecordError::PastEnd);
        EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0)) << c.name;
    }
}

TEST_F(RecordReaderTest, FourChannelFramesCarryTheChosenChannelOnly) {
    HeaderFields h;
    std::vector<GroupContent> groups(2);
    uint8_t seed = 1;
    for (uint32_t g = 0; g < 2; ++g) {
        groups[g].tick = kFirstTick + 1000 * g;
        for (uint32_t i = 0; i < 3; ++i) {
            test::FourChannelFrame frame;
            frame.tick = groups[g].tick + 40 * i;
            for (auto& channel : frame.channels) {
                channel = test::makeFrame(0, 10 + seed % 40, seed % 3 ? 16 : 0, seed, seed % 5);
                ++seed;
            }
            groups[g].quadFrames.push_back(frame);
        }
    }
    const auto bytes = test::recordingBytes(8, h, groups);
    EXPECT_FALSE(open("q.dat", bytes, 4));
    EXPECT_EQ(m_reader.LastError().code, RecordError::BadChannel);
    EXPECT_FALSE(open("q.dat", bytes, -1));
    for (int channel = 0; channel < 4; ++channel) {
        m_reader.Close();
        ASSERT_TRUE(open("q.dat", bytes, channel)) << m_reader.LastError().text;
        EXPECT_EQ(m_reader.TotalFrameCount(), 6u);
        for (uint32_t g = 0; g < 2; ++g)
            for (uint32_t i = 0; i < 3; ++i) {
                ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0)) << m_reader.LastError().text;
                FrameContent expected = groups[g].quadFrames[i].channels[size_t(channel)];
                expected.tick = groups[g].quadFrames[i].tick;
                expectFrame(m_frame, expected, g, i);
            }
        EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0));
        // A positioned read skips the earlier records by their headers.
        ASSERT_TRUE(m_reader.ReadFrame(m_frame, 1, 2));
        EXPECT_EQ(m_frame.Tick(), groups[1].quadFrames[2].tick);
        EXPECT_EQ(m_frame.VideoLength(), groups[1].quadFrames[2].channels[size_t(channel)].video.size());
    }
}

TEST_F(RecordReaderTest, PositionedReadsMoveToTheNextGroupAndLeaveTheCursorAfterThem) {
    const std::vector<GroupContent> groups = test::makeGroups(4, 3, kFirstTick, false);
    ASSERT_TRUE(open("p.kxz", test::recordingBytes(3, HeaderFields{}, groups)));

    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 1, 3));  // one past group 1's end: group 2's first
    expectFrame(m_frame, groups[2].frames[0], 2, 0);
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 0, 7));  // any position past the end: the next group
    expectFrame(m_frame, groups[1].frames[0], 1, 0);
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 2, 2));
    expectFrame(m_frame, groups[2].frames[2], 2, 2);

    // Failures leave the cursor where it was.
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, 4, 0));
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, 3, 3));
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, 1, -1));
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, -2, 0));
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
    expectFrame(m_frame, groups[3].frames[0], 3, 0);

    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 0, 0));
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
    expectFrame(m_frame, groups[0].frames[1], 0, 1);
}

struct ChainCase {
    const char* what;
    int kind;
    void (*damage)(std::vector<uint8_t>&, const std::vector<uint32_t>& groupOffsets);
    bool opens;
    uint32_t groups;  // groups in the index when it opens
    RecordError error;
};

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

TEST_F(RecordReaderTest, ChainEndsAtTheFirstLinkThatLeavesTheFileOrGoesBack) {
    using Offsets = std::vector<uint32_t>;
    const ChainCase cases[] = {
        {"intact", 3, [](auto&, const Offsets&) {}, true, 4, RecordError::None},
        {"next beyond the end", 3, [](auto& b, const Offsets& o) { put32(b, o[1] + 4, uint32_t(b.size()) + 100); },
         true, 2, RecordError::None},
        {"next at the end", 7, [](auto& b, const Offsets& o) { put32(b, o[2] + 4, uint32_t(b.size())); }, true, 3,
         RecordError::None},
        {"next backwards", 3, [](auto& b, const Offsets& o) { put32(b, o[2] + 4, o[0]); }, true, 3,
         RecordError::None},
        {"next to itself", 0, [](auto& b, const Offsets& o) { put32(b, o[0] + 4, o[0]); }, true, 1,
         RecordError::None},
        {"file ends in a group header", 3, [](auto& b, const Offsets& o) { b.resize(o[3] + 10); }, true, 3,
         RecordError::None},
        {"first group beyond the end", 3, [](auto& b, const Offsets&) { put32(b, 8, uint32_t(b.size()) + 1); },
         false, 0, RecordError::NoGroup},
        {"no frames", 3, [](auto& b, const Offsets& o) { for (uint32_t at : o) b[at + 8] = 0; }, false, 0,
         RecordError::NoFrame},
        {"four-channel group without magic", 8, [](auto& b, const Offsets& o) { b[o[2]] = 0; }, false, 0,
         RecordError::BadGroup},
        {"four-channel own offset lies", 8,
         [](auto& b, const Offsets& o) { put32(b, o[1] + 4, 0), put32(b, o[1] + 12, o[1]); }, true, 2,
         RecordError::None},
    };
    for (const ChainCase& c : cases) {
        std::vector<GroupContent> groups = test::makeGroups(4, 2, kFirstTick, false);
        if (c.kind == 8)
            for (GroupContent& g : groups) g.quadFrames.resize(2);
        std::vector<uint32_t> offsets;
        std::vector<uint8_t> bytes = test::recordingBytes(c.kind, HeaderFields{}, groups, &offsets);
        c.damage(bytes, offsets);
        m_reader.Close();
        const char* name = c.kind == 3 ? "c.kxz" : c.kind == 7 ? "c.ckx" : c.kind == 0 ? "c.kx" : "c.4ch";
        EXPECT_EQ(open(name, bytes, c.kind == 8 ? 0 : -1), c.opens) << c.what << ": " << m_reader.LastError().text;
        EXPECT_EQ(m_reader.GroupCount(), c.groups) << c.what;
        if (!c.opens) {
            EXPECT_EQ(m_reader.LastError().code, c.error) << c.what;
            EXPECT_FALSE(m_reader.IsOpen());
        }
    }
}

TEST_F(RecordReaderTest, IndexGrowsPastTheFirst1024GroupsAndWallTimesWrapWithTheTicks) {
    HeaderFields h;
    h.firstTick = 0xFFFFF000;  // the tick counter wraps about 4 s in
    const std::vector<GroupContent> groups = test::makeGroups(1100, 1, h.firstTick, false);
    ASSERT_TRUE(open("many.kxz", test::recordingBytes(3, h, groups)));
    EXPECT_EQ(m_reader.GroupCount(), 1100u);
    EXPECT_EQ(m_reader.GroupFrameCount(1024), 1u);
    EXPECT_EQ(m_reader.GroupFrameCount(1100), 0u);
    EXPECT_EQ(m_reader.GroupFrameCount(-1), 0u);
    EXPECT_EQ(m_reader.GroupWallTime(1099), h.start + 1099 * 40 / 1000);
    EXPECT_EQ(m_reader.GroupWallTime(1100), 0u);
    EXPECT_EQ(m_reader.FirstFrameNumber(0), 0u);
    EXPECT_EQ(m_reader.FirstFrameNumber(5, 10), 15u);
    EXPECT_EQ(m_reader.FirstFrameNumber(int32_t(m_reader.GroupCount())), m_reader.TotalFrameCount());
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 1050, 0));
    expectFrame(m_frame, groups[1050].frames[0], 1050, 0);
}

TEST_F(RecordReaderTest, RecordsLargerThanTheFirstBufferAreReadWhole) {
    // A noisy 176 x 144 key frame at quantiser 1 takes 86,546 bytes, over 176 x 144 x 2; here a
    // 64 x 64 frame (8,192 bytes) meets records of twice and ten times its size.
    std::vector<GroupContent> groups = test::makeGroups(2, 3, kFirstTick, true);
    groups[0].frames[1] = test::makeFrame(kFirstTick + 40, 64 * 64 * 2 + 1, 0, 5);
    groups[1].frames[0] = test::makeFrame(kFirstTick + 120, 86'546, 300'000, 6);
    ASSERT_TRUE(open("big.kxx", test::recordingBytes(1, HeaderFields{}, groups)));
    for (uint32_t g = 0; g < 2; ++g)
        for (uint32_t p = 0; p < 3; ++p) {
            ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0)) << g << ":" << p << " " << m_reader.LastError().text;
            expectFrame(m_frame, groups[g].frames[p], g, p);
        }
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 0, 2));
    expectFrame(m_frame, groups[0].frames[2], 0, 2);
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 1, 0));
    expectFrame(m_frame, groups[1].frames[0], 1, 0);
}

TEST_F(RecordReaderTest, RecordAboveTheSizeCapIsPassedOverAndReadingGoesOn) {
    for (const int kind : {1, 7}) {
        std::vector<GroupContent> groups = test::makeGroups(2, 3, kFirstTick, false);
        groups[0].frames[1] = test::makeFrame(kFirstTick + 40, uint32_t(kMaxVideoRecordBytes) + 1, 0, 5);
        m_reader.Close();
        ASSERT_TRUE(open(kind == 1 ? "cap.kxx" : "cap.ckx", test::recordingBytes(kind, HeaderFields{}, groups)));
        ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
        EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0)) << kind;
        EXPECT_EQ(m_reader.LastError().code, RecordError::OversizedRecord) << m_reader.LastError().text;
        EXPECT_EQ(m_reader.FailedGroup(), 0u);
        EXPECT_EQ(m_reader.FailedPosition(), 1u);
        EXPECT_EQ(m_frame.VideoLength(), 0u);
        EXPECT_LE(m_frame.VideoCapacity(), kMaxVideoRecordBytes);
        // Sequential reading continues after it, positioned reads pass over it.
        ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0)) << m_reader.LastError().text;
        expectFrame(m_frame, groups[0].frames[2], 0, 2);
        ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
        expectFrame(m_frame, groups[1].frames[0], 1, 0);
        ASSERT_TRUE(m_reader.ReadFrame(m_frame, 0, 2)) << m_reader.LastError().text;
        expectFrame(m_frame, groups[0].frames[2], 0, 2);
        EXPECT_FALSE(m_reader.ReadFrame(m_frame, 0, 1));
        ASSERT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
        expectFrame(m_frame, groups[0].frames[2], 0, 2);
    }
}

TEST_F(RecordReaderTest, FailedReadsLeaveTheFrameEmpty) {
    // The last record is cut inside its header: a positioned read passes over the records
    // before it, and a sequential read has just read one; neither may leave their lengths.
    const std::vector<GroupContent> groups = test::makeGroups(1, 3, kFirstTick, true);
    std::vector<uint8_t> bytes = test::recordingBytes(1, HeaderFields{}, groups);
    bytes.resize(bytes.size() - test::frameBytes(1, groups[0].frames[2]).size() + 6);
    ASSERT_TRUE(open("cut.kxx", bytes));
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, 0, 2));
    EXPECT_EQ(m_frame.VideoLength(), 0u);
    EXPECT_EQ(m_frame.AudioLength(), 0u);
    EXPECT_EQ(m_reader.FailedPosition(), 2u);
    ASSERT_TRUE(m_reader.ReadFrame(m_frame, 0, 1));
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0));
    EXPECT_EQ(m_frame.VideoLength(), 0u);
    EXPECT_EQ(m_frame.AudioLength(), 0u);
    EXPECT_EQ(m_reader.LastError().code, RecordError::Truncated);
    EXPECT_EQ(m_reader.NextInGroup(), 2u);  // the cursor stays on the damaged record
}

TEST_F(RecordReaderTest, AbsurdFrameCountsAreBoundedByTheFile) {
    std::vector<GroupContent> groups(1);
    groups[0].quadFrames.resize(2);
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> bytes = test::recordingBytes(8, HeaderFields{}, groups, &offsets);
    put32(bytes, offsets[0] + 16, 0xFFFFFFFF);
    ASSERT_TRUE(open("huge.4ch", bytes, 1));
    EXPECT_EQ(m_reader.TotalFrameCount(), (bytes.size() - offsets[0] - 32) / 64);
    EXPECT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
    EXPECT_TRUE(m_reader.ReadFrame(m_frame, -1, 0));
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0));
}

TEST_F(RecordReaderTest, OpenRefusesWrongCallsAndReopensAfterClose) {
    const auto bytes = test::recordingBytes(3, HeaderFields{}, test::makeGroups(1, 1, kFirstTick, false));
    EXPECT_FALSE(m_reader.Open(nullptr, kReaderModeRead, -1));
    m_info.SetPath(m_folder.path() + "/missing.kxz");
    EXPECT_FALSE(m_reader.Open(&m_info, kReaderModeRead, -1));
    EXPECT_EQ(m_reader.LastError().code, RecordError::CannotOpen);
    m_info.SetPath(m_folder.write("o.kxz", bytes));
    EXPECT_FALSE(m_reader.Open(&m_info, 2, -1));
    ASSERT_TRUE(m_reader.Open(&m_info, kReaderModeRead, -1));
    EXPECT_FALSE(m_reader.Open(&m_info, kReaderModeRead, -1));
    EXPECT_EQ(m_reader.LastError().code, RecordError::AlreadyOpen);
    m_reader.Close();
    m_reader.Close();
    EXPECT_EQ(m_reader.GroupCount(), 0u);
    EXPECT_FALSE(m_reader.ReadFrame(m_frame, -1, 0));
    EXPECT_EQ(m_reader.LastError().code, RecordError::NotOpen);
    EXPECT_TRUE(m_reader.Open(&m_info, kReaderModeRead, -1));
}

}  // namespace
}  // namespace kx
