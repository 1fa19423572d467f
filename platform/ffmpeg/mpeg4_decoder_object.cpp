// The MPEG-4 decoder object of codec 3 over libavcodec's MPEG-4 Part 2 decoder: "M4S2" samples
// in, "UYVY" pictures out. The input type's decoder configuration (a video object layer header,
// since the samples carry none) becomes libavcodec's configuration, with its picture size
// rewritten to the media type's, so that the type decides the size whatever the header codes.
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "platform/media_object.h"
#include "platform/mpeg4_layer_header.h"

namespace kx {
namespace {

constexpr uint32_t kMaxSide = 8191;
// The largest sample taken: more than any picture of the largest size codes into.
constexpr size_t kMaxSampleBytes = size_t(4) << 20;
// What libavcodec adds to each side of a picture it allocates (alignment, edges, scratch rows).
constexpr uint32_t kAllocationMargin = 256;

// Y, U, V 4:2:0 planes to U, Y0, V, Y1 rows: each chroma sample serves two pixels of a row and
// two rows.
void planarToUyvy(const AVFrame& frame, uint8_t* out, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* luma = frame.data[0] + ptrdiff_t(y) * frame.linesize[0];
        const uint8_t* cb = frame.data[1] + ptrdiff_t(y / 2) * frame.linesize[1];
        const uint8_t* cr = frame.data[2] + ptrdiff_t(y / 2) * frame.linesize[2];
        uint8_t* row = out + ptrdiff_t(y) * width * 2;
        for (int x = 0; x < width / 2; ++x) {
            row[4 * x] = cb[x];
            row[4 * x + 1] = luma[2 * x];
            row[4 * x + 2] = cr[x];
            row[4 * x + 3] = luma[2 * x + 1];
        }
    }
}

class Mpeg4DecoderObject final : public MediaObject {
public:
    ~Mpeg4DecoderObject() override {
        avcodec_free_context(&m_context);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
    }

    MediaResult SetInputType(uint32_t stream, const MediaType& type) override {
        if (stream != 0) return MediaResult::Failed;
        if (type.majorType != fourCcOf("vids") || type.subtype != fourCcOf("M4S2") || !sizeFits(type))
            return MediaResult::InvalidType;
        closeDecoder();
        m_input = type;
        m_inputSet = true;
        return openWhenReady();
    }

    MediaResult SetOutputType(uint32_t stream, const MediaType& type) override {
        if (stream != 0) return MediaResult::Failed;
        if (type.majorType != fourCcOf("vids") || type.subtype != fourCcOf("UYVY") || !sizeFits(type))
            return MediaResult::InvalidType;
        if (m_inputSet && (type.width != m_input.width || type.height != m_input.height))
            return MediaResult::InvalidType;
        closeDecoder();
        m_output = type;
        m_outputSet = true;
        return openWhenReady();
    }

