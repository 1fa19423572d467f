// The play engine on the hand-moved clock and the null audio device: pacing at every speed,
// seeking, going to a time, the end of a recording, audio-driven advance, the integrity pass
// and Stop. Nothing here sleeps.
#include "playback/play_wnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include <filesystem>
#include <memory>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/create_decoder.h"
#include "codec/legacy/legacy_decoder.h"
#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "recording/tests/recording_builder.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/tests/moving_square.h"

namespace kx {
namespace {

using test::FrameContent;
using test::GroupContent;

// What the notify target received: the code and, for pictures, which frame and when.
struct Notice {
    uint32_t code;
    FrameFault fault = FrameFault::None;  // code 7: what the player's LastError() said
    uint32_t group = 0;
    uint32_t position = 0;
    uint64_t atMs = 0;
    uint32_t pictureSum = 0;
    uint32_t motionFlags = 0;  // code 4: bit i set while region i reports motion
};

class NotifyLog : public EventTarget {
public:
    explicit NotifyLog(ManualEventLoop& loop) : EventTarget(loop), m_manual(loop) {}
    const CPlayWnd* player = nullptr;
    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override {
        EXPECT_EQ(message.id, WM_PLAY_NOTIFY);
        Notice notice{uint32_t(message.wParam)};
        notice.atMs = m_manual.elapsedMs();
        if (notice.code == kPlayPicture || notice.code == kPlayVerifying ||
            notice.code == kPlayIntegrityFailed) {
            const auto* frame = reinterpret_cast<const CPlayFrame*>(message.lParam);
            notice.group = frame->Group();
            notice.position = frame->PositionInGroup();
            if (notice.code == kPlayIntegrityFailed && player) {
                notice.fault = player->LastError().fault;
                EXPECT_EQ(player->LastError().group, notice.group);
                EXPECT_EQ(player->LastError().position, notice.position);
                EXPECT_FALSE(player->LastError().text.empty());
            }
            const RgbPicture& picture = frame->Picture();
            for (size_t i = 0; i < picture.byteCount(); ++i)
                notice.pictureSum = notice.pictureSum * 31 + picture.pixels()[i];
        }
        if (notice.code == kPlayMotion) {
            const auto* block = reinterpret_cast<const MotionBlock*>(message.lParam);
            for (uint32_t i = 0; i < block->count; ++i)
                notice.motionFlags |= block->regions[i].motion << i;
        }
        notices.push_back(notice);
        return 0;
    }
    std::vector<Notice> pictures() const {
        std::vector<Notice> out;
        for (const Notice& n : notices)
            if (n.code == kPlayPicture) out.push_back(n);
        return out;
    }
    int count(uint32_t code) const {
        int n = 0;
        for (const Notice& notice : notices) n += notice.code == code;
        return n;
    }
    std::vector<Notice> notices;

private:
    ManualEventLoop& m_manual;
};

// The null audio device keeps time on the loop's clock.
class LoopAudioClock : public AudioClock {
public:
    explicit LoopAudioClock(const ManualEventLoop& loop) : m_loop(loop) {}
    uint64_t nowUs() const override { return m_loop.elapsedMs() * 1000; }

private:
    const ManualEventLoop& m_loop;
};

// A G.726 block of `bytes` bytes (the content does not matter to the pacing).
std::vector<uint8_t> soundBlock(size_t bytes) {
    return std::vector<uint8_t>(bytes, 0x5A);
}

FrameContent frameAt(uint32_t tick, uint16_t codec = 1, uint16_t kind = 0) {
    FrameContent frame = test::makeFrame(tick, 64, 0, uint8_t(tick), codec);
    frame.kind = kind;
    return frame;
}

GroupContent groupAt(uint32_t tick, std::vector<FrameContent> frames = {}) {
    GroupContent group;
    group.tick = tick;
    group.frames = std::move(frames);
    return group;
}

class PlayWndTest : public ::testing::Test {
protected:
    // The loop's tick count and the recordings' ticks both cross 2^32 while playing.
    static constexpr uint32_t kLoopStart = 0xFFFFFF00u;
    static constexpr uint32_t kFirstTick = 0xFFFFFF80u;

    PlayWndTest() : clock(loop), devices(clock), log(loop), player(loop, &devices) {
        loop.setClockObserver([this] { devices.pump(); });
        player.Create(&log);
        log.player = &player;
    }

    // A clip recording (kind 3) of 160 x 112 pictures laid out byte by byte.
    std::string layOut(const std::vector<GroupContent>& groups, const char* name = "rec.kxz") {
        test::HeaderFields header;
        header.resolution = 0;
        header.flags = 0;
        header.firstTick = groups.front().frames.front().tick;
        return folder.write(name, test::recordingBytes(kKindClip, header, groups));
    }
    // `groupCount` groups of `perGroup` frames `gapMs` apart.
    std::string evenRecording(uint32_t groupCount, uint32_t perGroup, uint32_t gapMs) {
        std::vector<GroupContent> groups;
        uint32_t tick = kFirstTick;
        for (uint32_t g = 0; g < groupCount; ++g) {
            groups.push_back(groupAt(tick));
            for (uint32_t p = 0; p < perGroup; ++p, tick += gapMs)
                groups.back().frames.push_back(frameAt(tick));
        }
        return layOut(groups);
    }
    // A recording of real pictures from the recorder: 20 frames at 25 per second, 5 a group.
    std::string encodedRecording() {
        RecordingJob job;
        job.path = folder.path() + "/encoded.kxz";
        job.kind = kKindClip;
        job.resolutionCode = 0;
        job.frames = 20;
        job.groupMs = 200;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }
    void runUntilEnded(uint64_t limitMs = 60'000) {
        for (uint64_t t = 0; t < limitMs && log.count(kPlayEnded) == 0; t += 10) loop.advanceMs(10);
    }

