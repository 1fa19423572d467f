// Recordings written by the recorder read back with the reader: every header field, group and
// frame as the job asked for them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "recording/record_reader.h"
#include "tools/recorder/recording_job.h"
#include "tools/recorder/tests/recording_job_fixture.h"

namespace kx {
namespace {

class RecordingJobTest : public RecordingJobFixture {
protected:
    RecordingJobTest() : RecordingJobFixture("kx_job_") {}
};

TEST_F(RecordingJobTest, HeaderGroupsFramesAndSoundAreAsAskedFor) {
    struct Case {
        const char* name;
        int kind;
        int codec;
        uint8_t code;
        AudioFormat audio;
        uint32_t jitter, gapEvery;
    };
    const Case cases[] = {{"a.ckx", 7, 1, 7, AudioFormat::G726, 3, 0},
                          {"b.kxz", 3, 0, 0, AudioFormat::Ima, 0, 30},
                          {"c.4ch", 8, 1, 7, AudioFormat::G726, 0, 0}};
    for (const Case& c : cases) {
        RecordingJob job;
        job.path = path(c.name);
        job.kind = c.kind;
        job.codec = c.codec;
        job.resolutionCode = c.code;
        job.audio = c.audio;
        job.frames = 70;
        job.fps = 12.5;
        job.groupMs = 1000;
        job.jitterMs = c.jitter;
        job.gapEvery = c.gapEvery;
        job.gapMs = 2500;
        job.boardNumber = 3;
        job.cameraNumber = 9;
        job.hostName = "HOST-9";
        job.cameraName = "Gate";
        job.gmtOffset = -7;
        job.startTime = 1'800'000'000;
        job.firstTick = 0xFFFFF000;  // the recorder's clock wraps during the recording
        job.idctB = c.codec == 1;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;

        CRecordInfo info;
        info.SetPath(job.path);
        CRecordReader reader;
        ASSERT_TRUE(reader.Open(&info, kReaderModeRead, c.kind == 8 ? 2 : -1))
            << reader.LastError().text;
        EXPECT_EQ(info.Kind(), c.kind);
        EXPECT_EQ(info.ResolutionCode(), c.code);
        EXPECT_EQ(info.BoardNumber(), 3);
        EXPECT_EQ(info.CameraNumber(), 9);
        EXPECT_EQ(info.HostName(), "HOST-9");
        if (c.kind != 8) {
            EXPECT_EQ(info.CameraName(), "Gate");
        }
        EXPECT_EQ(info.GmtOffset(), -7);
        EXPECT_EQ(info.StartTime(), job.startTime);
        EXPECT_EQ(info.FirstFrameTick(), job.firstTick);
        EXPECT_EQ(reader.TotalFrameCount(), 70u);

        CRecordFrame frame(info.Width(), info.Height(), 65536);
        uint32_t previousTick = 0;
        uint32_t lastTick = 0;
        for (uint32_t n = 0; n < 70; ++n) {
            ASSERT_TRUE(reader.ReadFrame(frame, -1, 0)) << reader.LastError().text;
            const uint32_t elapsed = frame.Tick() - job.firstTick;
            const uint32_t nominal = n * 80 + (c.gapEvery ? n / c.gapEvery * 2500 : 0);
            EXPECT_LE(elapsed, nominal + c.jitter + 1) << n;
            EXPECT_GE(elapsed + c.jitter, nominal) << n;
            if (n > 0) {
                EXPECT_GT(elapsed, previousTick) << n;
            }
            previousTick = elapsed;
            lastTick = frame.Tick();
            // Each group starts with a key picture at the group's tick, and lasts about groupMs.
            const bool first = frame.PositionInGroup() == 0;
            EXPECT_EQ(frame.Kind() == kFrameKindKey, first) << n;
            if (first) {
                EXPECT_EQ(reader.Groups()[frame.Group()].groupTick, frame.Tick());
            }
            EXPECT_EQ(frame.Codec(), c.codec);
            EXPECT_EQ((frame.Flags() & kFrameFlagCodecOption) != 0, job.idctB);
            EXPECT_GT(frame.VideoLength(), 0u);
            // Sound rides on channel 0 only of a four-channel recording.
            EXPECT_EQ(frame.HasAudio(), c.kind != 8);
            if (c.audio == AudioFormat::G726 && c.kind != 8) {
                EXPECT_EQ(frame.AudioLength() % 3, 0u);
            }
            if (c.audio == AudioFormat::Ima) {
                EXPECT_TRUE(frame.AudioLength() == 0 || frame.AudioLength() % 256 == 0);
            }
        }
        EXPECT_FALSE(reader.ReadFrame(frame, -1, 0));
        EXPECT_EQ(info.EndTime(), info.WallTimeOfTick(lastTick));
        EXPECT_EQ(reader.GroupCount(),
                  c.gapEvery ? 7u : 6u);  // 5.6 s of frames, plus two 2.5 s pauses
    }
}

TEST_F(RecordingJobTest, Y4mInputOfTheCodedSizeIsRecordedAndAnyOtherSizeRefused) {
    const std::string y4m = path("in.y4m");
    const std::string command =
        "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25 -frames:v 30 "
        "-pix_fmt yuv420p -f yuv4mpegpipe " +
        y4m;
    ASSERT_EQ(std::system(command.c_str()), 0);
    RecordingJob job;
    job.path = path("y.kxz");
    job.kind = kKindClip;
    job.resolutionCode = 122;  // 352 x 288
    job.inputY4m = y4m;
    job.frames = 100;  // more than the input holds: the recording ends with the input
    std::string error;
    ASSERT_TRUE(writeRecording(job, error)) << error;
    CRecordInfo info;
    info.SetPath(job.path);
    CRecordReader reader;
    ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1));
    EXPECT_EQ(reader.TotalFrameCount(), 30u);

