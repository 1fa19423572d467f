// Pictures per second of the native decoders (codecs 0 and 1) at 352 x 288, decode plus the
// conversion to planar RGB, on a stream from the test writer: one intra picture followed by
// inter pictures, repeated. Textured blocks with a few coefficients each, motion in codec 1.
// Beside them the legacy decoder of the older kinds on the same kind of stream in its own
// syntax (decode plus the conversion to packed B, G, R).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "codec/legacy/legacy_decoder.h"
#include "codec/native/native_decoder.h"
#include "codec/native/native_motion_decoder.h"
#include "codec/tests/legacy_stream_writer.h"
#include "codec/tests/native_stream_writer.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kMacroblocks = (kWidth / 16) * (kHeight / 16);
constexpr int kInterPictures = 11;

std::vector<Coefficient> someCoefficients(std::mt19937& random, int count) {
    std::uniform_int_distribution<int> run(0, 4), level(-6, 6);
    std::vector<Coefficient> out;
    for (int i = 0; i < count; ++i) {
        int l = level(random);
        out.push_back({run(random), l == 0 ? 1 : l});
    }
    return out;
}

MacroblockCode texturedMacroblock(std::mt19937& random, bool intra) {
    MacroblockCode mb;
    std::uniform_int_distribution<int> dc(30, 220), coded(0, 3), count(1, 6);
    for (int b = 0; b < 6; ++b) {
        mb[b].dc = dc(random);
        if (intra || coded(random) == 0) mb[b].coefficients = someCoefficients(random, count(random));
    }
    return mb;
}

// One group of pictures: an intra picture, then inter pictures of the codec.
std::vector<std::vector<uint8_t>> makeStream(int codec) {
    std::mt19937 random(11);
    std::vector<std::vector<uint8_t>> pictures;
    NativeStreamWriter intra;
    intra.startPicture();
    intra.intraHeader(kWidth, kHeight, 6);
    for (int i = 0; i < kMacroblocks; ++i) intra.intraMacroblock(texturedMacroblock(random, true));
    pictures.push_back(intra.bytes());
    std::uniform_int_distribution<int> choice(0, 9), vector(-6, 6);
    for (int p = 0; p < kInterPictures; ++p) {
        NativeStreamWriter w;
        w.startPicture();
        w.interHeader(8);
        for (int i = 0; i < kMacroblocks; ++i) {
            const int c = choice(random);
            if (codec == 0) {
                if (c < 3) {
                    w.notCoded();
                } else {
                    w.codedInter();
                    w.interMacroblock(texturedMacroblock(random, false));
                }
            } else if (c < 2) {
                w.noMotion();
                w.residual(false);
            } else {
                w.motion(vector(random), vector(random));
                const bool residual = c >= 5;
                w.residual(residual);
                if (residual) w.interMacroblock(texturedMacroblock(random, false));
            }
        }
        pictures.push_back(w.bytes());
    }
    return pictures;
}

template <typename Decoder>
void decodePictures(benchmark::State& state, int codec) {
    const auto stream = makeStream(codec);
    std::vector<std::unique_ptr<CRecordFrame>> frames;
    for (const auto& bytes : stream) {
        auto frame = std::make_unique<CRecordFrame>(kWidth, kHeight, 0);
        std::copy(bytes.begin(), bytes.end(), frame->VideoBuffer());
        frame->SetVideoLength(uint32_t(bytes.size()));
        frame->SetFlags(uint16_t(codec << 4));
        frames.push_back(std::move(frame));
    }
    Decoder decoder;
    RgbPicture picture(kWidth, kHeight);
    size_t next = 0;
    int64_t pictures = 0;
    for (auto _ : state) {
        if (!decoder.decodeToRgb(*frames[next], picture)) state.SkipWithError("picture refused");
        benchmark::DoNotOptimize(picture.pixels());
        next = (next + 1) % frames.size();
        ++pictures;
    }
    size_t bytes = 0;
    for (const auto& s : stream) bytes += s.size();
    state.SetItemsProcessed(pictures);
    state.counters["bytes_per_picture"] = double(bytes) / double(stream.size());
}

// The codec 0 stream's pictures in the legacy syntax: every run of ten macroblocks re-aligned,
// and no intra DC of 128 (which fails a legacy picture; 255 stands for it).
std::vector<std::vector<uint8_t>> makeLegacyStream() {
    std::mt19937 random(11);
    constexpr int kGroups = kMacroblocks / 10;
    const auto legacyDc = [](MacroblockCode mb) {
        for (BlockCode& b : mb)
            if (b.dc == 128) b.dc = 255;
        return mb;
    };
    std::vector<std::vector<uint8_t>> pictures;
    LegacyStreamWriter intra;
    intra.startPicture();
    intra.intraHeader(kWidth, kHeight, 6);
    intra.beginMacroblocks(kMacroblocks, kGroups);
    for (int i = 0; i < kMacroblocks; ++i) intra.intraMacroblock(legacyDc(texturedMacroblock(random, true)));
    pictures.push_back(intra.bytes());
    std::uniform_int_distribution<int> choice(0, 9);
    for (int p = 0; p < kInterPictures; ++p) {
        LegacyStreamWriter w;
        w.startPicture();
        w.interHeader(8);
        w.beginMacroblocks(kMacroblocks, kGroups);
        for (int i = 0; i < kMacroblocks; ++i) {
            if (choice(random) < 3)
                w.notCoded();
            else
                w.interMacroblock(texturedMacroblock(random, false));
        }
        pictures.push_back(w.bytes());
    }
    return pictures;
}

void LegacyDecoder352x288(benchmark::State& state) {
    const auto stream = makeLegacyStream();
    LegacyDecoder decoder;
    if (!decoder.Setup(LegacyDecoder::kVariantPlain)) state.SkipWithError("no memory");
    std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 3);
    size_t next = 0;
    int64_t pictures = 0;
    for (auto _ : state) {
        LegacyDecodeResult result;
        decoder.Decode(result, stream[next].data(), uint32_t(stream[next].size()), picture.data(), picture.size(), 0);
        if (result.error) state.SkipWithError("picture refused");
        benchmark::DoNotOptimize(picture.data());
        next = (next + 1) % stream.size();
        ++pictures;
    }
    size_t bytes = 0;
    for (const auto& s : stream) bytes += s.size();
    state.SetItemsProcessed(pictures);
    state.counters["bytes_per_picture"] = double(bytes) / double(stream.size());
}

void NativeDecoder352x288(benchmark::State& state) { decodePictures<NativeDecoder>(state, 0); }
void NativeMotionDecoder352x288(benchmark::State& state) { decodePictures<NativeMotionDecoder>(state, 1); }

BENCHMARK(NativeDecoder352x288)->Unit(benchmark::kMillisecond);
BENCHMARK(NativeMotionDecoder352x288)->Unit(benchmark::kMillisecond);
BENCHMARK(LegacyDecoder352x288)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kx

BENCHMARK_MAIN();
