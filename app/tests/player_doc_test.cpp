// The document and the main view's behaviour on the manual event loop: opening, the title,
// speeds and stepping, H/XH jumps, continuous playback, clips, snapshots, the integrity check,
// zoom, colour and what happens when the user closes the recording from inside a notification.
#include "app/player_doc.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <filesystem>
#include <functional>

#include "app/player_view.h"
#include "platform/camera_components.h"
#include "platform/manual/manual_event_loop.h"
#include "playback/play_notify.h"
#include "present/display.h"
#include "present/tests/gui_test_support.h"
#include "recording/record_reader.h"
#include "recording/tests/recording_builder.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

// Records what the document asks of the screen, and answers its questions as told.
class FakeUi : public DocumentUi {
public:
    void setTitle(const std::string& title) override { titles.push_back(title); }
    void fitViewTo(int width, int height, bool centre) override {
        fits.push_back({width, height, centre});
    }
    void showMessage(const std::string&, const std::string& text) override {
        messages.push_back(text);
    }
    std::optional<std::string> runOpenDialog() override { return openAnswer; }
    std::optional<std::string> askSavePath(const SaveRequest& request) override {
        saveRequests.push_back(request);
        if (onSave) onSave();
        return saveAnswer;
    }
    bool runMotionSetup(MotionSettings& settings) override {
        if (!motionAnswer) return false;
        settings = *motionAnswer;
        return true;
    }
    bool runCaptionSetup(uint32_t& switches) override {
        if (!captionAnswer) return false;
        switches = *captionAnswer;
        return true;
    }
    bool chooseColour(uint32_t& colour) override {
        if (!colourAnswer) return false;
        colour = *colourAnswer;
        return true;
    }
    void showDecodeError() override { ++decodeErrors; }
    void runFaceWindow(const std::string& path) override { faceWindows.push_back(path); }
    std::vector<std::string> faceWindows;
    bool openProgress(uint32_t total) override {
        progressTotal = total;
        progressOpen = true;
        return true;
    }
    void setProgress(uint32_t position) override { progress = position; }
    void closeProgress() override { progressOpen = false; }
    bool showAuthenticateOk(bool offerReport) override {
        ++passed;
        reportOffered = offerReport;
        return offerReport && wantReport;
    }
    bool showAuthenticateErr(const std::string& time, bool offerReport) override {
        failedAt.push_back(time);
        reportOffered = offerReport;
        return offerReport && wantReport;
    }
    bool panelExists() const override { return panel; }
    void createPanel() override { panel = true; }
    void destroyPanel() override { panel = false; }
    void setSliderRange(uint32_t total, const std::vector<uint32_t>& ticks) override {
        sliderTotal = total;
        sliderTicks = ticks;
    }
    void clearSlider() override {
        sliderTicks.clear();
        sliderPosition = 0;
    }
    void setSliderPosition(uint32_t position) override {
        sliderPosition = position;
        if (onFrame) onFrame();
    }
    bool frameReadoutShown() const override { return readoutShown; }
    void showFrameReadout(const std::optional<FrameReadout>& value) override { readout = value; }
    void showSpeedLevel(int level) override { lamp = level; }
    void runSearchDialog(SearchCriteria& criteria, SearchTarget& target) override {
        if (searchAnswer) searchAnswer(criteria, target);
    }
    std::unique_ptr<QuadWindow> createQuadWindow(QuadHost& host) override {
        quadHost = &host;
        return makeQuad ? makeQuad() : nullptr;
    }

    struct Fit {
        int width, height;
        bool centre;
    };
    std::vector<std::string> titles;
    std::vector<Fit> fits;
    std::vector<std::string> messages;
    std::optional<std::string> openAnswer;
    std::vector<SaveRequest> saveRequests;
    std::optional<std::string> saveAnswer;
    std::function<void()> onSave;
    std::optional<MotionSettings> motionAnswer;
    std::optional<uint32_t> captionAnswer;
    std::optional<uint32_t> colourAnswer;
    int decodeErrors = 0;
    uint32_t progressTotal = 0;
    uint32_t progress = 0;
    bool progressOpen = false;
    int passed = 0;
    std::vector<std::string> failedAt;
    bool reportOffered = false;
    bool wantReport = false;  // the answer to a verdict's offer of the report
    bool panel = true;
    uint32_t sliderTotal = 0;
    std::vector<uint32_t> sliderTicks;
    uint32_t sliderPosition = 0;
    std::function<void()> onFrame;  // runs inside the engine's announcement of a picture
    bool readoutShown = true;
    std::optional<FrameReadout> readout;
    int lamp = 0;
    std::function<void(SearchCriteria&, SearchTarget&)> searchAnswer;
    QuadHost* quadHost = nullptr;
    std::function<std::unique_ptr<QuadWindow>()> makeQuad;
};

