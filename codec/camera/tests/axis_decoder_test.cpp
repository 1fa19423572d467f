// AxisDecoder against a fake media viewer control that records every member call: the order of
// the calls, video and other samples, the image event's formats and bounds, frames whose
// lengths run past their end, and the automation error handed on as a message.
#include "codec/camera/axis_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/camera_components.h"
#include "recording/byte_order.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr uint32_t kWidth = 8;
constexpr uint32_t kHeight = 4;

std::string describe(const DispatchValue& v) {
    if (std::holds_alternative<bool>(v)) return std::get<bool>(v) ? "true" : "false";
    if (std::holds_alternative<int16_t>(v)) return "s" + std::to_string(std::get<int16_t>(v));
    if (std::holds_alternative<int32_t>(v)) return std::to_string(std::get<int32_t>(v));
    if (std::holds_alternative<uintptr_t>(v)) return "window";
    if (std::holds_alternative<DispatchBytes>(v)) {
        const auto b = std::get<DispatchBytes>(v);
        return "[" + std::string(reinterpret_cast<const char*>(b.data), b.size) + "]";
    }
    return "?";
}

// What the fake control does when member 9 renders a sample: raise this event.
struct FakeImage {
    int32_t format = 1;
    std::vector<uint8_t> bytes;
};

struct FakeViewerState {
    std::vector<std::string> calls;
    std::vector<FakeImage> images;  // raised in turn by member 9
    int failingMember = -1;
    bool running = false;
};

class FakeViewer final : public DispatchControl {
public:
    explicit FakeViewer(FakeViewerState& state) : m_state(state) {}
    DispatchResult invoke(int32_t member, DispatchKind kind, std::span<const DispatchValue> arguments) override {
        std::string text = (kind == DispatchKind::PropertyPut ? "put " : kind == DispatchKind::PropertyGet ? "get " : "") +
                           std::to_string(member) + "(";
        for (size_t i = 0; i < arguments.size(); ++i) text += (i ? "," : "") + describe(arguments[i]);
        m_state.calls.push_back(text + ")");
        if (member == m_state.failingMember) return {false, {}, "The control failed"};
        if (member == 13 || member == 4) m_state.running = true;
        if (member == 5) m_state.running = false;
        if (member == 18) return {true, int32_t(m_state.running ? 2 : 0), {}};
        if (member == 9 && !m_state.images.empty() && m_sink) {
            const FakeImage image = m_state.images.front();
            m_state.images.erase(m_state.images.begin());
            const DispatchValue event[] = {image.format, DispatchBytes{image.bytes.data(), image.bytes.size()}};
            m_sink->onEvent("OnDecodedImage32", event);
        }
        return {};
    }
    bool connect(std::string_view id, DispatchEventSink* sink) override {
        m_state.calls.push_back("connect " + std::string(id));
        m_sink = sink;
        return true;
    }
    void disconnect() override {
        m_state.calls.push_back("disconnect");
        m_sink = nullptr;
    }

private:
    FakeViewerState& m_state;
    DispatchEventSink* m_sink = nullptr;
};

void put32(std::vector<uint8_t>& out, uint32_t v) {
    out.resize(out.size() + 4);
    storeLe32(out.data() + out.size() - 4, v);
}

// A codec-8 frame: n, block, kind, flags, start (low, high), stop (low, high), m, sample; `n` and
// `m` as written unless given.
std::vector<uint8_t> codec8Frame(const std::string& block, uint32_t kind, const std::string& sample,
                                 std::optional<uint32_t> n = {}, std::optional<uint32_t> m = {}) {
    std::vector<uint8_t> out;
    put32(out, n.value_or(uint32_t(block.size())));
    out.insert(out.end(), block.begin(), block.end());
    for (uint32_t v : {kind, 16u, 1u, 2u, 3u, 4u}) put32(out, v);
    put32(out, m.value_or(uint32_t(sample.size())));
    out.insert(out.end(), sample.begin(), sample.end());
    return out;
}

std::unique_ptr<CRecordFrame> frameOf(const std::vector<uint8_t>& bytes) {
    auto frame = std::make_unique<CRecordFrame>(int(kWidth), int(kHeight) * 8, 0);
    std::copy(bytes.begin(), bytes.end(), frame->VideoBuffer());
    EXPECT_TRUE(frame->SetVideoLength(uint32_t(bytes.size())));
    frame->SetFlags(8 << 4);
    return frame;
}

class AxisDecoderTest : public ::testing::Test {
protected:
    AxisDecoderTest() {
        m_registry.add(kMediaViewerProgId, [this] { return std::make_unique<FakeViewer>(m_state); });
    }
    std::unique_ptr<AxisDecoder> decoder() {
        return std::make_unique<AxisDecoder>(kWidth, kHeight, m_registry, std::chrono::milliseconds(0));
    }
    static FakeImage image(int32_t format, size_t bytes, uint8_t value) {
        return {format, std::vector<uint8_t>(bytes, value)};
    }

    FakeViewerState m_state;
    ControlRegistry m_registry;
    RgbPicture m_picture{kWidth, kHeight};
};

