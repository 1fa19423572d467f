// The media buffer's capacity rule and references, the layer-header size fields against the
// headers libavcodec's encoder writes (and reads back), and the MPEG-4 decoder object's types.
#include "platform/media_object.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "platform/mpeg4_layer_header.h"

namespace kx {
namespace {

TEST(MediaBuffer, LengthIsBoundByTheCapacity) {
    MediaBufferRef buffer(MediaBuffer::create(100));
    EXPECT_EQ(buffer->GetMaxLength(), 100u);
    struct Case {
        size_t length;
        bool accepted;
        size_t lengthAfter;
    };
    for (const Case c : {Case{40, true, 40}, Case{100, true, 100}, Case{101, false, 100}, Case{0, true, 0},
                         Case{size_t(-1), false, 0}}) {
        EXPECT_EQ(buffer->SetLength(c.length), c.accepted) << c.length;
        uint8_t* store = nullptr;
        size_t length = 99;
        buffer->GetBufferAndLength(&store, &length);
        EXPECT_NE(store, nullptr);
        EXPECT_EQ(length, c.lengthAfter) << c.length;
    }
}

TEST(MediaBuffer, LastReleaseDeletesIt) {
    MediaBuffer* buffer = MediaBuffer::create(16);
    EXPECT_EQ(buffer->AddRef(), 2u);
    {
        MediaBufferRef held(buffer);  // adopts one reference
        MediaBufferRef copy = held;
        EXPECT_EQ(buffer->AddRef(), 4u);
        EXPECT_EQ(buffer->Release(), 3u);
    }
    // The leak checker sees the store go with this last release.
    EXPECT_EQ(buffer->Release(), 0u);
}

struct Coded {
    std::vector<uint8_t> header;   // the layer header libavcodec keeps out of the pictures
    std::vector<uint8_t> picture;  // its first (I) picture of a flat frame
};

// libavcodec's encoder for the size and tools: its layer header and first picture.
Coded encode(int width, int height, int bFrames, bool qpel, AVRational aspect) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, 25};
    context->max_b_frames = bFrames;
    context->sample_aspect_ratio = aspect;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER | (qpel ? AV_CODEC_FLAG_QPEL : 0);
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    Coded coded;
    coded.header.assign(context->extradata, context->extradata + context->extradata_size);
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
    for (int p = 0; p < 3; ++p) std::memset(frame->data[p], 100 + 20 * p, size_t(frame->linesize[p]) * (p ? height / 2 : height));
    frame->pts = 0;
    AVPacket* packet = av_packet_alloc();
    EXPECT_EQ(avcodec_send_frame(context, frame), 0);
    EXPECT_EQ(avcodec_send_frame(context, nullptr), 0);
    if (avcodec_receive_packet(context, packet) == 0) coded.picture.assign(packet->data, packet->data + packet->size);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return coded;
}

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> luma;
    bool operator==(const Decoded&) const = default;
};