// A quad play window that records what it is asked and answers as told.
class FakeQuad : public QuadWindow {
public:
    struct Log {
        std::vector<std::string> loads;
        bool destroyed = false;
    };
    FakeQuad(Log& log, bool answer) : m_log(log), m_answer(answer) {}
    ~FakeQuad() override { m_log.destroyed = true; }
    bool LoadChannels(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                      const std::string& dvrName, bool subfolders) override {
        m_log.loads.push_back(path + " " + std::to_string(pairs.size()) + " " + std::to_string(moment) + " " +
                              dvrName + (subfolders ? " sub" : ""));
        return m_answer;
    }
    bool LoadFourChannel(const std::string& path) override {
        m_log.loads.push_back("four " + path);
        return true;
    }

private:
    Log& m_log;
    bool m_answer;
};

class PlayerDocTest : public testing::Test {
protected:
    PlayerDocTest() {
        test::ensureGuiApplication();
        CreateDisplay();
        doc.SetView(&view);
        doc.SetGmtOffsetHours(0);
    }
    ~PlayerDocTest() override {
        doc.Close(false);
        loop.deliverPosted();
        doc.SetView(nullptr);
    }

    // A recording of `frames` pictures at 25 per second, one group every 200 ms (5 frames).
    std::string record(const std::string& name, uint32_t frames = 20, uint32_t start = 1793606400,
                       uint8_t camera = 0, int kind = kKindExtended) {
        RecordingJob job;
        job.path = folder.path() + "/" + name;
        job.kind = kind;
        job.resolutionCode = 135;
        job.frames = frames;
        job.groupMs = 200;
        job.startTime = start;
        job.cameraNumber = camera;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    }

    // Moves the clock until `done` holds (at most `limitMs`).
    void runUntil(const std::function<bool()>& done, uint64_t limitMs = 20'000) {
        for (uint64_t t = 0; t < limitMs && !done(); t += 10) loop.advanceMs(10);
    }
    // The running frame number of the picture on screen.
    uint32_t shownNumber() const {
        return doc.Player()->Reader()->FirstFrameNumber(doc.CurrentGroup(),
                                                        uint32_t(doc.CurrentPosition()));
    }
    std::string title() const { return ui.titles.empty() ? "" : ui.titles.back(); }

    ManualEventLoop loop;
    FakeUi ui;
    test::MemoryWindow window{QSize(704, 480)};
    CKorvexPlayerDoc doc{loop, ui, nullptr};
    CKorvexPlayerView view{loop, doc, window};
    test::TempFolder folder;
};