    test::TempFolder folder;
    ManualEventLoop loop{kLoopStart};
    LoopAudioClock clock;
    NullAudioDevices devices;
    NotifyLog log;
    CPlayWnd player;
};

TEST_F(PlayWndTest, EverySpeedPacesTheFrameGap) {
    const std::string path = evenRecording(2, 6, 40);
    struct Case {
        int32_t speed;
        uint64_t waitMs;  // between two frames 40 ms apart
    };
    for (const Case c : {Case{-4, 320}, Case{-3, 240}, Case{-2, 160}, Case{-1, 80}, Case{0, 40},
                         Case{1, 20}, Case{2, 10}}) {
        SCOPED_TRACE(c.speed);
        log.notices.clear();
        const uint64_t openedAt = loop.elapsedMs();
        ASSERT_TRUE(player.Open(path, c.speed, false));
        runUntilEnded();
        const std::vector<Notice> shown = log.pictures();
        // Frame n is due n gaps after opening and shown on the first 10 ms tick not before that
        // (one frame a tick at most). Speed 2 decodes every frame but announces only the even
        // positions of each group.
        const uint32_t step = c.speed == 2 ? 2 : 1;
        ASSERT_EQ(shown.size(), 12u / step);
        uint64_t due = 10;
        for (uint32_t n = 0; n < 12; ++n) {
            due = std::max(n == 0 ? 10 : due + 10, (n * c.waitMs + 9) / 10 * 10);
            if (n % step) continue;
            const Notice& picture = shown[n / step];
            EXPECT_EQ(picture.group * 6 + picture.position, n);
            EXPECT_EQ(picture.atMs - openedAt, due) << n;
        }
        EXPECT_EQ(log.count(kPlayEnded), 1);
        EXPECT_EQ(player.Frame(), nullptr);
    }
}

TEST_F(PlayWndTest, LateTicksShortenTheNextWaitAndBackwardTicksPlayAtOnce) {
    // 45 ms gaps on a 10 ms timer: every frame but the first is shown up to 5 ms late, and the
    // wait after a late one is shorter, so the frames keep their pace.
    std::vector<GroupContent> groups{groupAt(kFirstTick)};
    for (uint32_t n = 0; n < 7; ++n) groups[0].frames.push_back(frameAt(kFirstTick + 45 * n));
    // Then a tick that goes back by 100 ms, and one 40 ms after that.
    groups[0].frames.push_back(frameAt(kFirstTick + 170));
    groups[0].frames.push_back(frameAt(kFirstTick + 210));
    ASSERT_TRUE(player.Open(layOut(groups), 0, false));
    runUntilEnded();
    std::vector<uint64_t> times;
    for (const Notice& n : log.pictures()) times.push_back(n.atMs);
    EXPECT_EQ(times, (std::vector<uint64_t>{10, 50, 90, 140, 180, 230, 270, 280, 310}));
}

TEST_F(PlayWndTest, SeekDecodesTheFramesBeforeTheTargetUnannounced) {
    const std::string path = encodedRecording();
    // Reference pictures: every frame decoded in order.
    std::vector<uint32_t> reference;
    {
        CRecordInfo info;
        ASSERT_TRUE(info.ReadInfo(path));
        CRecordReader reader;
        ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1));
        CPlayFrame frame(info.Width(), info.Height());
        auto decoder = createDecoder(1);
        while (reader.ReadFrame(frame, -1, 0)) {
            ASSERT_TRUE(decoder->decodeToRgb(frame, frame.Picture()));
            uint32_t sum = 0;
            for (size_t i = 0; i < frame.Picture().byteCount(); ++i)
                sum = sum * 31 + frame.Picture().pixels()[i];
            reference.push_back(sum);
        }
        ASSERT_EQ(reference.size(), 20u);
    }

    ASSERT_TRUE(player.Open(path, 0, false));
    loop.advanceMs(10);
    player.TogglePause();
    struct Case {
        int32_t group, count;
    };
    for (const Case c : {Case{2, 3}, Case{1, 0}, Case{3, 3}, Case{0, 2}}) {
        SCOPED_TRACE(c.group * 10 + c.count);
        log.notices.clear();
        ASSERT_TRUE(player.Seek(c.group, c.count));
        EXPECT_FALSE(player.IsPaused());
        EXPECT_TRUE(log.notices.empty());
        loop.advanceMs(10);
        player.TogglePause();
        ASSERT_EQ(log.pictures().size(), 1u);
        const Notice shown = log.pictures()[0];
        EXPECT_EQ(shown.group, uint32_t(c.group));
        EXPECT_EQ(shown.position, uint32_t(c.count));
        EXPECT_EQ(shown.pictureSum, reference[size_t(c.group * 5 + c.count)]);
    }
    // A group past the end fails and leaves the loaded frame.
    const uint32_t tickBefore = player.Frame()->Tick();
    EXPECT_FALSE(player.Seek(4, 0));
    EXPECT_FALSE(player.Seek(-1, 0));
    EXPECT_EQ(player.Frame()->Tick(), tickBefore);

    // Seek(last group, 0) and a frame that cannot be read after it: code 0.
    log.notices.clear();
    ASSERT_TRUE(player.Seek(3, 4));
    runUntilEnded();
    ASSERT_EQ(log.pictures().size(), 1u);
    EXPECT_EQ(log.notices.back().code, kPlayEnded);
}

