// The video compressors of the AVI file library: uncompressed pictures passed through, and
// libavcodec's encoders fed from 24-bit bottom-up pictures through libswscale.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

#include "platform/avi_file.h"
#include "platform/ffmpeg/riff_avi_file.h"

namespace kx {
namespace {

constexpr int32_t kMaxPictureSide = 8192;
constexpr int kGopPictures = 12;
constexpr int kQuantiser = 3;  // MJPEG and MPEG-4 by default: visually close to the source
constexpr int kRateFactor = 23;  // H.264 by default

struct CompressorEntry {
    const char* name;
    const char* description;
    uint32_t fourCc;
    const char* encoder;  // null: the pictures are stored as they are
    AVPixelFormat pixelFormat;
};

// FFV1 takes B, G, R, 0 bytes (0RGB32 on a little-endian machine): lossless from our pictures.
const CompressorEntry kCompressors[] = {
    {"dib", "Full Frame (Uncompressed)", aviFourCc('D', 'I', 'B', ' '), nullptr, AV_PIX_FMT_NONE},
    {"mjpeg", "Motion JPEG", aviFourCc('M', 'J', 'P', 'G'), "mjpeg", AV_PIX_FMT_YUVJ420P},
    {"mpeg4", "MPEG-4 part 2", aviFourCc('F', 'M', 'P', '4'), "mpeg4", AV_PIX_FMT_YUV420P},
    {"ffv1", "FFV1 (lossless)", aviFourCc('F', 'F', 'V', '1'), "ffv1", AV_PIX_FMT_0RGB32},
    {"h264", "H.264 (x264)", aviFourCc('H', '2', '6', '4'), "libx264", AV_PIX_FMT_YUV420P},
};

// The quality setting of a compressor: quantiser 1 to 31 for MJPEG and MPEG-4, the rate
// factor 0 to 51 for H.264; the lossless and uncompressed ones have none.
std::optional<AviQuality> qualityOf(const CompressorEntry& entry) {
    const std::string name = entry.name;
    if (name == "mjpeg" || name == "mpeg4") return AviQuality{1, 31, kQuantiser, "Quantiser (1 best - 31 smallest)"};
    if (name == "h264") return AviQuality{0, 51, kRateFactor, "Rate factor (0 best - 51 smallest)"};
    return std::nullopt;
}

int32_t le32(const uint8_t* b) {
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                   uint32_t(b[3]) << 24);
}

class CompressedAviStream : public AviStream {
public:
    CompressedAviStream(RiffAviStream& video, const CompressorEntry& entry, int quality)
        : m_video(video), m_entry(entry), m_quality(quality) {}
    ~CompressedAviStream() override {
        release();
        sws_freeContext(m_scaler);
    }

    const AviStreamInfo& info() const override { return m_video.info(); }
    int64_t length() const override { return m_next; }

    bool setFormat(const void* format, size_t bytes) override {
        if (m_width != 0 || format == nullptr || bytes < 40) return false;
        const auto* b = static_cast<const uint8_t*>(format);
        const int32_t width = le32(b + 4);
        const int32_t height = le32(b + 8);
        const unsigned bits = unsigned(b[14]) | unsigned(b[15]) << 8;
        if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
            bits != 24 || le32(b + 16) != 0)
            return false;
        m_stride = aviBitmapStride(uint32_t(width));
        std::vector<uint8_t> out = aviBitmapFormat(width, height);
        if (m_entry.encoder) {
            if (!openEncoder(width, height)) return false;
            // The compressor's format: its code, the size of a picture, its extra data.
            const uint32_t headerBytes = 40 + uint32_t(m_codec->extradata_size);
            std::memcpy(out.data(), &headerBytes, 4);
            std::memcpy(out.data() + 16, &m_entry.fourCc, 4);
            const uint32_t imageBytes = uint32_t(width) * uint32_t(height) * 3;
            std::memcpy(out.data() + 20, &imageBytes, 4);
            out.insert(out.end(), m_codec->extradata, m_codec->extradata + m_codec->extradata_size);
        }
        m_video.setHandler(m_entry.fourCc);
        if (!m_video.setFormat(out.data(), out.size())) return false;
        m_width = width;
        m_height = height;
        return true;
    }

    bool write(int64_t start, int32_t count, const void* buffer, size_t bytes,
               AviSampleFlags) override {
        if (m_width == 0 || m_released || count != 1 || start < m_next || buffer == nullptr ||
            bytes != m_stride * size_t(m_height))
            return false;
        m_next = start + 1;
        if (!m_entry.encoder)
            return m_video.write(start, 1, buffer, bytes, AviSampleFlags::KeyFrame);
        if (av_frame_make_writable(m_frame) < 0) return false;
        // Bottom-up rows: start at the last row and step backwards.
        const auto* last = static_cast<const uint8_t*>(buffer) + m_stride * size_t(m_height - 1);
        const uint8_t* planes[1] = {last};
        const int strides[1] = {-int(m_stride)};
        sws_scale(m_scaler, planes, strides, 0, m_height, m_frame->data, m_frame->linesize);
        m_frame->pts = start;
        // A fixed quantiser is read from each picture, not from the encoder's settings.
        m_frame->quality = m_codec->global_quality;
        if (avcodec_send_frame(m_codec, m_frame) < 0) return false;
        return drain();
    }

