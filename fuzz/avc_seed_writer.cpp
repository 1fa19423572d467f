// Writes the seed corpus of the avc_decoder fuzz target from the recorder's avc encoder: short
// streams of both versions (I, P and B pictures, a repeat frame) in the target's input form.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/recorder/avc_encoder.h"
#include "tools/recorder/synthetic_scene.h"

namespace {

void appendFrame(std::vector<uint8_t>& out, uint8_t kind, bool deblock,
                 std::span<const uint8_t> bytes) {
    out.push_back(kind);
    out.push_back(deblock ? 1 : 0);
    out.push_back(uint8_t(bytes.size() >> 8));
    out.push_back(uint8_t(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: avc_seed_writer FOLDER\n");
        return 2;
    }
    struct Seed {
        int width, height, quantiser, version;
    };
    int index = 0;
    for (const Seed& seed :
         {Seed{48, 32, 30, 4}, Seed{64, 48, 20, 3}, Seed{32, 32, 45, 3}, Seed{80, 16, 12, 4}}) {
        kx::SyntheticScene scene(seed.width, seed.height, uint32_t(index + 1));
        kx::AvcEncoder encoder(seed.width, seed.height, {seed.quantiser, seed.version, true});
        kx::YuvImage image;
        std::vector<uint8_t> out;
        const kx::AvcPictureType types[] = {kx::AvcPictureType::I, kx::AvcPictureType::P,
                                            kx::AvcPictureType::B, kx::AvcPictureType::P};
        for (int n = 0; n < 4; ++n) {
            scene.render(uint64_t(n) * 5, 25, 0, image);
            const kx::YuvPictureView view{{image.y.data(), image.cb.data(), image.cr.data()},
                                          {image.width, image.width / 2, image.width / 2}};
            appendFrame(out,
                        uint8_t(n == 0                              ? 0
                                : types[n] == kx::AvcPictureType::B ? 3
                                                                    : 1),
                        n != 3, encoder.encode(view, types[n], 1));
        }
        appendFrame(out, seed.version < 4 ? 5 : 4, true, {});
        const std::string path = std::string(argv[1]) + "/seed_" + std::to_string(index++);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(out.data(), 1, out.size(), file) != out.size()) return 1;
        std::fclose(file);
    }
    return 0;
}