TEST_F(PlayWndTest, GoToTimeLandsOnTheFirstFrameNotBeforeTheTime) {
    // Frames 300 ms apart in groups of 8 (groups at 0, 2.4 and 4.8 s); the header's start time
    // belongs to the first frame, and wall times count whole seconds.
    test::HeaderFields fields;
    fields.resolution = 0;
    fields.flags = 0;
    std::vector<GroupContent> groups;
    for (uint32_t n = 0; n < 24; ++n) {
        const uint32_t tick = fields.firstTick + 300 * n;
        if (n % 8 == 0) groups.push_back(groupAt(tick));
        groups.back().frames.push_back(frameAt(tick));
    }
    ASSERT_TRUE(player.Open(
        folder.write("times.kxz", test::recordingBytes(kKindClip, fields, groups)), 0, false));
    struct Case {
        int32_t secondsAfterStart;
        uint32_t frame;  // in reading order
    };
    // 1 s: frame 4 (1.2 s) inside group 0; 3 s: frame 10 (3.0 s) inside group 1; 2 s: group 1's
    // first frame (2.4 s, its wall time is 2); before the start: the first frame; after the
    // end: the last (whose presentation then ends playback).
    for (const Case c :
         {Case{1, 4}, Case{3, 10}, Case{5, 17}, Case{2, 8}, Case{-50, 0}, Case{100, 23}}) {
        SCOPED_TRACE(c.secondsAfterStart);
        log.notices.clear();
        ASSERT_TRUE(player.GoToTime(uint32_t(int64_t(fields.start) + c.secondsAfterStart)));
        EXPECT_TRUE(log.notices.empty());
        loop.advanceMs(10);
        ASSERT_FALSE(log.pictures().empty());
        const Notice shown = log.pictures()[0];
        EXPECT_EQ(shown.group * 8 + shown.position, c.frame);
    }
    EXPECT_EQ(log.notices.back().code, kPlayEnded);
}

TEST_F(PlayWndTest, FailedOpensPostNothingAndStopClearsEverything) {
    EXPECT_FALSE(player.Open(folder.path() + "/missing.kxz", 0, true));
    // The first frame's codec 5 has no decoder.
    const std::string codec5 = layOut(
        {groupAt(kFirstTick, {frameAt(kFirstTick, 5), frameAt(kFirstTick + 40, 1)})}, "c5.kxz");
    EXPECT_FALSE(player.Open(codec5, 0, true));
    EXPECT_EQ(player.Frame(), nullptr);
    EXPECT_TRUE(player.IsPaused());
    loop.advanceMs(100);
    EXPECT_TRUE(log.notices.empty());
    EXPECT_FALSE(loop.msUntilNextTimer().has_value());

    // A recording with sound, playing with its audio output open, then stopped.
    std::vector<GroupContent> groups{groupAt(kFirstTick)};
    for (uint32_t n = 0; n < 10; ++n) {
        FrameContent frame = frameAt(kFirstTick + 40 * n);
        frame.flags |= kFrameFlagAudio;
        frame.audio = soundBlock(30);
        groups[0].frames.push_back(frame);
    }
    ASSERT_TRUE(player.Open(layOut(groups), 0, true));
    loop.advanceMs(50);
    ASSERT_NE(player.AudioOutput(), nullptr);
    EXPECT_TRUE(player.AudioOutput()->IsOpen());
    player.Stop(Notify::Yes);
    EXPECT_EQ(player.Frame(), nullptr);
    EXPECT_EQ(player.Reader(), nullptr);
    EXPECT_EQ(player.AudioOutput(), nullptr);
    EXPECT_TRUE(player.IsPaused());
    EXPECT_EQ(player.Speed(), 0);
    EXPECT_FALSE(player.SoundOn());
    EXPECT_EQ(devices.queuedBuffers(), 0u);
    EXPECT_FALSE(loop.msUntilNextTimer().has_value());
    EXPECT_EQ(loop.queuedMessages(), 1u);  // code 0 only: no audio completion is left
    log.notices.clear();
    loop.advanceMs(100);
    ASSERT_EQ(log.notices.size(), 1u);
    EXPECT_EQ(log.notices[0].code, kPlayEnded);
    player.TogglePause();  // nothing loaded: stays stopped
    EXPECT_TRUE(player.IsPaused());
    player.Stop(Notify::No);
    loop.advanceMs(10);
    EXPECT_EQ(log.notices.size(), 1u);
}

TEST_F(PlayWndTest, AudioCompletionsCarryPlaybackPastEmptyBlocks) {
    // Frame 0 carries 100 ms of G.726 sound (300 bytes, 800 samples); frames 1 to 4 have the
    // audio flag but empty blocks; frame 5 has sound again; frame 6 has no audio flag. The
    // frames are a second apart, so the timer alone would take seconds.
    std::vector<GroupContent> groups{groupAt(kFirstTick)};
    for (uint32_t n = 0; n < 7; ++n) {
        FrameContent frame = frameAt(kFirstTick + 1000 * n);
        if (n < 6) frame.flags |= kFrameFlagAudio;
        if (n == 0 || n == 5) frame.audio = soundBlock(300);
        groups[0].frames.push_back(frame);
    }
    std::vector<std::vector<uint8_t>> played;
    devices.setQueueObserver(
        [&](int, const uint8_t* bytes, size_t size) { played.emplace_back(bytes, bytes + size); });
    ASSERT_TRUE(player.Open(layOut(groups), 0, true));
    runUntilEnded();
    std::vector<std::pair<uint32_t, uint64_t>> shown;
    for (const Notice& n : log.pictures()) shown.emplace_back(n.position, n.atMs);
    // Frame 0 on the first tick; its buffer finishes at 110 ms and frames 1 to 4 are passed
    // unannounced to frame 5; frame 6 (no sound) waits for the timer: 1000 ms after frame 5's
    // time, counted from the pacing start.
    EXPECT_EQ(shown, (std::vector<std::pair<uint32_t, uint64_t>>{{0, 10}, {5, 110}, {6, 1000}}));
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[0].size(), 1600u);

    // No sound at any speed but 0.
    played.clear();
    log.notices.clear();
    ASSERT_TRUE(player.Open(layOut(groups, "again.kxz"), 1, true));
    runUntilEnded();
    EXPECT_TRUE(played.empty());
    EXPECT_EQ(log.pictures().size(), 7u);
}