    bool release() override {
        if (m_released) return m_releaseResult;
        m_released = true;
        if (m_codec && m_width != 0) {
            m_releaseResult = avcodec_send_frame(m_codec, nullptr) >= 0 && drain();
        }
        avcodec_free_context(&m_codec);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        return m_releaseResult;
    }

private:
    bool openEncoder(int32_t width, int32_t height) {
        const AVCodec* codec = avcodec_find_encoder_by_name(m_entry.encoder);
        if (!codec) return false;
        m_codec = avcodec_alloc_context3(codec);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_codec || !m_frame || !m_packet) return false;
        const AviStreamInfo& info = m_video.info();
        int num = 0;
        int den = 0;
        av_reduce(&num, &den, info.scale, info.rate, 65535);
        if (num <= 0 || den <= 0) return false;
        m_codec->width = width;
        m_codec->height = height;
        m_codec->pix_fmt = m_entry.pixelFormat;
        m_codec->time_base = {num, den};
        m_codec->framerate = {den, num};
        m_codec->gop_size = kGopPictures;
        m_codec->max_b_frames = 0;  // AVI keeps one picture per chunk in display order
        m_codec->thread_count = 1;
        if (m_entry.pixelFormat == AV_PIX_FMT_YUVJ420P || codec->id == AV_CODEC_ID_MPEG4) {
            m_codec->flags |= AV_CODEC_FLAG_QSCALE;
            m_codec->global_quality = FF_QP2LAMBDA * m_quality;
        }
        if (codec->id == AV_CODEC_ID_H264) {
            av_opt_set_int(m_codec->priv_data, "crf", m_quality, 0);
            av_opt_set(m_codec->priv_data, "preset", "veryfast", 0);
            av_opt_set(m_codec->priv_data, "tune", "zerolatency", 0);
        }
        if (avcodec_open2(m_codec, codec, nullptr) < 0) return false;
        m_frame->width = width;
        m_frame->height = height;
        m_frame->format = m_entry.pixelFormat;
        if (av_frame_get_buffer(m_frame, 0) < 0) return false;
        m_scaler = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height,
                                  m_entry.pixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
        return m_scaler != nullptr;
    }

    // Writes every packet the encoder has ready, each at the position of its picture.
    bool drain() {
        bool ok = true;
        for (;;) {
            const int result = avcodec_receive_packet(m_codec, m_packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
            if (result < 0) return false;
            const int64_t at = m_packet->pts == AV_NOPTS_VALUE || m_packet->pts < m_video.length()
                                   ? m_video.length()
                                   : m_packet->pts;
            ok = m_video.write(at, 1, m_packet->data, size_t(m_packet->size),
                               (m_packet->flags & AV_PKT_FLAG_KEY) ? AviSampleFlags::KeyFrame
                                                                   : AviSampleFlags::None) &&
                 ok;
            av_packet_unref(m_packet);
        }
        return ok;
    }

    RiffAviStream& m_video;
    const CompressorEntry& m_entry;
    int m_quality;
    int32_t m_width = 0;
    int32_t m_height = 0;
    size_t m_stride = 0;
    int64_t m_next = 0;
    bool m_released = false;
    bool m_releaseResult = true;
    AVCodecContext* m_codec = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
};

bool available(const CompressorEntry& entry) {
    return entry.encoder == nullptr || avcodec_find_encoder_by_name(entry.encoder) != nullptr;
}

}  // namespace

std::vector<AviCompressor> aviCompressors() {
    std::vector<AviCompressor> list;
    for (const CompressorEntry& entry : kCompressors)
        if (available(entry)) list.push_back({entry.name, entry.description, entry.fourCc, qualityOf(entry)});
    return list;
}

std::unique_ptr<AviStream> makeCompressedStream(AviStream& video, const std::string& compressor,
                                                std::string& error, std::optional<int> quality) {
    // The export reports its own failures: libav* messages below errors stay quiet.
    av_log_set_level(AV_LOG_ERROR);
    auto* riff = dynamic_cast<RiffAviStream*>(&video);
    if (!riff || riff->info().type != AviStreamType::Video) {
        error = "not a video stream of an AVI file";
        return nullptr;
    }
    for (const CompressorEntry& entry : kCompressors)
        if (compressor == entry.name) {
            if (!available(entry)) break;
            const std::optional<AviQuality> range = qualityOf(entry);
            const int chosen = !range ? 0 : std::clamp(quality.value_or(range->standard), range->best, range->smallest);
            return std::make_unique<CompressedAviStream>(*riff, entry, chosen);
        }
    error = "no compressor named " + compressor;
    return nullptr;
}

}  // namespace kx