TEST(StatusText, SpeedInFrontOfTheStateWhilePlaying) {
    struct Case {
        bool player, paused;
        int level;
        const char* text;
    };
    const Case cases[] = {
        {false, false, 2, " Stop"},          {true, true, 2, " Pause"},
        {true, false, 0, " Playing"},        {true, false, -1, "1/2Times Playing"},
        {true, false, -3, "1/6Times Playing"}, {true, false, -4, "1/8Times Playing"},
        {true, false, 1, "2Times Playing"},  {true, false, 2, "4Times Playing"},
        {true, false, 3, "H Playing"},       {true, false, 4, "XH Playing"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(statusText(c.player, c.paused, c.level), c.text) << c.level;
}

TEST_F(PlayerDocTest, OpensWithTitleSizeSliderAndFirstPicture) {
    const std::string path = record("cam.ckx");
    ASSERT_TRUE(doc.OpenRecording(path));
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Playing");
    ASSERT_EQ(ui.fits.size(), 1u);
    EXPECT_EQ(ui.fits[0].width, 704);
    EXPECT_EQ(ui.fits[0].height, 576);
    EXPECT_TRUE(ui.fits[0].centre);
    EXPECT_EQ(ui.sliderTotal, 20u);
    EXPECT_EQ(ui.sliderTicks, (std::vector<uint32_t>{5, 10, 15, 20}));
    EXPECT_EQ(doc.CurrentFolder(), folder.path() + "/") << "the Open window starts there";

    runUntil([&] { return window.showCount > 0; });
    EXPECT_EQ(window.shown.size(), QSize(352, 288));
    ASSERT_TRUE(ui.readout);
    EXPECT_EQ(ui.readout->totalFrames, 20u);
    // While the readout is not on screen its texts are not made for every frame.
    ui.readoutShown = false;
    ui.readout.reset();
    loop.advanceMs(200);
    EXPECT_FALSE(ui.readout);
    ASSERT_TRUE(doc.CurrentReadout());
    EXPECT_EQ(doc.CurrentReadout()->group, uint32_t(doc.CurrentGroup()));

    // The same display size again: the window is neither moved nor resized.
    ASSERT_TRUE(doc.OpenRecording(record("cam2.ckx")));
    EXPECT_EQ(ui.fits.size(), 1u);

    doc.SetGmtOffsetHours(-5);
    ASSERT_TRUE(doc.OpenRecording(path));
    EXPECT_EQ(title(), "(KX-DVR)(GMT-05:00)(2026/11/02) -- Playing");
}

TEST_F(PlayerDocTest, FilesThatDoNotOpenAreToldAndLeaveTheDocumentEmpty) {
    const std::string garbage = test::writeFile(folder.path(), "junk.ckx", {1, 2, 3});
    EXPECT_FALSE(doc.OpenRecording(garbage));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find(garbage), std::string::npos);
    EXPECT_FALSE(doc.HasPlayer());
    EXPECT_EQ(title(), "KX Player") << "nothing was ever open: the program's name, no state";

    // A face file goes to the face window (which shows an unreadable one empty).
    EXPECT_TRUE(doc.OpenPath(folder.path() + "/faces.fac"));
    EXPECT_EQ(ui.faceWindows, std::vector<std::string>{folder.path() + "/faces.fac"});
    EXPECT_EQ(ui.messages.size(), 1u);

}

TEST_F(PlayerDocTest, SearchOpensTheChannelsRecordingAtTheMoment) {
    const uint32_t start = 1793606400;
    record("other-camera.ckx", 40, start, 1);
    const std::string ends = record("cam.ckx", 60, start);  // 2.4 s, groups of 200 ms
    ASSERT_TRUE(doc.OpenRecording(record("open.ckx")));
    ui.searchAnswer = [&](SearchCriteria& criteria, SearchTarget& target) {
        EXPECT_FALSE(doc.HasPlayer()) << "Search closes the open recording first";
        EXPECT_EQ(&criteria, &doc.Criteria());
        EXPECT_FALSE(target.SearchChannel(folder.path(), channelPair(2), start, "", false));
        EXPECT_FALSE(target.SearchChannel(folder.path(), channelPair(0), start, "another", false));
        ASSERT_TRUE(target.SearchChannel(folder.path(), channelPair(0), start + 1, "KX-DVR", false));
    };
    doc.OnSearch();
    ASSERT_TRUE(doc.HasPlayer());
    EXPECT_EQ(doc.Player()->Path(), ends);
    // Group wall times have whole seconds: positioning takes the last group of the moment's second.
    EXPECT_EQ(doc.Player()->Frame()->Group(), 9u);
    EXPECT_EQ(doc.Player()->Reader()->WallTimeOfTick(doc.Player()->Frame()->Tick()), start + 1);
    EXPECT_TRUE(ui.messages.empty()) << "the dialog tells about failures, not the document";
}

TEST_F(PlayerDocTest, QuadPlayTakesFourChannelRecordingsAndQuadSearchesAndBlocksOpenAndSearch) {
    FakeQuad::Log log;
    ui.makeQuad = [&] { return std::make_unique<FakeQuad>(log, false); };
    const std::string quad = record("quad.ckx", 10, 1793606400, 0, kKindFourChannel);
    EXPECT_TRUE(doc.OpenRecording(quad));
    EXPECT_FALSE(doc.HasPlayer());
    ASSERT_NE(doc.Quad(), nullptr);
    EXPECT_EQ(ui.quadHost, &doc);
    EXPECT_EQ(log.loads, std::vector<std::string>{"four " + quad});

    // While the window exists Open and Search do nothing.
    ui.openAnswer = record("cam.ckx");
    bool searched = false;
    ui.searchAnswer = [&](SearchCriteria&, SearchTarget&) { searched = true; };
    doc.OnFileOpen();
    doc.OnSearch();
    EXPECT_FALSE(doc.HasPlayer());
    EXPECT_FALSE(searched);
    doc.CloseQuadWindow();
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(doc.Quad(), nullptr);

    // A quad search that finds nothing says so and takes the window away again.
    log = {};
    EXPECT_FALSE(doc.SearchQuad("/srv", {0, 1}, 1793606400, "KX", true));
    EXPECT_EQ(log.loads, std::vector<std::string>{"/srv 2 1793606400 KX sub"});
    EXPECT_TRUE(log.destroyed);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Can not find video files !"});
    EXPECT_FALSE(doc.SearchQuad("/srv", {}, 1793606400, "", false)) << "no channel";
    ui.makeQuad = [&] { return std::make_unique<FakeQuad>(log, true); };
    EXPECT_TRUE(doc.SearchQuad("/srv", {5}, 1793606400, "", false));
    EXPECT_NE(doc.Quad(), nullptr);
    ui.makeQuad = nullptr;
    doc.CloseQuadWindow();
    EXPECT_FALSE(doc.SearchQuad("/srv", {5}, 1793606400, "", false)) << "no window could be made";
}

TEST_F(PlayerDocTest, SpeedLevelsAndPlayback) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    doc.SetSpeed(2);
    EXPECT_EQ(doc.Player()->Speed(), 2);
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) --4Times Playing");
    doc.SetSpeed(-3);
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) --1/6Times Playing");
    doc.SetSpeed(3);
    EXPECT_EQ(doc.Player()->Speed(), 0);
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) --H Playing");

    doc.SetSpeed(1);
    doc.PlaybackButton();
    EXPECT_EQ(doc.SpeedLevel(), 0);
    EXPECT_EQ(doc.Player()->Speed(), 0);
    EXPECT_EQ(ui.lamp, 0);
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Playing");

    // The level outlives the recording: the next one plays at it.
    doc.SetSpeed(-2);
    ASSERT_TRUE(doc.OpenRecording(record("next.ckx")));
    EXPECT_EQ(doc.Player()->Speed(), -2);
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) --1/4Times Playing");
}

