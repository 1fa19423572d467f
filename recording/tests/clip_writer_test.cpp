// Clips: cut from recordings of every kind, opened again, frame for frame the source's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "recording/byte_order.h"
#include "recording/record_reader.h"
#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

using test::GroupContent;
using test::HeaderFields;

constexpr uint32_t kFirstTick = 0xFFFFF000;  // the recorder's clock wraps inside the recording

std::vector<GroupContent> groupsFor(int kind, uint32_t count, uint32_t perGroup) {
    std::vector<GroupContent> groups = test::makeGroups(count, perGroup, kFirstTick, kind != 0);
    if (kind == kKindFourChannel) {
        for (GroupContent& g : groups) {
            for (const test::FrameContent& f : g.frames) {
                test::FourChannelFrame quad;
                quad.tick = f.tick;
                for (size_t c = 0; c < 4; ++c) quad.channels[c] = test::makeFrame(0, 9 + uint32_t(c), uint32_t(c) * 3, uint8_t(f.tick + c));
                g.quadFrames.push_back(quad);
            }
            g.frames.clear();
        }
    }
    return groups;
}

class ClipWriterTest : public ::testing::Test {
protected:
    bool openSource(int kind, const std::vector<GroupContent>& groups, const char* name) {
        HeaderFields h;
        h.firstTick = kFirstTick;
        h.gmt = 9;
        m_source.SetPath(m_folder.write(name, test::recordingBytes(kind, h, groups)));
        return m_reader.Open(&m_source, kReaderModeRead, kind == kKindFourChannel ? 1 : -1);
    }
    bool openClip(const std::string& path, int channel) {
        m_clipInfo.SetPath(path);
        return m_clip.Open(&m_clipInfo, kReaderModeRead, channel);
    }

    test::TempFolder m_folder;
    CRecordInfo m_source;
    CRecordReader m_reader;
    CRecordInfo m_clipInfo;
    CRecordReader m_clip;
    CRecordFrame m_a{64, 64, 4096};
    CRecordFrame m_b{64, 64, 4096};
};

TEST_F(ClipWriterTest, ClipOfEveryKindHoldsTheMarkedFramesAndReopens) {
    struct Case { int kind; const char* name; };
    const Case cases[] = {{0, "s.kx"}, {1, "s.kxx"}, {3, "s.kxz"}, {7, "s.ckx"}, {8, "s.4ch"}};
    setCurrentGmtOffsetHours(-4);  // the computer's zone differs from the recorder's
    for (const Case& c : cases) {
        m_reader.Close();
        m_clip.Close();
        ASSERT_TRUE(openSource(c.kind, groupsFor(c.kind, 6, 4), c.name)) << m_reader.LastError().text;
        const std::string clipPath = m_folder.path() + "/clip" + RecordingExtension(c.kind);
        ASSERT_TRUE(m_reader.SaveClip(clipPath, 3, 5, 2)) << c.name << ": " << m_reader.LastError().text;

        const int channel = c.kind == kKindFourChannel ? 1 : -1;
        ASSERT_TRUE(openClip(clipPath, channel)) << c.name << ": " << m_clip.LastError().text;
        EXPECT_EQ(m_clipInfo.Kind(), c.kind);
        // Groups 3 and 4, two frames of group 5, then the empty closing group.
        ASSERT_EQ(m_clip.GroupCount(), 4u) << c.name;
        EXPECT_EQ(m_clip.TotalFrameCount(), 10u);
        EXPECT_EQ(m_clip.GroupFrameCount(3), 0u);
        EXPECT_EQ(m_clipInfo.StartTime(), m_reader.GroupWallTime(3));
        EXPECT_EQ(m_clipInfo.FirstFrameTick(), m_reader.Groups()[3].groupTick);
        EXPECT_EQ(m_clipInfo.GmtOffset(), 9);
        EXPECT_EQ(m_clipInfo.HostName(), m_source.HostName());
        if (c.kind != kKindFourChannel) {
            EXPECT_TRUE(m_clipInfo.HeaderFlags() & kHeaderFlagClip);
        }
        for (int32_t i = 0; i < 10; ++i) {
            ASSERT_TRUE(m_reader.ReadFrame(m_a, 3 + i / 4, i % 4)) << c.name << " " << i;
            ASSERT_TRUE(m_clip.ReadFrame(m_b, -1, 0)) << c.name << " " << i << m_clip.LastError().text;
            EXPECT_EQ(m_b.Tick(), m_a.Tick());
            EXPECT_EQ(m_b.Flags(), m_a.Flags());
            ASSERT_EQ(m_b.VideoLength(), m_a.VideoLength());
            EXPECT_TRUE(std::equal(m_a.VideoBuffer(), m_a.VideoBuffer() + m_a.VideoLength(), m_b.VideoBuffer()));
            ASSERT_EQ(m_b.AudioLength(), m_a.AudioLength());
            EXPECT_TRUE(std::equal(m_a.AudioBuffer(), m_a.AudioBuffer() + m_a.AudioLength(), m_b.AudioBuffer()));
            if (i == 9) {
                EXPECT_EQ(m_clipInfo.EndTime(), m_source.WallTimeOfTick(m_a.Tick()));
                EXPECT_EQ(m_clip.Groups()[3].groupTick, m_a.Tick());  // the closing group's tick
            }
        }
        EXPECT_FALSE(m_clip.ReadFrame(m_b, -1, 0));

        // The first group header follows the clip header and has no previous group.
        File file;
        ASSERT_TRUE(file.open(clipPath, FileMode::Read));
        uint8_t h[16];
        const uint32_t first = m_clipInfo.FirstGroupOffset();
        EXPECT_EQ(first, c.kind == kKindFourChannel ? 852u : m_clipInfo.HeaderSize());
        file.seek(first);
        ASSERT_EQ(file.read(h, 16), 16u);
        EXPECT_EQ(loadLe32(c.kind == kKindFourChannel ? h + 8 : h), kNoGroup);
        if (c.kind == kKindFourChannel) {
            EXPECT_EQ(loadLe32(h + 4), first);
        }
    }
}

