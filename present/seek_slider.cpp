// Tick positions and position-to-group lookup of the seek slider.
#include "present/seek_slider.h"

#include <algorithm>
#include <limits>

namespace kx {

std::vector<uint32_t> sliderTicks(const std::vector<uint32_t>& groupFrameCounts) {
    std::vector<uint32_t> ticks;
    ticks.reserve(groupFrameCounts.size());
    uint64_t sum = 0;
    for (uint32_t count : groupFrameCounts) {
        sum = std::min<uint64_t>(sum + count, std::numeric_limits<uint32_t>::max());
        ticks.push_back(static_cast<uint32_t>(sum));
    }
    return ticks;
}

SliderTarget sliderTarget(const std::vector<uint32_t>& ticks, uint32_t position) {
    // A linear scan keeps the rule "first tick greater" exact even for ticks that are not
    // sorted (groups of zero frames give equal neighbours, which the scan handles alike).
    const auto found = std::find_if(ticks.begin(), ticks.end(),
                                    [position](uint32_t tick) { return tick > position; });
    const auto group = static_cast<uint32_t>(found - ticks.begin());
    if (group == 0) return {0, position};
    const uint32_t before = ticks[group - 1];
    // A tick before the group is at or below the position by the search's rule.
    return {group, position - before};
}

}  // namespace kx
