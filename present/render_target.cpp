// Composition of a picture with its caption, and the bottom-up fallback without composition.
#include "present/render_target.h"

#include <QPainter>
#include <algorithm>
#include <cassert>
#include <chrono>
#include <new>

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
    // Waiting for our own writer would never end.
    assert(m_writer.load() != std::this_thread::get_id());
    std::lock_guard lock(m_lock);
    std::lock_guard writer(m_writerLock);
    return initComposing(width, height, info);
}

int32_t CRenderTarget::initComposing(uint32_t width, uint32_t height, const CaptionInfo* info) {
    releaseComposing();  // the images and overlay of an earlier size
    m_picture = QImage(int(width), int(height), QImage::Format_RGB32);
    m_composition = QImage(int(width), int(height), QImage::Format_RGB32);
    if (m_picture.isNull() || m_composition.isNull()) {
        releaseComposing();
        return 1;
    }
    m_picture.fill(Qt::black);
    m_composition.fill(Qt::black);
    if (info) {
        m_overlay = std::make_unique<CCaptionOverlay>();
        if (m_overlay->Init(info, int(width), int(height)) != 0) {
            releaseComposing();
            return 1;
        }
    }
    m_width = width;
    m_height = height;
    m_composing = true;
    return 0;
}

void CRenderTarget::releaseComposing() {
    m_overlay.reset();
    m_picture = QImage();
    m_composition = QImage();
    m_width = m_height = 0;
    m_composing = false;
}

int32_t CRenderTarget::Release() {
    assert(m_writer.load() != std::this_thread::get_id());
    // A writer on another thread finishes (Unlock) before the picture goes.
    std::lock_guard lock(m_lock);
    std::lock_guard writer(m_writerLock);
    releaseComposing();
    return 0;
}

bool CRenderTarget::IsComposing() const {
    return m_composing;
}

int32_t CRenderTarget::Draw(PictureWindow* window, const CaptionInfo* info) {
    std::unique_lock lock(m_lock, kDrawWait);
    if (!lock.owns_lock()) return 1;
    return drawComposing(window, info);
}

