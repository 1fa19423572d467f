// Camera streams through libavcodec: recognising the stream by its start codes, cutting the fed
// bytes into pictures, decoding them and converting each to packed B, G, R.
#include "platform/ffmpeg/camera_stream_decoder.h"

#include "platform/camera_components.h"

#include <algorithm>
#include <atomic>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace kx {
namespace {

// Position of the next 00 00 01 at or after `from`, or data.size().
size_t nextStartCode(std::span<const uint8_t> data, size_t from) {
    for (size_t i = from; i + 2 < data.size(); ++i) {
        if (data[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return data.size();
}

bool isMpeg4Code(uint8_t code) { return code == 0xB0 || code == 0xB3 || code == 0xB5 || code == 0xB6; }

bool isH264Nal(uint8_t header) {
    const int type = header & 0x1F;
    return (header & 0x80) == 0 && (type == 1 || type == 5 || type == 6 || type == 7 || type == 8 || type == 9);
}

bool isJpegStart(std::span<const uint8_t> data, size_t at) {
    return at + 2 < data.size() && data[at] == 0xFF && data[at + 1] == 0xD8 && data[at + 2] == 0xFF;
}

AVCodecID codecOf(CameraStreamKind kind) {
    switch (kind) {
        case CameraStreamKind::Jpeg: return AV_CODEC_ID_MJPEG;
        case CameraStreamKind::Mpeg4: return AV_CODEC_ID_MPEG4;
        case CameraStreamKind::H264: return AV_CODEC_ID_H264;
        case CameraStreamKind::Unknown: break;
    }
    return AV_CODEC_ID_NONE;
}

// The end of the JPEG picture whose start of image is at `begin`: just past its end-of-image
// marker, found by walking the marker segments (so a thumbnail inside an APP segment stays part
// of its picture) and the entropy-coded data after each start of scan.
size_t jpegEnd(std::span<const uint8_t> data, size_t begin) {
    size_t i = begin + 2;
    while (i + 1 < data.size()) {
        if (data[i] != 0xFF || data[i + 1] == 0xFF) {
            ++i;
            continue;
        }
        const uint8_t marker = data[i + 1];
        if (marker == 0xD9) return i + 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            i += 2;
            continue;
        }
        if (i + 3 >= data.size()) break;
        i += 2 + (size_t(data[i + 2]) << 8 | data[i + 3]);
        if (marker != 0xDA) continue;
        // Entropy-coded data runs to the next marker other than a stuffed zero or a restart.
        while (i + 1 < data.size() &&
               !(data[i] == 0xFF && data[i + 1] != 0 && data[i + 1] != 0xFF && (data[i + 1] < 0xD0 || data[i + 1] > 0xD7)))
            ++i;
    }
    return data.size();
}

// Where the picture that starts at `begin` ends: the next picture's first byte, or the end.
size_t pictureEnd(std::span<const uint8_t> data, size_t begin, CameraStreamKind kind) {
    if (kind == CameraStreamKind::Jpeg) {
        if (isJpegStart(data, begin)) return std::min(jpegEnd(data, begin), data.size());
        // Bytes before a picture go on their own, and come to nothing.
        for (size_t i = begin + 1; i + 2 < data.size(); ++i)
            if (isJpegStart(data, i)) return i;
        return data.size();
    }
    // MPEG-4: one VOP a picture, with the headers before it. H.264: one access unit, which ends
    // where a delimiter or parameter set follows a slice, or a slice begins a new picture
    // (first_mb_in_slice 0: the first bit after the NAL header is 1).
    bool havePicture = false;
    for (size_t at = nextStartCode(data, begin); at < data.size(); at = nextStartCode(data, at + 3)) {
        if (at + 3 >= data.size()) break;
        const uint8_t code = data[at + 3];
        bool picture = false;
        bool startsNext = false;
        if (kind == CameraStreamKind::Mpeg4) {
            picture = code == 0xB6;
            startsNext = havePicture;
        } else {
            const int type = code & 0x1F;
            picture = type == 1 || type == 5;
            const bool firstSlice = picture && at + 4 < data.size() && (data[at + 4] & 0x80);
            startsNext = havePicture && (type == 9 || type == 7 || type == 8 || type == 6 || firstSlice);
        }
        if (startsNext) {
            // A four-byte start code's leading zero belongs to the next picture.
            return at > begin && data[at - 1] == 0 ? at - 1 : at;
        }
        havePicture = havePicture || picture;
    }
    return data.size();
}

}  // namespace

namespace {
std::atomic<int> g_pictureLimit{4096};
}  // namespace

void setCameraPictureLimit(int side) { g_pictureLimit = std::max(side, 16); }
int cameraPictureLimit() { return g_pictureLimit; }

CameraStreamKind recogniseCameraStream(std::span<const uint8_t> data) {
    if (isJpegStart(data, 0)) return CameraStreamKind::Jpeg;
    bool h264 = false;
    for (size_t at = nextStartCode(data, 0); at + 3 < data.size(); at = nextStartCode(data, at + 3)) {
        const uint8_t code = data[at + 3];
        if (isMpeg4Code(code)) return CameraStreamKind::Mpeg4;
        h264 = h264 || isH264Nal(code);
    }
    if (h264) return CameraStreamKind::H264;
    for (size_t i = 0; i + 2 < data.size(); ++i)
        if (isJpegStart(data, i)) return CameraStreamKind::Jpeg;
    return CameraStreamKind::Unknown;
}

CameraStreamDecoder::CameraStreamDecoder(int maxSide) : m_maxSide(maxSide) {
    // Damaged camera data is expected; its diagnostics would only flood the tools' output.
    av_log_set_level(AV_LOG_FATAL);
}

CameraStreamDecoder::~CameraStreamDecoder() { close(); }

void CameraStreamDecoder::close() {
    avcodec_free_context(&m_context);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    m_kind = CameraStreamKind::Unknown;
}

bool CameraStreamDecoder::open(CameraStreamKind kind) {
    close();
    const AVCodec* codec = avcodec_find_decoder(codecOf(kind));
    if (!codec) return false;
    m_context = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_context || !m_frame || !m_packet) {
        close();
        return false;
    }
    // One thread: a picture comes out of the call that fed it, as a camera component delivers.
    m_context->thread_count = 1;
    m_context->max_pixels = int64_t(m_maxSide) * m_maxSide;
    if (avcodec_open2(m_context, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_kind = kind;
    return true;
}

bool CameraStreamDecoder::decode(std::span<const uint8_t> data, CameraStreamKind kind,
                                 const std::function<void()>& onPicture) {
    if (data.empty()) return false;
    if (kind == CameraStreamKind::Unknown) kind = m_kind != CameraStreamKind::Unknown ? m_kind : recogniseCameraStream(data);
    if (kind == CameraStreamKind::Unknown) return false;
    if (kind != m_kind && !open(kind)) return false;
    bool any = false;
    for (size_t begin = 0; begin < data.size();) {
        const size_t end = pictureEnd(data, begin, kind);
        any = sendPacket(data.subspan(begin, end - begin), onPicture) || any;
        begin = end;
    }
    return any;
}

bool CameraStreamDecoder::sendPacket(std::span<const uint8_t> data, const std::function<void()>& onPicture) {
    if (data.size() > size_t(INT32_MAX) - AV_INPUT_BUFFER_PADDING_SIZE) return false;
    // libavcodec reads up to the padding past the end of its input.
    m_padded.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(m_padded.data(), data.data(), data.size());
    std::memset(m_padded.data() + data.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_packet_unref(m_packet);
    m_packet->data = m_padded.data();
    m_packet->size = int(data.size());
    if (avcodec_send_packet(m_context, m_packet) < 0) return false;
    bool any = false;
    while (avcodec_receive_frame(m_context, m_frame) == 0) {
        if (convert()) {
            any = true;
            onPicture();
        }
        av_frame_unref(m_frame);
    }
    return any;
}

void CameraStreamDecoder::setOutputSize(int width, int height) {
    const bool valid = width > 0 && height > 0 && width <= m_maxSide && height <= m_maxSide;
    m_outputWidth = valid ? width : 0;
    m_outputHeight = valid ? height : 0;
}

bool CameraStreamDecoder::convert() {
    const int sourceWidth = m_frame->width;
    const int sourceHeight = m_frame->height;
    if (sourceWidth <= 0 || sourceHeight <= 0 || sourceWidth > m_maxSide || sourceHeight > m_maxSide) return false;
    const int width = m_outputWidth ? m_outputWidth : sourceWidth;
    const int height = m_outputWidth ? m_outputHeight : sourceHeight;
    m_scaler = sws_getCachedContext(m_scaler, sourceWidth, sourceHeight, AVPixelFormat(m_frame->format), width,
                                    height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!m_scaler) return false;
    m_bgr.resize(size_t(width) * size_t(height) * 3);
    uint8_t* planes[4] = {m_bgr.data(), nullptr, nullptr, nullptr};
    int strides[4] = {width * 3, 0, 0, 0};
    if (sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, sourceHeight, planes, strides) != height)
        return false;
    m_width = width;
    m_height = height;
    return true;
}

}  // namespace kx
