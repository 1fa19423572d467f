// The MP4 writer on FFmpeg: libx264 for the pictures (no B-frames, so the times written are the
// times shown), the AAC encoder for the sound, the mov_text encoder for the subtitles, the mp4
// muxer with millisecond video timestamps and the metadata as tags.
#include "platform/mp4_file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace kx {
namespace {

constexpr AVRational kMilliseconds{1, 1000};
constexpr int kSampleRate = 8000;
// A longer silence in the sound is not written out: the sound resumes at its time instead.
constexpr int64_t kMaxSilenceSamples = int64_t(kSampleRate) * 600;

// The subtitle encoder reads its styles from an ASS header.
constexpr const char* kSubtitleHeader =
    "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 384\r\nPlayResY: 288\r\n\r\n"
    "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
    "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
    "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
    "Style: Default,Sans,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\r\n"
    "\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, "
    "Text\r\n";

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

class FfmpegMp4File : public Mp4File {
public:
    ~FfmpegMp4File() override;
    bool open(const std::string& path, const Mp4Options& options, std::string& error);

    bool writePicture(const uint8_t* bitmap, size_t stride, int64_t timeMs) override;
    bool writeAudio(const int16_t* samples, size_t count, int64_t at) override;
    bool writeSubtitle(int64_t startMs, int64_t endMs, const std::string& text) override;
    bool close() override;
    const std::string& errorText() const override { return m_error; }

private:
    bool fail(const std::string& what, int code = 0);
    bool drainVideo();
    bool writeVideoPacket(AVPacket* packet, int64_t duration);
    bool encodeAudioFrame(int samples);
    bool drainAudio();
    bool writePacket(AVPacket* packet, AVStream* stream, AVRational from);

    std::string m_path;
    std::filesystem::path m_partial;
    AVFormatContext* m_format = nullptr;
    bool m_headerWritten = false;
    bool m_closed = false;
    int m_width = 0;
    int m_height = 0;

    CodecContext m_video;
    AVStream* m_videoStream = nullptr;
    SwsContext* m_scaler = nullptr;
    Frame m_picture;
    int64_t m_lastPictureMs = -1;
    Packet m_packet;
    Packet m_pendingVideo;  // written when the next one tells its duration
    bool m_hasPendingVideo = false;
    int64_t m_lastVideoDuration = 40;

    CodecContext m_audio;
    AVStream* m_audioStream = nullptr;
    Frame m_audioFrame;
    std::vector<float> m_audioQueue;  // samples not yet encoded
    int64_t m_audioQueuedAt = 0;      // sample time of m_audioQueue's first sample
    int64_t m_audioEnd = 0;           // sample time after the last sample given

    CodecContext m_text;
    AVStream* m_textStream = nullptr;
    std::vector<uint8_t> m_textBuffer;