// libavcodec's decoding of `picture` with `header` as its configuration.
Decoded decode(const std::vector<uint8_t>& header, const std::vector<uint8_t>& picture) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->extradata = static_cast<uint8_t*>(av_mallocz(header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(context->extradata, header.data(), header.size());
    context->extradata_size = int(header.size());
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    std::vector<uint8_t> padded(picture);
    padded.resize(picture.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    AVPacket* packet = av_packet_alloc();
    packet->data = padded.data();
    packet->size = int(picture.size());
    AVFrame* frame = av_frame_alloc();
    Decoded out;
    // Draining gives the picture a decoder holds back for B pictures.
    if (avcodec_send_packet(context, packet) == 0 && avcodec_send_packet(context, nullptr) == 0 &&
        avcodec_receive_frame(context, frame) == 0) {
        out.width = frame->width;
        out.height = frame->height;
        for (int y = 0; y < frame->height; ++y)
            out.luma.insert(out.luma.end(), frame->data[0] + ptrdiff_t(y) * frame->linesize[0],
                            frame->data[0] + ptrdiff_t(y) * frame->linesize[0] + frame->width);
    }
    packet->data = nullptr;
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return out;
}

struct LayerCase {
    const char* name;
    int width;
    int height;
    int bFrames;
    bool qpel;
    AVRational aspect;
};

class LayerHeaders : public ::testing::TestWithParam<LayerCase> {};

TEST_P(LayerHeaders, SizeFieldsAreWhereLibavcodecPutsAndReadsThem) {
    const LayerCase& c = GetParam();
    std::vector<uint8_t> header = encode(c.width, c.height, c.bFrames, c.qpel, c.aspect).header;
    const auto size = findLayerPictureSize(header);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, uint32_t(c.width));
    EXPECT_EQ(size->height, uint32_t(c.height));
    // Rewritten to another size, the header decodes that size's pictures as the encoder's own
    // header for it does.
    ASSERT_TRUE(setLayerPictureSize(header, 720, 576));
    const Coded large = encode(720, 576, c.bFrames, c.qpel, c.aspect);
    const Decoded expected = decode(large.header, large.picture);
    ASSERT_EQ(expected.width, 720);
    ASSERT_EQ(expected.height, 576);
    EXPECT_EQ(decode(header, large.picture), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Mpeg4, LayerHeaders,
    ::testing::Values(LayerCase{"Simple", 176, 144, 0, false, {0, 1}},
                      LayerCase{"BPictures", 352, 288, 2, false, {1, 1}},
                      LayerCase{"QuarterSample", 320, 240, 0, true, {0, 1}},
                      LayerCase{"OwnAspectRatio", 704, 576, 1, true, {7, 5}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LayerHeader, TruncatedOrAbsentHeaderGivesNoSize) {
    const std::vector<uint8_t> header = encode(176, 144, 0, false, {0, 1}).header;
    const auto size = findLayerPictureSize(header);
    ASSERT_TRUE(size.has_value());
    // Cut inside the height field: no size.
    const std::vector<uint8_t> cut(header.begin(), header.begin() + ptrdiff_t(size->heightBit / 8));
    EXPECT_FALSE(findLayerPictureSize(cut).has_value());
    std::vector<uint8_t> copy = cut;
    EXPECT_FALSE(setLayerPictureSize(copy, 64, 64));
    EXPECT_EQ(copy, cut);
    std::vector<uint8_t> whole = header;
    for (const auto& [w, h] : {std::pair{0u, 64u}, std::pair{64u, 8192u}}) EXPECT_FALSE(setLayerPictureSize(whole, w, h));
    EXPECT_EQ(whole, header);
}

MediaType mpeg4Type(uint32_t width, uint32_t height) {
    MediaType type;
    type.subtype = fourCcOf("M4S2");
    type.width = width;
    type.height = height;
    return type;
}

MediaType uyvyType(uint32_t width, uint32_t height) {
    MediaType type;
    type.subtype = fourCcOf("UYVY");
    type.width = width;
    type.height = height;
    type.sampleSize = width * height * 2;
    return type;
}

TEST(Mpeg4DecoderObject, TakesOnlyItsTypesAndNeedsBoth) {
    auto object = createMpeg4DecoderObject();
    ASSERT_NE(object, nullptr);
    MediaBufferRef input(MediaBuffer::create(64));
    input->SetLength(8);
    EXPECT_EQ(object->ProcessInput(0, *input.get(), kMediaInputSyncPoint), MediaResult::TypeNotSet);
    EXPECT_EQ(object->SetInputType(0, uyvyType(176, 144)), MediaResult::InvalidType);
    EXPECT_EQ(object->SetInputType(0, mpeg4Type(175, 144)), MediaResult::InvalidType);
    EXPECT_EQ(object->SetInputType(0, mpeg4Type(176, 144)), MediaResult::Ok);
    EXPECT_EQ(object->ProcessInput(0, *input.get(), kMediaInputSyncPoint), MediaResult::TypeNotSet);
    EXPECT_EQ(object->SetOutputType(0, uyvyType(352, 288)), MediaResult::InvalidType);
    EXPECT_EQ(object->SetOutputType(0, mpeg4Type(176, 144)), MediaResult::InvalidType);
    EXPECT_EQ(object->SetOutputType(0, uyvyType(176, 144)), MediaResult::Ok);
    // Bytes that hold no picture: nothing comes out, and the output buffer is left as it was.
    uint8_t* bytes = nullptr;
    input->GetBufferAndLength(&bytes, nullptr);
    std::memset(bytes, 0xFF, 8);
    object->ProcessInput(0, *input.get(), kMediaInputSyncPoint);
    MediaBufferRef output(MediaBuffer::create(176 * 144 * 2));
    output->SetLength(5);
    MediaOutputRecord record{output.get(), 0};
    EXPECT_EQ(object->ProcessOutput(kMediaOutputDiscardWhenNoBuffer, record), MediaResult::NoOutput);
    size_t length = 0;
    output->GetBufferAndLength(nullptr, &length);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(record.status, 0u);
}

}  // namespace
}  // namespace kx
