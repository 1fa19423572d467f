// Both ADPCM decoders against libavcodec's own decoders, sample for sample, on sound that
// libavcodec's encoders coded: speech-like sound, a steady tone, loud noise and full-scale steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "playback/g726_decoder.h"
#include "playback/ima_adpcm_decoder.h"
#include "tools/recorder/audio_track.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace kx {
namespace {

// libavcodec's decoder for the format, fed `blockBytes` at a time.
std::vector<int16_t> decodeWithLibavcodec(AudioFormat format, const std::vector<uint8_t>& bytes, size_t blockBytes) {
    const bool ima = format == AudioFormat::Ima;
    const AVCodec* codec = avcodec_find_decoder(ima ? AV_CODEC_ID_ADPCM_IMA_WAV : AV_CODEC_ID_ADPCM_G726LE);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->sample_rate = kAudioSampleRate;
    av_channel_layout_default(&context->ch_layout, 1);
    context->bits_per_coded_sample = ima ? 4 : 3;
    context->block_align = int(blockBytes);
    EXPECT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<int16_t> pcm;
    for (size_t at = 0; at < bytes.size(); at += blockBytes) {
        av_new_packet(packet, int(std::min(blockBytes, bytes.size() - at)));
        std::copy_n(bytes.begin() + long(at), packet->size, packet->data);
        EXPECT_EQ(avcodec_send_packet(context, packet), 0);
        av_packet_unref(packet);
        while (avcodec_receive_frame(context, frame) == 0) {
            const auto* samples = reinterpret_cast<const int16_t*>(frame->data[0]);
            pcm.insert(pcm.end(), samples, samples + frame->nb_samples);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return pcm;
}

constexpr size_t kSoundSamples = 3 * kAudioSampleRate;

std::vector<int16_t> noise(int amplitude) {
    std::vector<int16_t> pcm(kSoundSamples);
    uint32_t state = 12345;
    for (int16_t& s : pcm) {
        state = state * 1664525u + 1013904223u;
        s = int16_t(int32_t(state >> 16) % (2 * amplitude + 1) - amplitude);
    }
    return pcm;
}

// Full-scale square wave: drives the predictor beyond 16 bits.
std::vector<int16_t> fullScaleSteps() {
    std::vector<int16_t> pcm(kSoundSamples);
    for (size_t i = 0; i < kSoundSamples; ++i) pcm[i] = (i / 37) % 2 ? 32767 : -32768;
    return pcm;
}

// Sound as the recorders capture it, and noise loud enough to keep every adaptation busy.
std::vector<std::vector<int16_t>> testSounds() {
    return {synthesiseSound(SoundKind::Speech, kSoundSamples, 3), synthesiseSound(SoundKind::Tone, kSoundSamples, 5),
            noise(8000)};
}

size_t firstDifference(const std::vector<int16_t>& ours, const std::vector<int16_t>& theirs) {
    return size_t(std::mismatch(ours.begin(), ours.end(), theirs.begin()).first - ours.begin());
}

TEST(AdpcmDecoders, G726MatchesLibavcodecAcrossBlocksOfAnySize) {
    for (const std::vector<int16_t>& sound : testSounds()) {
        const AudioTrack track(AudioFormat::G726, sound);
        ASSERT_TRUE(track.ok()) << track.error();
        const std::vector<uint8_t>& bytes = track.bytes();
        const std::vector<int16_t> expected = decodeWithLibavcodec(AudioFormat::G726, bytes, 360);
        ASSERT_EQ(expected.size(), bytes.size() / 3 * 8);
        // The state carries over between blocks: uneven block sizes decode as one stream.
        for (const size_t groupsPerBlock : {size_t(1), size_t(7), size_t(120)}) {
            G726Decoder decoder;
            std::vector<int16_t> decoded(bytes.size() / 3 * 8);
            for (size_t group = 0; group < bytes.size() / 3; group += groupsPerBlock) {
                const size_t groups = std::min(groupsPerBlock, bytes.size() / 3 - group);
                decoder.decode(bytes.data() + group * 3, groups, decoded.data() + group * 8);
            }
            ASSERT_EQ(firstDifference(decoded, expected), expected.size()) << groupsPerBlock;
        }
    }
}

// Beyond 16 bits libavcodec lets a sample wrap around to the other sign (a loud click); ours
// saturates. Up to that first overflow both decoders agree.
TEST(AdpcmDecoders, G726SaturatesWhereLibavcodecWrapsAround) {
    const AudioTrack track(AudioFormat::G726, fullScaleSteps());
    const size_t groups = track.bytes().size() / 3;
    std::vector<int16_t> ours(groups * 8);
    G726Decoder decoder;
    decoder.decode(track.bytes().data(), groups, ours.data());
    const std::vector<int16_t> theirs = decodeWithLibavcodec(AudioFormat::G726, track.bytes(), 360);
    const auto limit = std::find_if(ours.begin(), ours.end(), [](int16_t s) { return s == 32767 || s == -32768; });
    ASSERT_NE(limit, ours.end());
    const size_t first = size_t(limit - ours.begin());
    EXPECT_EQ(firstDifference(ours, theirs), first);
    EXPECT_NE(*limit < 0, theirs[first] < 0) << first;
}

TEST(AdpcmDecoders, G726ResetStartsTheStreamAgain) {
    const AudioTrack track(AudioFormat::G726, fullScaleSteps());
    const std::vector<uint8_t>& bytes = track.bytes();
    const size_t groups = bytes.size() / 3;
    G726Decoder decoder;
    std::vector<int16_t> first(groups * 8), second(groups * 8);
    decoder.decode(bytes.data(), groups, first.data());
    decoder.reset();
    decoder.decode(bytes.data(), groups, second.data());
    EXPECT_EQ(first, second);
}

TEST(AdpcmDecoders, ImaMatchesLibavcodecForEveryBlockSize) {
    std::vector<std::vector<int16_t>> sounds = testSounds();
    sounds.push_back(fullScaleSteps());
    for (const std::vector<int16_t>& sound : sounds) {
        for (const int blockBytes : {32, 256}) {
            const AudioTrack track(AudioFormat::Ima, sound, blockBytes);
            ASSERT_TRUE(track.ok()) << track.error();
            const std::vector<uint8_t>& bytes = track.bytes();
            const std::vector<int16_t> expected = decodeWithLibavcodec(AudioFormat::Ima, bytes, size_t(blockBytes));
            ImaAdpcmDecoder decoder;
            std::vector<int16_t> decoded;
            std::vector<int16_t> block(ImaAdpcmDecoder::samplesOfBlock(size_t(blockBytes)));
            for (size_t at = 0; at + size_t(blockBytes) <= bytes.size(); at += size_t(blockBytes)) {
                ASSERT_EQ(decoder.decodeBlock(bytes.data() + at, size_t(blockBytes), block.data()), block.size());
                decoded.insert(decoded.end(), block.begin(), block.end());
            }
            ASSERT_EQ(decoded.size(), expected.size());
            EXPECT_EQ(firstDifference(decoded, expected), expected.size()) << blockBytes;
        }
    }
}

TEST(AdpcmDecoders, ImaBlockLengthsAndDamagedHeaders) {
    ImaAdpcmDecoder decoder;
    std::vector<int16_t> samples(ImaAdpcmDecoder::samplesOfBlock(ImaAdpcmDecoder::kMaxBlockBytes));
    EXPECT_EQ(samples.size() * 2, 4 * ImaAdpcmDecoder::kMaxBlockBytes - 14);
    const uint8_t tooShort[3] = {1, 2, 3};
    EXPECT_EQ(decoder.decodeBlock(tooShort, 3, samples.data()), 0u);
    // Header alone: the first sample; a step index of 200 is taken as 88, and the largest
    // steps saturate at the ends of the 16-bit range.
    const uint8_t header[6] = {0x34, 0x12, 200, 0, 0x77, 0x77};
    ASSERT_EQ(decoder.decodeBlock(header, 4, samples.data()), 1u);
    EXPECT_EQ(samples[0], 0x1234);
    ASSERT_EQ(decoder.decodeBlock(header, 6, samples.data()), 5u);
    EXPECT_EQ(samples[4], 32767);
}

}  // namespace
}  // namespace kx