TEST_F(PlayWndTest, FastSpeedsDropAvcFramesOfKind3) {
    // A codec 1 first frame (the decoder), then avc frames whose kind 3 frames may be dropped.
    std::vector<GroupContent> groups{groupAt(kFirstTick, {frameAt(kFirstTick)})};
    for (uint32_t n = 1; n < 7; ++n)
        groups[0].frames.push_back(frameAt(kFirstTick + 40 * n, 4, n % 2 ? 3 : 1));
    const std::string path = layOut(groups);
    for (const int32_t speed : {0, 1}) {
        SCOPED_TRACE(speed);
        log.notices.clear();
        ASSERT_TRUE(player.Open(path, speed, false));
        runUntilEnded();
        std::vector<uint32_t> positions;
        for (const Notice& n : log.pictures()) positions.push_back(n.position);
        EXPECT_EQ(positions, speed == 0 ? (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6})
                                        : (std::vector<uint32_t>{0, 2, 4, 6}));
    }
}

TEST_F(PlayWndTest, OlderKindsPlayThroughTheLegacyDecoderOfTheirVariant) {
    struct Case {
        int kind;
        uint32_t version;
        uint8_t resolutionCode;
    };
    // Version 0x1000 marks pictures coded at half the width and shown doubled.
    for (const Case c : {Case{1, 0x101, 0}, Case{2, 0x1000, 3}}) {
        SCOPED_TRACE(c.version);
        RecordingJob job;
        job.path = folder.path() + "/old" + RecordingExtension(c.kind);
        job.kind = c.kind;
        job.version = c.version;
        job.resolutionCode = c.resolutionCode;
        job.frames = 6;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;

        // Reference: the decoder of the variant, frame after frame, into a picture of the size.
        CRecordInfo info;
        ASSERT_TRUE(info.ReadInfo(job.path));
        CRecordReader reader;
        ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1));
        CPlayFrame frame(info.Width(), info.Height());
        LegacyDecoder decoder;
        ASSERT_TRUE(decoder.Setup(LegacyDecoder::VariantOfVersion(c.version)));
        std::vector<uint32_t> reference;
        while (reader.ReadFrame(frame, -1, 0)) {
            LegacyDecodeResult result;
            RgbPicture& picture = frame.Picture();
            decoder.Decode(result, frame.VideoBuffer(), frame.VideoLength(), picture.pixels(),
                           picture.byteCount());
            EXPECT_EQ(result.error, 0u);
            uint32_t sum = 0;
            for (size_t i = 0; i < picture.byteCount(); ++i) sum = sum * 31 + picture.pixels()[i];
            reference.push_back(sum);
        }
        ASSERT_EQ(reference.size(), 6u);

        log.notices.clear();
        ASSERT_TRUE(player.Open(job.path, 1, false));
        runUntilEnded();
        const std::vector<Notice> shown = log.pictures();
        ASSERT_EQ(shown.size(), 6u);
        for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i].pictureSum, reference[i]) << i;
        // And the decoder did write: a blank picture of that size sums to 0.
        EXPECT_NE(reference[0], 0u);
    }
}

TEST_F(PlayWndTest, TheIntegrityPassReportsEveryFrameThenEnds) {
    const std::string path = encodedRecording();  // 20 frames, 5 a group
    ASSERT_TRUE(player.Open(path, 0, false));
    loop.advanceMs(10);
    log.notices.clear();
    player.SetVerifying(true);
    EXPECT_TRUE(player.IsPaused());
    ASSERT_NE(player.SecondFrame(), nullptr);
    loop.advanceMs(100);
    ASSERT_EQ(log.notices.size(), 21u);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(log.notices[i].code, kPlayVerifying);
        EXPECT_EQ(log.notices[i].group * 5 + log.notices[i].position, i);
        EXPECT_EQ(log.notices[i].atMs, 10 + i + 1);  // one frame a millisecond
    }
    EXPECT_EQ(log.notices[20].code, kPlayEnded);
    EXPECT_FALSE(loop.msUntilNextTimer().has_value());

    // A pass over a file that no longer opens ends at once.
    log.notices.clear();
    ASSERT_TRUE(player.Open(path, 0, false));
    std::remove(path.c_str());
    player.SetVerifying(true);
    loop.advanceMs(10);
    ASSERT_EQ(log.notices.size(), 1u);
    EXPECT_EQ(log.notices[0].code, kPlayEnded);
}

TEST_F(PlayWndTest, TheIntegrityPassFailsPicturesThatDoNotDecodeAndRecordsCutShort) {
    // Frames of 64 arbitrary bytes hold no picture: each is reported failed, then checked.
    ASSERT_TRUE(player.Open(evenRecording(2, 3, 40), 0, false));
    log.notices.clear();
    player.SetVerifying(true);
    loop.advanceMs(100);
    ASSERT_EQ(log.notices.size(), 13u);
    for (uint32_t i = 0; i < 6; ++i) {
        const Notice& failed = log.notices[2 * i];
        const Notice& checked = log.notices[2 * i + 1];
        EXPECT_EQ(failed.code, kPlayIntegrityFailed) << i;
        EXPECT_EQ(checked.code, kPlayVerifying) << i;
        EXPECT_EQ(failed.group * 3 + failed.position, i);
        EXPECT_EQ(checked.group * 3 + checked.position, i);
    }
    EXPECT_EQ(log.notices[12].code, kPlayEnded);

    // A recording cut short inside its last frame: the index still counts that frame, its record
    // cannot be read, and the frame before it is reported as the last sound one.
    const std::string whole = encodedRecording();
    const std::string cut = folder.path() + "/cut.kxz";
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) - 10);
    log.notices.clear();
    ASSERT_TRUE(player.Open(cut, 0, false));
    player.SetVerifying(true);
    loop.advanceMs(100);
    ASSERT_EQ(log.notices.size(), 21u);
    EXPECT_EQ(log.count(kPlayVerifying), 19);
    EXPECT_EQ(log.notices[19].code, kPlayIntegrityFailed);
    EXPECT_EQ(log.notices[19].fault, FrameFault::UnreadableRecord);
    EXPECT_EQ(log.notices[19].group, 3u);  // the record that cannot be read
    EXPECT_EQ(log.notices[19].position, 4u);
    EXPECT_EQ(log.notices[20].code, kPlayEnded);
    // Played normally, the same file just ends early: the report belongs to the pass.
    player.SetVerifying(false);
    log.notices.clear();
    ASSERT_TRUE(player.Open(cut, 2, false));
    runUntilEnded();
    EXPECT_EQ(log.count(kPlayIntegrityFailed), 0);
}