    std::string m_error;
};

FfmpegMp4File::~FfmpegMp4File() {
    sws_freeContext(m_scaler);
    if (m_format) {
        if (m_format->pb) avio_closep(&m_format->pb);
        avformat_free_context(m_format);
    }
    if (!m_closed && !m_partial.empty()) {
        std::error_code ignored;
        std::filesystem::remove(m_partial, ignored);
    }
}

bool FfmpegMp4File::fail(const std::string& what, int code) {
    m_error = what + (code < 0 ? ": " + ffmpegError(code) : std::string());
    return false;
}

bool FfmpegMp4File::open(const std::string& path, const Mp4Options& options,
                         std::string& error) {
    m_path = path;
    m_width = options.width;
    m_height = options.height;
    const std::filesystem::path target(path);
    m_partial = target.parent_path() /
                ("." + target.filename().string() + ".part-" + std::to_string(::getpid()));
    const auto failed = [&](const std::string& what, int code = 0) {
        fail(what, code);
        error = m_error;
        return false;
    };
    if (m_width <= 0 || m_height <= 0 || m_width % 2 || m_height % 2)
        return failed("the picture size " + std::to_string(m_width) + " x " +
                      std::to_string(m_height) + " cannot be coded (even sizes only)");
    int code = avformat_alloc_output_context2(&m_format, nullptr, "mp4", m_partial.c_str());
    if (code < 0 || !m_format) return failed("the MP4 muxer is missing", code);
    const bool globalHeader = m_format->oformat->flags & AVFMT_GLOBALHEADER;
    // The encoders' statistics are not for the user; warnings and errors still show.
    if (av_log_get_level() > AV_LOG_WARNING) av_log_set_level(AV_LOG_WARNING);

    // Pictures: H.264 at the chosen quality, every time in milliseconds.
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) return failed("the H.264 encoder (libx264) is missing");
    m_video.reset(avcodec_alloc_context3(h264));
    m_video->width = m_width;
    m_video->height = m_height;
    m_video->pix_fmt = AV_PIX_FMT_YUV420P;
    m_video->time_base = kMilliseconds;
    m_video->max_b_frames = 0;
    m_video->gop_size = 250;
    if (globalHeader) m_video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(m_video->priv_data, "preset", "veryfast", 0);
    av_opt_set_double(m_video->priv_data, "crf", std::clamp(options.quality, 0, 51), 0);
    if ((code = avcodec_open2(m_video.get(), h264, nullptr)) < 0)
        return failed("the H.264 encoder does not open", code);
    m_videoStream = avformat_new_stream(m_format, nullptr);
    if (!m_videoStream) return failed("no video stream");
    avcodec_parameters_from_context(m_videoStream->codecpar, m_video.get());
    m_videoStream->time_base = kMilliseconds;
    m_picture.reset(av_frame_alloc());
    m_picture->format = AV_PIX_FMT_YUV420P;
    m_picture->width = m_width;
    m_picture->height = m_height;
    if ((code = av_frame_get_buffer(m_picture.get(), 0)) < 0)
        return failed("no picture buffer", code);
    m_scaler = sws_getContext(m_width, m_height, AV_PIX_FMT_BGR24, m_width, m_height,
                              AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler) return failed("no colour converter");

    if (options.audio) {
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!aac) return failed("the AAC encoder is missing");
        m_audio.reset(avcodec_alloc_context3(aac));
        m_audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_audio->sample_rate = kSampleRate;
        av_channel_layout_default(&m_audio->ch_layout, 1);
        m_audio->bit_rate = 32000;
        m_audio->time_base = AVRational{1, kSampleRate};
        if (globalHeader) m_audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if ((code = avcodec_open2(m_audio.get(), aac, nullptr)) < 0)
            return failed("the AAC encoder does not open", code);
        m_audioStream = avformat_new_stream(m_format, nullptr);
        if (!m_audioStream) return failed("no audio stream");
        avcodec_parameters_from_context(m_audioStream->codecpar, m_audio.get());
        m_audioStream->time_base = m_audio->time_base;
        m_audioFrame.reset(av_frame_alloc());
        m_audioFrame->format = AV_SAMPLE_FMT_FLTP;
        m_audioFrame->sample_rate = kSampleRate;
        av_channel_layout_copy(&m_audioFrame->ch_layout, &m_audio->ch_layout);
        m_audioFrame->nb_samples = m_audio->frame_size;
        if ((code = av_frame_get_buffer(m_audioFrame.get(), 0)) < 0)
            return failed("no sound buffer", code);
    }

    const AVCodec* movText = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
    if (!movText) return failed("the timed-text encoder is missing");
    m_text.reset(avcodec_alloc_context3(movText));
    m_text->time_base = kMilliseconds;
    m_text->width = m_width;
    m_text->height = m_height;
    m_text->subtitle_header = reinterpret_cast<uint8_t*>(av_strdup(kSubtitleHeader));
    m_text->subtitle_header_size = int(std::char_traits<char>::length(kSubtitleHeader));
    if ((code = avcodec_open2(m_text.get(), movText, nullptr)) < 0)
        return failed("the timed-text encoder does not open", code);
    m_textStream = avformat_new_stream(m_format, nullptr);
    if (!m_textStream) return failed("no subtitle stream");
    avcodec_parameters_from_context(m_textStream->codecpar, m_text.get());
    m_textStream->time_base = kMilliseconds;
    m_textBuffer.resize(64 * 1024);

    for (const auto& [key, value] : options.metadata)
        av_dict_set(&m_format->metadata, key.c_str(), value.c_str(), 0);

    if ((code = avio_open(&m_format->pb, m_partial.c_str(), AVIO_FLAG_WRITE)) < 0)
        return failed("cannot create " + m_partial.string(), code);
    AVDictionary* muxing = nullptr;
    av_dict_set(&muxing, "movflags", "+use_metadata_tags+faststart", 0);
    av_dict_set(&muxing, "video_track_timescale", "1000", 0);
    code = avformat_write_header(m_format, &muxing);
    av_dict_free(&muxing);
    if (code < 0) return failed("cannot write the MP4 header", code);
    m_headerWritten = true;
    m_packet.reset(av_packet_alloc());
    m_pendingVideo.reset(av_packet_alloc());
    return true;
}

