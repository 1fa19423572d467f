// Makes the native and H.263 streams of the built-in scene, checks that each decodes, and
// measures their bit rates and luma PSNR.
#include "bench/comparison_streams.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <tuple>

#include "bench/ffmpeg_h263.h"
#include "codec/create_decoder.h"
#include "codec/native/native_decoder.h"
#include "recording/record_frame.h"
#include "codec/legacy/legacy_decoder.h"
#include "tools/recorder/legacy_encoder.h"
#include "tools/recorder/native_encoder.h"
#include "tools/recorder/synthetic_scene.h"

namespace kx {
namespace {

constexpr uint32_t kSceneSeed = 7;
constexpr uint32_t kStartTime = 1'700'000'000u;
constexpr int kMinH263Quantiser = 2;  // libavcodec's lowest by default
constexpr int kMaxH263Quantiser = 31;

class SceneSource {
public:
    SceneSource(int width, int height) : m_scene(width, height, kSceneSeed) {
        m_image.resize(width, height);
    }
    const YuvImage& render(int index) {
        m_scene.render(uint64_t(index), kComparisonFps,
                       kStartTime + uint32_t(index / int(kComparisonFps)), m_image);
        return m_image;
    }

private:
    SyntheticScene m_scene;
    YuvImage m_image;
};

double kilobitsPerSecond(const CodedStream& stream) {
    size_t bytes = 0;
    for (const auto& p : stream.pictures) bytes += p.bytes.size();
    return double(bytes) * 8 * kComparisonFps / double(stream.pictures.size()) / 1000;
}

double psnr(double squaredError, int pictures, int width, int height) {
    const double mean = squaredError / (double(pictures) * width * height);
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// The native stream, decoded once by the player's decoder to check it and to measure the
// pictures it shows (deblocked) against the source.
bool makeNative(ComparisonStreams& s) {
    SceneSource source(s.width, s.height);
    NativeEncoder encoder(s.codec, s.width, s.height);
    std::unique_ptr<VideoDecoder> decoder = createDecoder(s.codec);
    auto* native = dynamic_cast<NativeDecoder*>(decoder.get());
    if (native == nullptr) return false;
    CRecordFrame frame(s.width, s.height, 0);
    const int mbColumns = s.width / 16;
    double squaredError = 0;
    for (int i = 0; i < kComparisonPictures; ++i) {
        const YuvImage& image = source.render(i);
        const EncodedPicture coded = encoder.encode(
            pictureView(image),
            i % kComparisonKeyInterval == 0 ? PictureChoice::Key : PictureChoice::Predicted);
        s.native.pictures.push_back(
            {{coded.bytes.begin(), coded.bytes.end()}, coded.kind, coded.flags});
        std::copy(coded.bytes.begin(), coded.bytes.end(), frame.VideoBuffer());
        frame.SetVideoLength(uint32_t(coded.bytes.size()));
        frame.SetKind(coded.kind);
        frame.SetFlags(coded.flags);
        if (!native->decode(frame)) return false;
        const MacroblockPicture& shown = native->outputPicture();
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const int16_t* block = shown.macroblock(uint32_t((y / 16) * mbColumns + x / 16)) +
                                       ((y % 16) / 8 * 2 + (x % 16) / 8) * 64;
                const double error = std::clamp<int>(block[(y % 8) * 8 + x % 8], 0, 255) -
                                     image.y[size_t(y) * size_t(s.width) + size_t(x)];
                squaredError += error * error;
            }
        }
    }
    s.native.kilobitsPerSecond = kilobitsPerSecond(s.native);
    s.native.lumaPsnr = psnr(squaredError, kComparisonPictures, s.width, s.height);
    return true;
}

// The legacy stream, decoded once by the legacy decoder to check it and to measure its luma
// plane against the source.
bool makeLegacy(ComparisonStreams& s) {
    if (!LegacyEncoder::sizeFits(s.width, s.height)) return false;
    SceneSource source(s.width, s.height);
    LegacyEncoder encoder(s.width, s.height);
    LegacyDecoder decoder;
    if (!decoder.Setup(LegacyDecoder::kVariantPlain)) return false;
    double squaredError = 0;
    for (int i = 0; i < kComparisonPictures; ++i) {
        const YuvImage& image = source.render(i);
        const EncodedPicture coded = encoder.encode(
            pictureView(image),
            i % kComparisonKeyInterval == 0 ? PictureChoice::Key : PictureChoice::Predicted);
        s.native.pictures.push_back({{coded.bytes.begin(), coded.bytes.end()}, coded.kind, coded.flags});
        // No destination: the planes are decoded, the RGB output is refused.
        LegacyDecodeResult result;
        decoder.Decode(result, coded.bytes.data(), uint32_t(coded.bytes.size()), nullptr, 0);
        if (decoder.LastFailure() != LegacyFailure::DestinationTooSmall && decoder.LastFailure() != LegacyFailure::None)
            return false;
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const double error = double(decoder.Planes()[size_t(y) * size_t(s.width) + size_t(x)]) -
                                     image.y[size_t(y) * size_t(s.width) + size_t(x)];
                squaredError += error * error;
            }
        }
    }
    s.native.kilobitsPerSecond = kilobitsPerSecond(s.native);
    s.native.lumaPsnr = psnr(squaredError, kComparisonPictures, s.width, s.height);
    return true;
}

