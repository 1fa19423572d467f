// Sound blocks: every sample handed out once, frame by frame, and libavcodec's own decoders
// turning the blocks back into the sound that was encoded.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/recorder/audio_track.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace kx {
namespace {

constexpr double kFps = 25;

// The blocks of consecutive frames of `seconds` of sound, joined.
std::vector<uint8_t> frameBlocks(const AudioTrack& track, double seconds, size_t* framesWithSound = nullptr) {
    std::vector<uint8_t> joined;
    const auto frames = uint64_t(seconds * kFps);
    for (uint64_t f = 0; f < frames; ++f) {
        const auto block = track.block(f * kAudioSampleRate / uint64_t(kFps), (f + 1) * kAudioSampleRate / uint64_t(kFps));
        if (framesWithSound && !block.empty()) ++*framesWithSound;
        joined.insert(joined.end(), block.begin(), block.end());
    }
    return joined;
}

std::vector<int16_t> decodeWithLibavcodec(AudioFormat format, const std::vector<uint8_t>& bytes, int blockBytes) {
    const AVCodec* codec = avcodec_find_decoder(format == AudioFormat::Ima ? AV_CODEC_ID_ADPCM_IMA_WAV
                                                                           : AV_CODEC_ID_ADPCM_G726LE);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->sample_rate = kAudioSampleRate;
    av_channel_layout_default(&context->ch_layout, 1);
    context->bits_per_coded_sample = format == AudioFormat::Ima ? 4 : 3;
    context->block_align = blockBytes;
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<int16_t> pcm;
    for (size_t at = 0; at < bytes.size(); at += size_t(blockBytes)) {
        av_new_packet(packet, int(std::min<size_t>(size_t(blockBytes), bytes.size() - at)));
        std::copy_n(bytes.begin() + long(at), packet->size, packet->data);
        EXPECT_EQ(avcodec_send_packet(context, packet), 0);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, frame) == 0) {
            // Both decoders give planar or packed 16-bit mono: the same layout for one channel.
            const auto* samples = reinterpret_cast<const int16_t*>(frame->data[0]);
            pcm.insert(pcm.end(), samples, samples + frame->nb_samples);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return pcm;
}

double snrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded, size_t samples) {
    double signal = 0;
    double noise = 0;
    for (size_t i = 0; i < samples; ++i) {
        signal += double(original[i]) * original[i];
        const double error = double(original[i]) - decoded[i];
        noise += error * error;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST(AudioTrack, FramesReceiveEverySampleOnceAndLibavcodecDecodesTheSound) {
    struct Case { AudioFormat format; int blockBytes; double minSnrDb; };
    // Measured: G.726 at 24 kbit/s 23.2 dB, IMA 25.8 dB on the speech-like sound.
    const Case cases[] = {{AudioFormat::G726, 3, 21}, {AudioFormat::Ima, 256, 24}, {AudioFormat::Ima, 128, 24}};
    const double seconds = 4;
    const std::vector<int16_t> sound = synthesiseSound(SoundKind::Speech, size_t(seconds * kAudioSampleRate), 7);
    for (const Case& c : cases) {
        const AudioTrack track(c.format, sound, c.blockBytes);
        ASSERT_TRUE(track.ok()) << track.error();
        size_t framesWithSound = 0;
        const std::vector<uint8_t> joined = frameBlocks(track, seconds, &framesWithSound);
        // Every frame carries sound for G.726; IMA blocks land on the frames where they start.
        ASSERT_LE(joined.size(), track.bytes().size());
        EXPECT_TRUE(std::equal(joined.begin(), joined.end(), track.bytes().begin()));
        if (c.format == AudioFormat::G726) {
            EXPECT_EQ(framesWithSound, size_t(seconds * kFps));
            EXPECT_EQ(joined.size(), size_t(seconds * kAudioSampleRate) / 8 * 3);
        } else {
            EXPECT_EQ(track.samplesPerBlock(), size_t(2 * c.blockBytes - 7));
            EXPECT_EQ(joined.size() % size_t(c.blockBytes), 0u);
        }
        const std::vector<int16_t> decoded = decodeWithLibavcodec(c.format, joined, c.blockBytes);
        ASSERT_GE(decoded.size(), size_t(seconds * kAudioSampleRate) * 9 / 10);
        const double snr = snrDb(sound, decoded, std::min(decoded.size(), sound.size()));
        EXPECT_GE(snr, c.minSnrDb) << int(c.format) << " " << c.blockBytes;
        RecordProperty("snr_db_" + std::to_string(int(c.format)) + "_" + std::to_string(c.blockBytes), std::to_string(snr));
    }
}

TEST(AudioTrack, BadImaBlockSizeIsRefused) {
    const AudioTrack track(AudioFormat::Ima, std::vector<int16_t>(800), 300);
    EXPECT_FALSE(track.ok());
    EXPECT_TRUE(track.block(0, 800).empty());
}

}  // namespace
}  // namespace kx