int32_t CRenderTarget::drawComposing(PictureWindow* window, const CaptionInfo* info) {
    const CaptionInfo* caption = info ? info : (m_overlay ? &m_overlay->Info() : nullptr);
    if (!window || !caption || !m_composing) return 1;
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
    const auto writer = holdPicture();
    if (m_picture.isNull()) return 1;  // released, or turned to DIB mode, meanwhile
    QPainter painter(&m_picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(m_picture.rect(), source);
    return 0;
}

std::unique_lock<std::timed_mutex> CRenderTarget::holdPicture() const {
    if (m_writer.load() == std::this_thread::get_id()) return {};
    return std::unique_lock(m_writerLock);
}

int32_t CRenderTarget::GetDesc(PictureDesc* desc) {
    if (!desc) return kRenderNullArgument;
    if (m_writer.load() == std::this_thread::get_id()) return 1;
    std::unique_lock writer(m_writerLock);
    *desc = {};
    if (!describe(desc)) return 1;
    m_writer = std::this_thread::get_id();
    writer.release();  // held until Unlock
    return 0;
}

bool CRenderTarget::describe(PictureDesc* desc) {
    if (m_picture.isNull()) return false;
    desc->packed24 = 0;
    desc->bytesPerPixel = 4;
    desc->pixels = m_picture.bits();
    desc->pitch = int32_t(m_picture.bytesPerLine());
    desc->width = m_width;
    desc->height = m_height;
    return true;
}

int32_t CRenderTarget::Unlock() {
    // Only the thread that called GetDesc can have put its own id here.
    if (m_writer.load() != std::this_thread::get_id()) return 1;
    m_writer = std::thread::id();
    m_writerLock.unlock();
    return 0;
}

bool CRenderTarget::CopyPicture(std::vector<uint8_t>& bgrBottomUp, uint32_t& width,
                                uint32_t& height) const {
    const auto reading = holdPicture();
    return copyHeld(bgrBottomUp, width, height);
}

bool CRenderTarget::copyHeld(std::vector<uint8_t>& bgrBottomUp, uint32_t& width,
                             uint32_t& height) const {
    if (m_picture.isNull()) return false;
    const uint32_t w = m_width, h = m_height;
    bgrBottomUp.resize(size_t(w) * h * 3);
    uint8_t* out = bgrBottomUp.data();
    for (uint32_t y = 0; y < h; ++y) {
        // RGB32 holds B, G, R and an unused byte in memory.
        const uchar* in = m_picture.constScanLine(int(h - 1 - y));
        for (uint32_t x = 0; x < w; ++x, in += 4, out += 3)
            out[0] = in[0], out[1] = in[1], out[2] = in[2];
    }
    width = w;
    height = h;
    return true;
}

CDibRenderTarget::~CDibRenderTarget() {
    CDibRenderTarget::Release();
}

int32_t CDibRenderTarget::Init(uint32_t width, uint32_t height, const CaptionInfo* info) {
    if (width == 0 || height == 0) return kRenderNullArgument;
    if (width > kMaxSide || height > kMaxSide) return 1;
    assert(m_writer.load() != std::this_thread::get_id());
    std::lock_guard lock(m_lock);
    std::lock_guard writer(m_writerLock);
    // Composition when the display exists and memory allows it, the bottom-up buffer otherwise;
    // the mode, buffers and size change together so a writer never sees a mixture.
    m_dibMode = false;
    m_dib = {};
    m_windowImage = QImage();
    if (DisplayExists() && initComposing(width, height, info) == 0) return 0;
    releaseComposing();
    try {
        m_dib.assign(size_t(width) * height * 3, 0);
    } catch (const std::bad_alloc&) {
        m_dib = {};
        return 1;
    }
    m_width = width;
    m_height = height;
    m_dibMode = true;
    return 0;
}

int32_t CDibRenderTarget::Release() {
    assert(m_writer.load() != std::this_thread::get_id());
    std::lock_guard lock(m_lock);
    std::lock_guard writer(m_writerLock);
    releaseComposing();
    m_dib = {};
    m_windowImage = QImage();
    m_dibMode = false;
    return 0;
}

bool CDibRenderTarget::describe(PictureDesc* desc) {
    if (!m_dibMode) return CRenderTarget::describe(desc);
    desc->packed24 = 1;
    desc->bytesPerPixel = 3;
    desc->pixels = m_dib.data();
    desc->pitch = int32_t(m_width * 3);
    desc->width = m_width;
    desc->height = m_height;
    return true;
}

bool CDibRenderTarget::copyHeld(std::vector<uint8_t>& bgrBottomUp, uint32_t& width,
                                uint32_t& height) const {
    if (!m_dibMode) return CRenderTarget::copyHeld(bgrBottomUp, width, height);
    // The buffer already has the snapshot layout.
    bgrBottomUp = m_dib;
    width = m_width;
    height = m_height;
    return true;
}

int32_t CDibRenderTarget::Draw(PictureWindow* window, const CaptionInfo* info) {
    std::unique_lock lock(m_lock, kDrawWait);
    if (!lock.owns_lock()) return 1;
    if (!m_dibMode) return drawComposing(window, info);
    if (!window) return 1;
    const QSize client = window->clientSize();
    if (client.isEmpty()) return 1;
    if (m_windowImage.size() != client) m_windowImage = QImage(client, QImage::Format_RGB32);
    if (m_windowImage.isNull()) return 1;
    {
        // A writer between GetDesc and Unlock: drop this frame rather than wait.
        std::unique_lock writer(m_writerLock, kDrawWait);
        if (!writer.owns_lock()) return 1;
        // The buffer's first row is the bottom of the picture: draw it flipped, stretched over
        // the whole window (no zoom in this mode).
        const uint32_t width = m_width, height = m_height;
        const QImage dib(m_dib.data(), int(width), int(height), qsizetype(width) * 3,
                         QImage::Format_BGR888);
        QPainter painter(&m_windowImage);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(0, client.height());
        painter.scale(double(client.width()) / width, -double(client.height()) / height);
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
