// DmoMpeg4Decoder (codec 3) over the media object, against libavcodec's own decoding of the same
// frames converted to U, Y0, V, Y1 by libswscale; the fixed layer header against the recorder's
// frames; the input buffer's limit; the media types and calls the decoder makes.
#include "codec/mpeg4/dmo_mpeg4_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "codec/colour/colour_convert.h"
#include "codec/create_decoder.h"
#include "codec/mpeg4/tests/mpeg4_test_streams.h"
#include "platform/mpeg4_layer_header.h"

namespace kx {
namespace {

using mpeg4test::Bytes;

// libavcodec's MPEG-4 decoder given `configuration` as its only headers; each picture through
// libswscale into U, Y0, V, Y1 and then through the player's conversion.
class ReferenceDecoder {
public:
    ReferenceDecoder(const Bytes& configuration, int width, int height) : m_width(width), m_height(height) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
        m_context = avcodec_alloc_context3(codec);
        m_context->thread_count = 1;
        m_context->extradata = static_cast<uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::copy(configuration.begin(), configuration.end(), m_context->extradata);
        m_context->extradata_size = int(configuration.size());
        EXPECT_EQ(avcodec_open2(m_context, codec, nullptr), 0);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~ReferenceDecoder() {
        avcodec_free_context(&m_context);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        sws_freeContext(m_scaler);
    }

    // The B, G, R picture the frame gives, or nothing.
    std::optional<Bytes> decode(const Bytes& frame) {
        Bytes padded(frame);
        padded.resize(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        m_packet->data = padded.data();
        m_packet->size = int(frame.size());
        const int sent = avcodec_send_packet(m_context, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;
        if (sent < 0 || avcodec_receive_frame(m_context, m_frame) < 0) return std::nullopt;
        ++decoded;
        EXPECT_EQ(m_frame->width, m_width);
        EXPECT_EQ(m_frame->height, m_height);
        Bytes bgr = mpeg4test::bgrThroughUyvy(m_scaler, m_frame->data, m_frame->linesize,
                                              AVPixelFormat(m_frame->format), m_width, m_height);
        av_frame_unref(m_frame);
        return bgr;
    }
    int decoded = 0;

private:
    int m_width;
    int m_height;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
};

Bytes fixedConfiguration() {
    return Bytes(DmoMpeg4Decoder::kDecoderConfiguration.begin(), DmoMpeg4Decoder::kDecoderConfiguration.end());
}

Mpeg4EncoderSettings codec3(int width, int height) {
    Mpeg4EncoderSettings settings;
    settings.codec = 3;
    settings.width = width;
    settings.height = height;
    settings.quantiser = 8;
    return settings;
}

TEST(DmoMpeg4Decoder, FixedLayerHeaderCodes320x240AndTheRecordersFramesCarryNoLayerHeader) {
    const Bytes fixed = fixedConfiguration();
    const auto size = findLayerPictureSize(fixed);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 320u);
    EXPECT_EQ(size->height, 240u);
    // Writing its own size in changes nothing: at 320 x 240 libavcodec gets exactly the 20 bytes.
    Bytes rewritten = fixed;
    ASSERT_TRUE(setLayerPictureSize(rewritten, 320, 240));
    EXPECT_EQ(rewritten, fixed);
    const auto stream = mpeg4test::recorderStream(codec3(320, 240), 3);
    const auto coded = findLayerPictureSize(stream.configuration);
    ASSERT_TRUE(coded.has_value());
    EXPECT_EQ(coded->width, 320u);
    for (const Bytes& frame : stream.frames) {
        EXPECT_EQ(mpeg4test::splitPictures(frame).size(), 1u);
        EXPECT_FALSE(findLayerPictureSize(frame).has_value());
        const uint8_t videoObject[] = {0, 0, 1, 0};
        EXPECT_EQ(std::search(frame.begin(), frame.end(), std::begin(videoObject), std::end(videoObject)), frame.end());
    }
}

// Sizes: the fixed header's own, and others it does not code.
class DmoSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(DmoSizes, EqualsLibavcodecDecodingTheRecordersFrames) {
    const auto [width, height] = GetParam();
    const auto stream = mpeg4test::recorderStream(codec3(width, height), 30);
    ASSERT_EQ(stream.frames.size(), 30u);
    // The reference gets the encoder's own layer header; the decoder gets only the fixed one.
    ReferenceDecoder reference(stream.configuration, width, height);
    // libavcodec given the 20 fixed bytes, with the size of the media type written in, decodes
    // the same pictures.
    Bytes fixed = fixedConfiguration();
    ASSERT_TRUE(setLayerPictureSize(fixed, uint32_t(width), uint32_t(height)));
    ReferenceDecoder fromFixed(fixed, width, height);

