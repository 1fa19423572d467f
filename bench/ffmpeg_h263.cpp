// FFmpeg's H.263 encoder and decoder and the swscale conversion, for the decoder benchmark.
#include "bench/ffmpeg_h263.h"

#include <cassert>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace kx {

void quietFfmpegLog() {
    av_log_set_level(AV_LOG_ERROR);
}

FfmpegH263Encoder::FfmpegH263Encoder(int width, int height, double fps, int quantiser,
                                     int keyInterval)
    : m_keyInterval(keyInterval), m_quality(quantiser * FF_QP2LAMBDA) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H263);
    if (codec == nullptr) {
        m_error = "libavcodec has no H.263 encoder";
        return;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, int(fps)};
    context->framerate = AVRational{int(fps), 1};
    context->gop_size = keyInterval;
    context->max_b_frames = 0;
    // A fixed quantiser, as the native encoder uses: each picture carries its quality.
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = m_quality;
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        m_error = "libavcodec refused the H.263 encoder settings";
        return;
    }
    m_context = context;
    m_frame = av_frame_alloc();
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = width;
    m_frame->height = height;
    m_packet = av_packet_alloc();
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        avcodec_free_context(&m_context);
        m_error = "no memory for the encoder's picture";
    }
}

FfmpegH263Encoder::~FfmpegH263Encoder() {
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

std::vector<uint8_t> FfmpegH263Encoder::encode(const YuvImage& picture) {
    assert(ready() && picture.width == m_context->width && picture.height == m_context->height);
    if (av_frame_make_writable(m_frame) < 0) return {};
    const uint8_t* planes[3] = {picture.y.data(), picture.cb.data(), picture.cr.data()};
    const int strides[3] = {picture.width, picture.chromaWidth(), picture.chromaWidth()};
    av_image_copy(m_frame->data, m_frame->linesize, planes, strides, AV_PIX_FMT_YUV420P,
                  picture.width, picture.height);
    m_frame->pts = m_next;
    m_frame->quality = m_quality;
    m_frame->pict_type = m_next % m_keyInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    ++m_next;
    if (avcodec_send_frame(m_context, m_frame) < 0) return {};
    std::vector<uint8_t> bytes;
    while (avcodec_receive_packet(m_context, m_packet) == 0) {
        bytes.insert(bytes.end(), m_packet->data, m_packet->data + m_packet->size);
        av_packet_unref(m_packet);
    }
    return bytes;
}

FfmpegH263Decoder::FfmpegH263Decoder(int width, int height) : m_width(width), m_height(height) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H263);
    if (codec == nullptr) return;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    context->thread_type = 0;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return;
    }
    m_context = context;
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    m_scaler = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGR24,
                              SWS_BILINEAR, nullptr, nullptr, nullptr);
}

FfmpegH263Decoder::~FfmpegH263Decoder() {
    sws_freeContext(m_scaler);
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_context);
}

bool FfmpegH263Decoder::decode(const uint8_t* data, size_t size) {
    assert(ready());
    if (m_input.size() < size + AV_INPUT_BUFFER_PADDING_SIZE)
        m_input.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(m_input.data(), data, size);
    std::memset(m_input.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    m_packet->data = m_input.data();
    m_packet->size = int(size);
    const int sent = avcodec_send_packet(m_context, m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (sent < 0) return false;
    // One thread and no B pictures: every packet gives its picture at once. (Receiving again
    // would release that picture before reporting that there is no other.)
    if (avcodec_receive_frame(m_context, m_frame) != 0) return false;
    return m_frame->width == m_width && m_frame->height == m_height;
}

bool FfmpegH263Decoder::convertToBgr24(uint8_t* destination) {
    if (m_scaler == nullptr || m_frame->data[0] == nullptr) return false;
    uint8_t* planes[1] = {destination};
    const int strides[1] = {3 * m_width};
    return sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, m_height, planes, strides) ==
           m_height;
}

uint8_t FfmpegH263Decoder::luma(int x, int y) const {
    assert(m_frame->data[0] != nullptr && x < m_width && y < m_height);
    return m_frame->data[0][ptrdiff_t(y) * m_frame->linesize[0] + x];
}

}  // namespace kx
