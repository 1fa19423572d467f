// Pictures per second of the native decoders (codecs 0 and 1) and the legacy decoder (at
// 352 x 288, the largest standard size its planes hold) beside FFmpeg's H.263 decoder
// (libavcodec, one thread), at 352 x 288 and 704 x 576. The native streams are the recorder's
// built-in scene through the native encoder at its default quantiser, a key picture per 25;
// the H.263 streams are the same pictures through FFmpeg's H.263 encoder at the fixed quantiser
// whose bit rate comes nearest the native stream's. Each decoder is measured to two end points: its
// own picture (native: the deblocked YCbCr macroblock picture; FFmpeg: YUV 4:2:0) and RGB (native:
// decodeToRgb's planar R, G, B; FFmpeg: swscale's packed B, G, R). A summary after the table gives
// the medians side by side with their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/comparison_streams.h"
#include "bench/ffmpeg_h263.h"
#include "codec/create_decoder.h"
#include "codec/legacy/legacy_decoder.h"
#include "tools/recorder/legacy_encoder.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr const char* kPicturesPerSecond = "pictures/s";

struct PictureSize {
    int width;
    int height;
};
constexpr PictureSize kSizes[] = {{352, 288}, {704, 576}};
constexpr int kCodecs[] = {0, 1, kComparisonLegacyCodec};

std::string codecName(int codec) { return codec == kComparisonLegacyCodec ? "legacy" : "codec" + std::to_string(codec); }

enum class Decoder { Native, H263 };
enum class EndPoint { Decoded, Rgb };

std::string benchmarkName(Decoder decoder, EndPoint end, int codec, PictureSize size) {
    const std::string dimensions = std::to_string(size.width) + "x" + std::to_string(size.height);
    if (decoder == Decoder::Native)
        return "native/" + codecName(codec) + "/" + dimensions +
               (end == EndPoint::Rgb ? "/decode+rgb" : "/decode");
    return "ffmpeg_h263/" + codecName(codec) + "_rate/" + dimensions +
           (end == EndPoint::Rgb ? "/decode+bgr24" : "/decode");
}

void setStreamCounters(benchmark::State& state, const CodedStream& stream, int64_t pictures) {
    state.counters[kPicturesPerSecond] =
        benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
    state.counters["kbit/s"] = stream.kilobitsPerSecond;
    state.counters["PSNR_dB"] = stream.lumaPsnr;
}

void decodeLegacy(benchmark::State& state, PictureSize size, EndPoint end);

// The stream's pictures in order, round and round (it starts with a key picture and holds whole
// groups, so every pass decodes exactly like the first).
void decodeNative(benchmark::State& state, int codec, PictureSize size, EndPoint end) {
    if (codec == kComparisonLegacyCodec) {
        decodeLegacy(state, size, end);
        return;
    }
    const ComparisonStreams& streams = comparisonStreams(codec, size.width, size.height);
    if (!streams.ok) {
        state.SkipWithError(streams.error);
        return;
    }
    const std::vector<CodedStream::Picture>& pictures = streams.native.pictures;
    std::unique_ptr<VideoDecoder> decoder = createDecoder(codec);
    CRecordFrame frame(size.width, size.height, 0);
    RgbPicture picture(uint32_t(size.width), uint32_t(size.height));
    size_t next = 0;
    int64_t decoded = 0;
    for (auto _ : state) {
        const CodedStream::Picture& coded = pictures[next];
        std::copy(coded.bytes.begin(), coded.bytes.end(), frame.VideoBuffer());
        frame.SetVideoLength(uint32_t(coded.bytes.size()));
        frame.SetKind(coded.kind);
        frame.SetFlags(coded.flags);
        const bool ok =
            end == EndPoint::Rgb ? decoder->decodeToRgb(frame, picture) : decoder->decode(frame);
        if (!ok) {
            state.SkipWithError("a native picture was refused");
            break;
        }
        benchmark::DoNotOptimize(picture.pixels());
        benchmark::ClobberMemory();
        next = (next + 1) % pictures.size();
        ++decoded;
    }
    setStreamCounters(state, streams.native, decoded);
}

// The legacy decoder: its own picture is the decoded planes (no destination), RGB its packed
// B, G, R output.
void decodeLegacy(benchmark::State& state, PictureSize size, EndPoint end) {
    const ComparisonStreams& streams = comparisonStreams(kComparisonLegacyCodec, size.width, size.height);
    if (!streams.ok) {
        state.SkipWithError(streams.error);
        return;
    }
    const std::vector<CodedStream::Picture>& pictures = streams.native.pictures;
    LegacyDecoder decoder;
    decoder.Setup(LegacyDecoder::kVariantPlain);
    std::vector<uint8_t> bgr(size_t(size.width) * size_t(size.height) * 3);
    size_t next = 0;
    int64_t decoded = 0;
    for (auto _ : state) {
        const CodedStream::Picture& coded = pictures[next];
        LegacyDecodeResult result;
        if (end == EndPoint::Rgb)
            decoder.Decode(result, coded.bytes.data(), uint32_t(coded.bytes.size()), bgr.data(), bgr.size());
        else
            decoder.Decode(result, coded.bytes.data(), uint32_t(coded.bytes.size()), nullptr, 0);
        const LegacyFailure failure = decoder.LastFailure();
        if (failure != LegacyFailure::None && !(end == EndPoint::Decoded && failure == LegacyFailure::DestinationTooSmall)) {
            state.SkipWithError("a legacy picture was refused");
            break;
        }
        benchmark::DoNotOptimize(bgr.data());
        benchmark::ClobberMemory();
        next = (next + 1) % pictures.size();
        ++decoded;
    }
    setStreamCounters(state, streams.native, decoded);
}

