// SncDecoder against a fake SNC component that records every call: the order of the calls over
// a stream's life, the 8-byte frame, the bounds of the reported picture length, a library that
// does not load or takes nothing, and the notification raised from inside the write.
#include "codec/camera/snc_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr uint32_t kWidth = 8;
constexpr uint32_t kHeight = 4;

// What the fake library does; one decoder at a time uses it.
struct FakeSnc {
    std::vector<std::string> calls;
    uint32_t chunk = 5;              // bytes taken per write (0: nothing taken)
    int32_t writeResult = 0;
    uint32_t reportedLength = kWidth * kHeight * 3;
    bool notifyOnLastWrite = true;
    uint8_t pictureByte = 0x40;
    SncNotification notification = nullptr;
    void* context = nullptr;
};
FakeSnc g_fake;

void log(std::string text) { g_fake.calls.push_back(std::move(text)); }
std::string on(const char* name, int32_t value) { return std::string(name) + "(" + std::to_string(value) + ")"; }

SncEntryPoints fakeEntryPoints() {
    SncEntryPoints e;
    e.core.sncOpenCameraHandle = [] { log("sncOpenCameraHandle"); return int32_t(7); };
    e.core.sncCloseCameraHandle = [](int32_t) { log("sncCloseCameraHandle"); return int32_t(0); };
    e.core.snccSetMemory = [](int32_t, const uint32_t* settings, uint32_t second) {
        log("snccSetMemory(" + std::to_string(settings[0]) + "," + std::to_string(settings[1]) + "," +
            std::to_string(second) + ")");
        return int32_t(0);
    };
    e.stream.sncInitialize = [](int32_t) { log("sncInitialize"); return int32_t(0); };
    e.stream.sncFinalize = [](int32_t) { log("sncFinalize"); return int32_t(0); };
    e.stream.sncCreateScreen = [](int32_t, uintptr_t, int32_t, int32_t, int32_t, int32_t) {
        log("sncCreateScreen");
        return int32_t(0);
    };
    e.stream.sncEnableVideoStream = [](int32_t, int32_t v) { log(on("sncEnableVideoStream", v)); return int32_t(0); };
    e.stream.sncEnableVideoPlay = [](int32_t, int32_t v) { log(on("sncEnableVideoPlay", v)); return int32_t(0); };
    e.stream.sncEnableAudioStream = [](int32_t, int32_t v) { log(on("sncEnableAudioStream", v)); return int32_t(0); };
    e.stream.sncEnableAudioPlay = [](int32_t, int32_t v) { log(on("sncEnableAudioPlay", v)); return int32_t(0); };
    e.stream.sncSetCallBack = [](int32_t, int32_t kind, SncNotification routine, void* context) {
        log(on("sncSetCallBack", kind));
        g_fake.notification = routine;
        g_fake.context = context;
        return int32_t(0);
    };
    e.stream.sncStart = [](int32_t) { log("sncStart"); return int32_t(0); };
    e.stream.sncWriteVideoStream = [](int32_t, const uint8_t*, uint32_t length, uint32_t* consumed) {
        log(on("sncWriteVideoStream", int32_t(length)));
        *consumed = std::min(length, g_fake.chunk);
        if (g_fake.notifyOnLastWrite && length > 0 && *consumed == length && g_fake.notification)
            g_fake.notification(g_fake.context);
        return g_fake.writeResult;
    };
    e.stream.sncGetCurrentDecVideo = [](int32_t, SncPictureRequest* request, uint32_t* length) {
        log("sncGetCurrentDecVideo(" + std::to_string(request->bufferBytes) + ")");
        // Fills what it reports, within the buffer as a well-behaved library would.
        std::fill_n(request->buffer, std::min(g_fake.reportedLength, request->bufferBytes), g_fake.pictureByte);
        *length = g_fake.reportedLength;
        return int32_t(0);
    };
    return e;
}

class FakeComponent final : public SncComponent {
public:
    explicit FakeComponent(bool loads) : m_loads(loads) {}
    bool load() override {
        log(m_loads ? "load" : "load failed");
        return m_loads;
    }
    const SncEntryPoints& entryPoints() const override { return m_entryPoints; }
    void unload() override { log("unload"); }

private:
    bool m_loads;
    SncEntryPoints m_entryPoints = fakeEntryPoints();
};

std::unique_ptr<CRecordFrame> frameOf(std::vector<uint8_t> bytes) {
    auto frame = std::make_unique<CRecordFrame>(int(kWidth), int(kHeight) * 8, 0);
    std::copy(bytes.begin(), bytes.end(), frame->VideoBuffer());
    EXPECT_TRUE(frame->SetVideoLength(uint32_t(bytes.size())));
    frame->SetFlags(7 << 4);
    return frame;
}

// An 8-byte header {100, 200} and `streamBytes` bytes of stream.
std::vector<uint8_t> codec7Frame(size_t streamBytes) {
    std::vector<uint8_t> bytes = {100, 0, 0, 0, 200, 0, 0, 0};
    bytes.resize(8 + streamBytes, 0xAB);
    return bytes;
}

class SncDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { g_fake = FakeSnc{}; }
    std::unique_ptr<SncDecoder> decoder(bool loads = true) {
        return std::make_unique<SncDecoder>(kWidth, kHeight, std::make_unique<FakeComponent>(loads),
                                            std::chrono::milliseconds(0));
    }
    RgbPicture picture{kWidth, kHeight};
};

