// The motion detector of motion search: compares each presented picture with the previous one
// inside up to three regions and keeps each region's motion flag, switching it on after a run
// of consecutive changed pictures and off after 15 consecutive unchanged ones.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/picture_layout.h"
#include "playback/motion_block.h"

namespace kx {

class RgbPicture;

class MotionDetector {
public:
    static constexpr int32_t kDefaultThreshold = 75;
    static constexpr uint32_t kDefaultChangedPictures = 3;
    static constexpr uint32_t kChangedPixels = 16;  // more changed pixels mark a region changed
    static constexpr uint32_t kQuietPictures = 15;  // unchanged pictures that clear a flag

    // The threshold of a sensitivity level from 0 (150: only large changes) to 10 (0: any change).
    static int32_t thresholdOfLevel(int32_t level);

    void setThreshold(int32_t threshold) { m_threshold = threshold; }
    void setChangedPictures(uint32_t pictures) { m_changedPictures = pictures; }
    int32_t threshold() const { return m_threshold; }

    // Compares `picture` (read upright through `format`) with the previous one inside the
    // regions of `block`, updates their flags and counters, and keeps the picture as the next
    // previous one. Frames of kinds 4 and 5 carry no picture of their own and leave the flags as
    // they are. True when any region's flag is set afterwards.
    bool detect(MotionBlock& block, const RgbPicture& picture, PixelFormat format,
                uint16_t frameKind);

    // Forgets the previous picture (the next detect only keeps its picture).
    void reset();

private:
    bool regionChanged(const MotionRegion& region) const;

    int32_t m_threshold = kDefaultThreshold;
    uint32_t m_changedPictures = kDefaultChangedPictures;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    bool m_havePrevious = false;
    std::vector<uint8_t> m_previous;  // upright B, G, R, width x height x 3
    std::vector<uint8_t> m_current;
};

}  // namespace kx
