// Composition of a picture with its caption, and the bottom-up fallback without composition.
#include "present/render_target.h"

#include <QPainter>
#include <algorithm>
#include <chrono>

#include "present/display.h"

namespace kx {
namespace {

constexpr auto kDrawWait = std::chrono::milliseconds(1);
// Larger pictures than any recorder makes are refused before memory is asked for them.
constexpr uint32_t kMaxSide = 8192;

QRect toQRect(const CaptionRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

// The part of the picture a zoom rectangle names, kept inside the picture; the whole picture
// when the rectangle is empty or outside it.
QRect zoomSource(const CaptionInfo& info, const QImage& picture) {
    if (!(info.flags & kCaptionZoom)) return picture.rect();
    const QRect source = toQRect(info.zoom).intersected(picture.rect());
    return source.isEmpty() ? picture.rect() : source;
}

uint8_t clampByte(int value) {
    return uint8_t(std::clamp(value, 0, 255));
}

// UYVY (U0 Y0 V0 Y1 per pixel pair) to RGB32 with the BT.601 studio-range equations.
QImage uyvyToRgb(const uint8_t* pixels, uint32_t width, uint32_t height, int32_t pitch) {
    QImage image(int(width), int(height), QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = pixels + size_t(y) * size_t(pitch);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* pair = in + (x / 2) * 4;
            const int c = 298 * (int(pair[x % 2 ? 3 : 1]) - 16);
            const int d = int(pair[0]) - 128;
            const int e = int(pair[2]) - 128;
            out[x] = qRgb(clampByte((c + 409 * e + 128) >> 8),
                          clampByte((c - 100 * d - 208 * e + 128) >> 8),
                          clampByte((c + 516 * d + 128) >> 8));
        }
    }
    return image;
}

}  // namespace

CRenderTarget::CRenderTarget() = default;

CRenderTarget::~CRenderTarget() {
    CRenderTarget::Release();
}

int32_t CRenderTarget::Init(uint32_t width, uint32_t height, const CaptionInfo* info) {
    if (!DisplayExists()) return kRenderNoDevice;
    if (width == 0 || height == 0) return kRenderNullArgument;
    if (width > kMaxSide || height > kMaxSide) return 1;
    std::lock_guard lock(m_lock);
    std::lock_guard writer(m_writerLock);
    m_overlay.reset();  // an overlay of an earlier size
    m_picture = QImage(int(width), int(height), QImage::Format_RGB32);
    m_composition = QImage(int(width), int(height), QImage::Format_RGB32);
    if (m_picture.isNull() || m_composition.isNull()) {
        m_picture = m_composition = QImage();
        return 1;
    }
    m_picture.fill(Qt::black);
    m_composition.fill(Qt::black);
    m_width = width;
    m_height = height;
    if (info) {
        m_overlay = std::make_unique<CCaptionOverlay>();
        if (m_overlay->Init(info, int(width), int(height)) != 0) {
            m_overlay.reset();
            m_picture = m_composition = QImage();
            m_width = m_height = 0;
            return 1;
        }
    }
    return 0;
}

int32_t CRenderTarget::Release() {
    // A writer on another thread finishes (Unlock) before the picture goes.
    std::lock_guard lock(m_lock);
    std::lock_guard writer(m_writerLock);
    m_overlay.reset();
    m_picture = QImage();
    m_composition = QImage();
    m_width = m_height = 0;
    return 0;
}

bool CRenderTarget::IsComposing() const {
    return !m_picture.isNull();
}

int32_t CRenderTarget::Draw(PictureWindow* window, const CaptionInfo* info) {
    std::unique_lock lock(m_lock, kDrawWait);
    if (!lock.owns_lock()) return 1;
    const CaptionInfo* caption = info ? info : (m_overlay ? &m_overlay->Info() : nullptr);
    if (!window || !caption || m_picture.isNull()) return 1;
    {
        // A writer between GetDesc and Unlock: drop this frame rather than wait.
        std::unique_lock writer(m_writerLock, kDrawWait);
        if (!writer.owns_lock()) return 1;
        QPainter painter(&m_composition);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        const QImage videoLost =
            (caption->flags & kCaptionNoVideo) ? StatusBitmap(kStatusVideoLost) : QImage();
        if (!videoLost.isNull()) {
            painter.drawImage(m_composition.rect(), videoLost);
        } else {
            const QRect source = zoomSource(*caption, m_picture);
            if (source == m_picture.rect()) {
                painter.drawImage(0, 0, m_picture);
            } else {
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawImage(m_composition.rect(), m_picture, source);
            }
        }
    }
    if (!m_overlay) {
        m_overlay = std::make_unique<CCaptionOverlay>();
        if (m_overlay->Init(caption, int(m_width), int(m_height)) != 0) {
            m_overlay.reset();
            return 1;
        }
    }
    m_overlay->Draw(m_composition, caption);
    LockDisplay();
    window->showPicture(m_composition);
    UnlockDisplay();
    return 0;
}

int32_t CRenderTarget::PutPicture(const PictureDesc* picture) {
    if (!picture || !picture->pixels) return kRenderNullArgument;
    if (!IsComposing()) return 1;
    const uint32_t format = (uint32_t(picture->packed24) << 8) & 0xFE00;
    if (picture->width == 0 || picture->height == 0 || picture->width > kMaxSide ||
        picture->height > kMaxSide)
        return kRenderNullArgument;
    QImage source;
    if (format == kPictureFormatRgb || format == kPictureFormatRgbToo) {
        const uint32_t bytesPerPixel = picture->bytesPerPixel;
        if ((bytesPerPixel != 3 && bytesPerPixel != 4) ||
            picture->pitch < int32_t(picture->width * bytesPerPixel))
            return kRenderUnsupported;
        source = QImage(picture->pixels, int(picture->width), int(picture->height), picture->pitch,
                        bytesPerPixel == 3 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    } else if (format == kPictureFormatUyvy) {
        if (picture->pitch < int32_t((picture->width + 1) / 2 * 4)) return kRenderUnsupported;
        source = uyvyToRgb(picture->pixels, picture->width, picture->height, picture->pitch);
        if (source.isNull()) return 1;
    } else {
        return kRenderUnsupported;
    }
    std::lock_guard writer(m_writerLock);
    QPainter painter(&m_picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(m_picture.rect(), source);
    return 0;
}

int32_t CRenderTarget::GetDesc(PictureDesc* desc) {
    if (!desc) return kRenderNullArgument;
    if (m_picture.isNull()) return 1;
    m_writerLock.lock();
    m_writerHeld = true;
    *desc = {};
    desc->packed24 = 0;
    desc->bytesPerPixel = 4;
    desc->pixels = m_picture.bits();
    desc->pitch = int32_t(m_picture.bytesPerLine());
    desc->width = m_width;
    desc->height = m_height;
    return 0;
}

int32_t CRenderTarget::Unlock() {
    if (!m_writerHeld) return 1;
    m_writerHeld = false;
    m_writerLock.unlock();
    return 0;
}

int32_t CDibRenderTarget::Init(uint32_t width, uint32_t height, const CaptionInfo* info) {
    const int32_t composing = CRenderTarget::Init(width, height, info);
    if (composing == 0) {
        m_dibMode = false;
        return 0;
    }
    if (width == 0 || height == 0) return kRenderNullArgument;
    if (width > kMaxSide || height > kMaxSide) return 1;
    std::lock_guard lock(m_lock);
    m_dib.assign(size_t(width) * height * 3, 0);
    m_width = width;
    m_height = height;
    m_dibMode = true;
    return 0;
}

int32_t CDibRenderTarget::Release() {
    CRenderTarget::Release();
    std::lock_guard lock(m_lock);
    m_dib = {};
    m_windowImage = QImage();
    m_dibMode = false;
    return 0;
}

int32_t CDibRenderTarget::GetDesc(PictureDesc* desc) {
    if (!m_dibMode) return CRenderTarget::GetDesc(desc);
    if (!desc) return kRenderNullArgument;
    *desc = {};
    desc->packed24 = 1;
    desc->bytesPerPixel = 3;
    desc->pixels = m_dib.data();
    desc->pitch = int32_t(m_width * 3);
    desc->width = m_width;
    desc->height = m_height;
    return 0;
}

int32_t CDibRenderTarget::Unlock() {
    return m_dibMode ? 0 : CRenderTarget::Unlock();
}

int32_t CDibRenderTarget::Draw(PictureWindow* window, const CaptionInfo* info) {
    if (!m_dibMode) return CRenderTarget::Draw(window, info);
    std::unique_lock lock(m_lock, kDrawWait);
    if (!lock.owns_lock() || !window || m_dib.empty()) return 1;
    const QSize client = window->clientSize();
    if (client.isEmpty()) return 1;
    if (m_windowImage.size() != client) m_windowImage = QImage(client, QImage::Format_RGB32);
    if (m_windowImage.isNull()) return 1;
    {
        // The buffer's first row is the bottom of the picture: draw it flipped, stretched over
        // the whole window (no zoom in this mode).
        const QImage dib(m_dib.data(), int(m_width), int(m_height), qsizetype(m_width) * 3,
                         QImage::Format_BGR888);
        QPainter painter(&m_windowImage);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(0, client.height());
        painter.scale(double(client.width()) / m_width, -double(client.height()) / m_height);
        painter.drawImage(0, 0, dib);
    }
    if (info) drawReducedCaption(m_windowImage, *info);
    LockDisplay();
    window->showPicture(m_windowImage);
    UnlockDisplay();
    return 0;
}

void CDibRenderTarget::drawReducedCaption(QImage& image, const CaptionInfo& info) const {
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);  // 15 points on a 96-dpi screen
    painter.setFont(font);
    const int height = image.height();
    const auto text = [&](int x, int y, uint32_t colour, std::string_view value) {
        painter.setPen(captionColour(colour));
        painter.drawText(QRect(x, y, image.width() - x, 40), Qt::AlignLeft | Qt::AlignTop,
                         QString::fromLatin1(value.data(), qsizetype(value.size())));
    };
    if (info.flags & kCaptionCameraName)
        text(10, 10, info.cameraColour, captionText(info.cameraName));
    if (info.flags & kCaptionBoardName) text(10, 30, info.boardColour, captionText(info.boardName));
    if (info.flags & kCaptionStartTime)
        text(10, height - 60, info.timeColour, captionText(info.startTime));
    if (info.flags & kCaptionEndTime)
        text(10, height - 40, info.timeColour, captionText(info.endTime));
    if (info.flags & kCaptionFrameTime)
        text(10, height - 20, info.timeColour, captionText(info.frameTime));
    if (info.flags & kCaptionAudio) {
        static const QImage loudspeaker = keyedOnBlack(DrawnStatusBitmap(kStatusLoudspeaker));
        painter.drawImage(image.width() - 16, height - 16, loudspeaker);
    }
}

}  // namespace kx