TEST_F(PlayerDocTest, StepNextOnAPausedPlayerShowsExactlyTheNextPicture) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return doc.CurrentGroup() == 1 && doc.CurrentPosition() == 2; });
    doc.TogglePause();
    ASSERT_TRUE(doc.IsPaused());
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Pause");
    loop.advanceMs(500);
    const uint32_t before = shownNumber();

    for (uint32_t step = 1; step <= 4; ++step) {
        doc.StepNext();
        loop.advanceMs(500);
        EXPECT_TRUE(doc.IsPaused());
        EXPECT_EQ(shownNumber(), before + step);
    }
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Pause");

    // Pause resumes normal playing.
    doc.TogglePause();
    loop.advanceMs(200);
    EXPECT_GT(shownNumber(), before + 5);
}

TEST_F(PlayerDocTest, StepPrevGoesBackOneFrameAcrossGroupsAndNotBeforeTheFirst) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return doc.CurrentGroup() == 2 && doc.CurrentPosition() == 0; });
    doc.TogglePause();
    ASSERT_EQ(shownNumber(), 10u);
    doc.StepPrev();
    loop.advanceMs(300);
    EXPECT_EQ(doc.CurrentGroup(), 1);
    EXPECT_EQ(doc.CurrentPosition(), 4);
    EXPECT_TRUE(doc.IsPaused());
    doc.StepPrev();
    loop.advanceMs(300);
    EXPECT_EQ(shownNumber(), 8u);

    ASSERT_TRUE(doc.OpenRecording(record("other.ckx")));
    runUntil([&] { return window.showCount > 0; });
    doc.TogglePause();
    ASSERT_EQ(shownNumber(), 0u);
    doc.StepPrev();
    loop.advanceMs(300);
    EXPECT_EQ(shownNumber(), 0u);
    EXPECT_FALSE(doc.SingleStep());
}

// With a codec that shows each picture one frame late (the avc codec with B pictures), stepping
// back passes a group's key frame: each step shows the frame before, never the same one again.
TEST_F(PlayerDocTest, StepPrevPassesAKeyFrameOfACodecThatReordersPictures) {
    RecordingJob job;
    job.path = folder.path() + "/avc.ckx";
    job.kind = kKindExtended;
    job.resolutionCode = 135;
    job.frames = 15;
    job.groupMs = 200;
    job.codec = 4;
    job.quantiser = 28;
    job.bFrames = 2;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    ASSERT_TRUE(doc.OpenRecording(job.path));
    runUntil([&] { return doc.CurrentGroup() == 2 && doc.CurrentPosition() == 2; });
    doc.TogglePause();
    ASSERT_EQ(shownNumber(), 12u);
    for (uint32_t expected = 11; expected >= 3; --expected) {
        doc.StepPrev();
        loop.advanceMs(300);
        EXPECT_EQ(shownNumber(), expected);
        EXPECT_TRUE(doc.IsPaused());
    }
}

