// The caption overlay: text surface, glyph atlas, and the copies that put them on the picture.
#include "present/caption_overlay.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "present/display.h"

namespace kx {
namespace {

constexpr char kGlyphCharacters[] = "0123456789:/, -";
constexpr int kMaxCellHeight = 20;

constexpr CaptionElement kDigitLines[] = {CaptionElement::FrameTime, CaptionElement::StartTime,
                                          CaptionElement::EndTime, CaptionElement::Date};

QRect toQRect(const CaptionRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

std::string_view digitText(const CaptionInfo& info, CaptionElement element) {
    switch (element) {
        case CaptionElement::FrameTime:
            return captionText(info.frameTime);
        case CaptionElement::StartTime:
            return captionText(info.startTime);
        case CaptionElement::EndTime:
            return captionText(info.endTime);
        default:
            return captionText(info.date);
    }
}

void setDigitText(CaptionInfo& info, CaptionElement element, std::string_view text) {
    switch (element) {
        case CaptionElement::FrameTime:
            setCaptionText(info.frameTime, text);
            break;
        case CaptionElement::StartTime:
            setCaptionText(info.startTime, text);
            break;
        case CaptionElement::EndTime:
            setCaptionText(info.endTime, text);
            break;
        default:
            setCaptionText(info.date, text);
            break;
    }
}

}  // namespace

int captionGlyphIndex(char character) {
    if (character >= '0' && character <= '9') return character - '0';
    const char* found = std::strchr(kGlyphCharacters + 10, character);
    return (character != 0 && found) ? int(found - kGlyphCharacters) : -1;
}

QColor captionColour(uint32_t colourRef) {
    return QColor(int(colourRef & 0xFF), int((colourRef >> 8) & 0xFF),
                  int((colourRef >> 16) & 0xFF));
}

CCaptionOverlay::CCaptionOverlay() {
    // The caption font: a plain sans face of 16 pixels, drawn without smoothing so that every
    // pixel is either the caption colour or the transparent black around it.
    m_font.setFamily(QStringLiteral("DejaVu Sans"));
    m_font.setPixelSize(16);
    m_font.setBold(true);
    m_font.setStyleStrategy(QFont::NoAntialias);
}

CCaptionOverlay::~CCaptionOverlay() = default;

int32_t CCaptionOverlay::Init(const CaptionInfo* info, int pictureWidth, int pictureHeight) {
    if (!info || pictureWidth <= 0 || pictureHeight <= 0) return 1;
    std::lock_guard lock(m_lock);
    m_info = *info;
    m_pictureWidth = pictureWidth;
    m_pictureHeight = pictureHeight;
    m_glyphCopies = 0;
    m_digitRebuilds = 0;
    m_text = QImage(kTextSurfaceWidth, kTextSurfaceHeight, QImage::Format_ARGB32_Premultiplied);
    if (m_text.isNull()) return 1;
    m_text.fill(Qt::transparent);
    renderNames();
    buildAtlas();
    if (m_atlas.isNull()) {
        m_text = QImage();
        return 1;
    }
    renderDigitLines();
    return 0;
}

void CCaptionOverlay::Release() {
    std::lock_guard lock(m_lock);
    m_text = QImage();
    m_atlas = QImage();
}

int32_t CCaptionOverlay::Restore() {
    std::lock_guard lock(m_lock);
    if (m_text.isNull()) return 1;
    m_text.fill(Qt::transparent);
    renderNames();
    buildAtlas();
    renderDigitLines();
    return 0;
}

CaptionRect CCaptionOverlay::SourceRect() const {
    CaptionRect frame = captionFrame(m_info, m_pictureWidth, m_pictureHeight);
    if (captionScale(m_info.flags) == CaptionScale::Half)
        frame = {frame.left / 2, frame.top / 2, frame.right / 2, frame.bottom / 2};
    return frame;
}

void CCaptionOverlay::renderNames() {
    renderNameSlot(CaptionElement::CameraName, captionText(m_info.cameraName), m_info.cameraColour);
    renderNameSlot(CaptionElement::BoardName, captionText(m_info.boardName), m_info.boardColour);
    renderNameSlot(CaptionElement::TimeZone, captionText(m_info.timeZone), m_info.timeZoneColour);
}

void CCaptionOverlay::clearSlot(CaptionElement element) {
    QPainter painter(&m_text);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(toQRect(captionSlot(element)), Qt::transparent);
}

void CCaptionOverlay::renderNameSlot(CaptionElement element, std::string_view text,
                                     uint32_t colour) {
    clearSlot(element);
    // Black is the transparent colour: black text leaves the slot empty.
    if ((colour & 0xFFFFFF) == 0 || text.empty()) return;
    QPainter painter(&m_text);
    painter.setFont(m_font);
    painter.setPen(captionColour(colour));
    const QRect slot = toQRect(captionSlot(element));
    painter.setClipRect(slot);
    painter.drawText(slot, Qt::AlignLeft | Qt::AlignTop,
                     QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void CCaptionOverlay::buildAtlas() {
    const QFontMetrics metrics(m_font);
    int width = 1;
    for (int i = 0; i + 1 < int(sizeof kGlyphCharacters); ++i)
        width = std::max(width, metrics.horizontalAdvance(QLatin1Char(kGlyphCharacters[i])));
    m_cellWidth = width;
    m_cellHeight = std::clamp(metrics.height(), 1, kMaxCellHeight);
    m_atlas = QImage(kGlyphCount * m_cellWidth, m_cellHeight, QImage::Format_ARGB32_Premultiplied);
    if (m_atlas.isNull()) return;
    m_atlas.fill(Qt::transparent);
    if ((m_info.timeColour & 0xFFFFFF) == 0) return;
    QPainter painter(&m_atlas);
    painter.setFont(m_font);
    painter.setPen(captionColour(m_info.timeColour));
    for (int i = 0; i + 1 < int(sizeof kGlyphCharacters); ++i) {
        const QRect cell(i * m_cellWidth, 0, m_cellWidth, m_cellHeight);
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop,
                         QString(QLatin1Char(kGlyphCharacters[i])));
    }
}

void CCaptionOverlay::copyGlyph(CaptionElement element, int index, char character) {
    const CaptionRect slot = captionSlot(element);
    const QRect cell(slot.left + index * m_cellWidth, slot.top, m_cellWidth, m_cellHeight);
    QPainter painter(&m_text);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setClipRect(toQRect(slot));
    const int glyph = captionGlyphIndex(character);
    // A character without a glyph is left blank.
    if (glyph < 0)
        painter.fillRect(cell, Qt::transparent);
    else
        painter.drawImage(cell.topLeft(), m_atlas,
                          QRect(glyph * m_cellWidth, 0, m_cellWidth, m_cellHeight));
}

void CCaptionOverlay::renderDigitLine(CaptionElement element, std::string_view text) {
    clearSlot(element);
    const int fitting =
        std::min<int>(int(text.size()), captionSlot(element).width() / m_cellWidth + 1);
    for (int i = 0; i < fitting; ++i) copyGlyph(element, i, text[size_t(i)]);
}

void CCaptionOverlay::renderDigitLines() {
    for (const CaptionElement element : kDigitLines)
        renderDigitLine(element, digitText(m_info, element));
}

void CCaptionOverlay::updateNameSlot(CaptionElement element, const CaptionInfo& info) {
    char* cached = nullptr;
    size_t capacity = 0;
    const char* wanted = nullptr;
    uint32_t* cachedColour = nullptr;
    uint32_t wantedColour = 0;
    switch (element) {
        case CaptionElement::CameraName:
            cached = m_info.cameraName, capacity = sizeof m_info.cameraName,
            wanted = info.cameraName;
            cachedColour = &m_info.cameraColour, wantedColour = info.cameraColour;
            break;
        case CaptionElement::BoardName:
            cached = m_info.boardName, capacity = sizeof m_info.boardName, wanted = info.boardName;
            cachedColour = &m_info.boardColour, wantedColour = info.boardColour;
            break;
        default:
            cached = m_info.timeZone, capacity = sizeof m_info.timeZone, wanted = info.timeZone;
            cachedColour = &m_info.timeZoneColour, wantedColour = info.timeZoneColour;
            break;
    }
    const std::string_view wantedText(wanted, strnlen(wanted, capacity));
    if (std::string_view(cached, strnlen(cached, capacity)) == wantedText &&
        *cachedColour == wantedColour)
        return;
    std::memset(cached, 0, capacity);
    wantedText.copy(cached, std::min(wantedText.size(), capacity - 1));
    *cachedColour = wantedColour;
    renderNameSlot(element, wantedText, wantedColour);
}

void CCaptionOverlay::updateDigitLine(CaptionElement element, const CaptionInfo& info) {
    const std::string_view wanted = digitText(info, element);
    const std::string_view shown = digitText(m_info, element);
    if (wanted == shown && info.timeColour == m_info.timeColour) return;
    if (wanted.size() == shown.size() && info.timeColour == m_info.timeColour) {
        const int fitting = captionSlot(element).width() / m_cellWidth + 1;
        for (size_t i = 0; i < wanted.size() && int(i) < fitting; ++i) {
            if (wanted[i] == shown[i]) continue;
            copyGlyph(element, int(i), wanted[i]);
            ++m_glyphCopies;
        }
        setDigitText(m_info, element, wanted);
        return;
    }
    // A new length, or a new colour for the time lines: the atlas and all four lines again.
    setDigitText(m_info, element, wanted);
    m_info.timeColour = info.timeColour;
    buildAtlas();
    renderDigitLines();
    ++m_digitRebuilds;
}

void CCaptionOverlay::drawOutlines(QImage& composition) const {
    QPainter painter(&composition);
    // Regions are in picture pixels; over a zoomed picture they are drawn where that part of the
    // picture now lies, through the same source rectangle the render target stretched.
    QRect source(0, 0, m_pictureWidth, m_pictureHeight);
    if (m_info.flags & kCaptionZoom) {
        const QRect zoom = QRect(m_info.zoom.left, m_info.zoom.top, m_info.zoom.width(),
                                 m_info.zoom.height())
                               .intersected(source);
        if (!zoom.isEmpty()) source = zoom;
    }
    const auto mapX = [&](int32_t x) {
        return int32_t(int64_t(x - source.left()) * m_pictureWidth / source.width());
    };
    const auto mapY = [&](int32_t y) {
        return int32_t(int64_t(y - source.top()) * m_pictureHeight / source.height());
    };
    const uint32_t count = std::min<uint32_t>(m_info.motion.count, MotionBlock::kMaxRegions);
    for (uint32_t i = 0; i < count; ++i) {
        const MotionRegion& region = m_info.motion.regions[i];
        const QColor colour = region.motion ? QColor(255, 0, 0) : QColor(0, 255, 0);
        const CaptionRect r{mapX(region.left), mapY(region.top), mapX(region.right),
                            mapY(region.bottom)};
        if (r.right < r.left || r.bottom < r.top) continue;
        painter.fillRect(QRect(r.left, r.top, r.width(), 1), colour);
        painter.fillRect(QRect(r.left, r.bottom, r.width(), 1), colour);
        painter.fillRect(QRect(r.left, r.top, 1, r.height()), colour);
        painter.fillRect(QRect(r.right, r.top, 1, r.height()), colour);
    }
}

void CCaptionOverlay::drawIcon(QImage& composition, uint32_t key, CaptionElement element,
                               const CaptionRect& frame) {
    const QImage icon = StatusBitmap(key);
    if (icon.isNull()) return;
    KeyedIcon& cached = key == kStatusHand ? m_hand : m_loudspeaker;
    if (cached.keyed.isNull() || cached.sourceKey != icon.cacheKey()) {
        cached.keyed = keyedOnBlack(icon);
        cached.sourceKey = icon.cacheKey();
    }
    QPainter painter(&composition);
    painter.drawImage(toQRect(placeCaptionElement(element, m_info, frame)), cached.keyed);
}

void CCaptionOverlay::Draw(QImage& composition, const CaptionInfo* info) {
    std::unique_lock lock(m_lock, std::chrono::milliseconds(1));
    if (!lock.owns_lock() || m_text.isNull() || composition.isNull()) return;
    if (info && info != &m_info) {
        m_info.flags = info->flags;
        m_info.zoom = info->zoom;
        m_info.motion = info->motion;
    }
    const CaptionInfo& wanted = info ? *info : m_info;
    if ((m_info.flags & kCaptionMotionRegions) && !(m_info.flags & kCaptionNoVideo))
        drawOutlines(composition);
    if (m_info.flags & kCaptionHidden) return;

    const CaptionRect frame = captionFrame(m_info, m_pictureWidth, m_pictureHeight);
    if (m_info.flags & kCaptionAudio)
        drawIcon(composition, kStatusLoudspeaker, CaptionElement::Loudspeaker, frame);
    if (m_info.flags & kCaptionHandIcon)
        drawIcon(composition, kStatusHand, CaptionElement::Hand, frame);

    QPainter painter(&composition);
    for (const CaptionTextElement& text : kCaptionTextElements) {
        if (!(m_info.flags & text.flag)) continue;
        if (&wanted != &m_info) {
            const bool isName = text.element == CaptionElement::CameraName ||
                                text.element == CaptionElement::BoardName ||
                                text.element == CaptionElement::TimeZone;
            if (isName)
                updateNameSlot(text.element, wanted);
            else
                updateDigitLine(text.element, wanted);
        }
        painter.drawImage(toQRect(placeCaptionElement(text.element, m_info, frame)), m_text,
                          toQRect(captionSlot(text.element)));
    }
}

}  // namespace kx
