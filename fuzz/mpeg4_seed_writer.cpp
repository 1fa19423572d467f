// Writes the seed corpora of the mpeg4_dmo and mpeg4_xvid fuzz targets from the recorder's
// MPEG-4 encoders: short 176 x 144 streams (I and P pictures; for codec 6 also B pictures with
// quarter-sample motion) in the targets' input form.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/recorder/mpeg4_encoder.h"
#include "tools/recorder/synthetic_scene.h"

namespace {

bool writeSeed(const std::string& path, const kx::Mpeg4EncoderSettings& settings, int pictures) {
    std::string error;
    auto encoder = kx::Mpeg4Encoder::create(settings, error);
    if (!encoder) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    std::vector<bool> keys(size_t(pictures), false);
    keys[0] = true;
    const auto types = kx::Mpeg4Encoder::planTypes(keys, settings.bFrames);
    kx::SyntheticScene scene(settings.width, settings.height, 3);
    kx::YuvImage image;
    std::vector<uint8_t> out;
    kx::Mpeg4Picture coded;
    const auto take = [&] {
        while (encoder->receive(coded)) {
            out.push_back(uint8_t(coded.bytes.size() >> 8));
            out.push_back(uint8_t(coded.bytes.size()));
            out.insert(out.end(), coded.bytes.begin(), coded.bytes.end());
        }
    };
    for (int n = 0; n < pictures; ++n) {
        scene.render(uint64_t(n) * 4, 25, 0, image);
        if (!encoder->send(image, types[size_t(n)])) return false;
        take();
    }
    encoder->finish();
    take();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (file) std::fclose(file);
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mpeg4_seed_writer DMO_FOLDER XVID_FOLDER\n");
        return 2;
    }
    const std::string dmo = argv[1], xvid = argv[2];
    kx::Mpeg4EncoderSettings settings;
    settings.width = 176;
    settings.height = 144;
    settings.quantiser = 16;
    settings.codec = 3;
    bool ok = writeSeed(dmo + "/seed_0", settings, 3);
    settings.codec = 6;
    ok = writeSeed(xvid + "/seed_0", settings, 3) && ok;
    settings.bFrames = 2;
    settings.quarterSample = true;
    ok = writeSeed(xvid + "/seed_1", settings, 4) && ok;
    return ok ? 0 : 1;
}
