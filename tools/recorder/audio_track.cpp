// AudioTrack: source sound and its coding by libavcodec.
#include "tools/recorder/audio_track.h"

#include <algorithm>
#include <cmath>
#include <numbers>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace kx {
namespace {

// A small deterministic generator (xorshift) so that sound depends on the seed only.
class Noise {
public:
    explicit Noise(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    uint32_t next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    double uniform() { return (next() & 0xFFFFFF) / double(0x1000000); }

private:
    uint32_t m_state;
};

struct CodecContext {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~CodecContext() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

std::vector<int16_t> synthesiseSound(SoundKind kind, size_t samples, uint32_t seed) {
    std::vector<int16_t> pcm(samples);
    constexpr double kTwoPi = 2 * std::numbers::pi;
    if (kind == SoundKind::Tone) {
        const double hz = 400 + 50 * (seed % 8);
        for (size_t i = 0; i < samples; ++i)
            pcm[i] = int16_t(std::lround(9000 * std::sin(kTwoPi * hz * double(i) / kAudioSampleRate)));
        return pcm;
    }
    // Syllables of 80 to 300 ms: a gliding voiced pitch with two formant-like partials and
    // some breath noise, under a smooth envelope; pauses of 50 to 600 ms between them.
    Noise noise(seed);
    size_t i = 0;
    while (i < samples) {
        const size_t syllable = size_t(640 + noise.uniform() * 1760);
        const double pitch = 110 + noise.uniform() * 120;
        const double glide = (noise.uniform() - 0.5) * 60;
        const double formant1 = 500 + noise.uniform() * 400;
        const double formant2 = 1200 + noise.uniform() * 1000;
        double phase = 0;
        for (size_t k = 0; k < syllable && i < samples; ++k, ++i) {
            const double t = double(k) / double(syllable);
            const double envelope = std::sin(std::numbers::pi * t);
            phase += kTwoPi * (pitch + glide * t) / kAudioSampleRate;
            const double voiced = std::sin(phase) * 0.5 + std::sin(phase * formant1 / pitch) * 0.3 +
                                  std::sin(phase * formant2 / pitch) * 0.15;
            const double breath = (noise.uniform() - 0.5) * 0.1;
            pcm[i] = int16_t(std::lround(12000 * envelope * (voiced + breath)));
        }
        const size_t pause = size_t(400 + noise.uniform() * 4400);
        for (size_t k = 0; k < pause && i < samples; ++k, ++i) pcm[i] = int16_t((noise.uniform() - 0.5) * 60);
    }
    return pcm;
}

AudioTrack::AudioTrack(AudioFormat format, const std::vector<int16_t>& pcm, int imaBlockBytes) : m_format(format) {
    if (format != AudioFormat::None && !encode(pcm, imaBlockBytes)) m_bytes.clear();
}

bool AudioTrack::encode(const std::vector<int16_t>& pcm, int imaBlockBytes) {
    const bool ima = m_format == AudioFormat::Ima;
    if (ima && (imaBlockBytes < 32 || imaBlockBytes > 256 || (imaBlockBytes & (imaBlockBytes - 1)))) {
        m_error = "IMA block size " + std::to_string(imaBlockBytes) + " is not a power of two from 32 to 256";
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(ima ? AV_CODEC_ID_ADPCM_IMA_WAV : AV_CODEC_ID_ADPCM_G726LE);
    if (!codec) {
        m_error = "libavcodec has no encoder for this sound format";
        return false;
    }
    CodecContext c;
    c.context = avcodec_alloc_context3(codec);
    c.frame = av_frame_alloc();
    c.packet = av_packet_alloc();
    if (!c.context || !c.frame || !c.packet) {
        m_error = "out of memory";
        return false;
    }
    c.context->sample_rate = kAudioSampleRate;
    c.context->sample_fmt = ima ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&c.context->ch_layout, 1);
    if (ima) {
        av_opt_set_int(c.context->priv_data, "block_size", imaBlockBytes, 0);
    } else {
        c.context->bit_rate = 24000;
        av_opt_set_int(c.context->priv_data, "code_size", 3, 0);
    }
    if (const int status = avcodec_open2(c.context, codec, nullptr); status < 0) {
        m_error = "cannot open the sound encoder: " + avError(status);
        return false;
    }
    const size_t frameSamples = size_t(c.context->frame_size);
    if (ima) {
        m_blockBytes = size_t(c.context->block_align);
        m_samplesPerBlock = frameSamples;
    }
    c.frame->nb_samples = int(frameSamples);
    c.frame->format = c.context->sample_fmt;
    av_channel_layout_copy(&c.frame->ch_layout, &c.context->ch_layout);
    if (av_frame_get_buffer(c.frame, 0) < 0) {
        m_error = "out of memory";
        return false;
    }
    // Whole encoder frames only, padded with silence, so every block decodes to full length.
    const auto drain = [&]() {
        while (avcodec_receive_packet(c.context, c.packet) == 0) {
            m_bytes.insert(m_bytes.end(), c.packet->data, c.packet->data + c.packet->size);
            av_packet_unref(c.packet);
        }
    };
    for (size_t at = 0; at < pcm.size(); at += frameSamples) {
        if (av_frame_make_writable(c.frame) < 0) {
            m_error = "out of memory";
            return false;
        }
        auto* samples = reinterpret_cast<int16_t*>(c.frame->data[0]);
        const size_t n = std::min(frameSamples, pcm.size() - at);
        std::copy_n(pcm.begin() + long(at), n, samples);
        std::fill(samples + n, samples + frameSamples, int16_t{0});
        if (const int status = avcodec_send_frame(c.context, c.frame); status < 0) {
            m_error = "sound encoder failed: " + avError(status);
            return false;
        }
        drain();
    }
    avcodec_send_frame(c.context, nullptr);
    drain();
    return true;
}

std::span<const uint8_t> AudioTrack::block(uint64_t begin, uint64_t end) const {
    if (m_bytes.empty() || end <= begin) return {};
    uint64_t first = 0;
    uint64_t last = 0;
    if (m_format == AudioFormat::Ima) {
        // Blocks whose first sample lies in [begin, end).
        first = (begin + m_samplesPerBlock - 1) / m_samplesPerBlock * m_blockBytes;
        last = (end + m_samplesPerBlock - 1) / m_samplesPerBlock * m_blockBytes;
    } else {
        first = begin / 8 * 3;
        last = end / 8 * 3;
    }
    first = std::min<uint64_t>(first, m_bytes.size());
    last = std::min<uint64_t>(last, m_bytes.size());
    return {m_bytes.data() + first, size_t(last - first)};
}

}  // namespace kx
