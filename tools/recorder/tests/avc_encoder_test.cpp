// The avc encoder against the avc decoder: every coded picture decodes to the encoder's own
// reconstruction, bit for bit, over sizes, quantisers, versions, GOP shapes and the loop
// filter switch; and the encoder reaches every syntax element the decoder reads.
#include <gtest/gtest.h>

#include <cmath>
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
            order.push_back({b, AvcPictureType::B, AvcEncoder::bParameterFor(b - next + 1, reference - next + 1)});
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

// Smooth chroma slopes in the top-left macroblocks, where plane prediction wins.
void paintSlopes(YuvImage& image) {
    const int cw = image.width / 2;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            image.cb[size_t(y * cw + x)] = uint8_t(60 + 5 * x + 3 * y);
            image.cr[size_t(y * cw + x)] = uint8_t(200 - 4 * x - 2 * y);
        }
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// Over a moving scene with a cut (pictures 0 to 2 from one scene, then another) the encoder uses
// every luma and chroma mode, every coeff_token table, intra, inter (half-sample) and skipped
// macroblocks in P pictures, and both slots and direct macroblocks in version-3 B pictures; its
// pictures stay close to the source.
TEST(AvcEncoder, ReachesEverySyntaxElementAndKeepsThePicture) {
    const int width = 176, height = 144;
    AvcPictureStatistics total;
    for (int version : {3, 4}) {
        const SyntheticScene before(width, height, 3), after(width, height, 11);
        AvcEncoder encoder(width, height, {version == 3 ? 10 : 16, version, true});
        YuvImage image;
        for (const CodedPicture& coded : codedOrder(7, 2)) {
            (coded.source < 3 ? before : after).render(uint64_t(coded.source), 25, 0, image);
            paintSlopes(image);
            encoder.encode(viewOf(image), coded.type, coded.bParameter);
            EXPECT_GT(psnr(encoder.reconstruction().data(), image.y.data(), image.y.size()), 36.0);
            const AvcPictureStatistics& s = encoder.statistics();
            for (size_t i = 0; i < 9; ++i) total.lumaModes[i] += s.lumaModes[i];
            for (size_t i = 0; i < 4; ++i) total.chromaModes[i] += s.chromaModes[i];
            for (size_t i = 0; i < 5; ++i) total.tokenTables[i] += s.tokenTables[i];
            if (coded.type != AvcPictureType::I) total.intra += s.intra;
            total.inter += s.inter;
            total.skipped += s.skipped;
            total.direct += s.direct;
            total.secondSlot += s.secondSlot;
            total.halfSampleVectors += s.halfSampleVectors;
        }
    }
    for (int count : total.lumaModes) EXPECT_GT(count, 0);
    for (size_t i = 0; i < 4; ++i) EXPECT_GT(total.chromaModes[i], 0) << "chroma mode " << i;
    for (int count : total.tokenTables) EXPECT_GT(count, 0);
    EXPECT_GT(total.intra, 0);
    EXPECT_GT(total.inter, 0);
    EXPECT_GT(total.skipped, 0);
    EXPECT_GT(total.direct, 0);
    EXPECT_GT(total.secondSlot, 0);
    EXPECT_GT(total.halfSampleVectors, 0);
}

}  // namespace
}  // namespace kx