    MediaResult ProcessInput(uint32_t stream, MediaBuffer& buffer, uint32_t) override {
        if (stream != 0) return MediaResult::Failed;
        if (!m_context) return MediaResult::TypeNotSet;
        if (m_pending) return MediaResult::NotAccepting;
        uint8_t* bytes = nullptr;
        size_t length = 0;
        buffer.GetBufferAndLength(&bytes, &length);
        if (length == 0 || !bytes) return MediaResult::Failed;
        if (length > kMaxSampleBytes) return MediaResult::Failed;
        // The sample is copied into a store with libavcodec's zero padding behind it.
        if (m_sample.size() < length + AV_INPUT_BUFFER_PADDING_SIZE)
            m_sample.resize(length + AV_INPUT_BUFFER_PADDING_SIZE);
        std::memcpy(m_sample.data(), bytes, length);
        std::memset(m_sample.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        m_packet->data = m_sample.data();
        m_packet->size = int(length);
        m_packet->flags = 0;
        const int sent = avcodec_send_packet(m_context, m_packet);
        m_packet->data = nullptr;
        m_packet->size = 0;
        if (sent == AVERROR(EAGAIN)) return MediaResult::NotAccepting;
        if (sent < 0) return MediaResult::Failed;
        m_pending = true;
        return MediaResult::Ok;
    }

    MediaResult ProcessOutput(uint32_t, MediaOutputRecord& output) override {
        output.status = 0;
        if (!m_context) return MediaResult::TypeNotSet;
        m_pending = false;
        if (avcodec_receive_frame(m_context, m_frame) < 0) return MediaResult::NoOutput;
        const int width = int(m_output.width);
        const int height = int(m_output.height);
        // A picture of another size (a layer header inside a damaged sample) is not the
        // output type's: it is dropped.
        const bool fits = m_frame->width == width && m_frame->height == height &&
                          (m_frame->format == AV_PIX_FMT_YUV420P || m_frame->format == AV_PIX_FMT_YUVJ420P);
        if (!fits) {
            av_frame_unref(m_frame);
            return MediaResult::NoOutput;
        }
        const size_t bytes = size_t(width) * size_t(height) * 2;
        if (!output.buffer || output.buffer->GetMaxLength() < bytes) {
            av_frame_unref(m_frame);
            return MediaResult::Failed;
        }
        uint8_t* store = nullptr;
        output.buffer->GetBufferAndLength(&store, nullptr);
        planarToUyvy(*m_frame, store, width, height);
        output.buffer->SetLength(bytes);
        output.status = kMediaOutputSyncPoint;
        av_frame_unref(m_frame);
        return MediaResult::Ok;
    }

    MediaResult Lock(bool) override { return MediaResult::Ok; }

private:
    static bool sizeFits(const MediaType& type) {
        return type.width >= 2 && type.height >= 2 && type.width <= kMaxSide && type.height <= kMaxSide &&
               type.width % 2 == 0;
    }

    void closeDecoder() {
        avcodec_free_context(&m_context);
        m_pending = false;
    }

    MediaResult openWhenReady() {
        if (!m_inputSet || !m_outputSet) return MediaResult::Ok;
        if (m_output.width != m_input.width || m_output.height != m_input.height) return MediaResult::InvalidType;
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
        // Damaged samples are the caller's to report (no picture), not libavcodec's to print.
        av_log_set_level(AV_LOG_FATAL);
        if (!codec) return MediaResult::Failed;
        if (!m_frame) m_frame = av_frame_alloc();
        if (!m_packet) m_packet = av_packet_alloc();
        m_context = avcodec_alloc_context3(codec);
        if (!m_frame || !m_packet || !m_context) {
            closeDecoder();
            return MediaResult::Failed;
        }
        m_context->codec_tag = fourCcOf("M4S2");
        m_context->width = int(m_input.width);
        m_context->height = int(m_input.height);
        m_context->thread_count = 1;
        // Nothing much larger than the media type (with libavcodec's alignment and edges) is
        // ever allocated, whatever a sample's own layer header says.
        m_context->max_pixels = int64_t(m_input.width + kAllocationMargin) * (m_input.height + kAllocationMargin);
        const auto& configuration = m_input.decoderConfiguration;
        if (!configuration.empty()) {
            m_context->extradata = static_cast<uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!m_context->extradata) {
                closeDecoder();
                return MediaResult::Failed;
            }
            std::memcpy(m_context->extradata, configuration.data(), configuration.size());
            m_context->extradata_size = int(configuration.size());
            setLayerPictureSize({m_context->extradata, configuration.size()}, m_input.width, m_input.height);
        }
        if (avcodec_open2(m_context, codec, nullptr) < 0) {
            closeDecoder();
            return MediaResult::Failed;
        }
        return MediaResult::Ok;
    }

    MediaType m_input;
    MediaType m_output;
    bool m_inputSet = false;
    bool m_outputSet = false;
    bool m_pending = false;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::vector<uint8_t> m_sample;
};

}  // namespace

std::unique_ptr<MediaObject> createMpeg4DecoderObject() {
    return std::make_unique<Mpeg4DecoderObject>();
}

}  // namespace kx
