// SyntheticScene: background painting, moving people and cars, the clock.
#include "tools/recorder/synthetic_scene.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>

namespace kx {
namespace {

class Random {
public:
    explicit Random(uint32_t seed) : m_state(seed * 2654435761u ^ 0x9E3779B9u) {
        if (m_state == 0) m_state = 1;
    }
    uint32_t next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    double uniform() { return (next() & 0xFFFFFF) / double(0x1000000); }
    int range(int low, int high) { return low + int(next() % uint32_t(high - low + 1)); }

private:
    uint32_t m_state;
};

// 5 x 7 glyphs of the clock's characters, one byte per row, bit 4 leftmost.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph& glyphOf(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return g;
    return kGlyphs[std::size(kGlyphs) - 1];
}

uint8_t clampByte(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

void fillRect(YuvImage& img, int x0, int y0, int x1, int y1, uint8_t y, uint8_t cb, uint8_t cr) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, img.width);
    y1 = std::min(y1, img.height);
    for (int row = y0; row < y1; ++row)
        std::fill_n(&img.y[size_t(row) * size_t(img.width) + size_t(x0)], std::max(0, x1 - x0), y);
    for (int row = y0 / 2; row < (y1 + 1) / 2 && row < img.chromaHeight(); ++row)
        for (int col = x0 / 2; col < (x1 + 1) / 2 && col < img.chromaWidth(); ++col) {
            img.cb[size_t(row) * size_t(img.chromaWidth()) + size_t(col)] = cb;
            img.cr[size_t(row) * size_t(img.chromaWidth()) + size_t(col)] = cr;
        }
}

}  // namespace

SyntheticScene::SyntheticScene(int width, int height, uint32_t seed) : m_width(width), m_height(height) {
    paintBackground(seed);
    // The traffic of one cycle: an idle stretch at its start, then people and cars crossing.
    Random random(seed ^ 0x5EED);
    m_cycleSeconds = 12 + random.range(0, 8);
    const double idle = 2 + random.uniform() * 2;
    const int people = random.range(2, 4);
    const int cars = random.range(1, 2);
    for (int i = 0; i < people + cars; ++i) {
        Mover m{};
        m.car = i >= people;
        m.height = m.car ? height / 9 : height / 6;
        m.width = m.car ? width / 6 : std::max(4, width / 36);
        const int horizon = height * 45 / 100;
        m.top = horizon + random.range(0, std::max(1, height - horizon - m.height - 2));
        const double crossing = m.car ? 2.0 + random.uniform() * 3 : 6.0 + random.uniform() * 8;
        m.pixelsPerSecond = (width + m.width) / crossing * (random.next() & 1 ? 1 : -1);
        m.startSeconds = idle + random.uniform() * std::max(1.0, m_cycleSeconds - idle - crossing);
        m.y = uint8_t(random.range(40, 220));
        m.cb = uint8_t(random.range(80, 176));
        m.cr = uint8_t(random.range(80, 176));
        m_movers.push_back(m);
    }
}

void SyntheticScene::paintBackground(uint32_t seed) {
    Random random(seed);
    YuvImage& bg = m_background;
    bg.resize(m_width, m_height);
    const int horizon = m_height * 45 / 100;
    // Sky gradient, asphalt with texture, a road marking.
    for (int row = 0; row < m_height; ++row)
        for (int col = 0; col < m_width; ++col) {
            const double texture = std::sin(col * 0.37 + row * 0.11) * 6 + std::sin(col * 0.05 - row * 0.21) * 5;
            const double value = row < horizon ? 200 - 60.0 * row / horizon : 90 + texture + (random.next() % 9);
            bg.y[size_t(row) * size_t(m_width) + size_t(col)] = clampByte(value);
        }
    for (int row = 0; row < bg.chromaHeight(); ++row)
        for (int col = 0; col < bg.chromaWidth(); ++col) {
            const bool sky = row * 2 < horizon;
            bg.cb[size_t(row) * size_t(bg.chromaWidth()) + size_t(col)] = sky ? 150 : 124;
            bg.cr[size_t(row) * size_t(bg.chromaWidth()) + size_t(col)] = sky ? 112 : 130;
        }
    // Buildings along the horizon with rows of windows.
    for (int x = 0; x < m_width;) {
        const int w = std::max(8, m_width / 8 + random.range(-m_width / 20, m_width / 20));
        const int top = horizon - random.range(horizon / 3, horizon * 9 / 10);
        const auto shade = uint8_t(random.range(70, 160));
        fillRect(bg, x, top, x + w - 2, horizon, shade, uint8_t(random.range(110, 140)), uint8_t(random.range(120, 150)));
        const int step = std::max(4, m_height / 24);
        for (int wy = top + step / 2; wy + step / 2 < horizon; wy += step)
            for (int wx = x + step / 2; wx + step / 2 < x + w - 2; wx += step)
                fillRect(bg, wx, wy, wx + step / 2, wy + step / 2, uint8_t(shade > 110 ? 40 : 210), 128, 128);
        x += w;
    }
    const int lane = horizon + (m_height - horizon) * 3 / 5;
    for (int x = 0; x < m_width; x += m_width / 8) fillRect(bg, x, lane, x + m_width / 16, lane + 2, 235, 128, 128);
}