TEST_F(AxisDecoderTest, CallsTheControlInItsOrderOverAStreamsLife) {
    m_state.images = {image(1, kWidth * kHeight * 3, 0x21), image(1, kWidth * kHeight * 3, 0x22)};
    auto axis = decoder();
    EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("TYPE", 300, "abc")), m_picture));
    EXPECT_EQ(m_state.calls, (std::vector<std::string>{"connect {C98A99F6-6311-469F-861A-164916AA45BF}",
                                                       "put 14(false)", "put 15(s1)", "3(0,[TYPE],window,0)",
                                                       "10(0,0)", "13(0,5,0,0)", "4()", "9(16,1,2,3,4,[abc])",
                                                       "5()"}));
    EXPECT_EQ(m_picture.pixels()[0], 0x21);

    m_state.calls.clear();
    EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("TYPE", 300, "de")), m_picture));
    EXPECT_EQ(m_state.calls, (std::vector<std::string>{"4()", "9(16,1,2,3,4,[de])", "5()"}));
    EXPECT_EQ(m_picture.pixels()[m_picture.byteCount() - 1], 0x22);

    // Running again (as member 4 leaves it): stopped on destruction, then disconnected.
    axis->decodeToRgb(*frameOf(codec8Frame("TYPE", 300, "")), m_picture);
    m_state.running = true;
    m_state.calls.clear();
    axis.reset();
    EXPECT_EQ(m_state.calls, (std::vector<std::string>{"get 18()", "5()", "disconnect"}));
}

TEST_F(AxisDecoderTest, SamplesOtherThanVideoGoToMemberSeven) {
    auto axis = decoder();
    EXPECT_FALSE(axis->decodeToRgb(*frameOf(codec8Frame("T", 301, "snd")), m_picture));
    EXPECT_EQ(m_state.calls.back(), "5()");
    EXPECT_EQ(m_state.calls[m_state.calls.size() - 2], "7(16,1,2,3,4,[snd])");
}

TEST_F(AxisDecoderTest, ImageEventsByFormat) {
    struct Case {
        const char* what;
        FakeImage image;
        uint8_t expectedFirst;
        uint8_t expectedLast;
    };
    const size_t pictureBytes = kWidth * kHeight * 3;
    const Case cases[] = {
        {"format 1, whole picture", image(1, pictureBytes, 0x31), 0x31, 0x31},
        // Format 2 is not a format the decoder reads: the earlier image stays.
        {"format 2 ignored", image(2, pictureBytes, 0x32), 0x10, 0x10},
        // Four bytes a pixel: the copy stops at the picture store.
        {"format 4", image(4, kWidth * kHeight * 4, 0x34), 0x34, 0x34},
        // A short image: only its own bytes are copied, the rest of the picture stays.
        {"short image", image(1, 5, 0x35), 0x35, 0x00},
    };
    for (const Case& c : cases) {
        m_state = {};
        m_state.images = {image(1, pictureBytes, 0x10), c.image};
        auto axis = decoder();
        EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("T", 300, "x")), m_picture)) << c.what;
        std::fill_n(m_picture.pixels(), m_picture.byteCount(), uint8_t(0));
        EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("T", 300, "y")), m_picture)) << c.what;
        EXPECT_EQ(m_picture.pixels()[0], c.expectedFirst) << c.what;
        EXPECT_EQ(m_picture.pixels()[pictureBytes - 1], c.expectedLast) << c.what;
    }
}

TEST_F(AxisDecoderTest, FramesWhoseLengthsRunPastTheirEndAreRefused) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"block past the end", codec8Frame("TYPE", 300, "abc", 40)},
        {"sample past the end", codec8Frame("TYPE", 300, "abc", {}, 4)},
        {"block length wrapping", codec8Frame("TYPE", 300, "abc", 0xFFFFFFF0u)},
        {"sample length wrapping", codec8Frame("TYPE", 300, "abc", {}, 0xFFFFFFFFu)},
        {"shorter than the fixed fields", std::vector<uint8_t>(31, 0)},
    };
    for (const Case& c : cases) {
        m_state = {};
        m_state.images = {image(1, kWidth * kHeight * 3, 0x10)};
        auto axis = decoder();
        m_state.calls.clear();
        EXPECT_FALSE(axis->decodeToRgb(*frameOf(c.bytes), m_picture)) << c.what;
        EXPECT_TRUE(m_state.calls.empty()) << c.what;
    }
    EXPECT_TRUE(AxisFrame::parse(codec8Frame("TYPE", 300, "abc").data(), 32 + 4 + 3).has_value());
}

TEST_F(AxisDecoderTest, AnAutomationErrorBecomesOneMessageAndDecodingGoesOn) {
    m_state.images = {image(1, kWidth * kHeight * 3, 0x44)};
    auto axis = decoder();
    EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("T", 300, "x")), m_picture));
    m_state.failingMember = 9;
    // The picture step still runs: the earlier image is given again.
    EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("T", 300, "y")), m_picture));
    EXPECT_EQ(m_state.calls.back(), "9(16,1,2,3,4,[y])");
    EXPECT_TRUE(axis->decodeToRgb(*frameOf(codec8Frame("T", 300, "z")), m_picture));
    EXPECT_EQ(axis->takeMessage(), "The control failed");
    EXPECT_EQ(axis->takeMessage(), "");
    axis->decodeToRgb(*frameOf(codec8Frame("T", 300, "w")), m_picture);
    EXPECT_EQ(axis->takeMessage(), "");
}

TEST_F(AxisDecoderTest, NoControlGivesNoPicture) {
    ControlRegistry empty;
    AxisDecoder axis(kWidth, kHeight, empty, std::chrono::milliseconds(0));
    EXPECT_FALSE(axis.hasControl());
    EXPECT_FALSE(axis.decodeToRgb(*frameOf(codec8Frame("T", 300, "x")), m_picture));
}

}  // namespace
}  // namespace kx