    auto decoder = createDecoder(3, uint32_t(width), uint32_t(height));
    ASSERT_NE(dynamic_cast<DmoMpeg4Decoder*>(decoder.get()), nullptr);
    CRecordFrame frame(width, height, 0);
    RgbPicture picture{uint32_t(width), uint32_t(height)};
    for (size_t n = 0; n < stream.frames.size(); ++n) {
        mpeg4test::fill(frame, stream.frames[n], 3);
        const auto expected = reference.decode(stream.frames[n]);
        ASSERT_TRUE(expected.has_value()) << "frame " << n;
        EXPECT_EQ(fromFixed.decode(stream.frames[n]), expected) << "frame " << n;
        ASSERT_TRUE(decoder->decodeToRgb(frame, picture)) << "frame " << n;
        ASSERT_EQ(mpeg4test::bgrOf(picture), *expected) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Mpeg4, DmoSizes,
                         ::testing::Values(std::pair{320, 240}, std::pair{352, 288}, std::pair{176, 144},
                                           std::pair{704, 288}));

TEST(DmoMpeg4Decoder, FrameLongerThanTheInputBufferIsRefusedAndThePictureStays) {
    const auto stream = mpeg4test::recorderStream(codec3(176, 144), 2);
    auto decoder = createDecoder(3, 176, 144);
    CRecordFrame frame(176, 144, 0);
    RgbPicture picture(176, 144);
    mpeg4test::fill(frame, stream.frames[0], 3);
    ASSERT_TRUE(decoder->decodeToRgb(frame, picture));
    const Bytes first = mpeg4test::bgrOf(picture);
    // The second picture, with zero stuffing up to the input buffer's capacity and one beyond.
    struct Case {
        size_t length;
        bool decoded;
    };
    for (const Case c : {Case{DmoMpeg4Decoder::kInputBufferBytes + 1, false}, Case{DmoMpeg4Decoder::kInputBufferBytes, true}}) {
        Bytes padded = stream.frames[1];
        padded.resize(c.length, 0);
        mpeg4test::fill(frame, padded, 3);
        EXPECT_EQ(decoder->decodeToRgb(frame, picture), c.decoded) << c.length;
        EXPECT_EQ(mpeg4test::bgrOf(picture) == first, !c.decoded) << c.length;
    }
}

TEST(DmoMpeg4Decoder, FrameWithoutPictureKeepsThePreviousOne) {
    const auto stream = mpeg4test::recorderStream(codec3(176, 144), 1);
    auto decoder = createDecoder(3, 176, 144);
    CRecordFrame frame(176, 144, 0);
    RgbPicture picture(176, 144);
    mpeg4test::fill(frame, stream.frames[0], 3);
    ASSERT_TRUE(decoder->decodeToRgb(frame, picture));
    const Bytes shown = mpeg4test::bgrOf(picture);
    for (const Bytes& damaged : {Bytes{0, 0, 1, 0xB6}, Bytes(64, 0xFF), Bytes{0x42}}) {
        mpeg4test::fill(frame, damaged, 3);
        EXPECT_FALSE(decoder->decodeToRgb(frame, picture));
        EXPECT_EQ(mpeg4test::bgrOf(picture), shown);
    }
    // A picture of another size than the first one's is not written into.
    RgbPicture other(352, 288);
    mpeg4test::fill(frame, stream.frames[0], 3);
    EXPECT_FALSE(decoder->decodeToRgb(frame, other));
}

// A media object that records what the decoder asks of it and gives a fixed picture.
struct CallLog {
    std::vector<std::string> calls;
    std::vector<MediaType> types;
    int created = 0;
};

class RecordingObject final : public MediaObject {
public:
    explicit RecordingObject(CallLog& log) : m_log(log) {}
    MediaResult SetInputType(uint32_t, const MediaType& type) override { return note("input", type); }
    MediaResult SetOutputType(uint32_t, const MediaType& type) override { return note("output", type); }
    MediaResult ProcessInput(uint32_t, MediaBuffer& buffer, uint32_t flags) override {
        size_t length = 0;
        buffer.GetBufferAndLength(nullptr, &length);
        m_log.calls.push_back("process input " + std::to_string(length) + " flags " + std::to_string(flags));
        return MediaResult::Ok;
    }
    MediaResult ProcessOutput(uint32_t, MediaOutputRecord& output) override {
        m_log.calls.push_back("process output");
        uint8_t* store = nullptr;
        output.buffer->GetBufferAndLength(&store, nullptr);
        const size_t bytes = size_t(m_width) * m_height * 2;
        for (size_t i = 0; i < bytes; ++i) store[i] = i % 2 ? 200 : 128;  // grey luma 200
        output.buffer->SetLength(bytes);
        return MediaResult::Ok;
    }
    MediaResult Lock(bool locked) override {
        m_log.calls.push_back(locked ? "lock" : "unlock");
        return MediaResult::Ok;
    }

private:
    MediaResult note(const char* what, const MediaType& type) {
        m_log.calls.push_back(what);
        m_log.types.push_back(type);
        m_width = type.width;
        m_height = type.height;
        return MediaResult::Ok;
    }
    CallLog& m_log;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
};

TEST(DmoMpeg4Decoder, SetsTheMediaTypesFromThePictureSizeAndLocksAroundEachFrame) {
    CallLog log;
    DmoMpeg4Decoder decoder([&log]() -> std::unique_ptr<MediaObject> {
        // The first creation fails: no picture, and the next frame tries again.
        if (log.created++ == 0) return nullptr;
        return std::make_unique<RecordingObject>(log);
    });
    CRecordFrame frame(352, 288, 0);
    mpeg4test::fill(frame, Bytes(100, 7), 3);
    RgbPicture picture(352, 288);
    EXPECT_FALSE(decoder.decodeToRgb(frame, picture));
    ASSERT_TRUE(decoder.decodeToRgb(frame, picture));
    EXPECT_EQ(log.created, 2);
    const std::vector<std::string> expected = {"input", "output", "lock", "process input 100 flags 1", "process output",
                                               "unlock"};
    EXPECT_EQ(log.calls, expected);
    ASSERT_EQ(log.types.size(), 2u);
    const MediaType& in = log.types[0];
    const MediaType& out = log.types[1];
    EXPECT_EQ(in.subtype, fourCcOf("M4S2"));
    EXPECT_EQ(out.subtype, fourCcOf("UYVY"));
    for (const MediaType& type : log.types) {
        EXPECT_EQ(type.width, 352u);
        EXPECT_EQ(type.height, 288u);
        EXPECT_EQ(type.bitRate, 1026378u);
    }
    EXPECT_EQ(in.decoderConfiguration, fixedConfiguration());
    EXPECT_TRUE(in.temporalCompression);
    EXPECT_FALSE(in.fixedSizeSamples);
    EXPECT_TRUE(out.fixedSizeSamples);
    EXPECT_EQ(out.sampleSize, 352u * 288u * 2);
    EXPECT_EQ(out.bitCount, 16);
    // Grey of luma 200 in every pixel.
    EXPECT_TRUE(std::all_of(picture.pixels(), picture.pixels() + 352 * 288 * 3, [](uint8_t v) { return v == 200; }));
}

}  // namespace
}  // namespace kx