TEST_F(PlayWndTest, TheIntegrityPassReportsEachDamageAndGoesOnWithTheNextGroup) {
    test::HeaderFields header;
    std::vector<GroupContent> groups = test::groupsOfRecording(encodedRecording(), header);  // 4 groups of 5
    ASSERT_EQ(groups.size(), 4u);
    // The largest picture of group 1 cut short.
    uint32_t cut = 0;
    for (uint32_t p = 0; p < groups[1].frames.size(); ++p)
        if (groups[1].frames[p].video.size() > groups[1].frames[cut].video.size()) cut = p;
    ASSERT_GT(groups[1].frames[cut].video.size(), 100u);
    groups[1].frames[cut].video.resize(groups[1].frames[cut].video.size() / 2);
    groups[3].frames[3].video.assign(64, 0xFF);                             // no picture at all
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> bytes = test::recordingBytes(kKindClip, header, groups, &offsets);
    // Record 2:1 claims more bytes than the file holds: it cannot be read.
    const size_t record = offsets[2] + kShortGroupHeaderBytes + test::frameBytes(kKindClip, groups[2].frames[0]).size();
    for (int i = 0; i < 4; ++i) bytes[record + 8 + size_t(i)] = uint8_t(0x7FFFFFF0u >> (8 * i));
    const std::string path = folder.write("damaged.kxz", bytes);

    ASSERT_TRUE(player.Open(path, 0, false));
    log.notices.clear();
    player.SetVerifying(true);
    loop.advanceMs(100);
    std::vector<std::tuple<uint32_t, uint32_t, FrameFault>> failures;
    for (const Notice& n : log.notices)
        if (n.code == kPlayIntegrityFailed) failures.emplace_back(n.group, n.position, n.fault);
    EXPECT_EQ(failures, (std::vector<std::tuple<uint32_t, uint32_t, FrameFault>>{
                            {1, cut, FrameFault::PictureDamaged},
                            {2, 1, FrameFault::UnreadableRecord},
                            {3, 3, FrameFault::PictureUndecodable}}));
    EXPECT_EQ(log.count(kPlayVerifying), 16);  // all but 2:1 to 2:4, group 3 included
    EXPECT_EQ(log.notices.back().code, kPlayEnded);
}

TEST_F(PlayWndTest, ARecordAboveTheSizeCapIsPassedOverInPlayAndReportedInThePass) {
    std::vector<GroupContent> groups;
    for (uint32_t g = 0; g < 2; ++g) {
        groups.push_back(groupAt(kFirstTick + g * 120));
        for (uint32_t p = 0; p < 3; ++p) {
            FrameContent frame = frameAt(kFirstTick + (g * 3 + p) * 40);
            frame.flags |= kFrameFlagNoPicture;
            groups.back().frames.push_back(frame);
        }
    }
    groups[0].frames[1].video.assign(kMaxVideoRecordBytes + 1, 0);
    const std::string path = layOut(groups, "oversized.kxz");

    ASSERT_TRUE(player.Open(path, 0, false));
    runUntilEnded();
    EXPECT_EQ(log.pictures().size(), 5u);  // every frame but the oversized one is shown
    EXPECT_EQ(player.LastError().fault, FrameFault::OversizedRecord);

    log.notices.clear();
    ASSERT_TRUE(player.Open(path, 0, false));
    player.SetVerifying(true);
    loop.advanceMs(100);
    EXPECT_EQ(log.count(kPlayVerifying), 5);
    ASSERT_EQ(log.count(kPlayIntegrityFailed), 1);
    EXPECT_EQ(log.notices[1].code, kPlayIntegrityFailed);
    EXPECT_EQ(log.notices[1].fault, FrameFault::OversizedRecord);
    EXPECT_EQ(log.notices[1].position, 1u);
}