bool makeH263(ComparisonStreams& s, int quantiser) {
    SceneSource source(s.width, s.height);
    FfmpegH263Encoder encoder(s.width, s.height, kComparisonFps, quantiser, kComparisonKeyInterval);
    FfmpegH263Decoder decoder(s.width, s.height);
    if (!encoder.ready() || !decoder.ready()) return false;
    s.h263.pictures.clear();
    double squaredError = 0;
    for (int i = 0; i < kComparisonPictures; ++i) {
        const YuvImage& image = source.render(i);
        std::vector<uint8_t> bytes = encoder.encode(image);
        if (bytes.empty() || !decoder.decode(bytes.data(), bytes.size())) return false;
        for (int y = 0; y < s.height; ++y) {
            for (int x = 0; x < s.width; ++x) {
                const double error =
                    decoder.luma(x, y) - image.y[size_t(y) * size_t(s.width) + size_t(x)];
                squaredError += error * error;
            }
        }
        s.h263.pictures.push_back({std::move(bytes), 0, 0});
    }
    s.h263.kilobitsPerSecond = kilobitsPerSecond(s.h263);
    s.h263.lumaPsnr = psnr(squaredError, kComparisonPictures, s.width, s.height);
    s.h263Quantiser = quantiser;
    return true;
}

ComparisonStreams make(int codec, int width, int height) {
    ComparisonStreams s;
    s.codec = codec;
    s.width = width;
    s.height = height;
    if (!(codec == kComparisonLegacyCodec ? makeLegacy(s) : makeNative(s))) {
        s.error = "the native stream did not decode";
        return s;
    }
    // The fixed quantiser whose bit rate comes nearest the native stream's: the bit rate falls
    // as the quantiser grows, so walk from the native default until it stops coming nearer.
    const auto distance = [](const ComparisonStreams& c) {
        return std::abs(c.h263.kilobitsPerSecond - c.native.kilobitsPerSecond);
    };
    int quantiser = NativeEncoderSettings::kDefaultQuantiser;
    if (!makeH263(s, quantiser)) {
        s.error = "FFmpeg's H.263 encoder or decoder failed";
        return s;
    }
    const int step = s.h263.kilobitsPerSecond > s.native.kilobitsPerSecond ? 1 : -1;
    for (quantiser += step; quantiser >= kMinH263Quantiser && quantiser <= kMaxH263Quantiser;
         quantiser += step) {
        ComparisonStreams next = s;
        if (!makeH263(next, quantiser)) {
            s.error = "FFmpeg's H.263 encoder or decoder failed";
            return s;
        }
        if (distance(next) >= distance(s)) break;
        s = std::move(next);
    }
    s.ok = true;
    return s;
}

}  // namespace

const ComparisonStreams& comparisonStreams(int codec, int width, int height) {
    static std::map<std::tuple<int, int, int>, ComparisonStreams> made;
    const auto key = std::make_tuple(codec, width, height);
    auto found = made.find(key);
    if (found == made.end()) found = made.emplace(key, make(codec, width, height)).first;
    return found->second;
}

}  // namespace kx
