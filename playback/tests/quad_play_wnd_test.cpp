// The quad play engine with its real worker thread on the hand-moved clock: the worker runs one
// pass per 5 ms tick and the test waits for it before moving the clock on, so every outcome is
// exact. Start and clock alignment, level 3 and level 4, stepping, a channel ending, sound,
// Destroy, and the decoder of extended recordings.
#include "playback/quad_play_wnd.h"

#include <gtest/gtest.h>

#include <vector>

#include "codec/create_decoder.h"
#include "platform/manual/manual_event_loop.h"
#include "platform/null/null_audio_device.h"
#include "present/picture_copy.h"
#include "recording/record_reader.h"
#include "recording/tests/recording_builder.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

constexpr uint32_t kStart = 1'700'000'000;
constexpr uint32_t kFirstTick = 500'000;

struct Shown {
    int32_t group;
    int32_t position;
    uint32_t positionValue;
    uint32_t wallTime;
    uint64_t atMs;
};

// One pane: what its channel relayed, with the shown position read back as a pane would.
class PaneLog : public EventTarget {
public:
    PaneLog(ManualEventLoop& loop, CQuadPlayWnd& quad, int ch) : EventTarget(loop), m_manual(loop), m_quad(quad), m_ch(ch) {}
    void onTimer(uint32_t) override {}
    intptr_t onMessage(const LoopMessage& message) override {
        EXPECT_EQ(message.id, WM_PLAY_NOTIFY);
        codes.push_back(uint32_t(message.wParam));
        if (message.wParam == kPlayPicture) {
            const ChannelView view = m_quad.View(m_ch);
            EXPECT_TRUE(view.hasFrame);
            shown.push_back({view.group, view.position, view.positionValue, view.wallTime, m_manual.elapsedMs()});
            captionFlags = reinterpret_cast<const CaptionInfo*>(message.lParam)->flags;
        }
        return 0;
    }
    int count(uint32_t code) const { return int(std::count(codes.begin(), codes.end(), code)); }

    std::vector<uint32_t> codes;
    std::vector<Shown> shown;
    uint32_t captionFlags = 0;

private:
    ManualEventLoop& m_manual;
    CQuadPlayWnd& m_quad;
    int m_ch;
};

class LoopAudioClock : public AudioClock {
public:
    explicit LoopAudioClock(const ManualEventLoop& loop) : m_loop(loop) {}
    uint64_t nowUs() const override { return m_loop.elapsedMs() * 1000; }

private:
    const ManualEventLoop& m_loop;
};

class QuadPlayTest : public ::testing::Test {
protected:
    QuadPlayTest() : clock(loop), devices(clock), quad(loop, &devices) {
        loop.setClockObserver([this] { devices.pump(); });
        for (int ch = 0; ch < 4; ++ch) {
            panes.push_back(std::make_unique<PaneLog>(loop, quad, ch));
            settings[ch].notify = panes.back().get();
            settings[ch].flags = kChannelDefaultFlags;  // sound off
        }
        quad.Create();
    }
    ~QuadPlayTest() override { quad.Destroy(); }

    // A clip of `seconds` one-second groups of 25 frames (40 ms apart) starting at `start`;
    // with sound, each frame carries 40 ms of G.726.
    std::string clip(const char* name, uint32_t start, uint32_t seconds, bool audio = false) {
        test::HeaderFields header;
        header.resolution = 0;
        header.flags = 0;
        header.start = start;
        header.firstTick = kFirstTick;
        std::vector<test::GroupContent> groups = test::makeGroups(seconds, 25, kFirstTick, false);
        uint8_t seed = 0;
        if (audio)
            for (test::GroupContent& group : groups)
                for (test::FrameContent& frame : group.frames) frame = test::makeFrame(frame.tick, 30, 120, ++seed);
        return folder.write(name, test::recordingBytes(kKindClip, header, groups));
    }
    // Ticks the worker by hand, so that what it posts stays queued until delivered.
    void tickHeld() {
        loop.advanceMs(CQuadPlayWnd::kTickPeriodMs);
        quad.onTimer(CQuadPlayWnd::kTickTimer);
        ASSERT_TRUE(quad.WaitWorkerIdle());
    }
    void open(int ch, const std::string& path) { ASSERT_TRUE(quad.OpenChannel(ch, path, &settings[ch])); }