TEST_F(PlayerDocTest, SliderSeeksAtOnceWhilePlayingAndOnResumeWhilePaused) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return window.showCount > 0; });
    doc.SliderSeek(2, 3);  // playing: the first frame of the group under the thumb
    loop.advanceMs(20);
    EXPECT_EQ(doc.CurrentGroup(), 2);
    EXPECT_EQ(doc.CurrentPosition(), 0);

    doc.TogglePause();
    doc.SliderSeek(0, 2);  // paused: nothing moves until playback resumes
    loop.advanceMs(200);
    EXPECT_EQ(doc.CurrentGroup(), 2);
    EXPECT_TRUE(doc.SeekPending());
    doc.TogglePause();
    loop.advanceMs(20);
    EXPECT_FALSE(doc.SeekPending());
    EXPECT_EQ(doc.CurrentGroup(), 0);
    EXPECT_EQ(doc.CurrentPosition(), 2);

    // The slider's far end means the last group, not a seek past the end.
    doc.SliderSeek(4, 0);
    loop.advanceMs(20);
    EXPECT_EQ(doc.CurrentGroup(), 3);
    EXPECT_TRUE(doc.HasPlayer());
}

TEST_F(PlayerDocTest, ExtraHighSpeedJumpsTwoGroupsEveryHalfSecondAndEndsPastTheLast) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx", 40)));  // 8 groups
    doc.SetSpeed(kSpeedXH);
    std::vector<int32_t> groups;
    ui.onFrame = [&] { groups.push_back(doc.CurrentGroup()); };
    runUntil([&] { return !doc.HasPlayer(); }, 10'000);
    EXPECT_EQ(groups, (std::vector<int32_t>{0, 2, 4, 6}));
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Stop");
    EXPECT_GE(loop.elapsedMs(), 3 * 500u);
}

TEST_F(PlayerDocTest, ContinuousPlaybackPlaysLaterRecordingsOfTheSameCameraInOrder) {
    const uint32_t start = 1793606400;
    const std::string first = record("a.ckx", 5, start);
    record("d.ckx", 5, start + 300);
    record("b.ckx", 5, start + 100);
    record("c.ckx", 5, start + 200);
    record("other-camera.ckx", 5, start + 150, 3);
    record("same-start.ckx", 5, start);
    record("earlier.ckx", 5, start - 100);
    doc.ToggleContinuousPlayback();
    ASSERT_TRUE(doc.OpenRecording(first));
    std::vector<std::string> played;
    ui.onFrame = [&] {
        const std::string name = doc.Info().Path().substr(doc.Info().Path().find_last_of('/') + 1);
        if (played.empty() || played.back() != name) played.push_back(name);
    };
    runUntil([&] { return !doc.HasPlayer(); }, 20'000);
    EXPECT_EQ(played, (std::vector<std::string>{"a.ckx", "b.ckx", "c.ckx", "d.ckx"}));
}

TEST_F(PlayerDocTest, IntegrityCheckPassesStopsAndReportsTheFirstFailure) {
    const std::string path = record("cam.ckx");
    ASSERT_TRUE(doc.OpenRecording(path));
    doc.Authenticate(true);
    EXPECT_TRUE(ui.progressOpen);
    EXPECT_EQ(ui.progressTotal, 20u);
    runUntil([&] { return !doc.HasPlayer(); });
    EXPECT_EQ(ui.progress, 20u);
    EXPECT_EQ(ui.passed, 1);
    EXPECT_TRUE(ui.failedAt.empty());
    EXPECT_FALSE(ui.progressOpen);
    EXPECT_TRUE(ui.reportOffered);
    EXPECT_TRUE(ui.saveRequests.empty());  // the report was not asked for

    // Stop: no verdict at all when nothing failed. The check reopens the last recording.
    doc.Authenticate(true);
    ASSERT_TRUE(doc.IsChecking());
    loop.advanceMs(3);
    doc.Close(true, true);
    EXPECT_EQ(ui.passed, 1);
    EXPECT_TRUE(ui.failedAt.empty());
    EXPECT_FALSE(ui.progressOpen);

    // Opening another recording in the middle of the pass is no pass.
    doc.Authenticate(true);
    loop.advanceMs(3);
    ASSERT_TRUE(doc.OpenRecording(record("other.ckx")));
    EXPECT_EQ(ui.passed, 1);
    EXPECT_FALSE(ui.progressOpen);

    // A failure at the very first frame is not lost, also when the pass is stopped.
    ASSERT_TRUE(doc.OpenRecording(path));
    doc.Authenticate(true);
    doc.OnIntegrityFailure(*doc.Player()->Frame());
    doc.Close(true, true);
    ASSERT_EQ(ui.failedAt.size(), 1u);
    EXPECT_EQ(ui.failedAt[0], "08:00:00");
    EXPECT_EQ(ui.passed, 1);
}

TEST_F(PlayerDocTest, ADamagedRecordingFailsTheCheckWithTheTimeOfTheFrame) {
    const std::string path = record("cam.ckx", 100);
    // Cut the file in the middle of a record: the pass finds that the promised frame is missing.
    const auto size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, size * 3 / 4);
    if (!doc.OpenRecording(path)) GTEST_SKIP() << "the cut recording does not open";
    doc.Authenticate(true);
    const std::string report = folder.path() + "/cam_report.html";
    ui.wantReport = true;
    ui.saveAnswer = report;
    runUntil([&] { return !doc.HasPlayer(); });
    EXPECT_EQ(ui.passed, 0);
    ASSERT_EQ(ui.failedAt.size(), 1u);
    EXPECT_EQ(ui.failedAt[0].substr(0, 6), "08:00:");
    // The verdict offered the check's report, and it was saved where the user said.
    EXPECT_TRUE(ui.reportOffered);
    ASSERT_FALSE(ui.saveRequests.empty());
    EXPECT_EQ(ui.saveRequests.back().proposedPath, folder.path() + "/cam_report.html");
    std::ifstream in(report);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(html.find("This file has failed the authentication!"), std::string::npos);
    EXPECT_NE(html.find("<td>unreadable_record</td>"), std::string::npos);
}

