// The avc encoder's rate and distortion: encodes a Y4M clip (or the recorder's built-in scene)
// at several quantisers and prints, per quantiser, the stream's bytes, the PSNR of the encoder's
// reconstruction (which the decoder reproduces bit for bit) against the source, and the time
// spent encoding. One group: an I picture, then P pictures with `b` B pictures before each.
//
//   avc_rate_distortion [--input clip.y4m] [--frames N] [--b-frames B] [--version 3|4]
//                       [--quantisers 20,28,36]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/recorder/avc_encoder.h"
#include "tools/recorder/synthetic_scene.h"
#include "tools/recorder/y4m_reader.h"

namespace {

using namespace kx;

double squaredError(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return sum;
}

double psnr(double squared, double samples) {
    return squared == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * samples / squared);
}

}  // namespace

int main(int argc, char** argv) {
    std::string input;
    int frames = 50, bFrames = 2, version = 4;
    std::vector<int> quantisers{20, 28, 36};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--input") {
            input = value;
        } else if (name == "--frames") {
            frames = std::atoi(value.c_str());
        } else if (name == "--b-frames") {
            bFrames = std::atoi(value.c_str());
        } else if (name == "--version") {
            version = std::atoi(value.c_str());
        } else if (name == "--quantisers") {
            quantisers.clear();
            for (size_t p = 0; p < value.size();) {
                quantisers.push_back(std::atoi(value.c_str() + p));
                const size_t comma = value.find(',', p);
                p = comma == std::string::npos ? value.size() : comma + 1;
            }
        } else {
            std::fprintf(stderr, "unknown option %s\n", name.c_str());
            return 2;
        }
    }

    std::vector<YuvImage> pictures;
    if (!input.empty()) {
        Y4mReader reader;
        if (!reader.open(input)) {
            std::fprintf(stderr, "%s\n", reader.error().c_str());
            return 1;
        }
        YuvImage picture;
        while (int(pictures.size()) < frames && reader.read(picture)) pictures.push_back(picture);
    } else {
        SyntheticScene scene(352, 288, 7);
        pictures.resize(size_t(frames));
        for (int i = 0; i < frames; ++i) scene.render(uint64_t(i), 25, 0, pictures[size_t(i)]);
    }
    if (pictures.empty()) return 1;
    const int width = pictures[0].width, height = pictures[0].height;
    const std::vector<AvcCodedPicture> order = avcCodedOrder(int(pictures.size()), bFrames);

    std::printf("%-4s %10s %9s %9s %9s %9s\n", "q", "bytes", "psnr-y", "psnr-cb", "psnr-cr", "ms");
    for (const int q : quantisers) {
        AvcEncoder encoder(width, height, {q, version, true});
        size_t bytes = 0;
        double error[3] = {};
        double seconds = 0;
        const size_t lumaSize = size_t(width) * size_t(height);
        const size_t chromaSize = lumaSize / 4;
        for (const AvcCodedPicture& coded : order) {
            const YuvImage& source = pictures[size_t(coded.source)];
            const YuvPictureView view{{source.y.data(), source.cb.data(), source.cr.data()},
                                      {width, width / 2, width / 2}};
            const auto start = std::chrono::steady_clock::now();
            bytes += encoder.encode(view, coded.type, coded.bParameter).size();
            seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const uint8_t* rec = encoder.reconstruction().data();
            error[0] += squaredError(rec, source.y.data(), lumaSize);
            error[1] += squaredError(rec + lumaSize, source.cb.data(), chromaSize);
            error[2] += squaredError(rec + lumaSize + chromaSize, source.cr.data(), chromaSize);
        }
        const double n = double(order.size());
        std::printf("%-4d %10zu %9.3f %9.3f %9.3f %9.1f\n", q, bytes,
                    psnr(error[0], n * double(lumaSize)), psnr(error[1], n * double(chromaSize)),
                    psnr(error[2], n * double(chromaSize)), seconds * 1000);
    }
    return 0;
}