void SyntheticScene::drawMover(const Mover& m, double seconds, YuvImage& out) const {
    const double travelled = (seconds - m.startSeconds) * std::abs(m.pixelsPerSecond);
    if (travelled < 0 || travelled > m_width + m.width) return;
    const int left = m.pixelsPerSecond > 0 ? int(travelled) - m.width : m_width - int(travelled);
    if (m.car) {
        fillRect(out, left, m.top + m.height / 3, left + m.width, m.top + m.height, m.y, m.cb, m.cr);
        fillRect(out, left + m.width / 5, m.top, left + m.width * 4 / 5, m.top + m.height / 3 + 1, uint8_t(m.y / 2 + 40),
                 m.cb, m.cr);
        const int wheel = std::max(2, m.height / 4);
        fillRect(out, left + m.width / 8, m.top + m.height - wheel / 2, left + m.width / 8 + wheel, m.top + m.height + wheel / 2, 20, 128, 128);
        fillRect(out, left + m.width * 7 / 8 - wheel, m.top + m.height - wheel / 2, left + m.width * 7 / 8, m.top + m.height + wheel / 2, 20, 128, 128);
    } else {
        const int head = std::max(2, m.height / 6);
        // Legs swing with the step: their offset alternates every few pixels travelled.
        const int stride = (int(travelled) / std::max(2, m.width / 2)) % 2 ? m.width / 4 : 0;
        fillRect(out, left + m.width / 4, m.top, left + m.width * 3 / 4, m.top + head, 180, 110, 150);
        fillRect(out, left, m.top + head, left + m.width, m.top + m.height * 2 / 3, m.y, m.cb, m.cr);
        fillRect(out, left + stride, m.top + m.height * 2 / 3, left + stride + m.width / 3, m.top + m.height, 50, 128, 128);
        fillRect(out, left + m.width - m.width / 3 - stride, m.top + m.height * 2 / 3, left + m.width - stride,
                 m.top + m.height, 50, 128, 128);
    }
}

void SyntheticScene::drawClock(uint32_t wallTime, YuvImage& out) const {
    const std::time_t t = wallTime;
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    const int scale = m_width >= 600 ? 2 : 1;
    const int length = int(std::char_traits<char>::length(text));
    const int x0 = 4;
    const int y0 = 4;
    fillRect(out, x0 - 2, y0 - 2, x0 + length * 6 * scale + 2, y0 + 7 * scale + 2, 16, 128, 128);
    for (int i = 0; i < length; ++i) {
        const Glyph& g = glyphOf(text[i]);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g.rows[row] & (0x10 >> col)) {
                    const int x = x0 + (i * 6 + col) * scale;
                    const int y = y0 + row * scale;
                    fillRect(out, x, y, x + scale, y + scale, 235, 128, 128);
                }
    }
}

void SyntheticScene::render(uint64_t frameIndex, double fps, uint32_t wallTime, YuvImage& out) const {
    if (out.width != m_width || out.height != m_height) out.resize(m_width, m_height);
    std::copy(m_background.y.begin(), m_background.y.end(), out.y.begin());
    std::copy(m_background.cb.begin(), m_background.cb.end(), out.cb.begin());
    std::copy(m_background.cr.begin(), m_background.cr.end(), out.cr.begin());
    const double seconds = std::fmod(double(frameIndex) / fps, m_cycleSeconds);
    for (const Mover& mover : m_movers) drawMover(mover, seconds, out);
    drawClock(wallTime, out);
}

}  // namespace kx