TEST_F(PlayerDocTest, ClosingFromInsideANotificationDefersDeletingThePlayer) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    int closes = 0;
    // The user presses Stop while the picture is being announced (a nested loop of a dialog).
    ui.onFrame = [&] {
        if (closes++ == 0) doc.StopButton();
    };
    runUntil([&] { return closes > 0; });
    EXPECT_FALSE(doc.HasPlayer());
    loop.advanceMs(100);
    EXPECT_EQ(title(), "(KX-DVR)(GMT+00:00)(2026/11/02) -- Stop");
}

TEST_F(PlayerDocTest, ClipMarksAndSave) {
    const std::string path = record("cam.ckx");
    ASSERT_TRUE(doc.OpenRecording(path));
    runUntil([&] { return doc.CurrentGroup() == 1; });
    ASSERT_TRUE(doc.MarkClipStart());
    // Only the start marked: nothing saved, the mark kept.
    EXPECT_FALSE(doc.SaveClipAs());
    EXPECT_TRUE(ui.saveRequests.empty());
    EXPECT_TRUE(doc.ClipStartMarked());

    runUntil([&] { return doc.CurrentGroup() == 3 && doc.CurrentPosition() == 2; });
    ASSERT_TRUE(doc.MarkClipEnd());
    ui.saveAnswer = folder.path() + "/clip";  // typed without the extension
    ASSERT_TRUE(doc.SaveClipAs());
    ASSERT_EQ(ui.saveRequests.size(), 1u);
    EXPECT_EQ(ui.saveRequests[0].filter, "Kx Files (*.ckx)|*.ckx||");
    EXPECT_EQ(ui.saveRequests[0].proposedPath, folder.path() + "/cam_clip.ckx");
    EXPECT_EQ(doc.LastClipPath(), folder.path() + "/clip.ckx");
    EXPECT_FALSE(doc.ClipStartMarked());
    EXPECT_FALSE(doc.ClipEndMarked());

    CRecordInfo clip;
    ASSERT_TRUE(clip.ReadInfo(doc.LastClipPath()));
    ASSERT_TRUE(doc.PlayLastClip());
    EXPECT_EQ(doc.Player()->Reader()->TotalFrameCount(), 12u);  // groups 1 and 2, 2 of group 3
}

TEST_F(PlayerDocTest, SnapshotWritesTheShownPictureWithItsCaptionFields) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return doc.CurrentGroup() == 1; });
    const uint32_t frameTime = doc.CurrentFrameTime();
    ui.saveAnswer = folder.path() + "/shot.bmp";
    ASSERT_TRUE(doc.TakeSnapshot());
    EXPECT_EQ(ui.saveRequests.back().filter, "Bmp Files (*.bmp)|*.bmp||");
    EXPECT_FALSE(doc.IsPaused());  // playing again afterwards

    PictureFile shot;
    ASSERT_TRUE(shot.load(PictureFormat::Bmp, folder.path() + "/shot.bmp"));
    EXPECT_EQ(shot.width(), 352u);
    EXPECT_EQ(shot.height(), 288u);
    EXPECT_EQ(shot.hostName(), "KX-DVR");
    EXPECT_EQ(shot.cameraName(), "Camera 1");
    EXPECT_EQ(shot.time(), frameTime);

    // Cancelled: nothing written, a paused player stays paused.
    doc.TogglePause();
    ui.saveAnswer.reset();
    EXPECT_FALSE(doc.TakeSnapshot());
    EXPECT_TRUE(doc.IsPaused());
}