    // Lets the worker finish and delivers what it posted, until both are quiet.
    void settle() {
        do ASSERT_TRUE(quad.WaitWorkerIdle());
        while (loop.deliverPosted() > 0);
    }
    // Moves the clock tick by tick, `ms` in all.
    void run(uint64_t ms) {
        for (uint64_t t = 0; t < ms; t += CQuadPlayWnd::kTickPeriodMs) {
            loop.advanceMs(CQuadPlayWnd::kTickPeriodMs);
            settle();
        }
    }
    // Runs until `done` holds, at most `limitMs`.
    template <class Done>
    void runUntil(Done done, uint64_t limitMs) {
        for (uint64_t t = 0; t < limitMs && !done(); t += CQuadPlayWnd::kTickPeriodMs) run(CQuadPlayWnd::kTickPeriodMs);
    }

    test::TempFolder folder;
    ManualEventLoop loop{0xFFFFF000u};  // the tick count wraps while playing
    LoopAudioClock clock;
    NullAudioDevices devices;
    CQuadPlayWnd quad;
    ChannelSettings settings[4];
    std::vector<std::unique_ptr<PaneLog>> panes;
};

TEST_F(QuadPlayTest, AChannelStartingLaterWaitsForTheOthersWhateverItsNumber) {
    for (const int late : {0, 1}) {
        SCOPED_TRACE(late);
        const int early = 1 - late;
        open(early, clip("early.kxz", kStart, 40));
        open(late, clip("late.kxz", kStart + 30, 10));
        for (auto& pane : panes) pane->shown.clear();
        const uint64_t from = loop.elapsedMs();
        quad.Play(0);
        PaneLog& earlyPane = *panes[early];
        PaneLog& latePane = *panes[late];
        runUntil([&] { return !latePane.shown.empty(); }, 32'000);
        ASSERT_FALSE(latePane.shown.empty());
        // The early channel played from its start; the late one from its own, once the early one
        // reached it, about 30 s later.
        EXPECT_EQ(earlyPane.shown.front().positionValue, 0u);
        EXPECT_EQ(latePane.shown.front().positionValue, 0u);
        EXPECT_EQ(latePane.shown.front().wallTime, kStart + 30);
        EXPECT_GE(earlyPane.shown.back().wallTime, kStart + 29);
        EXPECT_NEAR(double(latePane.shown.front().atMs - from), 30'000.0, 100.0);
        EXPECT_EQ(settings[late].picture.load() != nullptr, true);
        quad.TogglePause();
        quad.CloseChannel(0, Notify::No);
        quad.CloseChannel(1, Notify::No);
        EXPECT_EQ(settings[0].picture.load(), nullptr);
    }
}

TEST_F(QuadPlayTest, AtLevelTwoAChannelThreeSecondsBehindSeeksAndTwoSecondsBehindDoesNot) {
    struct Case {
        uint32_t behind;
        bool seeks;
    };
    const std::string path = clip("rec.kxz", kStart, 30);
    for (const Case c : {Case{3, true}, Case{2, false}}) {
        SCOPED_TRACE(c.behind);
        // Channel 1 is the reference; channel 0 steps first in every pass.
        open(0, path);
        open(1, path);
        quad.Play(2);
        run(20);
        quad.TogglePause();
        ASSERT_TRUE(quad.GoToTime(1, kStart + 10));
        ASSERT_TRUE(quad.GoToTime(0, kStart + 10 - c.behind));
        panes[0]->shown.clear();
        panes[1]->shown.clear();
        quad.Play(2);
        run(200);
        quad.TogglePause();
        const std::vector<Shown>& behind = panes[0]->shown;
        const std::vector<Shown>& reference = panes[1]->shown;
        ASSERT_GE(behind.size(), 10u);
        ASSERT_GE(reference.size(), 10u);
        EXPECT_EQ(behind[0].wallTime, kStart + 10 - c.behind);
        EXPECT_EQ(reference[0].wallTime, kStart + 10u);
        if (c.seeks) {
            // The second picture is already the reference's time, and the two stay together.
            EXPECT_EQ(behind[1].wallTime, kStart + 10u);
            EXPECT_EQ(behind.back().positionValue, reference.back().positionValue);
        } else {
            for (size_t i = 1; i < behind.size(); ++i)
                EXPECT_EQ(behind[i].positionValue, behind[i - 1].positionValue + 1) << i;
            EXPECT_EQ(behind.back().positionValue + 50, reference.back().positionValue);
        }
    }
}

TEST_F(QuadPlayTest, AtLevelFourTheLeadChannelJumpsAGroupEveryTenthTickAndTheOthersFollow) {
    const std::string path = clip("rec.kxz", kStart, 12);
    open(0, path);
    open(1, path);
    open(2, path);
    settings[1].flags = kChannelDefaultFlags | kChannelSoundOn;  // the lead
    const uint64_t from = loop.elapsedMs();
    quad.Play(4);
    run(400);
    const std::vector<Shown>& lead = panes[1]->shown;
    // The channels start on the tenth tick, then the lead shows the next group every ten ticks.
    ASSERT_EQ(lead.size(), 8u);
    for (size_t i = 0; i < lead.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lead[i].atMs - from, 50 * (i + 1));
        EXPECT_EQ(lead[i].group, int32_t(i));
        EXPECT_EQ(lead[i].position, 0);
        for (const int other : {0, 2}) {
            ASSERT_EQ(panes[other]->shown.size(), lead.size());
            const Shown& follower = panes[other]->shown[i];
            EXPECT_EQ(follower.atMs, lead[i].atMs);
            EXPECT_EQ(follower.wallTime, lead[i].wallTime);
        }
    }
}

TEST_F(QuadPlayTest, LevelThreeShowsOnePictureInSix) {
    open(0, clip("rec.kxz", kStart, 4));
    quad.Play(3);
    runUntil([&] { return panes[0]->count(kPlayEnded) > 0; }, 5'000);
    const std::vector<Shown>& shown = panes[0]->shown;
    // 100 frames: pictures 5, 11, ..., 95, then the last one where the recording ends.
    ASSERT_EQ(shown.size(), 17u);
    for (size_t i = 0; i + 1 < shown.size(); ++i) EXPECT_EQ(shown[i].positionValue, 5 + 6 * i) << i;
    EXPECT_EQ(shown.back().positionValue, 99u);
    EXPECT_EQ(panes[0]->count(kPlayEnded), 1);
}

TEST_F(QuadPlayTest, AChannelThatEndsPostsCodeZeroForItselfWhileTheOthersPlayOn) {
    open(0, clip("long.kxz", kStart, 6));
    open(1, clip("short.kxz", kStart, 1));
    quad.Play(0);
    runUntil([&] { return panes[1]->count(kPlayEnded) > 0; }, 2'000);
    ASSERT_EQ(panes[1]->count(kPlayEnded), 1);
    EXPECT_EQ(panes[1]->shown.size(), 25u);
    EXPECT_FALSE(quad.IsActive(1));
    EXPECT_EQ(settings[1].picture.load(), nullptr);
    const size_t before = panes[0]->shown.size();
    run(1'000);
    EXPECT_EQ(panes[0]->count(kPlayEnded), 0);
    EXPECT_TRUE(quad.IsActive(0));
    EXPECT_EQ(panes[0]->shown.size(), before + 25);
    EXPECT_EQ(panes[1]->count(kPlayEnded), 1);
}

TEST_F(QuadPlayTest, StepOnceShowsOnePictureAndStepBackTheOneBefore) {
    const std::string path = clip("rec.kxz", kStart, 3);
    open(0, path);
    open(1, path);
    quad.Play(0);
    run(200);
    quad.TogglePause();
    run(20);
    const uint32_t at = panes[0]->shown.back().positionValue;
    ASSERT_GT(at, 2u);

    quad.StepOnce();
    run(50);
    EXPECT_TRUE(quad.IsPaused());
    EXPECT_EQ(panes[0]->shown.back().positionValue, at + 1);
    EXPECT_EQ(panes[1]->shown.back().positionValue, at + 1);

    const size_t count = panes[0]->shown.size();
    quad.StepBack();
    run(50);
    EXPECT_TRUE(quad.IsPaused());
    ASSERT_EQ(panes[0]->shown.size(), count + 1);
    EXPECT_EQ(panes[0]->shown.back().positionValue, at);
    EXPECT_EQ(panes[1]->shown.back().positionValue, at);
    EXPECT_EQ(quad.ChannelTime(0), panes[0]->shown.back().wallTime);
}

TEST_F(QuadPlayTest, PlayNextMovesTheChannelAGroupOnAndTheOthersFollow) {
    const std::string path = clip("rec.kxz", kStart, 6);
    open(0, path);
    open(1, path);
    quad.Play(0);
    run(100);
    ASSERT_TRUE(quad.PlayNext(1));
    run(10);
    EXPECT_EQ(panes[1]->shown.back().group, 1);
    EXPECT_EQ(panes[0]->shown.back().wallTime, panes[1]->shown.back().wallTime);
    // Back again: the other channel follows backwards too.
    ASSERT_TRUE(quad.PlayPrev(1));
    run(10);
    EXPECT_EQ(panes[1]->shown.back().group, 0);
    EXPECT_EQ(panes[0]->shown.back().wallTime, kStart);
}

TEST_F(QuadPlayTest, SoundPlaysOnTheSoundChannelAtLevelZeroOnly) {
    open(0, clip("rec.kxz", kStart, 4, true));
    settings[0].flags = kChannelDefaultFlags | kChannelSoundOn;
    quad.SetAudioEnabled(true);
    quad.Play(0);
    run(400);
    EXPECT_NE(panes[0]->captionFlags & kCaptionAudio, 0u);
    EXPECT_GT(devices.queuedBuffers(), 0u);
    // The pictures keep their pace while the sound queue drives the channel.
    EXPECT_NEAR(double(panes[0]->shown.size()), 11.0, 2.0);
    quad.Play(1);
    run(50);
    EXPECT_EQ(panes[0]->captionFlags & kCaptionAudio, 0u);
    EXPECT_EQ(devices.queuedBuffers(), 0u);
}

TEST_F(QuadPlayTest, DestroyLeavesNothingQueued) {
    const std::string path = clip("rec.kxz", kStart, 4, true);
    open(0, path);
    open(1, path);
    settings[0].flags = kChannelDefaultFlags | kChannelSoundOn;
    quad.SetAudioEnabled(true);
    quad.Play(0);
    run(300);
    EXPECT_TRUE(loop.hasTimer(quad, CQuadPlayWnd::kTickTimer));
    // A pass whose pictures are still queued.
    loop.killTimer(quad, CQuadPlayWnd::kTickTimer);
    for (int i = 0; i < 20 && loop.queuedMessages() == 0; ++i) tickHeld();
    ASSERT_GT(loop.queuedMessages(), 0u);
    const size_t shown = panes[0]->shown.size();
    quad.Destroy();
    EXPECT_EQ(loop.queuedMessages(), 0u);
    EXPECT_EQ(devices.queuedBuffers(), 0u);
    loop.advanceMs(100);
    EXPECT_EQ(panes[0]->shown.size(), shown);
    EXPECT_EQ(panes[0]->count(kPlayEnded), 0);
}

TEST_F(QuadPlayTest, NotificationsOfAClosedRecordingAreDropped) {
    const std::string path = clip("short.kxz", kStart, 1);
    open(0, path);
    quad.Play(2);
    // The channel ends; before its code 0 is delivered the pane opens the recording again.
    loop.killTimer(quad, CQuadPlayWnd::kTickTimer);
    for (int i = 0; i < 200 && quad.IsActive(0); ++i) {
        tickHeld();
        if (quad.IsActive(0)) loop.deliverPosted();
    }
    ASSERT_FALSE(quad.IsActive(0));
    ASSERT_EQ(panes[0]->count(kPlayEnded), 0);
    open(0, path);
    settle();
    EXPECT_TRUE(quad.IsActive(0));
    EXPECT_EQ(panes[0]->count(kPlayEnded), 0);
}

TEST_F(QuadPlayTest, ExtendedRecordingsPlayWithTheirCodecsDecoder) {
    RecordingJob job;
    job.path = folder.path() + "/extended.ckx";
    job.kind = kKindExtended;
    job.resolutionCode = 135;
    job.frames = 10;
    job.groupMs = 200;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    open(0, job.path);
    quad.Play(0);
    runUntil([&] { return !panes[0]->shown.empty(); }, 100);
    quad.TogglePause();
    std::vector<uint8_t> snapshot;
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(quad.Snapshot(0, snapshot, width, height));
    EXPECT_FALSE(quad.Snapshot(1, snapshot, width, height));

    // The first picture as the codec's own decoder gives it.
    CRecordInfo info;
    ASSERT_TRUE(info.ReadInfo(job.path));
    CRecordReader reader;
    ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1));
    CPlayFrame frame(info.Width(), info.Height());
    ASSERT_TRUE(reader.ReadFrame(frame, -1, 0));
    auto decoder = createDecoder(frame.Codec());
    ASSERT_TRUE(decoder && decoder->decodeToRgb(frame, frame.Picture()));
    std::vector<uint8_t> expected(size_t(width) * height * 3);
    ASSERT_TRUE(copyPictureUpright(frame.Picture(), kKindExtended, frame.Flags(),
                                   {expected.data(), width, height, 3, width * 3, RowOrder::BottomUp}));
    EXPECT_EQ(snapshot, expected);
    EXPECT_NE(std::count(expected.begin(), expected.end(), expected[0]), std::ptrdiff_t(expected.size()));
}

}  // namespace
}  // namespace kx
