// CameraStreamEncoder: libavcodec's encoders set up as a camera's (no B pictures, headers with
// every key picture, one picture out for each picture in), and the codec 7 and 8 frame layouts.
#include "tools/recorder/camera_stream_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "recording/byte_order.h"
#include "tools/recorder/av_frame_fill.h"

namespace kx {
namespace {

void putGuid(std::vector<uint8_t>& out, uint32_t data1, uint16_t data2, uint16_t data3, const uint8_t (&data4)[8]) {
    uint8_t bytes[16];
    storeLe32(bytes, data1);
    storeLe16(bytes + 4, data2);
    storeLe16(bytes + 6, data3);
    std::memcpy(bytes + 8, data4, 8);
    out.insert(out.end(), bytes, bytes + 16);
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    storeLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

uint32_t fourCcWord(const char* text) {
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

constexpr uint8_t kMediaGuidTail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint8_t kVideoInfoGuidTail[8] = {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A};
constexpr uint32_t kVideoSample = 300;
constexpr uint32_t kSyncPointFlag = 1;

}  // namespace

const char* CameraStreamEncoder::fourCcOf(CameraStream stream) {
    switch (stream) {
        case CameraStream::Jpeg: return "MJPG";
        case CameraStream::Mpeg4: return "MP4V";
        case CameraStream::H264: return "H264";
    }
    return "MJPG";
}

std::vector<uint8_t> CameraStreamEncoder::mediaTypeBlock(CameraStream stream, int width, int height) {
    std::vector<uint8_t> out;
    const uint32_t fourCc = fourCcWord(fourCcOf(stream));
    putGuid(out, fourCcWord("vids"), 0x0000, 0x0010, kMediaGuidTail);  // major type: video
    putGuid(out, fourCc, 0x0000, 0x0010, kMediaGuidTail);             // subtype: the FourCC
    put32(out, 0);                                                     // fixed-size samples
    put32(out, 1);                                                     // temporal compression
    put32(out, 0);                                                     // sample size
    putGuid(out, 0x05589F80, 0xC356, 0x11CE, kVideoInfoGuidTail);      // format: video info
    put32(out, 0);                                                     // unknown interface
    put32(out, 88);                                                    // format bytes
    put32(out, 0);                                                     // format pointer
    // Video-info header: source and target rectangles, bit rate, error rate, frame time, and
    // the bitmap header.
    for (int i = 0; i < 8; ++i) put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 40);
    put32(out, uint32_t(width));
    put32(out, uint32_t(height));
    put32(out, 1 | 24u << 16);  // planes, bits per pixel
    put32(out, fourCc);
    put32(out, uint32_t(width * height * 3));
    for (int i = 0; i < 4; ++i) put32(out, 0);
    return out;
}

CameraStreamEncoder::CameraStreamEncoder(int codec, CameraStream stream, int width, int height, double fps)
    : m_codec(codec), m_stream(stream), m_width(width), m_height(height), m_fps(fps) {}

CameraStreamEncoder::~CameraStreamEncoder() {
    avcodec_free_context(&m_context);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

bool CameraStreamEncoder::open() {
    const AVCodec* codec = m_stream == CameraStream::Jpeg    ? avcodec_find_encoder(AV_CODEC_ID_MJPEG)
                           : m_stream == CameraStream::Mpeg4 ? avcodec_find_encoder(AV_CODEC_ID_MPEG4)
                                                             : avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        m_error = std::string("libavcodec has no ") + fourCcOf(m_stream) + " encoder";
        return false;
    }
    m_context = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_context || !m_frame || !m_packet) {
        m_error = "out of memory";
        return false;
    }
    m_context->width = m_width;
    m_context->height = m_height;
    // JPEG takes full-range samples, as the cameras' are.
    m_context->pix_fmt = m_stream == CameraStream::Jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    const int rate = std::max(1, int(std::lround(m_fps)));
    m_context->time_base = {1, rate};
    m_context->framerate = {rate, 1};
    m_context->max_b_frames = 0;
    m_context->gop_size = 600;  // the recorder asks for key pictures at its groups
    av_log_set_level(AV_LOG_ERROR);
    m_context->thread_count = 1;
    m_context->bit_rate = int64_t(m_width) * m_height * 3;
    if (m_stream == CameraStream::Jpeg) {
        m_context->flags |= AV_CODEC_FLAG_QSCALE;
        m_context->global_quality = FF_QP2LAMBDA * 4;
    }
    if (m_stream == CameraStream::H264) {
        av_opt_set(m_context->priv_data, "preset", "veryfast", 0);
        av_opt_set(m_context->priv_data, "tune", "zerolatency", 0);
        av_opt_set(m_context->priv_data, "profile", "baseline", 0);
    }
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        m_error = std::string("libavcodec's ") + fourCcOf(m_stream) + " encoder refuses " + std::to_string(m_width) +
                  " x " + std::to_string(m_height);
        return false;
    }
    m_frame->format = m_context->pix_fmt;
    m_frame->width = m_width;
    m_frame->height = m_height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        m_error = "out of memory";
        return false;
    }
    if (m_codec == 8) m_mediaType = mediaTypeBlock(m_stream, m_width, m_height);
    return true;
}

bool CameraStreamEncoder::encode(const YuvImage& picture, uint32_t index, bool key, std::vector<uint8_t>& frameBytes) {
    if (!fillAvFrame(m_frame, picture)) {
        m_error = "out of memory";
        return false;
    }
    m_frame->pts = index;
    m_frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(m_context, m_frame) < 0 || avcodec_receive_packet(m_context, m_packet) < 0) {
        m_error = std::string("libavcodec's ") + fourCcOf(m_stream) + " encoder gave no picture";
        return false;
    }
    const uint32_t sampleBytes = uint32_t(m_packet->size);
    frameBytes.clear();
    if (m_codec == 7) {
        // The stream header: the memory the stream needs (a B, G, R, A picture), and 0.
        put32(frameBytes, uint32_t(m_width * m_height * 4));
        put32(frameBytes, 0);
    } else {
        // Sample times in 100 ns units.
        const uint64_t start = uint64_t(std::llround(index * 1e7 / m_fps));
        const uint64_t stop = uint64_t(std::llround((index + 1) * 1e7 / m_fps));
        put32(frameBytes, uint32_t(m_mediaType.size()));
        frameBytes.insert(frameBytes.end(), m_mediaType.begin(), m_mediaType.end());
        put32(frameBytes, kVideoSample);
        put32(frameBytes, (m_packet->flags & AV_PKT_FLAG_KEY) ? kSyncPointFlag : 0);
        put32(frameBytes, uint32_t(start));
        put32(frameBytes, uint32_t(start >> 32));
        put32(frameBytes, uint32_t(stop));
        put32(frameBytes, uint32_t(stop >> 32));
        put32(frameBytes, sampleBytes);
    }
    frameBytes.insert(frameBytes.end(), m_packet->data, m_packet->data + sampleBytes);
    av_packet_unref(m_packet);
    return true;
}

}  // namespace kx