TEST_F(PlayerDocTest, ZoomByDragAndWheelHidesAndShowsTheCaption) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return window.showCount > 0; });
    // The window is 704 x 480 for a 352 x 288 picture: 6 view pixels are 3 picture pixels.
    view.OnLeftButtonDown(100, 100);
    view.OnLeftButtonUp(106, 200);
    EXPECT_EQ(doc.Zoom(), ZoomState::None);

    view.OnLeftButtonDown(352, 240);
    view.OnLeftButtonUp(704, 480);
    ASSERT_EQ(doc.Zoom(), ZoomState::Chosen);
    EXPECT_EQ(doc.ZoomRect(), (CaptionRect{176, 144, 352, 288}));
    EXPECT_TRUE(doc.Caption()->flags & kCaptionMotionRegions);

    view.OnMouseWheel(120);
    EXPECT_EQ(doc.Zoom(), ZoomState::Zoomed);
    EXPECT_TRUE(doc.Caption()->flags & kCaptionHidden);
    EXPECT_FALSE(doc.Caption()->flags & kCaptionMotionRegions);
    EXPECT_EQ(doc.Caption()->zoom, (CaptionRect{176, 144, 352, 288}));

    view.OnMouseWheel(-120);
    EXPECT_EQ(doc.Zoom(), ZoomState::None);
    EXPECT_FALSE(doc.Caption()->flags & kCaptionHidden);
    EXPECT_EQ(doc.Caption()->zoom, (CaptionRect{0, 0, 348, 287}));
}

TEST_F(PlayerDocTest, MotionRegionsFromDragsInPicturePixels) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    doc.ToggleMotionSearch();
    view.OnLeftButtonDown(400, 240);
    view.OnLeftButtonUp(200, 40);  // drawn upwards: normalised
    ASSERT_EQ(doc.MotionRegions().size(), 1u);
    EXPECT_EQ(doc.MotionRegions()[0], (CaptionRect{100, 24, 200, 144}));
    EXPECT_EQ(doc.Player()->Motion().count, 1u);
    // Too small a region clears them all.
    view.OnLeftButtonDown(10, 10);
    view.OnLeftButtonUp(14, 300);
    EXPECT_TRUE(doc.MotionRegions().empty());
    EXPECT_EQ(doc.Player()->Motion().count, 0u);
}

TEST_F(PlayerDocTest, ColourWorkerOnlyWhileSettingsAreNotNeutral) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return window.showCount > 0; });
    EXPECT_FALSE(view.ColourWorkerRunning());
    view.SetColour({150, 100, 100, 100});
    EXPECT_TRUE(view.ColourWorkerRunning());
    doc.TogglePause();
    // The paused picture is adjusted again and drawn when the worker has written it.
    const int shown = window.showCount;
    for (int i = 0; i < 200 && window.showCount == shown; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        loop.deliverPosted();
    }
    EXPECT_GT(window.showCount, shown);
    view.SetColour({100, 100, 100, 100});
    EXPECT_FALSE(view.ColourWorkerRunning());
}

TEST_F(PlayerDocTest, AFrameWithoutPictureShowsVideoLostAndTheNextPictureReplacesIt) {
    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    runUntil([&] { return window.showCount > 0; });
    doc.TogglePause();
    const QImage picture = window.shown;
    SetStatusBitmap(DrawnStatusBitmap(kStatusVideoLost), kStatusVideoLost);

    CPlayFrame sound(352, 288);
    sound.SetFlags(kFrameFlagNoPicture | kFrameFlagAudio);
    sound.SetGroup(1);
    loop.send(view, {WM_PLAY_NOTIFY, kPlayPicture, reinterpret_cast<intptr_t>(&sound)});
    EXPECT_TRUE(view.NoVideoShown());
    EXPECT_EQ(window.shown, StatusBitmap(kStatusVideoLost));
    EXPECT_EQ(doc.CurrentGroup(), 1);
    view.Redraw();  // a repaint keeps VIDEO LOST
    EXPECT_EQ(window.shown, StatusBitmap(kStatusVideoLost));

    // The next picture is drawn again, with the loudspeaker flag of its own frame.
    doc.TogglePause();
    runUntil([&] { return !view.NoVideoShown(); }, 200);
    EXPECT_EQ(window.shown.size(), picture.size());
    EXPECT_NE(window.shown, StatusBitmap(kStatusVideoLost));
}

