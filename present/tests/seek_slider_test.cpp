// The seek slider's ticks and the group and offset under a position.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "present/seek_slider.h"

namespace kx {
namespace {

TEST(SeekSlider, TicksAreRunningSumsOfTheGroupFrameCounts) {
    EXPECT_EQ(sliderTicks({}), std::vector<uint32_t>{});
    EXPECT_EQ(sliderTicks({25, 30, 0, 5}), (std::vector<uint32_t>{25, 55, 55, 60}));
    const uint32_t big = std::numeric_limits<uint32_t>::max() - 10;
    EXPECT_EQ(sliderTicks({big, 20, 1}),
              (std::vector<uint32_t>{big, std::numeric_limits<uint32_t>::max(),
                                     std::numeric_limits<uint32_t>::max()}));
}

struct TargetCase {
    std::vector<uint32_t> ticks;
    uint32_t position;
    SliderTarget expected;
};

TEST(SeekSlider, PositionGivesTheGroupUnderItAndTheOffsetIntoIt) {
    const std::vector<uint32_t> ticks{25, 55, 60};
    const TargetCase cases[] = {
        {ticks, 0, {0, 0}},
        {ticks, 24, {0, 24}},
        {ticks, 25, {1, 0}},  // exactly on a tick: the first frame of the next group
        {ticks, 26, {1, 1}},
        {ticks, 54, {1, 29}},
        {ticks, 55, {2, 0}},
        {ticks, 60, {3, 0}},   // the end: one past the last group
        {ticks, 75, {3, 15}},  // past the last tick
        {{}, 0, {0, 0}},       // no ticks: group 0, the position is the offset
        {{}, 17, {0, 17}},
        {{10, 10, 30}, 10, {2, 0}},  // a group of no frames is passed over
        {{10, 10, 30}, 9, {0, 9}},
    };
    for (const TargetCase& c : cases) {
        EXPECT_EQ(sliderTarget(c.ticks, c.position), c.expected)
            << "position " << c.position << " over " << c.ticks.size() << " ticks";
    }
}

}  // namespace
}  // namespace kx
