// Pictures per second of the MPEG-4 engine (codec 2: Mpeg4VideoDecoder::decodeToRgb, to packed
// B, G, R) beside FFmpeg's mpeg4 decoder (libavcodec, one thread) with swscale to BGR24 and
// beside XviD's decoder (xvid_decore with its own BGR output), on the same streams: 60 pictures
// of moving synthetic content coded by the ffmpeg program's mpeg4 encoder at quantiser 4, at
// 352 x 288 and 704 x 576, with and without B pictures, a key picture per 30.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}
#include <xvid.h>

#include "codec/mpeg4/mpeg4_decoder.h"
#include "codec/mpeg4/tests/mpeg4_streams.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr int kPictures = 60;

struct Stream {
    test::Mpeg4Stream coded;
    std::vector<std::unique_ptr<CRecordFrame>> frames;
    std::string error;
};

const Stream& stream(int width, int height, bool bPictures) {
    static std::map<std::tuple<int, int, bool>, Stream> made;
    auto [it, fresh] = made.try_emplace({width, height, bPictures});
    Stream& s = it->second;
    if (!fresh) return s;
    test::Mpeg4StreamRecipe recipe{"mpeg4", width, height, kPictures, bPictures ? "-g 30 -q:v 4 -bf 2" : "-g 30 -q:v 4"};
    s.coded = test::encodeMpeg4Stream(recipe, s.error);
    for (size_t i = 0; i < s.coded.frames.size(); ++i) {
        const auto& data = s.coded.frames[i];
        auto frame = std::make_unique<CRecordFrame>(16, 16, 0);
        frame->ReserveVideo(data.size());
        std::memcpy(frame->VideoBuffer(), data.data(), data.size());
        frame->SetVideoLength(uint32_t(data.size()));
        frame->SetKind(s.coded.key[i] ? 0 : 1);
        frame->SetFlags(2 << 4);
        s.frames.push_back(std::move(frame));
    }
    return s;
}

void engineBench(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const Stream& s = stream(width, height, state.range(2) != 0);
    if (s.frames.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    Mpeg4VideoDecoder decoder;
    RgbPicture picture{uint32_t(width), uint32_t(height)};
    int64_t pictures = 0;
    for (auto _ : state) {
        for (const auto& frame : s.frames) pictures += decoder.decodeToRgb(*frame, picture);
        benchmark::DoNotOptimize(picture.pixels());
    }
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}

void ffmpegBench(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const Stream& s = stream(width, height, state.range(2) != 0);
    if (s.frames.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGR24,
                                        SWS_POINT, nullptr, nullptr, nullptr);
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    std::vector<std::vector<uint8_t>> padded;
    for (const auto& data : s.coded.frames) {
        padded.emplace_back(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        std::memcpy(padded.back().data(), data.data(), data.size());
    }
    int64_t pictures = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < padded.size(); ++i) {
            packet->data = padded[i].data();
            packet->size = int(s.coded.frames[i].size());
            if (avcodec_send_packet(context, packet) != 0) continue;
            while (avcodec_receive_frame(context, frame) == 0) {
                uint8_t* planes[1] = {bgr.data()};
                const int strides[1] = {width * 3};
                sws_scale(scaler, frame->data, frame->linesize, 0, height, planes, strides);
                ++pictures;
            }
        }
    }
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
}

void xvidBench(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    const Stream& s = stream(width, height, state.range(2) != 0);
    if (s.frames.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    xvid_gbl_init_t init{};
    init.version = XVID_VERSION;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    xvid_dec_create_t create{};
    create.version = XVID_VERSION;
    create.width = width;
    create.height = height;
    if (xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0) {
        state.SkipWithError("xvid_decore create failed");
        return;
    }
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    int64_t pictures = 0;
    for (auto _ : state) {
        for (const auto& data : s.coded.frames) {
            std::vector<uint8_t>::size_type at = 0;
            while (at < data.size()) {
                xvid_dec_frame_t frame{};
                frame.version = XVID_VERSION;
                frame.bitstream = const_cast<uint8_t*>(data.data() + at);
                frame.length = int(data.size() - at);
                frame.output.csp = XVID_CSP_BGR;
                frame.output.plane[0] = bgr.data();
                frame.output.stride[0] = width * 3;
                xvid_dec_stats_t stats{};
                stats.version = XVID_VERSION;
                const int used = xvid_decore(create.handle, XVID_DEC_DECODE, &frame, &stats);
                if (used <= 0) break;
                at += size_t(used);
                if (stats.type > 0) ++pictures;
            }
        }
    }
    state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
    xvid_decore(create.handle, XVID_DEC_DESTROY, nullptr, nullptr);
}

#define SIZES Args({352, 288, 0})->Args({352, 288, 1})->Args({704, 576, 0})->Args({704, 576, 1})->ArgNames({"w", "h", "B"})
BENCHMARK(engineBench)->Name("engine")->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(ffmpegBench)->Name("ffmpeg")->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(xvidBench)->Name("xvid")->SIZES->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kx

BENCHMARK_MAIN();
