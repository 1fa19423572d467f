// Pictures per second of the avc decoder (codec 4: AvcDecoder::decodeInto with the loop filter,
// to packed B, G, R) beside FFmpeg's H.264 decoder (libavcodec, one thread) with swscale to
// BGR24, at 352 x 288 and 704 x 576. The avc streams are the recorder's built-in scene through
// the recorder's avc encoder (version 4, quantiser 28, a key picture per 25); the H.264 streams
// are the same pictures through x264 (baseline profile: CAVLC, no B pictures, loop filter on)
// at the avc stream's bit rate. A summary after the table gives the medians and their ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "codec/avc/avc_decoder.h"
#include "recording/record_frame.h"
#include "tools/recorder/avc_encoder.h"
#include "tools/recorder/synthetic_scene.h"

namespace kx {
namespace {

constexpr int kPictures = 100;
constexpr int kKeyInterval = 25;
constexpr int kFps = 25;
constexpr int kQuantiser = 28;

struct Streams {
    std::vector<std::vector<uint8_t>> avc;
    std::vector<uint16_t> avcKinds;
    std::vector<std::vector<uint8_t>> h264;
    double avcKbps = 0, h264Kbps = 0;
    bool ok = false;
    std::string error;
};

double kilobitsPerSecond(const std::vector<std::vector<uint8_t>>& pictures) {
    size_t bytes = 0;
    for (const auto& p : pictures) bytes += p.size();
    return double(bytes) * 8 / 1000 / (double(pictures.size()) / kFps);
}

const Streams& streams(int width, int height) {
    static std::map<std::pair<int, int>, Streams> made;
    auto [it, fresh] = made.try_emplace({width, height});
    Streams& s = it->second;
    if (!fresh) return s;
    SyntheticScene scene(width, height, 1);
    AvcEncoder encoder(width, height, {kQuantiser, 4, true});
    std::vector<YuvImage> sources(kPictures);
    for (int n = 0; n < kPictures; ++n) {
        scene.render(uint64_t(n), kFps, 1'800'000'000u + uint32_t(n / kFps), sources[size_t(n)]);
        const YuvImage& image = sources[size_t(n)];
        const YuvPictureView view{{image.y.data(), image.cb.data(), image.cr.data()},
                                  {image.width, image.width / 2, image.width / 2}};
        const bool key = n % kKeyInterval == 0;
        const std::span<const uint8_t> bytes =
            encoder.encode(view, key ? AvcPictureType::I : AvcPictureType::P);
        s.avc.emplace_back(bytes.begin(), bytes.end());
        s.avcKinds.push_back(key ? 0 : 1);
    }
    s.avcKbps = kilobitsPerSecond(s.avc);

    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        s.error = "libavcodec has no libx264 encoder";
        return s;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, kFps};
    context->framerate = AVRational{kFps, 1};
    context->gop_size = kKeyInterval;
    context->max_b_frames = 0;
    context->bit_rate = int64_t(s.avcKbps * 1000);
    context->thread_count = 1;
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    av_opt_set(context->priv_data, "preset", "medium", 0);
    av_opt_set(context->priv_data, "x264-params",
               "keyint=25:min-keyint=25:scenecut=0:rc-lookahead=0:sync-lookahead=0", 0);
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        s.error = "libx264 refused the settings";
        return s;
    }
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame, 0);
    AVPacket* packet = av_packet_alloc();
    const auto drain = [&] {
        while (avcodec_receive_packet(context, packet) == 0) {
            s.h264.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    };
    for (int n = 0; n < kPictures; ++n) {
        av_frame_make_writable(frame);
        const YuvImage& image = sources[size_t(n)];
        const uint8_t* planes[3] = {image.y.data(), image.cb.data(), image.cr.data()};
        const int strides[3] = {image.width, image.width / 2, image.width / 2};
        av_image_copy(frame->data, frame->linesize, planes, strides, AV_PIX_FMT_YUV420P, width,
                      height);
        frame->pts = n;
        frame->pict_type = n % kKeyInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        avcodec_send_frame(context, frame);
        drain();
    }
    avcodec_send_frame(context, nullptr);
    drain();
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    s.h264Kbps = kilobitsPerSecond(s.h264);
    s.ok = s.h264.size() == size_t(kPictures);
    if (!s.ok) s.error = "x264 gave another number of pictures";
    return s;
}

constexpr std::pair<int, int> kSizes[] = {{352, 288}, {704, 576}};

void avcDecoder(benchmark::State& state) {
    const auto [width, height] = kSizes[state.range(0)];
    const Streams& s = streams(width, height);
    AvcDecoder decoder;
    std::FILE* quiet = std::fopen("/dev/null", "w");
    decoder.setDiagnostics(quiet);
    CRecordFrame frame(width, height, 0);
    frame.SetFlags(4 << 4);
    RgbPicture picture{uint32_t(width), uint32_t(height)};
    uint32_t status = 0, tick = 1000;
    size_t next = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& bytes = s.avc[next];
        std::copy(bytes.begin(), bytes.end(), frame.VideoBuffer());
        frame.SetVideoLength(uint32_t(bytes.size()));
        frame.SetKind(s.avcKinds[next]);
        frame.SetTick(tick += 40);
        decoder.decodeInto(frame, picture, &status, Deblocking::On);
        if (decoder.lastResult() != kAvcOk) {
            state.SkipWithError("an avc picture was refused");
            break;
        }
        benchmark::DoNotOptimize(picture.pixels());
        next = (next + 1) % s.avc.size();
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["kbit/s"] = s.avcKbps;
    std::fclose(quiet);
}

void ffmpegH264(benchmark::State& state) {
    const auto [width, height] = kSizes[state.range(0)];
    const Streams& s = streams(width, height);
    if (!s.ok) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    context->thread_type = 0;
    avcodec_open2(context, codec, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height,
                                        AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    std::vector<std::vector<uint8_t>> padded;
    for (const auto& p : s.h264) {
        padded.push_back(p);
        padded.back().resize(p.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    size_t next = 0;
    for (auto _ : state) {
        packet->data = padded[next].data();
        packet->size = int(s.h264[next].size());
        if (avcodec_send_packet(context, packet) < 0) {
            state.SkipWithError("FFmpeg refused a packet");
            break;
        }
        while (avcodec_receive_frame(context, frame) == 0) {
            uint8_t* planes[1] = {bgr.data()};
            const int strides[1] = {3 * width};
            sws_scale(scaler, frame->data, frame->linesize, 0, height, planes, strides);
        }
        benchmark::DoNotOptimize(bgr.data());
        next = (next + 1) % padded.size();
    }
    packet->data = nullptr;
    packet->size = 0;
    state.counters["pictures/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["kbit/s"] = s.h264Kbps;
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
}

BENCHMARK(avcDecoder)->Name("avc/decode+bgr/352x288")->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(ffmpegH264)
    ->Name("ffmpeg_h264/decode+bgr24/352x288")
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(avcDecoder)->Name("avc/decode+bgr/704x576")->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(ffmpegH264)
    ->Name("ffmpeg_h264/decode+bgr24/704x576")
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kx

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
