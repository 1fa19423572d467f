// The shared status pictures and icons, and the display lock.
#include "present/display.h"

#include <QFont>
#include <QPainter>
#include <QPolygon>
#include <memory>
#include <mutex>

namespace kx {
namespace {

struct DisplayState {
    QImage videoLost;
    QImage idle;
    QImage loudspeaker;
    QImage hand;
};

// Held while a finished picture is handed to a window. It outlives every display, so a lock
// taken before DestroyDisplay is released normally after it.
std::mutex g_handOver;
std::mutex g_stateMutex;  // guards g_state and the images' replacement
std::unique_ptr<DisplayState> g_state;

QImage black(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    if (!image.isNull()) image.fill(Qt::black);
    return image;
}

QImage* slotOf(DisplayState& state, uint32_t key) {
    switch (key) {
        case kStatusVideoLost:
            return &state.videoLost;
        case kStatusIdle:
            return &state.idle;
        case kStatusLoudspeaker:
            return &state.loudspeaker;
        case kStatusHand:
            return &state.hand;
        default:
            return nullptr;
    }
}

QImage drawnWords(const char* words) {
    QImage image = black(320, 240);
    QPainter painter(&image);
    QFont font;
    font.setPixelSize(36);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, QString::fromLatin1(words));
    return image;
}

QImage drawnLoudspeaker() {
    QImage image = black(16, 16);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255));
    painter.drawPolygon(QPolygon(
        {QPoint(2, 5), QPoint(5, 5), QPoint(9, 1), QPoint(9, 14), QPoint(5, 10), QPoint(2, 10)}));
    painter.setPen(QColor(255, 255, 255));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRect(7, 4, 6, 8), -60 * 16, 120 * 16);
    painter.drawArc(QRect(6, 2, 9, 12), -60 * 16, 120 * 16);
    return image;
}

QImage drawnHand() {
    QImage image = black(16, 16);
    QPainter painter(&image);
    painter.setPen(QColor(255, 255, 0));
    painter.setBrush(QColor(255, 255, 0));
    painter.drawRect(QRect(1, 6, 9, 6));   // the fist
    painter.drawRect(QRect(10, 6, 5, 2));  // the pointing finger
    painter.drawRect(QRect(2, 12, 7, 2));  // the cuff
    return image;
}

}  // namespace

int32_t CreateDisplay() {
    std::lock_guard lock(g_stateMutex);
    if (g_state) return 0;
    auto state = std::make_unique<DisplayState>();
    state->videoLost = black(320, 240);
    state->idle = black(320, 240);
    state->loudspeaker = black(16, 16);
    state->hand = black(16, 16);
    if (state->videoLost.isNull() || state->idle.isNull() || state->loudspeaker.isNull() ||
        state->hand.isNull())
        return 1;
    g_state = std::move(state);
    return 0;
}

void DestroyDisplay() {
    std::lock_guard wait(g_handOver);  // no hand-over is under way
    std::lock_guard lock(g_stateMutex);
    g_state.reset();
}

bool DisplayExists() {
    std::lock_guard lock(g_stateMutex);
    return g_state != nullptr;
}

void LockDisplay() {
    g_handOver.lock();
}

void UnlockDisplay() {
    g_handOver.unlock();
}

int32_t SetStatusBitmap(const QImage& bitmap, uint32_t key) {
    std::lock_guard lock(g_stateMutex);
    if (!g_state) return 1;
    QImage* slot = slotOf(*g_state, key);
    if (!slot) return 1;
    const QSize size = slot->size();
    if (bitmap.isNull()) {
        *slot = black(size.width(), size.height());
    } else {
        *slot = bitmap.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_RGB32);
    }
    return 0;
}

QImage StatusBitmap(uint32_t key) {
    std::lock_guard lock(g_stateMutex);
    if (!g_state) return {};
    const QImage* slot = slotOf(*g_state, key);
    return slot ? *slot : QImage();
}

QImage DrawnStatusBitmap(uint32_t key) {
    switch (key) {
        case kStatusVideoLost:
            return drawnWords("VIDEO LOST");
        case kStatusIdle:
            return drawnWords("IDLE");
        case kStatusLoudspeaker:
            return drawnLoudspeaker();
        case kStatusHand:
            return drawnHand();
        default:
            return {};
    }
}

QImage keyedOnBlack(const QImage& image) {
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < keyed.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x)
            if ((row[x] & 0xFFFFFF) == 0) row[x] = 0;
    }
    return keyed;
}

}  // namespace kx
