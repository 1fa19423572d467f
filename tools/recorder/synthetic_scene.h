// A synthetic CCTV scene, deterministic from a seed: a static textured street with buildings,
// people and cars crossing it at varied speeds, idle stretches with nothing moving, and a
// burnt-in clock. It is the recorder's default source, for tests, the demo and benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/recorder/yuv_image.h"

namespace kx {

class SyntheticScene {
public:
    SyntheticScene(int width, int height, uint32_t seed);

    // Draws the picture at `frameIndex` (at `fps` pictures per second) with the clock showing
    // `wallTime` (seconds since 1970, shown as UTC).
    void render(uint64_t frameIndex, double fps, uint32_t wallTime, YuvImage& out) const;

private:
    struct Mover {
        bool car;
        double startSeconds;   // when it enters the picture
        double pixelsPerSecond;  // negative: right to left
        int top;               // top row of its bounding box
        int width, height;
        uint8_t y, cb, cr;     // body colour
    };

    void paintBackground(uint32_t seed);
    void drawMover(const Mover& mover, double seconds, YuvImage& out) const;
    void drawClock(uint32_t wallTime, YuvImage& out) const;

    int m_width;
    int m_height;
    YuvImage m_background;
    std::vector<Mover> m_movers;
    double m_cycleSeconds;  // the traffic pattern repeats after this long
};

}  // namespace kx
