// Motion detection by counting changed pixels inside the regions.
#include "playback/motion_detector.h"

#include <algorithm>
#include <cstdlib>

#include "codec/video_decoder.h"

namespace kx {

int32_t MotionDetector::thresholdOfLevel(int32_t level) {
    return 150 - 15 * std::clamp(level, 0, 10);
}

void MotionDetector::reset() {
    m_havePrevious = false;
}

bool MotionDetector::regionChanged(const MotionRegion& region) const {
    // Regions are kept inside the picture here, whatever the caller stored.
    const int32_t left = std::clamp(region.left, 0, int32_t(m_width));
    const int32_t right = std::clamp(region.right, 0, int32_t(m_width));
    const int32_t top = std::clamp(region.top, 0, int32_t(m_height));
    const int32_t bottom = std::clamp(region.bottom, 0, int32_t(m_height));
    uint32_t changed = 0;
    for (int32_t y = top; y < bottom; ++y) {
        const size_t row = size_t(y) * m_width * 3;
        const uint8_t* before = m_previous.data() + row;
        const uint8_t* now = m_current.data() + row;
        for (int32_t x = left; x < right; ++x) {
            const int32_t difference = std::abs(int32_t(now[3 * x]) - before[3 * x]) +
                                       std::abs(int32_t(now[3 * x + 1]) - before[3 * x + 1]) +
                                       std::abs(int32_t(now[3 * x + 2]) - before[3 * x + 2]);
            if (difference > m_threshold && ++changed > kChangedPixels) return true;
        }
    }
    return false;
}

bool MotionDetector::detect(MotionBlock& block, const RgbPicture& picture, PixelFormat format,
                            uint16_t frameKind) {
    const uint32_t count = std::min<uint32_t>(block.count, MotionBlock::kMaxRegions);
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    if (width != m_width || height != m_height) {
        m_width = width;
        m_height = height;
        m_previous.assign(size_t(width) * height * 3, 0);
        m_current.assign(size_t(width) * height * 3, 0);
        m_havePrevious = false;
    }
    for (uint32_t y = 0; y < height; ++y)
        if (!readUprightRow(picture, format, y, m_current.data() + size_t(y) * width * 3))
            return block.anyMotion();

    // The first picture, and the frames without a picture of their own, only become the
    // previous picture.
    constexpr uint16_t kNoPictureKinds[] = {4, 5};
    const bool noPicture = std::find(std::begin(kNoPictureKinds), std::end(kNoPictureKinds),
                                     frameKind) != std::end(kNoPictureKinds);
    if (m_havePrevious && !noPicture) {
        for (uint32_t i = 0; i < count; ++i) {
            MotionRegion& region = block.regions[i];
            const bool changed = regionChanged(region);
            // A picture that agrees with the flag breaks the run towards switching it: only
            // consecutive changed pictures switch motion on, consecutive quiet ones off.
            if (changed == (region.motion != 0)) {
                region.counter = 0;
                continue;
            }
            const uint32_t run = region.motion ? kQuietPictures : m_changedPictures;
            if (++region.counter >= run) {
                region.motion = region.motion ? 0 : 1;
                region.counter = 0;
            }
        }
    }
    m_previous.swap(m_current);
    m_havePrevious = true;
    return block.anyMotion();
}

}  // namespace kx