TEST_F(PlayWndTest, OpenFailuresSayWhy) {
    struct Case { const char* what; std::string path; const char* reason; };
    std::vector<GroupContent> unknownCodec = {groupAt(kFirstTick, {frameAt(kFirstTick, 9)})};
    const Case cases[] = {
        {"missing file", folder.path() + "/none.kxz", ""},
        {"codec without decoder", layOut(unknownCodec, "c9.kxz"), "codec 9 has no decoder"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(player.Open(c.path, 0, false)) << c.what;
        EXPECT_EQ(player.LastError().fault, FrameFault::CannotOpen) << c.what;
        EXPECT_NE(player.LastError().text.find(c.reason), std::string::npos) << player.LastError().text;
        EXPECT_FALSE(player.LastError().text.empty()) << c.what;
    }
    ASSERT_TRUE(player.Open(evenRecording(1, 2, 40), 0, false));
    EXPECT_EQ(player.LastError().fault, FrameFault::None);
}

// A notify target that deletes the window while handling the `nth` notification of `code`.
class DeletingTarget : public EventTarget {
public:
    DeletingTarget(EventLoop& loop, uint32_t code, int nth)
        : EventTarget(loop), m_code(code), m_left(nth) {}
    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override {
        codes.push_back(uint32_t(message.wParam));
        if (message.wParam == m_code && --m_left == 0) player.reset();
        return 0;
    }
    std::unique_ptr<CPlayWnd> player;
    std::vector<uint32_t> codes;

private:
    uint32_t m_code;
    int m_left;
};

TEST_F(PlayWndTest, ANotifyTargetMayDeleteTheWindowInsideASentNotification) {
    // Frames of 64 arbitrary bytes do not decode (code 7 before each code 6 in the pass); the
    // encoded recording does, and cut short it fails after its 19th frame.
    const std::string undecodable = evenRecording(2, 3, 40);
    const std::string encoded = encodedRecording();
    const std::string cut = folder.path() + "/cut.kxz";
    std::filesystem::copy_file(encoded, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(encoded) - 10);
    std::vector<GroupContent> sounding{groupAt(kFirstTick)};
    for (uint32_t n = 0; n < 4; ++n) {
        FrameContent frame = frameAt(kFirstTick + 1000 * n);
        frame.flags |= kFrameFlagAudio;
        if (n == 0 || n == 2) frame.audio = soundBlock(300);
        sounding[0].frames.push_back(frame);
    }
    const std::string withSound = layOut(sounding, "sound.kxz");

    enum class Pass { Play, Regions, Verify, Sound };
    const struct Case {
        const char* what;
        std::string path;
        Pass pass;
        uint32_t code;
        int nth;
        size_t received;  // notifications up to and including the fatal one
    } cases[] = {
        {"picture", undecodable, Pass::Play, kPlayPicture, 1, 1},
        {"third picture", undecodable, Pass::Play, kPlayPicture, 3, 3},
        {"motion block", encoded, Pass::Regions, kPlayMotion, 2, 3},
        {"verified frame", encoded, Pass::Verify, kPlayVerifying, 1, 1},
        {"failed picture", undecodable, Pass::Verify, kPlayIntegrityFailed, 2, 3},
        {"record cut short", cut, Pass::Verify, kPlayIntegrityFailed, 1, 20},
        {"picture after an audio completion", withSound, Pass::Sound, kPlayPicture, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeletingTarget target(loop, c.code, c.nth);
        target.player = std::make_unique<CPlayWnd>(loop, &devices);
        target.player->Create(&target);
        ASSERT_TRUE(target.player->Open(c.path, 0, c.pass == Pass::Sound));
        if (c.pass == Pass::Regions) {
            ASSERT_TRUE(target.player->AddRegion(0, 0, 64, 64));
        }
        if (c.pass == Pass::Verify) target.player->SetVerifying(true);
        for (int t = 0; t < 500 && target.player; ++t) loop.advanceMs(10);
        ASSERT_EQ(target.player, nullptr) << "never deleted";
        ASSERT_EQ(target.codes.size(), c.received);
        EXPECT_EQ(target.codes.back(), c.code);
        // Nothing of the deleted window runs or arrives afterwards.
        loop.advanceMs(2000);
        EXPECT_EQ(target.codes.size(), c.received);
        EXPECT_FALSE(loop.msUntilNextTimer().has_value());
    }
}

// The moving square at 25 pictures a second: still for 11 pictures, moving in pictures 11 to 19,
// then still again.
std::string movingSquareRecording(const test::TempFolder& folder) {
    const std::string y4m = folder.path() + "/square.y4m";
    test::writeMovingSquareY4m(y4m, 40, 11, 19);
    RecordingJob job;
    job.path = folder.path() + "/square.kxz";
    job.kind = kKindClip;
    job.resolutionCode = 0;
    job.inputY4m = y4m;
    job.frames = 40;
    job.groupMs = 400;
    job.quantiser = 2;
    std::string error;
    EXPECT_TRUE(writeRecording(job, error)) << error;
    return job.path;
}

TEST_F(PlayWndTest, MotionSearchRunsFastWhileQuietAndPausesWhenMotionStarts) {
    ASSERT_TRUE(player.Open(movingSquareRecording(folder), 0, false));
    player.SetMotionParams(5, 3, true);
    ASSERT_TRUE(player.AddRegion(0, 0, 64, 64));     // the square's path
    ASSERT_TRUE(player.AddRegion(0, 64, 160, 112));  // the street below: never moves
    ASSERT_TRUE(player.AddRegion(100, 0, 160, 64));
    EXPECT_FALSE(player.AddRegion(0, 0, 8, 8)) << "three regions at most";
    for (int t = 0; t < 2000 && !player.IsPaused(); t += 10) loop.advanceMs(10);
    ASSERT_TRUE(player.IsPaused());
    const std::vector<Notice> shown = log.pictures();
    // Quiet pictures come one a tick (10 ms), not at the recording's 40 ms pace; the square moves
    // from picture 11 on, and the third changed picture (13) switches motion on and pauses.
    ASSERT_EQ(shown.size(), 14u);
    for (size_t i = 1; i < 10; ++i) EXPECT_EQ(shown[i].atMs - shown[i - 1].atMs, 10u) << i;
    std::vector<uint32_t> flags;
    for (const Notice& n : log.notices)
        if (n.code == kPlayMotion) flags.push_back(n.motionFlags);
    ASSERT_EQ(flags.size(), 14u) << "the motion block goes with every picture";
    for (size_t i = 0; i < 13; ++i) EXPECT_EQ(flags[i], 0u) << i;
    EXPECT_EQ(flags[13], 1u) << "only the square's region";

    // Suspending (the seek slider is dragged) a paused player with regions clears the flags and
    // plays on, undetected.
    EXPECT_TRUE(player.ToggleSuspend());
    EXPECT_FALSE(player.IsPaused());
    EXPECT_EQ(player.Motion().regions[0].motion, 0u);
    EXPECT_FALSE(player.ToggleSuspend());
    player.ClearRegions();
    EXPECT_EQ(player.Motion().count, 0u);
    EXPECT_FALSE(player.MotionDetected());
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// A codec-4 recording with B pictures from the recorder: frames in coded order (I P B B P ...),
// each group of 12 opening with its I picture.
class PlayWndBPicturesTest : public PlayWndTest {
protected:
    static constexpr uint32_t kGroupFrames = 12;
    static constexpr uint32_t kFrames = 24;
    static constexpr uint32_t kGapMs = 40;

    // Codec 4 of bitstream version `avcVersion`, or the MPEG-4 codec `codec` (2 or 6).
    std::string bPictureRecording(int avcVersion, int codec = 4) {
        RecordingJob job;
        job.path = folder.path() + "/b" + std::to_string(codec) + "-" + std::to_string(avcVersion) + ".kxz";
        job.kind = kKindClip;
        job.resolutionCode = 0;
        job.codec = codec;
        job.avcVersion = avcVersion;
        job.quantiser = codec == 4 ? 30 : 6;
        job.frames = kFrames;
        job.gop = kGroupFrames;
        job.bFrames = 2;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }
    // The picture sums a fresh decoder shows after each of `frames` frames from the start of
    // `group`, the first `unfiltered` of them decoded without the loop filter. The first
    // frame's picture is held back, every later frame shows one.
    std::vector<uint32_t> decodedSums(const std::string& path, uint32_t group, uint32_t frames,
                                      uint32_t unfiltered) {
        CRecordInfo info;
        EXPECT_TRUE(info.ReadInfo(path));
        auto reader = std::make_unique<CRecordReader>();
        EXPECT_TRUE(reader->Open(&info, kReaderModeRead, -1));
        CPlayFrame frame(info.Width(), info.Height());
        frame.AttachReader(std::move(reader));
        FrameDecoder decoder;
        std::string reason;
        std::vector<uint32_t> sums;
        for (uint32_t n = 0; n < frames; ++n) {
            EXPECT_TRUE(frame.ReadAt(n == 0 ? int32_t(group) : -1, 0));
            if (n == 0) {
                EXPECT_TRUE(decoder.setup(info.Kind(), info.Version(), frame.Codec(), reason, info.Width(), info.Height()));
            }
            const FrameDecode result =
                decoder.decode(frame, frame.Picture(), n < unfiltered ? Deblocking::Off : Deblocking::On);
            EXPECT_EQ(result, n == 0 ? FrameDecode::NotYet : FrameDecode::Whole) << n;
            uint32_t sum = 0;
            for (size_t i = 0; i < frame.Picture().byteCount(); ++i) sum = sum * 31 + frame.Picture().pixels()[i];
            sums.push_back(sum);
        }
        return sums;
    }

    // The frames' ticks and kinds in file order, as the reader gives them.
    std::vector<std::pair<uint32_t, uint16_t>> ticksAndKinds(const std::string& path) {
        CRecordInfo info;
        EXPECT_TRUE(info.ReadInfo(path));
        auto reader = std::make_unique<CRecordReader>();
        EXPECT_TRUE(reader->Open(&info, kReaderModeRead, -1));
        CPlayFrame frame(info.Width(), info.Height());
        frame.AttachReader(std::move(reader));
        std::vector<std::pair<uint32_t, uint16_t>> out;
        while (frame.ReadNext()) out.emplace_back(frame.Tick(), frame.Kind());
        return out;
    }
};

TEST_F(PlayWndBPicturesTest, TheRecorderStampsFramesEvenlyInCodedOrder) {
    for (const int version : {3, 4}) {
        SCOPED_TRACE(version);
        const auto frames = ticksAndKinds(bPictureRecording(version));
        ASSERT_EQ(frames.size(), kFrames);
        std::vector<uint16_t> kinds;
        for (uint32_t n = 0; n < kFrames; ++n) {
            kinds.push_back(frames[n].second);
            if (n > 0) {
                EXPECT_EQ(frames[n].first - frames[n - 1].first, kGapMs) << n;
            }
        }
        // Coded order: each reference before the two B pictures (kind 3) it follows in time.
        const std::vector<uint16_t> group{0, 1, 3, 3, 1, 3, 3, 1, 3, 3, 1, 3};
        std::vector<uint16_t> expected = group;
        expected.insert(expected.end(), group.begin(), group.end());
        EXPECT_EQ(kinds, expected);
    }
}

// Each shown picture waits its turn: the frame gap divided by twice the speed from the frame
// before it, on the first 10 ms tick not before that; the first frame's picture is held back by
// the codec and the frame after it shows it in the same turn. Kind-3 frames are dropped at 2x
// and 4x, and 4x draws only the even positions of a group.
TEST_F(PlayWndBPicturesTest, ShownPicturesKeepTheRecordingsRateAtEverySpeed) {
    for (const int version : {3, 4}) {
        const std::string path = bPictureRecording(version);
        const auto frames = ticksAndKinds(path);
        ASSERT_EQ(frames.size(), kFrames);
        for (const int32_t speed : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << "version " << version << " speed " << speed);
            // The frames the player presents, and when, by the pacing rules.
            std::vector<uint32_t> presented;
            for (uint32_t n = 0; n < kFrames; ++n)
                if (speed == 0 || frames[n].second != 3) presented.push_back(n);
            std::vector<uint64_t> dueAt(kFrames, 0);
            uint64_t lastTick = 0, turn = 10;
            for (size_t i = 1; i < presented.size(); ++i) {
                const uint32_t n = presented[i];
                if (i > 1) {
                    const uint64_t gap = frames[n].first - frames[presented[i - 1]].first;
                    lastTick += speed == 0 ? gap : gap / (2 * uint64_t(speed));
                    turn = std::max(turn + 10, (lastTick + 9) / 10 * 10);
                }
                dueAt[n] = turn;
            }
            log.notices.clear();
            const uint64_t openedAt = loop.elapsedMs();
            ASSERT_TRUE(player.Open(path, speed, false));
            runUntilEnded();
            const std::vector<Notice> shown = log.pictures();
            std::vector<uint32_t> expectedFrames;
            for (size_t i = 1; i < presented.size(); ++i)
                if (speed != 2 || (presented[i] % kGroupFrames) % 2 == 0) expectedFrames.push_back(presented[i]);
            std::vector<uint32_t> shownFrames;
            for (const Notice& n : shown) shownFrames.push_back(n.group * kGroupFrames + n.position);
            ASSERT_EQ(shownFrames, expectedFrames);
            for (const Notice& n : shown)
                EXPECT_EQ(n.atMs - openedAt, dueAt[n.group * kGroupFrames + n.position])
                    << n.group << "/" << n.position;
            if (speed == 0) {
                for (size_t i = 2; i < shown.size(); ++i) {
                    EXPECT_EQ(shown[i].atMs - shown[i - 1].atMs, kGapMs) << i;
                }
            }
            if (speed == 0) {
                // Each shown picture is the codec's display picture after its frame (frames
                // decoded in file order with the loop filter). Pictures are not compared with
                // each other: the two B pictures between a pair of references may be equal,
                // their direct macroblocks predicting from integer vector parts that are the
                // same for both B parameters when the motion is small.
                const std::vector<uint32_t> expectedSums = decodedSums(path, 0, kFrames, 0);
                for (const Notice& n : shown)
                    EXPECT_EQ(n.pictureSum, expectedSums[n.group * kGroupFrames + n.position])
                        << n.group << "/" << n.position;
            }
            EXPECT_EQ(log.count(kPlayEnded), 1);
        }
    }
}

// Seek(g, n) decodes the frames before n unannounced (without the loop filter) and shows at
// (g, n) the picture the codec gives for frame n after them, though the pictures are coded out
// of order; the frames after it keep their pace.
TEST_F(PlayWndBPicturesTest, SeekingInsideAGroupShowsTheDisplayPictureOfTheFrameLandedOn) {
    for (const int version : {3, 4}) {
        SCOPED_TRACE(version);
        const std::string path = bPictureRecording(version);
        ASSERT_TRUE(player.Open(path, 0, false));
        for (uint32_t n = 1; n < kGroupFrames; ++n) {
            SCOPED_TRACE(n);
            // The codec's picture by the seek's rule, from a decoder of our own.
            const uint32_t expected = decodedSums(path, 1, n + 1, n).back();

            // Playing on after the last seek may have ended the recording.
            if (player.Frame() == nullptr) {
                ASSERT_TRUE(player.Open(path, 0, false));
            }
            log.notices.clear();
            const uint64_t seekAt = loop.elapsedMs();
            ASSERT_TRUE(player.Seek(1, int32_t(n)));
            for (int t = 0; t < 5; ++t) loop.advanceMs(10);
            const std::vector<Notice> shown = log.pictures();
            ASSERT_EQ(shown.size(), n + 1 < kGroupFrames ? 2u : 1u);
            EXPECT_EQ(shown[0].group, 1u);
            EXPECT_EQ(shown[0].position, n);
            EXPECT_EQ(shown[0].pictureSum, expected);
            EXPECT_EQ(shown[0].atMs - seekAt, 10u);
            // The next frame is due one gap after the seek, as after opening.
            if (shown.size() > 1) {
                EXPECT_EQ(shown[1].atMs - seekAt, kGapMs);
            }
        }
        player.Stop(Notify::No);
    }
}

// Seeking to a group's key frame after playing elsewhere, with codecs that reorder pictures.
// At a later group's key frame the picture shown is the one playback straight through shows
// there (the last reference of the group before); at the first group the codec starts afresh
// and shows the intra picture on the frame after it, as on opening. Never a picture held from
// where playback was.
TEST_F(PlayWndBPicturesTest, SeekingToAGroupsKeyFrameShowsWhatPlayingThroughShows) {
    for (const auto& [codec, version] : {std::pair{4, 3}, std::pair{4, 4}, std::pair{2, 0}, std::pair{6, 0}}) {
        const std::string path = bPictureRecording(version, codec);
        for (const uint32_t group : {1u, 0u}) {
            SCOPED_TRACE(testing::Message() << "codec " << codec << " version " << version << " group " << group);
            // What a decoder that played from the start shows at the group's key frame (or,
            // for the first group, at the frame after it). The seek decodes the group before
            // without the loop filter; the frames it presents, with it.
            const uint32_t landing = group * kGroupFrames + (group == 0 ? 1 : 0);
            const uint32_t expected = decodedSums(path, 0, landing + 1, group > 0 ? landing : 0).back();

            // Play inside group 1 first, so the codec holds pictures of that group.
            ASSERT_TRUE(player.Open(path, 0, false));
            ASSERT_TRUE(player.Seek(1, 5));
            for (int t = 0; t < 20; ++t) loop.advanceMs(10);
            ASSERT_GE(log.pictures().size(), 3u);
            log.notices.clear();
            const uint64_t seekAt = loop.elapsedMs();
            ASSERT_TRUE(player.Seek(int32_t(group), 0));
            loop.advanceMs(10);
            const std::vector<Notice> shown = log.pictures();
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].group * kGroupFrames + shown[0].position, landing);
            EXPECT_EQ(shown[0].pictureSum, expected);
            EXPECT_EQ(shown[0].atMs - seekAt, 10u);
            player.Stop(Notify::No);
        }
    }
}

}  // namespace
}  // namespace kx