TEST_F(PlayerDocTest, StillPicturesOpenAndCloseDoesNotDropThem) {
    PictureFile picture;
    picture.setPixels(64, 48, std::vector<uint8_t>(64 * 48 * 3, 0x80));
    picture.setCameraName("Door");
    ASSERT_TRUE(picture.save(PictureFormat::Bmp, folder.path() + "/still.bmp"));
    ASSERT_TRUE(doc.OpenPath(folder.path() + "/still.bmp"));
    EXPECT_EQ(doc.ContentKind(), kContentBitmap);
    EXPECT_EQ(window.shown.size(), QSize(64, 48));
    doc.OnFileClose();
    EXPECT_TRUE(doc.IsStillPicture());
    EXPECT_EQ(ui.fits.back().width, 64);

    ASSERT_TRUE(doc.OpenRecording(record("cam.ckx")));
    EXPECT_FALSE(doc.IsStillPicture());
}


// The picture of a recording as shown, after two seconds of playing.
QImage shownAfterTwoSeconds(CKorvexPlayerDoc& doc, ManualEventLoop& loop, test::MemoryWindow& window,
                            const std::string& path) {
    window.showCount = 0;
    if (!doc.OpenRecording(path)) return {};
    for (int t = 0; t < 2000; t += 10) loop.advanceMs(10);
    return window.showCount > 0 ? window.shown.convertToFormat(QImage::Format_RGB32) : QImage();
}

// Mean difference of the red, green and blue samples of two pictures of one size.
double meanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

TEST_F(PlayerDocTest, CameraStreamRecordingsPlayAsTheSceneTheyShow) {
    const auto write = [&](const std::string& name, int codec, CameraStream stream) {
        RecordingJob job;
        job.path = folder.path() + "/" + name;
        job.codec = codec;
        job.cameraStream = stream;
        job.frames = 75;
        std::string error;
        EXPECT_TRUE(writeRecording(job, error)) << error;
        return job.path;
    };
    const QImage native = shownAfterTwoSeconds(doc, loop, window, write("native.ckx", 1, CameraStream::Jpeg));
    ASSERT_FALSE(native.isNull());
    const struct {
        int codec;
        CameraStream stream;
    } cases[] = {{7, CameraStream::Jpeg}, {7, CameraStream::H264}, {8, CameraStream::Mpeg4}, {8, CameraStream::H264}};
    for (const auto& c : cases) {
        const std::string name = "camera" + std::to_string(c.codec) + "_" + std::to_string(int(c.stream)) + ".ckx";
        const QImage camera = shownAfterTwoSeconds(doc, loop, window, write(name, c.codec, c.stream));
        ASSERT_EQ(camera.size(), native.size()) << name;
        // The same scene through another codec: close, where a picture upside down, with red and
        // blue swapped or shifted by a row would be far off.
        EXPECT_LT(meanDifference(camera, native), 12.0) << name;
        EXPECT_GT(meanDifference(camera, native.mirrored(false, true)), 12.0) << name << ": the scene tells up from down";
        EXPECT_GT(meanDifference(camera, native.rgbSwapped()), 12.0) << name << ": the scene tells red from blue";
    }
    EXPECT_TRUE(ui.messages.empty());
}

// A control that fails every call: its error reaches the user once, and playing goes on.
class FailingViewer final : public DispatchControl {
public:
    DispatchResult invoke(int32_t, DispatchKind, std::span<const DispatchValue>) override {
        return {false, {}, "Media viewer failed"};
    }
    bool connect(std::string_view, DispatchEventSink*) override { return true; }
    void disconnect() override {}
};

TEST_F(PlayerDocTest, ACameraControlsErrorIsShownOnce) {
    RecordingJob job;
    job.path = folder.path() + "/camera8.ckx";
    job.codec = 8;
    job.frames = 25;
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    ControlRegistry& registry = ControlRegistry::process();
    const ControlRegistry::Factory own = registry.find(kMediaViewerProgId);
    registry.add(kMediaViewerProgId, [] { return std::make_unique<FailingViewer>(); });
    ASSERT_TRUE(doc.OpenRecording(job.path));
    for (int t = 0; t < 600; t += 10) loop.advanceMs(10);
    registry.add(kMediaViewerProgId, own);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Media viewer failed"});
}

}  // namespace
}  // namespace kx