TEST_F(SncDecoderTest, CallsTheLibraryInItsOrderOverAStreamsLife) {
    auto snc = decoder();
    EXPECT_TRUE(snc->decodeToRgb(*frameOf(codec7Frame(12)), picture));
    const std::vector<std::string> first = {
        "load", "sncOpenCameraHandle", "sncInitialize", "sncCreateScreen", "sncEnableVideoStream(1)",
        "sncEnableVideoPlay(1)", "sncEnableAudioStream(1)", "sncEnableAudioPlay(1)", "snccSetMemory(100,0,200)",
        "sncEnableVideoStream(1)", "sncEnableVideoPlay(1)", "sncEnableAudioStream(0)", "sncEnableAudioPlay(0)",
        "sncSetCallBack(3)", "sncStart",
        // The write loop advances by the consumed count: 12 bytes in chunks of 5.
        "sncWriteVideoStream(12)", "sncWriteVideoStream(7)", "sncWriteVideoStream(2)", "sncGetCurrentDecVideo(128)"};
    EXPECT_EQ(g_fake.calls, first);
    EXPECT_EQ(std::vector<uint8_t>(picture.pixels(), picture.pixels() + picture.byteCount()),
              std::vector<uint8_t>(picture.byteCount(), 0x40));

    g_fake.calls.clear();
    g_fake.pictureByte = 0x41;
    EXPECT_TRUE(snc->decodeToRgb(*frameOf(codec7Frame(3)), picture));
    EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"sncWriteVideoStream(3)", "sncGetCurrentDecVideo(128)"}));
    EXPECT_EQ(picture.pixels()[0], 0x41);

    g_fake.calls.clear();
    snc.reset();
    EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"sncWriteVideoStream(0)", "sncFinalize", "sncCloseCameraHandle",
                                                      "unload"}));
}

TEST_F(SncDecoderTest, AFrameOfOnlyTheHeaderWritesNothingAndGivesThePreviousPicture) {
    auto snc = decoder();
    // Before any picture there is nothing to give.
    EXPECT_FALSE(snc->decodeToRgb(*frameOf(codec7Frame(0)), picture));
    EXPECT_TRUE(snc->decodeToRgb(*frameOf(codec7Frame(4)), picture));
    std::fill_n(picture.pixels(), picture.byteCount(), uint8_t(0));
    g_fake.calls.clear();
    EXPECT_TRUE(snc->decodeToRgb(*frameOf(codec7Frame(0)), picture));
    EXPECT_TRUE(g_fake.calls.empty());
    EXPECT_EQ(picture.pixels()[picture.byteCount() - 1], 0x40);
}

TEST_F(SncDecoderTest, ReportedLengthIsBoundedByTheBufferAndThePicture) {
    // The buffer holds width x height x 4 bytes, the picture 3 per pixel; a length past either
    // must not be copied (AddressSanitizer watches both stores).
    for (uint32_t reported : {kWidth * kHeight * 4, kWidth * kHeight * 4 + 1, 0xFFFFFFFFu}) {
        SetUp();
        g_fake.reportedLength = reported;
        auto snc = decoder();
        RgbPicture exact(kWidth, kHeight);
        EXPECT_TRUE(snc->decodeToRgb(*frameOf(codec7Frame(4)), exact)) << reported;
        EXPECT_EQ(exact.pixels()[exact.byteCount() - 1], 0x40) << reported;
    }
}

TEST_F(SncDecoderTest, FailuresGiveNoPicture) {
    {
        // A library that does not load is never called, and is tried again with the next frame.
        auto snc = decoder(false);
        EXPECT_FALSE(snc->decodeToRgb(*frameOf(codec7Frame(4)), picture));
        EXPECT_NE(snc->takeMessage().find("libsncstrm.so"), std::string::npos);
        EXPECT_FALSE(snc->decodeToRgb(*frameOf(codec7Frame(4)), picture));
        EXPECT_EQ(snc->takeMessage(), "") << "told once";
        snc.reset();
        EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"load failed", "load failed"}));
    }
    {
        // A write that takes nothing ends the loop instead of repeating for ever.
        SetUp();
        g_fake.chunk = 0;
        auto snc = decoder();
        EXPECT_FALSE(snc->decodeToRgb(*frameOf(codec7Frame(4)), picture));
        EXPECT_EQ(std::count(g_fake.calls.begin(), g_fake.calls.end(), "sncWriteVideoStream(4)"), 1);
    }
    {
        // A failed write gives no picture even when an earlier one exists.
        SetUp();
        auto snc = decoder();
        EXPECT_TRUE(snc->decodeToRgb(*frameOf(codec7Frame(4)), picture));
        g_fake.writeResult = -1;
        EXPECT_FALSE(snc->decodeToRgb(*frameOf(codec7Frame(4)), picture));
    }
    {
        // Frames shorter than the stream header are refused before the library is touched.
        SetUp();
        auto snc = decoder();
        EXPECT_FALSE(snc->decodeToRgb(*frameOf({1, 2, 3}), picture));
        snc.reset();
        EXPECT_TRUE(g_fake.calls.empty());
    }
}

}  // namespace
}  // namespace kx