bool FfmpegMp4File::writePacket(AVPacket* packet, AVStream* stream, AVRational from) {
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, from, stream->time_base);
    const int code = av_interleaved_write_frame(m_format, packet);
    if (code < 0) return fail("cannot write to " + m_path, code);
    return true;
}

bool FfmpegMp4File::writeVideoPacket(AVPacket* packet, int64_t duration) {
    packet->duration = duration;
    return writePacket(packet, m_videoStream, m_video->time_base);
}

// Each packet is held until the next one arrives: the difference of their times is its duration.
bool FfmpegMp4File::drainVideo() {
    for (;;) {
        const int code = avcodec_receive_packet(m_video.get(), m_packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
        if (code < 0) return fail("the H.264 encoder failed", code);
        if (m_hasPendingVideo) {
            m_lastVideoDuration = std::max<int64_t>(1, m_packet->pts - m_pendingVideo->pts);
            if (!writeVideoPacket(m_pendingVideo.get(), m_lastVideoDuration)) return false;
        }
        av_packet_unref(m_pendingVideo.get());
        av_packet_move_ref(m_pendingVideo.get(), m_packet.get());
        m_hasPendingVideo = true;
    }
}

bool FfmpegMp4File::writePicture(const uint8_t* bitmap, size_t stride, int64_t timeMs) {
    if (!m_headerWritten || m_closed) return fail("the file is not open");
    int code = av_frame_make_writable(m_picture.get());
    if (code < 0) return fail("no picture buffer", code);
    // Bottom-up rows: start at the last row and step backwards.
    const uint8_t* source[1] = {bitmap + (m_height - 1) * stride};
    const int sourceStride[1] = {-int(stride)};
    sws_scale(m_scaler, source, sourceStride, 0, m_height, m_picture->data, m_picture->linesize);
    // Times must grow; a picture at or before the last one's time follows it by a millisecond.
    m_lastPictureMs = std::max(timeMs, m_lastPictureMs + 1);
    m_picture->pts = m_lastPictureMs;
    if ((code = avcodec_send_frame(m_video.get(), m_picture.get())) < 0)
        return fail("the H.264 encoder failed", code);
    return drainVideo();
}

bool FfmpegMp4File::drainAudio() {
    for (;;) {
        const int code = avcodec_receive_packet(m_audio.get(), m_packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
        if (code < 0) return fail("the AAC encoder failed", code);
        if (!writePacket(m_packet.get(), m_audioStream, m_audio->time_base)) return false;
    }
}

bool FfmpegMp4File::encodeAudioFrame(int samples) {
    int code = av_frame_make_writable(m_audioFrame.get());
    if (code < 0) return fail("no sound buffer", code);
    m_audioFrame->nb_samples = samples;
    std::copy_n(m_audioQueue.begin(), samples, reinterpret_cast<float*>(m_audioFrame->data[0]));
    m_audioFrame->pts = m_audioQueuedAt;
    m_audioQueue.erase(m_audioQueue.begin(), m_audioQueue.begin() + samples);
    m_audioQueuedAt += samples;
    if ((code = avcodec_send_frame(m_audio.get(), m_audioFrame.get())) < 0)
        return fail("the AAC encoder failed", code);
    return drainAudio();
}

bool FfmpegMp4File::writeAudio(const int16_t* samples, size_t count, int64_t at) {
    if (!m_audio) return true;
    if (!m_headerWritten || m_closed) return fail("the file is not open");
    const int frameSize = m_audio->frame_size;
    if (at > m_audioEnd + kMaxSilenceSamples) {
        // A long break: what is queued goes out, padded to a whole frame; the sound resumes at
        // its own time.
        if (!m_audioQueue.empty()) {
            m_audioQueue.resize(size_t(frameSize), 0.0f);
            if (!encodeAudioFrame(frameSize)) return false;
        }
        m_audioQueuedAt = m_audioEnd = at;
    } else if (at > m_audioEnd) {
        m_audioQueue.insert(m_audioQueue.end(), size_t(at - m_audioEnd), 0.0f);
        m_audioEnd = at;
    }
    for (size_t i = 0; i < count; ++i) m_audioQueue.push_back(samples[i] / 32768.0f);
    m_audioEnd += int64_t(count);
    while (m_audioQueue.size() >= size_t(frameSize))
        if (!encodeAudioFrame(frameSize)) return false;
    return true;
}

bool FfmpegMp4File::writeSubtitle(int64_t startMs, int64_t endMs, const std::string& text) {
    if (!m_headerWritten || m_closed) return fail("the file is not open");
    // An ASS event line; braces and backslashes would be read as style codes.
    std::string event = "0,0,Default,,0,0,0,,";
    for (const char c : text) {
        if (c == '\n')
            event += "\\N";
        else if (c == '{' || c == '}' || c == '\\')
            event += ' ';
        else
            event += c;
    }
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_ASS;
    rect.ass = event.data();
    AVSubtitleRect* rects[1] = {&rect};
    AVSubtitle subtitle{};
    subtitle.num_rects = 1;
    subtitle.rects = rects;
    subtitle.end_display_time = uint32_t(std::max<int64_t>(1, endMs - startMs));
    const int bytes = avcodec_encode_subtitle(m_text.get(), m_textBuffer.data(),
                                              int(m_textBuffer.size()), &subtitle);
    if (bytes < 0) return fail("the timed-text encoder failed", bytes);
    av_packet_unref(m_packet.get());
    if (av_new_packet(m_packet.get(), bytes) < 0) return fail("out of memory");
    std::copy_n(m_textBuffer.data(), bytes, m_packet->data);
    m_packet->pts = m_packet->dts = startMs;
    m_packet->duration = std::max<int64_t>(1, endMs - startMs);
    m_packet->flags |= AV_PKT_FLAG_KEY;
    return writePacket(m_packet.get(), m_textStream, m_text->time_base);
}

bool FfmpegMp4File::close() {
    if (!m_headerWritten || m_closed) return fail("the file is not open");
    int code = avcodec_send_frame(m_video.get(), nullptr);
    if (code < 0 || !drainVideo()) return m_error.empty() ? fail("the H.264 encoder failed", code) : false;
    if (m_hasPendingVideo && !writeVideoPacket(m_pendingVideo.get(), m_lastVideoDuration))
        return false;
    if (m_audio) {
        if (!m_audioQueue.empty() && !encodeAudioFrame(int(m_audioQueue.size()))) return false;
        if ((code = avcodec_send_frame(m_audio.get(), nullptr)) < 0 || !drainAudio())
            return m_error.empty() ? fail("the AAC encoder failed", code) : false;
    }
    if ((code = av_write_trailer(m_format)) < 0) return fail("cannot complete " + m_path, code);
    if ((code = avio_closep(&m_format->pb)) < 0) return fail("cannot complete " + m_path, code);
    std::error_code renamed;
    std::filesystem::rename(m_partial, m_path, renamed);
    if (renamed) return fail("cannot rename the file to " + m_path + ": " + renamed.message());
    m_closed = true;
    return true;
}

}  // namespace

std::unique_ptr<Mp4File> openMp4File(const std::string& path, const Mp4Options& options,
                                     std::string& error) {
    auto file = std::make_unique<FfmpegMp4File>();
    if (!file->open(path, options, error)) return nullptr;
    return file;
}

std::string mp4WriterVersion() {
    return std::string("libavformat ") + AV_STRINGIFY(LIBAVFORMAT_VERSION) + ", libavcodec " +
           AV_STRINGIFY(LIBAVCODEC_VERSION);
}

}  // namespace kx
