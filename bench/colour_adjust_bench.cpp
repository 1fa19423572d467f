// Colour adjustment of one 704 x 480 picture of 4-byte pixels per iteration: brightness with
// contrast, and saturation with hue. Beside it ImageMagick (Magick++, one thread) doing the same
// kind of work on the same pixels: brightness-contrast and the HSL modulate.
// Magick++ includes <assert.h> inside a namespace of its own: the standard one comes first.
#include <cassert>

#include <Magick++.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "present/colour_adjust.h"

namespace kx {
namespace {

constexpr uint32_t kWidth = 704;
constexpr uint32_t kHeight = 480;
constexpr uint32_t kPitch = kWidth * 4;

// A camera-like scene: smooth colour gradients with sensor noise, B, G, R, 0 per pixel.
const std::vector<uint8_t>& scene() {
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> out(size_t(kPitch) * kHeight);
        std::mt19937 random(5);
        std::uniform_int_distribution<int> noise(-12, 12);
        auto channel = [&](int value) {
            return uint8_t(std::clamp(value + noise(random), 0, 255));
        };
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                uint8_t* pixel = &out[y * kPitch + x * 4];
                pixel[0] = channel(int(x * 255 / kWidth));
                pixel[1] = channel(int(y * 255 / kHeight));
                pixel[2] = channel(int((x + y) * 255 / (kWidth + kHeight)));
                pixel[3] = 0;
            }
        return out;
    }();
    return pixels;
}

// Each iteration restores the picture and adjusts it, as the worker does with a fresh copy.
void ours(benchmark::State& state, ColourSettings settings) {
    const ColourAdjuster adjuster(settings);
    std::vector<uint8_t> picture(scene().size());
    for (auto _ : state) {
        std::memcpy(picture.data(), scene().data(), picture.size());
        adjuster.apply({picture.data(), kWidth, kHeight, 4, kPitch});
        benchmark::DoNotOptimize(picture.data());
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_OursBrightnessContrast(benchmark::State& state) {
    ours(state, {130, 80, 100, 100});
}
void BM_OursSaturationHue(benchmark::State& state) {
    ours(state, {100, 100, 140, 90});
}

// ImageMagick: the picture read from the same pixels once; each iteration copies it (the pixel
// cache is copied on the first write) and adjusts it.
template <typename Adjust>
void magick(benchmark::State& state, Adjust adjust) {
    Magick::InitializeMagick(nullptr);
    Magick::ResourceLimits::thread(1);
    const Magick::Image original(kWidth, kHeight, "BGRA", Magick::CharPixel, scene().data());
    for (auto _ : state) {
        Magick::Image image = original;
        adjust(image);
        benchmark::DoNotOptimize(image.getConstPixels(0, 0, 1, 1));
    }
    state.counters["pictures/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_MagickBrightnessContrast(benchmark::State& state) {
    magick(state, [](Magick::Image& image) { image.brightnessContrast(30, -20); });
}
void BM_MagickModulateSaturationHue(benchmark::State& state) {
    magick(state, [](Magick::Image& image) { image.modulate(100, 140, 90); });
}

BENCHMARK(BM_OursBrightnessContrast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MagickBrightnessContrast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursSaturationHue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MagickModulateSaturationHue)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kx

BENCHMARK_MAIN();