TEST_F(ClipWriterTest, MarksAreCheckedAndClampedBeforeAnythingIsWritten) {
    ASSERT_TRUE(openSource(3, groupsFor(3, 5, 3), "m.kxz"));
    const std::string path = m_folder.path() + "/m_clip.kxz";
    {
        std::ofstream(path) << "an earlier file";
    }
    EXPECT_FALSE(m_reader.SaveClip(path, 2, 2, 0));  // nothing between the marks
    EXPECT_EQ(m_reader.LastError().code, RecordError::NothingToSave);
    EXPECT_FALSE(m_reader.SaveClip(path, 5, 6, 0));
    EXPECT_FALSE(m_reader.SaveClip(path, 3, 1, 2));
    EXPECT_FALSE(m_reader.SaveClip("", 0, 1, 0));
    EXPECT_EQ(std::filesystem::file_size(path), 15u);  // the earlier file is untouched

    // An end group past the last is the last group with end position 0.
    ASSERT_TRUE(m_reader.SaveClip(path, 1, 99, 7)) << m_reader.LastError().text;
    ASSERT_TRUE(openClip(path, -1));
    EXPECT_EQ(m_clip.TotalFrameCount(), 9u);  // groups 1 to 3
    EXPECT_EQ(m_clip.GroupCount(), 4u);       // and group 4 with no frame copied
    EXPECT_EQ(m_clipInfo.EndTime(), m_reader.GroupWallTime(4));
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.path()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

TEST_F(ClipWriterTest, ReaderPositionAndCursorAreUnchangedAndLargeFramesAreCopiedWhole) {
    std::vector<GroupContent> groups = groupsFor(7, 3, 3);
    groups[2].frames[0] = test::makeFrame(groups[2].tick, 640 * 240 * 2 + 5000, 70000, 9);
    ASSERT_TRUE(openSource(7, groups, "l.ckx"));
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(m_reader.ReadFrame(m_a, -1, 0));
    const std::string path = m_folder.path() + "/l_clip.ckx";
    ASSERT_TRUE(m_reader.SaveClip(path, 0, 2, 1)) << m_reader.LastError().text;
    ASSERT_TRUE(m_reader.ReadFrame(m_a, -1, 0));
    EXPECT_EQ(m_a.Group(), 1u);
    EXPECT_EQ(m_a.PositionInGroup(), 1u);

    ASSERT_TRUE(openClip(path, -1));
    EXPECT_EQ(m_clip.TotalFrameCount(), 7u);
    CRecordFrame big(640, 480, 80000);
    ASSERT_TRUE(m_clip.ReadFrame(big, 2, 0)) << m_clip.LastError().text;
    test::expectFrameMatches(big, groups[2].frames[0]);
}

TEST_F(ClipWriterTest, SourceThatShrinksWhileOpenWritesNoClip) {
    for (const int kind : {3, int(kKindFourChannel)}) {
        const std::string name = kind == 3 ? "s.kxz" : "s.4ch";
        // Frames large enough that the file is read in several windows.
        std::vector<GroupContent> groups = groupsFor(kind, 3, 3);
        for (GroupContent& g : groups) {
            for (test::FrameContent& f : g.frames) f = test::makeFrame(f.tick, 40'000, 0, 1);
            for (test::FourChannelFrame& q : g.quadFrames) q.channels[2] = test::makeFrame(0, 40'000, 0, 2);
        }
        m_reader.Close();
        ASSERT_TRUE(openSource(kind, groups, name.c_str()));
        // The recording is cut inside group 1 after it was opened (a recorder reusing it).
        const uint32_t cut = m_reader.Groups()[1].offset + 50'000;
        std::filesystem::resize_file(m_folder.path() + "/" + name, cut);
        const std::string path = m_folder.path() + "/shrunk_clip";
        EXPECT_FALSE(m_reader.SaveClip(path, 0, 2, 1)) << kind;
        EXPECT_EQ(m_reader.LastError().code, RecordError::Truncated) << kind;
        EXPECT_FALSE(std::filesystem::exists(path)) << kind;
    }
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.path()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

TEST(RecordingExtension, NamesEveryKindSoThatItIsRecognisedAgain) {
    const std::pair<int, const char*> kinds[] = {{0, ".kx"}, {1, ".kxx"}, {2, ".kxq"}, {3, ".kxz"}, {7, ".ckx"}, {8, ".ckx"}};
    for (const auto& [kind, extension] : kinds) EXPECT_STREQ(RecordingExtension(kind), extension);
}

}  // namespace
}  // namespace kx
