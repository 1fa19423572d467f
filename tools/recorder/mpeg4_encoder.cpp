// Mpeg4Encoder over libavcodec for codecs 2 and 3. Codec 2 frames carry their headers with every
// I picture; codec 3 frames carry none: the layer header goes to the encoder's configuration
// (thrown away) and is written as the decoder's fixed header reads it (no layer identifier, no
// control parameters, time increment resolution 30000, simple profile tools only).
#include "tools/recorder/mpeg4_encoder.h"
#include "tools/recorder/av_frame_fill.h"

#include <climits>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace kx {

bool Mpeg4Encoder::receive(Mpeg4Picture& picture) {
    if (m_ready.empty()) return false;
    picture = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

Mpeg4PictureType Mpeg4Encoder::typeOf(std::span<const uint8_t> bytes) {
    for (size_t i = 0; i + 4 < bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB6)
            return Mpeg4PictureType(bytes[i + 4] >> 6);
    return Mpeg4PictureType::I;
}

std::vector<Mpeg4PictureType> Mpeg4Encoder::planTypes(const std::vector<bool>& keys, int bFrames) {
    std::vector<Mpeg4PictureType> types(keys.size(), Mpeg4PictureType::P);
    for (size_t n = 0, sinceReference = 0; n < keys.size(); ++n) {
        const bool lastOfGroup = n + 1 == keys.size() || keys[n + 1];
        if (keys[n] || n == 0) {
            types[n] = Mpeg4PictureType::I;
            sinceReference = 0;
        } else if (!lastOfGroup && int(sinceReference) < bFrames) {
            types[n] = Mpeg4PictureType::B;
            ++sinceReference;
        } else {
            sinceReference = 0;
        }
    }
    return types;
}

namespace {

class AvcodecMpeg4Encoder final : public Mpeg4Encoder {
public:
    explicit AvcodecMpeg4Encoder(const Mpeg4EncoderSettings& settings) : m_settings(settings) {}
    ~AvcodecMpeg4Encoder() override {
        avcodec_free_context(&m_context);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
    }

    bool open() {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (!codec) {
            m_error = "libavcodec has no MPEG-4 encoder";
            return false;
        }
        m_context = avcodec_alloc_context3(codec);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (!m_context || !m_frame || !m_packet) {
            m_error = "out of memory";
            return false;
        }
        av_log_set_level(AV_LOG_ERROR);
        m_context->width = m_settings.width;
        m_context->height = m_settings.height;
        m_context->pix_fmt = AV_PIX_FMT_YUV420P;
        m_context->time_base = {1, kTimeResolution};
        m_context->framerate = {int(std::lround(m_settings.fps * 1000)), 1000};
        m_context->thread_count = 1;
        m_context->max_b_frames = m_settings.bFrames;
        // Groups are the recorder's: I pictures only where it asks, no B picture across them.
        m_context->gop_size = INT_MAX / 2;
        m_context->flags |= AV_CODEC_FLAG_CLOSED_GOP | AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
        m_context->global_quality = FF_QP2LAMBDA * m_settings.quantiser;
        if (m_settings.quarterSample) m_context->flags |= AV_CODEC_FLAG_QPEL;
        av_opt_set_int(m_context->priv_data, "sc_threshold", 1000000000, 0);
        av_opt_set_int(m_context->priv_data, "b_strategy", 0, 0);
        if (m_settings.codec == 3) {
            // The layer header goes to the configuration, not into the frames, in the layout
            // without layer identifier and control parameters (and no group header).
            m_context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            m_context->workaround_bugs |= FF_BUG_MS;
        }
        if (avcodec_open2(m_context, codec, nullptr) < 0) {
            m_error = "libavcodec's MPEG-4 encoder refuses " + std::to_string(m_settings.width) + " x " +
                      std::to_string(m_settings.height);
            return false;
        }
        m_frame->format = AV_PIX_FMT_YUV420P;
        m_frame->width = m_settings.width;
        m_frame->height = m_settings.height;
        if (av_frame_get_buffer(m_frame, 0) < 0) {
            m_error = "out of memory";
            return false;
        }
        return true;
    }

    std::span<const uint8_t> configuration() const override {
        if (!m_context || !m_context->extradata) return {};
        return {m_context->extradata, size_t(m_context->extradata_size)};
    }

    bool send(const YuvImage& picture, Mpeg4PictureType type) override {
        if (!fillAvFrame(m_frame, picture)) {
            m_error = "out of memory";
            return false;
        }
        // A fixed quantiser: libavcodec takes it from each picture.
        m_frame->quality = m_context->global_quality;
        m_frame->pts = std::llround(double(m_sent) * kTimeResolution / m_settings.fps);
        m_frame->pict_type = type == Mpeg4PictureType::I   ? AV_PICTURE_TYPE_I
                             : type == Mpeg4PictureType::P ? AV_PICTURE_TYPE_P
                                                           : AV_PICTURE_TYPE_NONE;
        ++m_sent;
        if (avcodec_send_frame(m_context, m_frame) < 0) {
            m_error = "libavcodec's MPEG-4 encoder refuses a picture";
            return false;
        }
        return drain();
    }

    bool finish() override {
        if (avcodec_send_frame(m_context, nullptr) < 0) {
            m_error = "libavcodec's MPEG-4 encoder cannot finish";
            return false;
        }
        return drain();
    }

private:
    bool drain() {
        for (;;) {
            const int result = avcodec_receive_packet(m_context, m_packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
            if (result < 0) {
                m_error = "libavcodec's MPEG-4 encoder gave no picture";
                return false;
            }
            Mpeg4Picture out;
            out.bytes.assign(m_packet->data, m_packet->data + m_packet->size);
            out.type = typeOf(out.bytes);
            m_ready.push_back(std::move(out));
            av_packet_unref(m_packet);
        }
    }

    Mpeg4EncoderSettings m_settings;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    int64_t m_sent = 0;
};

}  // namespace

std::unique_ptr<Mpeg4Encoder> Mpeg4Encoder::create(const Mpeg4EncoderSettings& settings, std::string& error) {
    if (settings.quantiser < 1 || settings.quantiser > 31) {
        error = "the MPEG-4 quantiser is 1 to 31";
        return nullptr;
    }
    if (settings.codec == 3 && (settings.bFrames != 0 || settings.quarterSample)) {
        error = "codec 3 pictures decode with a fixed simple-profile layer header: no B pictures, no quarter sample";
        return nullptr;
    }
    if (settings.codec == 6) return createXvidEncoder(settings, error);
    if (settings.codec != 2 && settings.codec != 3) {
        error = "MPEG-4 is codec 2, 3 or 6";
        return nullptr;
    }
    auto encoder = std::make_unique<AvcodecMpeg4Encoder>(settings);
    if (!encoder->open()) {
        error = encoder->error();
        return nullptr;
    }
    return encoder;
}

}  // namespace kx
