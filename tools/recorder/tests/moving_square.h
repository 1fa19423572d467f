// Test pictures for motion search: a grey 160 x 112 street with a white 16 x 16 square at the
// top left that stands still, moves 3 pixels a picture for a while, then stands still again.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace kx::test {

// Writes `pictures` pictures as a Y4M file (25 per second); the square moves in pictures
// `firstMoving` to `lastMoving`.
inline void writeMovingSquareY4m(const std::string& path, int pictures, int firstMoving,
                                 int lastMoving) {
    constexpr int kW = 160, kH = 112;
    std::ofstream out(path, std::ios::binary);
    out << "YUV4MPEG2 W" << kW << " H" << kH << " F25:1 Ip A1:1 C420jpeg\n";
    const std::vector<char> chroma(size_t(kW / 2) * (kH / 2), char(128));
    for (int n = 0; n < pictures; ++n) {
        std::vector<char> luma(size_t(kW) * kH, char(90));
        const int steps = n < firstMoving   ? 0
                          : n <= lastMoving ? n - firstMoving + 1
                                            : lastMoving - firstMoving + 1;
        for (int y = 8; y < 24; ++y)
            for (int x = 3 * steps; x < 3 * steps + 16; ++x)
                luma[size_t(y) * kW + size_t(x)] = char(235);
        out << "FRAME\n";
        out.write(luma.data(), std::streamsize(luma.size()));
        out.write(chroma.data(), std::streamsize(chroma.size()));
        out.write(chroma.data(), std::streamsize(chroma.size()));
    }
}

}  // namespace kx::test