    job.resolutionCode = 2;  // 320 x 240
    job.path = path("z.kxz");
    EXPECT_FALSE(writeRecording(job, error));
    EXPECT_NE(error.find("pictures are 352 x 288, the resolution code needs 320 x 240"),
              std::string::npos)
        << error;
    EXPECT_FALSE(std::filesystem::exists(job.path));
}

TEST_F(RecordingJobTest, JobsThatCannotBeWrittenAreRefusedWithAReason) {
    struct Case {
        void (*change)(RecordingJob&);
        const char* text;
    };
    const Case cases[] = {
        {[](RecordingJob& j) { j.kind = 5; }, "only legacy"},
        {[](RecordingJob& j) { j.codec = 5; }, "neither a native codec (0 or 1), an MPEG-4 codec (2, 3 or 6), the avc codec (4) nor a camera codec (7 or 8)"},
        {[](RecordingJob& j) { j.codec = 4; }, "the avc codec's quantiser is 10 to 59"},
        {[](RecordingJob& j) { j.codec = 4, j.quantiser = 28, j.avcVersion = 2; }, "version is 3 or 4"},
        {[](RecordingJob& j) { j.codec = 4, j.quantiser = 28, j.bFrames = 8; }, "0 to 7 B pictures"},
        {[](RecordingJob& j) { j.bFrames = 1; }, "avc codec (4) only"},
        {[](RecordingJob& j) { j.codec = 3, j.bFrames = 1; }, "MPEG-4 codecs 2 and 6 and the avc codec (4) only"},
        {[](RecordingJob& j) { j.codec = 6, j.bFrames = 8; }, "0 to 7 B pictures"},
        {[](RecordingJob& j) { j.codec = 3, j.quarterSample = true; }, "quarter-sample motion is written by the MPEG-4 codecs 2 and 6 only"},
        {[](RecordingJob& j) { j.codec = 6, j.quantiser = 32; }, "quantiser must be 1 to 31"},
        {[](RecordingJob& j) { j.codec = 7, j.kind = kKindFourChannel; }, "written to clip (.kxz) and extended"},
        {[](RecordingJob& j) { j.resolutionCode = 137; }, "cannot be named in a header of kind 7"},
        {[](RecordingJob& j) { j.codec = 0, j.idctB = true; }, "option of codec 1"},
        {[](RecordingJob& j) { j.audio = AudioFormat::Ima, j.imaBlockBytes = 100; },
         "not a power of two"},
    };
    for (const Case& c : cases) {
        RecordingJob job;
        job.path = path("bad.ckx");
        job.frames = 3;
        c.change(job);
        expectRefused(job, c.text);
    }
}

}  // namespace
}  // namespace kx
