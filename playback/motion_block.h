// The motion-search regions and their results: 19 32-bit words as the engine keeps them, the
// view receives them (notification code 4) and the caption record holds them.
#pragma once

#include <array>
#include <cstdint>

namespace kx {

// A region in picture pixels (right and bottom exclusive), its motion flag and the counter of
// consecutive pictures counted towards switching the flag.
struct MotionRegion {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    uint32_t motion = 0;
    uint32_t counter = 0;
};

struct MotionBlock {
    static constexpr int kMaxRegions = 3;
    uint32_t count = 0;  // 0 to 3
    std::array<MotionRegion, kMaxRegions> regions{};

    // True when any of the first `count` regions (at most three) has its motion flag set.
    bool anyMotion() const {
        for (int i = 0; i < kMaxRegions && uint32_t(i) < count; ++i)
            if (regions[i].motion) return true;
        return false;
    }
};
static_assert(sizeof(MotionBlock) == 19 * 4);

}  // namespace kx