void decodeH263(benchmark::State& state, int codec, PictureSize size, EndPoint end) {
    const ComparisonStreams& streams = comparisonStreams(codec, size.width, size.height);
    if (!streams.ok) {
        state.SkipWithError(streams.error);
        return;
    }
    const std::vector<CodedStream::Picture>& pictures = streams.h263.pictures;
    FfmpegH263Decoder decoder(size.width, size.height);
    std::vector<uint8_t> bgr(size_t(size.width) * size_t(size.height) * 3);
    size_t next = 0;
    int64_t decoded = 0;
    for (auto _ : state) {
        const CodedStream::Picture& coded = pictures[next];
        bool ok = decoder.decode(coded.bytes.data(), coded.bytes.size());
        if (ok && end == EndPoint::Rgb) ok = decoder.convertToBgr24(bgr.data());
        if (!ok) {
            state.SkipWithError("an H.263 picture was refused");
            break;
        }
        benchmark::DoNotOptimize(bgr.data());
        benchmark::ClobberMemory();
        next = (next + 1) % pictures.size();
        ++decoded;
    }
    setStreamCounters(state, streams.h263, decoded);
}

// The console table, and per benchmark the median of its pictures per second (or the one
// figure when it ran once) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const auto counter = run.counters.find(kPicturesPerSecond);
            if (counter == run.counters.end()) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && run.run_type != Run::RT_Iteration) continue;
            Figure& figure = m_figures[run.run_name.function_name];
            if (median || !figure.median) figure = {counter->second.value, median};
        }
    }

    // Pictures per second of a benchmark; 0 when it did not run.
    double picturesPerSecond(const std::string& name) const {
        const auto found = m_figures.find(name);
        return found == m_figures.end() ? 0 : found->second.value;
    }

private:
    struct Figure {
        double value = 0;
        bool median = false;
    };
    std::map<std::string, Figure> m_figures;
};

void printSummary(const SummaryReporter& reporter) {
    std::printf(
        "\nNative decoders beside FFmpeg's H.263 decoder (libavcodec, one thread): %d pictures of "
        "the "
        "built-in scene, a key picture per %d, %.0f pictures/s; pictures per second in CPU time, "
        "medians of the repetitions; ratio = native / FFmpeg\n",
        kComparisonPictures, kComparisonKeyInterval, kComparisonFps);
    for (PictureSize size : kSizes) {
        for (int codec : kCodecs) {
            const double nativeDecoded = reporter.picturesPerSecond(
                benchmarkName(Decoder::Native, EndPoint::Decoded, codec, size));
            const double nativeRgb = reporter.picturesPerSecond(
                benchmarkName(Decoder::Native, EndPoint::Rgb, codec, size));
            const double h263Decoded = reporter.picturesPerSecond(
                benchmarkName(Decoder::H263, EndPoint::Decoded, codec, size));
            const double h263Rgb = reporter.picturesPerSecond(
                benchmarkName(Decoder::H263, EndPoint::Rgb, codec, size));
            if (nativeDecoded + nativeRgb + h263Decoded + h263Rgb == 0) continue;  // filtered out
            const ComparisonStreams& streams = comparisonStreams(codec, size.width, size.height);
            const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
            std::printf(
                "%dx%d %s: native stream %.1f kbit/s (luma PSNR %.2f dB), H.263 stream %.1f "
                "kbit/s "
                "(%.2f dB, quantiser %d)\n",
                size.width, size.height, codecName(codec).c_str(), streams.native.kilobitsPerSecond,
                streams.native.lumaPsnr, streams.h263.kilobitsPerSecond, streams.h263.lumaPsnr,
                streams.h263Quantiser);
            std::printf(
                "  decode:        native %8.1f pictures/s   FFmpeg H.263          %8.1f pictures/s "
                "  "
                "ratio %.2f\n",
                nativeDecoded, h263Decoded, ratio(nativeDecoded, h263Decoded));
            std::printf(
                "  decode to RGB: native %8.1f pictures/s   FFmpeg H.263 + BGR24  %8.1f pictures/s "
                "  "
                "ratio %.2f\n",
                nativeRgb, h263Rgb, ratio(nativeRgb, h263Rgb));
        }
    }
}

void registerBenchmarks() {
    for (PictureSize size : kSizes) {
        for (int codec : kCodecs) {
            if (codec == kComparisonLegacyCodec && !LegacyEncoder::sizeFits(size.width, size.height)) continue;
            for (EndPoint end : {EndPoint::Decoded, EndPoint::Rgb}) {
                benchmark::RegisterBenchmark(
                    benchmarkName(Decoder::Native, end, codec, size).c_str(), decodeNative, codec,
                    size, end)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(benchmarkName(Decoder::H263, end, codec, size).c_str(),
                                             decodeH263, codec, size, end)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
}

}  // namespace
}  // namespace kx

// Three repetitions with only their aggregates shown, unless the command line says otherwise
// (a later flag wins).
int main(int argc, char** argv) {
    std::vector<char*> arguments{argv[0]};
    std::string repetitions = "--benchmark_repetitions=3";
    std::string aggregatesOnly = "--benchmark_display_aggregates_only=true";
    arguments.push_back(repetitions.data());
    arguments.push_back(aggregatesOnly.data());
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
    kx::quietFfmpegLog();
    kx::registerBenchmarks();
    kx::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::fflush(stdout);
    kx::printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
