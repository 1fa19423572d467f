// The synthetic scene: deterministic, idle at the start of its cycle, moving later.
#include <gtest/gtest.h>

#include "tools/recorder/synthetic_scene.h"

namespace kx {
namespace {

size_t changedSamples(const YuvImage& a, const YuvImage& b) {
    size_t changed = 0;
    for (size_t i = 0; i < a.y.size(); ++i) changed += a.y[i] != b.y[i];
    return changed;
}

TEST(SyntheticScene, SameSeedSamePicturesIdleStartThenMotion) {
    const SyntheticScene scene(352, 288, 11);
    const SyntheticScene again(352, 288, 11);
    YuvImage a, b;
    scene.render(100, 25, 1'000'000, a);
    again.render(100, 25, 1'000'000, b);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.cr, b.cr);

    // The first second of a cycle is idle: consecutive pictures of the same second are equal.
    scene.render(1, 25, 1'000'000, a);
    scene.render(2, 25, 1'000'000, b);
    EXPECT_EQ(changedSamples(a, b), 0u);
    // The clock changes a few samples each second.
    scene.render(3, 25, 1'000'001, b);
    EXPECT_GT(changedSamples(a, b), 0u);
    EXPECT_LT(changedSamples(a, b), 400u);

    // Somewhere in the cycle things move.
    size_t moving = 0;
    for (uint64_t f = 100; f < 500; f += 5) {
        scene.render(f, 25, 1'000'000, a);
        scene.render(f + 1, 25, 1'000'000, b);
        moving += changedSamples(a, b) > 50;
    }
    EXPECT_GT(moving, 10u);

    const SyntheticScene other(352, 288, 12);
    other.render(100, 25, 1'000'000, b);
    scene.render(100, 25, 1'000'000, a);
    EXPECT_NE(a.y, b.y);
}

}  // namespace
}  // namespace kx
