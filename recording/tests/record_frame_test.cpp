// Frame records: both layouts read from independent bytes, written back identically, and
// refused safely when a length does not fit the file or the buffer.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "recording/record_frame.h"
#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

using test::FrameContent;

std::vector<uint8_t> readAll(File& file) {
    std::vector<uint8_t> bytes(file.length());
    file.seek(0);
    file.read(bytes.data(), bytes.size());
    return bytes;
}

TEST(RecordFrame, BothLayoutsReadAndWriteBackByteForByte) {
    struct Case { int kind; uint32_t audio; uint16_t codec; };
    const Case cases[] = {{3, 0, 1}, {3, 17, 2}, {7, 0, 4}, {7, 33, 6}};
    test::TempFolder folder;
    for (const Case& c : cases) {
        FrameContent wanted = test::makeFrame(0xFFFFFFF0, 300, c.audio, 9, c.codec);
        wanted.flags |= kFrameFlagCodecOption;
        std::vector<uint8_t> bytes = test::frameBytes(c.kind, wanted);
        if (c.kind == 3 && !c.audio) {
            EXPECT_EQ(bytes.size(), 12u + 300u);  // no audio-length word
        }
        const FrameLayout layout = c.kind == 7 ? FrameLayout::Long : FrameLayout::Short;

        CRecordFrame frame(16, 16, 64);
        File in;
        ASSERT_TRUE(in.open(folder.write("frame", bytes), FileMode::Read));
        ASSERT_TRUE(frame.Read(in, layout)) << frame.LastError().text;
        test::expectFrameMatches(frame, wanted);
        EXPECT_EQ(frame.Codec(), c.codec);

        File out;
        ASSERT_TRUE(out.open(folder.path() + "/copy", FileMode::CreateWrite));
        EXPECT_EQ(frame.Write(out, layout), bytes.size());
        if (c.kind == 7) bytes[1] = 0;  // bits 8 to 15 of the first word are not interpreted
        EXPECT_EQ(readAll(out), bytes) << c.kind << " audio " << c.audio;
    }
}

TEST(RecordFrame, PayloadsThatDoNotFitAreRefusedWithoutWriting) {
    struct Case {
        const char* what;
        int width;
        uint32_t audioCapacity;
        uint32_t videoBytes;
        uint32_t audioBytes;
        size_t cutTo;  // 0: keep the whole record
        RecordError error;
    };
    const Case cases[] = {
        {"video but no buffer", 0, 64, 10, 0, 0, RecordError::NoBuffer},
        {"audio but no buffer", 16, 0, 10, 4, 0, RecordError::NoBuffer},
        {"record cut inside the video", 16, 64, 100, 0, 110, RecordError::Truncated},
        {"record cut inside the header", 16, 64, 100, 0, 10, RecordError::Truncated},
    };
    test::TempFolder folder;
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = test::frameBytes(3, test::makeFrame(5, c.videoBytes, c.audioBytes, 3));
        if (c.cutTo) bytes.resize(std::min(bytes.size(), c.cutTo));
        File file;
        ASSERT_TRUE(file.open(folder.write("f", bytes), FileMode::Read));
        CRecordFrame frame(c.width, c.width, c.audioCapacity);
        EXPECT_FALSE(frame.Read(file, FrameLayout::Short)) << c.what;
        EXPECT_EQ(frame.LastError().code, c.error) << c.what;
        EXPECT_EQ(frame.VideoLength(), 0u) << c.what;
        EXPECT_LE(frame.AudioLength(), frame.AudioCapacity()) << c.what;
    }
}

TEST(RecordFrame, BuffersGrowToWhatARecordNeedsAndKeepTheirCap) {
    const test::FrameContent content = test::makeFrame(5, 4 * 4 * 2 + 1, 9, 3);
    test::TempFolder folder;
    File file;
    ASSERT_TRUE(file.open(folder.write("f", test::frameBytes(3, content)), FileMode::Read));
    CRecordFrame frame(4, 4, 8);
    ASSERT_TRUE(frame.Read(file, FrameLayout::Short)) << frame.LastError().text;
    test::expectFrameMatches(frame, content);
    EXPECT_EQ(frame.VideoCap(), kMaxVideoRecordBytes);
    EXPECT_EQ(frame.AudioCap(), kMaxAudioRecordBytes);
    EXPECT_FALSE(frame.ReserveVideo(kMaxVideoRecordBytes + 1));
    EXPECT_GE(frame.VideoCapacity(), content.video.size());
    EXPECT_EQ(CRecordFrame(0, 0, 0).VideoCap(), 0u);  // no buffer, no growth
}

