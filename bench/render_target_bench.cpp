// One picture shown per iteration at 704 x 480: the render target composes the picture with
// the default caption (camera name and three time lines, the time of the frame ticking every
// picture) and hands it to a window. Beside it the plain way of doing the same with Qt: draw the
// picture and paint the four caption texts with QPainter for every picture.
#include <benchmark/benchmark.h>

#include <QFont>
#include <QPainter>
#include <cstdio>

#include "present/display.h"
#include "present/offscreen_application.h"
#include "present/render_target.h"

namespace kx {
namespace {

constexpr int kWidth = 704;
constexpr int kHeight = 480;

class DiscardingWindow : public PictureWindow {
public:
    void showPicture(const QImage& picture) override {
        benchmark::DoNotOptimize(picture.constBits());
    }
    QSize clientSize() const override { return {kWidth, kHeight}; }
};

CaptionInfo defaultCaption() {
    CaptionInfo caption;
    caption.flags =
        0x40000 | kCaptionCameraName | kCaptionStartTime | kCaptionFrameTime | kCaptionEndTime;
    setCaptionText(caption.cameraName, "Gate 1");
    setCaptionText(caption.startTime, "08:00:00");
    setCaptionText(caption.endTime, "09:00:00");
    caption.cameraColour = caption.boardColour = caption.timeColour = 0xFFFF00;
    return caption;
}

void frameTimeOf(CaptionInfo& caption, int64_t picture) {
    const int64_t seconds = picture / 25;
    char text[16];
    std::snprintf(text, sizeof text, "08:%02d:%02d", int(seconds / 60 % 60), int(seconds % 60));
    setCaptionText(caption.frameTime, text);
}

void RenderTargetDraw704x480(benchmark::State& state) {
    ensureOffscreenApplication();
    CreateDisplay();
    CRenderTarget target;
    if (target.Init(kWidth, kHeight, nullptr) != 0) state.SkipWithError("no target");
    DiscardingWindow window;
    CaptionInfo caption = defaultCaption();
    int64_t picture = 0;
    for (auto _ : state) {
        frameTimeOf(caption, picture++);
        benchmark::DoNotOptimize(target.Draw(&window, &caption));
    }
    state.SetItemsProcessed(state.iterations());
    DestroyDisplay();
}

void QPainterTextEachPicture704x480(benchmark::State& state) {
    ensureOffscreenApplication();
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(Qt::darkGray);
    QImage composition(kWidth, kHeight, QImage::Format_RGB32);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    CaptionInfo caption = defaultCaption();
    int64_t index = 0;
    for (auto _ : state) {
        frameTimeOf(caption, index++);
        QPainter painter(&composition);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, picture);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setFont(font);
        painter.setPen(QColor(0, 255, 255));
        painter.drawText(5, 25 + 16, QString::fromLatin1(caption.cameraName));
        painter.drawText(5, kHeight - 45 - 4, QString::fromLatin1(caption.startTime));
        painter.drawText(5, kHeight - 25 - 4, QString::fromLatin1(caption.frameTime));
        painter.drawText(5, kHeight - 5 - 4, QString::fromLatin1(caption.endTime));
        painter.end();
        benchmark::DoNotOptimize(composition.constBits());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(RenderTargetDraw704x480)->Unit(benchmark::kMicrosecond);
BENCHMARK(QPainterTextEachPicture704x480)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kx

BENCHMARK_MAIN();
