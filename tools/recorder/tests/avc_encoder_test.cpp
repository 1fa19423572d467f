// The avc encoder against the avc decoder: every coded picture decodes to the encoder's own
// reconstruction, bit for bit, over sizes, quantisers, versions, GOP shapes and the loop
// filter switch; and the encoder reaches every syntax element the decoder reads.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/avc/avc_engine.h"
#include "tools/recorder/avc_encoder.h"
#include "tools/recorder/synthetic_scene.h"

namespace kx {
namespace {

struct Shape {
    int width, height, quantiser, version;
    bool deblock;
    int bFrames;  // B pictures between references (version 3 uses both slots and direct)
};

YuvPictureView viewOf(const YuvImage& image) {
    return {{image.y.data(), image.cb.data(), image.cr.data()}, {image.width, image.width / 2, image.width / 2}};
}

// Coded order of a group: I, then for each run the reference after the B pictures, then them.
struct CodedPicture {
    int source;
    AvcPictureType type;
    int bParameter;
};
std::vector<CodedPicture> codedOrder(int count, int bFrames) {
    std::vector<CodedPicture> order{{0, AvcPictureType::I, 0}};
    int next = 1;
    while (next < count) {
        const int reference = std::min(next + bFrames, count - 1);
        order.push_back({reference, AvcPictureType::P, 0});
        for (int b = next; b < reference; ++b)
            order.push_back({b, AvcPictureType::B, (reference - b) * 3 / (bFrames + 1) - 1 + (bFrames == 1 ? 1 : 0)});
        next = reference + 1;
    }
    return order;
}

class AvcRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(AvcRoundTrip, DecoderReproducesTheEncodersPictures) {
    const Shape shape = GetParam();
    SyntheticScene scene(shape.width, shape.height, 7);
    AvcEncoder encoder(shape.width, shape.height, {shape.quantiser, shape.version, shape.deblock});
    AvcEngine engine;
    YuvImage image;
    const int count = 7;
    uint32_t tick = 1000;
    for (const CodedPicture& coded : codedOrder(count, shape.bFrames)) {
        scene.render(uint64_t(coded.source) * 3, 25, 0, image);
        const std::span<const uint8_t> bytes = encoder.encode(viewOf(image), coded.type, coded.bParameter);
        std::vector<uint8_t> frame(bytes.begin(), bytes.end());
        ASSERT_EQ(engine.Decode(frame.data(), frame.size(), coded.type == AvcPictureType::I ? 0 : 1, tick += 40,
                                shape.deblock),
                  kAvcOk)
            << "picture of source " << coded.source;
        ASSERT_NE(engine.lastDecoded(), nullptr);
        const std::vector<uint8_t>& expected = encoder.reconstruction();
        ASSERT_EQ(0, std::memcmp(engine.lastDecoded(), expected.data(), expected.size()))
            << "picture of source " << coded.source << " type " << int(coded.type);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, AvcRoundTrip,
    ::testing::Values(Shape{64, 48, 28, 4, true, 0}, Shape{64, 48, 28, 4, false, 0}, Shape{48, 32, 10, 4, true, 0},
                      Shape{48, 32, 59, 4, true, 0}, Shape{80, 64, 40, 3, true, 0}, Shape{72, 40, 24, 3, true, 2},
                      Shape{72, 40, 24, 3, false, 1}, Shape{64, 48, 30, 4, true, 2}, Shape{176, 144, 20, 4, true, 1},
                      Shape{40, 24, 34, 3, true, 2}));

}  // namespace
}  // namespace kx