TEST(RecordFrame, VideoLongerThanTheWholeFileLeavesLengthZero) {
    test::Bytes b;
    b.u16(0).u16(0).u32(1).u32(0x7FFFFFFF).zeros(8);
    test::TempFolder folder;
    File file;
    ASSERT_TRUE(file.open(folder.write("f", b.data()), FileMode::Read));
    CRecordFrame frame(720, 576, 0);
    EXPECT_FALSE(frame.Read(file, FrameLayout::Short));
    EXPECT_EQ(frame.VideoLength(), 0u);
    EXPECT_NE(frame.LastError().text.find("exceeds the file length"), std::string::npos);
}

TEST(RecordFrame, PackedFormRoundTripsAndRefusesShortInput) {
    CRecordFrame source(8, 8, 32);
    source.SetKind(2);
    source.SetFlags(kFrameFlagAudio | 0x10);
    source.SetTick(123456);
    for (int i = 0; i < 50; ++i) source.VideoBuffer()[i] = uint8_t(i);
    for (int i = 0; i < 20; ++i) source.AudioBuffer()[i] = uint8_t(200 - i);
    ASSERT_TRUE(source.SetVideoLength(50));
    ASSERT_TRUE(source.SetAudioLength(20));
    source.SetTexts("25.00f/s", "12.50KB/s");
    EXPECT_EQ(source.PackedSize(), 50u + 12 + 20 + 4 + 2 + 8 + 9);

    std::vector<uint8_t> packed(source.PackedSize());
    uint8_t* out = packed.data();
    EXPECT_EQ(source.Pack(out, packed.data() + packed.size()), packed.size());
    EXPECT_EQ(out, packed.data() + packed.size());

    CRecordFrame copy(8, 8, 32);
    for (size_t cut = 0; cut < packed.size(); cut += 7) {
        const uint8_t* in = packed.data();
        EXPECT_EQ(copy.Unpack(in, packed.data() + cut), 0u) << cut;
        EXPECT_EQ(in, packed.data());
    }
    const uint8_t* in = packed.data();
    EXPECT_EQ(copy.Unpack(in, packed.data() + packed.size()), packed.size());
    EXPECT_EQ(copy.Kind(), 2);
    EXPECT_EQ(copy.Tick(), 123456u);
    EXPECT_EQ(copy.VideoLength(), 50u);
    EXPECT_EQ(copy.AudioBuffer()[19], 181);
    EXPECT_EQ(copy.FrameRateText(), "25.00f/s");
    EXPECT_EQ(copy.BitRateText(), "12.50KB/s");

    CRecordFrame small(2, 2, 32);  // an 8-byte video buffer grows to take the 50 bytes
    in = packed.data();
    EXPECT_EQ(small.Unpack(in, packed.data() + packed.size()), packed.size());
    EXPECT_EQ(small.VideoLength(), 50u);
    CRecordFrame none(0, 0, 32);  // no video buffer at all
    in = packed.data();
    EXPECT_EQ(none.Unpack(in, packed.data() + packed.size()), 0u);
}

TEST(RecordFrame, NewFrameHasItsDefaults) {
    CRecordFrame frame(0, 0, 0);
    EXPECT_EQ(frame.VideoBuffer(), nullptr);
    EXPECT_EQ(frame.AudioBuffer(), nullptr);
    EXPECT_FALSE(frame.SetVideoLength(1));
    EXPECT_EQ(frame.Tick(), frame.CreationTick());
    EXPECT_EQ(frame.FrameRateText(), "0.00f/s");
    EXPECT_EQ(frame.BitRateText(), "0.00KB/s");
}

}  // namespace
}  // namespace kx
