// The seek slider's arithmetic, free of any toolkit: tick positions from the groups' frame
// counts, and the group and offset a slider position stands for.
#pragma once

#include <cstdint>
#include <vector>

namespace kx {

// Where a slider position falls: the group and the frame offset into it.
struct SliderTarget {
    uint32_t group = 0;
    uint32_t offset = 0;
    bool operator==(const SliderTarget&) const = default;
};

// The ticks of a recording: the running sums of the group frame counts, that is the first
// frame of each following group, the last one at the total. A sum past 2^32 - 1 stays there.
std::vector<uint32_t> sliderTicks(const std::vector<uint32_t>& groupFrameCounts);

// The group is the index of the first tick greater than `position` (the number of ticks when
// none is); the offset is `position` minus the tick before that group, or `position` itself
// for group 0. With the ticks of sliderTicks, a position at or past the total gives the group
// count, a group the reader does not have: the seek there fails like a seek past the end.
SliderTarget sliderTarget(const std::vector<uint32_t>& ticks, uint32_t position);

}  // namespace kx
