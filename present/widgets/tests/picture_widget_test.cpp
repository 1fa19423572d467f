// The picture widget on Qt's offscreen platform: a picture handed over on another thread is
// painted scaled over the whole widget, and a render target draws through it.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <thread>

#include "present/display.h"
#include "present/render_target.h"
#include "present/widgets/picture_widget.h"
#include "present/widgets/tests/widget_test_support.h"

namespace kx {
namespace {

// Left half red, right half blue.
QImage halves(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    return image;
}

QImage painted(PictureWidget& widget) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(PictureWidget, PicturesFromAnotherThreadArePaintedScaledOverTheWidget) {
    test::widgetApplication();
    PictureWidget widget;
    widget.resize(200, 100);
    widget.show();
    EXPECT_EQ(widget.clientSize(), QSize(200, 100));
    std::thread worker([&] { widget.showPicture(halves(64, 48)); });
    worker.join();
    const QImage shown = painted(widget);
    ASSERT_EQ(shown.size(), QSize(200, 100));
    EXPECT_EQ(shown.pixel(5, 50), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(95, 50), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(105, 50), qRgb(0, 0, 255));
    EXPECT_EQ(shown.pixel(195, 95), qRgb(0, 0, 255));
    EXPECT_EQ(widget.currentPicture().size(), QSize(64, 48));
}

TEST(PictureWidget, ARenderTargetDrawsIntoIt) {
    test::widgetApplication();
    ASSERT_EQ(CreateDisplay(), 0);
    CRenderTarget target;
    ASSERT_EQ(target.Init(64, 48, nullptr), 0);
    PictureDesc desc;
    ASSERT_EQ(target.GetDesc(&desc), 0);
    const QImage source = halves(64, 48);
    for (uint32_t y = 0; y < desc.height; ++y)
        std::memcpy(desc.pixels + size_t(y) * size_t(desc.pitch), source.constScanLine(int(y)),
                    desc.width * 4);
    ASSERT_EQ(target.Unlock(), 0);
    PictureWidget widget;
    widget.resize(320, 240);
    widget.show();
    CaptionInfo caption;
    caption.flags = 0x40000;
    ASSERT_EQ(target.Draw(&widget, &caption), 0);
    const QImage shown = painted(widget);
    EXPECT_EQ(shown.pixel(10, 120), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(310, 120), qRgb(0, 0, 255));
    DestroyDisplay();
}

}  // namespace
}  // namespace kx
