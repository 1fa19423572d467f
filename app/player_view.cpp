// The main view's behaviour: notifications of the engine, picture copying, the H/XH jump timer,
// drags and the wheel, colour adjustment and still pictures.
#include "app/player_view.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <cstring>

#include "app/player_doc.h"
#include "playback/play_frame.h"
#include "playback/play_notify.h"
#include "present/display.h"
#include "present/picture_copy.h"
#include "present/picture_window.h"
#include "present/render_target.h"
#include "recording/recorder_text.h"

namespace kx {

namespace {

QImage drawBackgroundPicture() {
    QImage image(400, 300, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 0, 300);
    gradient.setColorAt(0, QColor(0x23, 0x27, 0x2e));
    gradient.setColorAt(1, QColor(0x0d, 0x0f, 0x12));
    painter.fillRect(image.rect(), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    // A lens: three rings around a dark pupil.
    const QPointF centre(200, 125);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3a, 0x41, 0x4c));
    painter.drawEllipse(centre, 54, 54);
    painter.setBrush(QColor(0x1b, 0x1f, 0x25));
    painter.drawEllipse(centre, 40, 40);
    painter.setBrush(QColor(0x2c, 0x5d, 0x8a));
    painter.drawEllipse(centre, 22, 22);
    painter.setBrush(QColor(0xd8, 0xe6, 0xf2));
    painter.drawEllipse(QPointF(192, 117), 6, 6);
    QFont font("DejaVu Sans");
    font.setPixelSize(22);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x9a, 0xa4, 0xb1));
    painter.drawText(QRect(0, 195, 400, 30), Qt::AlignCenter, "KX Player");
    font.setPixelSize(12);
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(QColor(0x6b, 0x74, 0x80));
    painter.drawText(QRect(0, 228, 400, 20), Qt::AlignCenter, "File > Open... (Ctrl+O) or drop a recording here");
    return image;
}

}  // namespace

QImage backgroundPicture() {
    // Drawn once: it is shown again at every repaint of an empty view.
    static const QImage picture = drawBackgroundPicture();
    return picture;
}

CKorvexPlayerView::CKorvexPlayerView(EventLoop& loop, CKorvexPlayerDoc& document,
                                     PictureWindow& window)
    : EventTarget(loop), m_doc(document), m_window(window) {}

CKorvexPlayerView::~CKorvexPlayerView() {
    StopColourWorker();
}

// ---- Notifications -------------------------------------------------------------------------

intptr_t CKorvexPlayerView::onMessage(const LoopMessage& message) {
    switch (message.id) {
        case WM_PLAY_NOTIFY: {
            ++m_notifyDepth;
            OnPlayNotify(uint32_t(message.wParam), message.lParam);
            --m_notifyDepth;
            return 0;
        }
        case WM_PLAY_JUMP:
            m_jumpGroup = int32_t(message.wParam);
            m_jumpLevel = int32_t(message.lParam);
            m_jumpTimer = kJumpTimer;
            loop().setTimer(*this, kJumpTimer, kJumpPeriodMs);
            return 0;
        case kColourWritten:
            m_redrawQueued = false;
            if (!m_noVideo && !m_doc.IsStillPicture()) DrawTarget();
            return 0;
        default:
            return 0;
    }
}

void CKorvexPlayerView::OnPlayNotify(uint32_t code, intptr_t parameter) {
    const auto* frame = reinterpret_cast<const CPlayFrame*>(parameter);
    m_doc.ShowPlayerMessage();
    switch (code) {
        case kPlayEnded:
            m_noVideo = false;
            m_doc.OnPlayEnded();
            return;
        case kPlayPicture:
            if (frame) ShowFrame(*frame);
            return;
        case 2:
            if (frame && m_doc.AcceptFrame(*frame) && !(frame->Flags() & kFrameFlagNoPicture)) {
                m_shownGroup = frame->Group();
                m_shownPosition = frame->PositionInGroup();
                if (CaptionInfo* caption = m_doc.Caption()) caption->flags &= ~kCaptionAudio;
                DrawTarget();
            }
            return;
        case kPlayMotion:
            if (parameter) m_doc.OnMotionBlock(*reinterpret_cast<const MotionBlock*>(parameter));
            return;
        case kPlayFrameLost:
            m_doc.OnFrameLost();
            return;
        case kPlayVerifying:
            if (frame) m_doc.OnVerifyProgress(*frame);
            return;
        case kPlayIntegrityFailed:
            if (frame) m_doc.OnIntegrityFailure(*frame);
            return;
        default:
            return;
    }
}

void CKorvexPlayerView::ShowFrame(const CPlayFrame& frame) {
    if (!m_doc.AcceptFrame(frame)) return;
    m_shownGroup = frame.Group();
    m_shownPosition = frame.PositionInGroup();
    if (frame.Flags() & kFrameFlagNoPicture) {
        m_noVideo = true;
        Redraw();
    } else {
        m_noVideo = false;
        CopyIntoTarget(frame);
        if (CaptionInfo* caption = m_doc.Caption()) {
            if (frame.HasAudio())
                caption->flags |= kCaptionAudio;
            else
                caption->flags &= ~kCaptionAudio;
        }
        DrawTarget();
    }
    if (m_doc.AfterPictureDrawn())
        loop().post(*this, {WM_PLAY_JUMP, uintptr_t(m_shownGroup), intptr_t(m_doc.SpeedLevel())});
}

bool CKorvexPlayerView::CopyIntoTarget(const CPlayFrame& frame) {
    CRenderTarget* target = m_doc.RenderTarget();
    if (!target) return false;
    const RgbPicture& picture = frame.Picture();
    PictureDesc desc;
    if (target->GetDesc(&desc) != 0) return false;
    if (desc.width != picture.width() || desc.height != picture.height() || !desc.pixels) {
        target->Unlock();
        return false;
    }
    const RowOrder rows = target->IsComposing() ? RowOrder::TopDown : RowOrder::BottomUp;
    const bool adjust = m_worker != nullptr;
    bool copied;
    if (!adjust) {
        copied = copyPictureUpright(picture, m_doc.ContentKind(), frame.Flags(),
                                    {desc.pixels, desc.width, desc.height, desc.bytesPerPixel,
                                     uint32_t(desc.pitch), rows});
        target->Unlock();
        m_lastRaw.clear();
        return copied;
    }
    target->Unlock();
    const uint32_t bytesPerPixel = desc.bytesPerPixel;
    const size_t bytes = size_t(desc.width) * desc.height * bytesPerPixel;
    m_lastRaw.resize(bytes);
    copied = copyPictureUpright(picture, m_doc.ContentKind(), frame.Flags(),
                                {m_lastRaw.data(), desc.width, desc.height, bytesPerPixel,
                                 desc.width * bytesPerPixel, rows});
    if (!copied) return false;
    m_lastRawWidth = desc.width;
    m_lastRawHeight = desc.height;
    m_lastRawBytesPerPixel = bytesPerPixel;
    ColourJob job;
    job.pixels = m_worker->TakeBuffer(bytes);
    std::memcpy(job.pixels.data(), m_lastRaw.data(), bytes);
    job.width = desc.width;
    job.height = desc.height;
    job.bytesPerPixel = bytesPerPixel;
    job.settings = m_recordingColours;
    m_worker->Post(std::move(job));
    return true;
}

void CKorvexPlayerView::DrawTarget() {
    CRenderTarget* target = m_doc.RenderTarget();
    if (!target) return;
    target->Draw(&m_window, m_doc.Caption());
}

// ---- Timer ---------------------------------------------------------------------------------

void CKorvexPlayerView::onTimer(uint32_t timerId) {
    if (timerId != kJumpTimer) return;
    loop().killTimer(*this, kJumpTimer);
    m_jumpTimer = 0;
    const int32_t level = m_doc.SpeedLevel();
    // At another level (the user changed speed meanwhile) the pause state stays as it is.
    if (level != 3 && level != 4) return;
    m_doc.JumpAfterPause(int32_t(m_shownGroup), level);
}

// ---- Drawing -------------------------------------------------------------------------------

void CKorvexPlayerView::DrawImageOverWindow(const QImage& image) {
    LockDisplay();
    m_window.showPicture(image);
    UnlockDisplay();
}

void CKorvexPlayerView::Redraw() {
    if (m_doc.IsStillPicture()) {
        DrawStillPicture();
        return;
    }
    if (!m_doc.HasPlayer() || !m_doc.RenderTarget()) {
        DrawImageOverWindow(backgroundPicture());
        return;
    }
    if (m_noVideo) {
        QImage lost = StatusBitmap(kStatusVideoLost);
        if (lost.isNull()) lost = DrawnStatusBitmap(kStatusVideoLost);
        DrawImageOverWindow(lost);
        return;
    }
    DrawTarget();
}

void CKorvexPlayerView::DrawStillPicture() {
    const PictureFile& still = m_doc.StillPicture();
    uint32_t width = 0;
    uint32_t height = 0;
    const uint8_t* pixels = still.getPixels(width, height);
    if (!pixels) {
        DrawImageOverWindow(backgroundPicture());
        return;
    }
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* source = pixels + size_t(height - 1 - y) * width * 3;
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < width; ++x)
            row[x] = 0xFF000000u | uint32_t(source[3 * x + 2]) << 16 |
                     uint32_t(source[3 * x + 1]) << 8 | source[3 * x];
    }
    if (!m_pictureColours.isNeutral()) {
        ColourAdjuster adjuster(m_pictureColours);
        adjuster.apply({image.bits(), width, height, 4, uint32_t(image.bytesPerLine()),
                        RowOrder::TopDown});
    }
    if (m_pictureCaptionOn) {
        // The caption is drawn in window pixels over the stretched picture.
        QSize client = m_window.clientSize();
        if (client.isEmpty()) client = image.size();
        QImage shown = image.scaled(client, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&shown);
        QFont font("DejaVu Sans");
        font.setPointSize(15);
        font.setBold(true);
        painter.setFont(font);
        const uint32_t c = m_pictureCaptionColour;
        painter.setPen(QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)));
        const std::string lines[3] = {still.boardName(), still.cameraName(), still.hostName()};
        for (int i = 0; i < 3; ++i)
            painter.drawText(QPoint(5, 5 + 20 * i + painter.fontMetrics().ascent()),
                             QString::fromStdString(recorderTextToUtf8(lines[i])));
        painter.end();
        DrawImageOverWindow(shown);
        return;
    }
    DrawImageOverWindow(image);
}

void CKorvexPlayerView::SetPictureCaption(bool on, uint32_t colourBgr) {
    m_pictureCaptionOn = on;
    m_pictureCaptionColour = colourBgr;
    if (m_doc.IsStillPicture()) Redraw();
}

// ---- Colour --------------------------------------------------------------------------------

const ColourSettings& CKorvexPlayerView::CurrentColours() const {
    return m_doc.IsStillPicture() ? m_pictureColours : m_recordingColours;
}

void CKorvexPlayerView::SetColour(const ColourSettings& settings) {
    if (m_doc.IsStillPicture()) {
        m_pictureColours = settings;
        Redraw();
        return;
    }
    if (!m_doc.HasPlayer()) return;
    m_recordingColours = settings;
    if (settings.isNeutral()) {
        StopColourWorker();
    } else {
        StartColourWorker();
    }
    // A paused picture shows the new settings at once: the last picture is adjusted again. Its
    // unadjusted pixels are kept from the time the worker runs; before that, the target holds them.
    if (m_worker && m_lastRaw.empty()) CaptureTargetPicture();
    if (m_worker && !m_lastRaw.empty()) {
        ColourJob job;
        const size_t bytes = m_lastRaw.size();
        job.pixels = m_worker->TakeBuffer(bytes);
        std::memcpy(job.pixels.data(), m_lastRaw.data(), bytes);
        job.width = m_lastRawWidth;
        job.height = m_lastRawHeight;
        job.bytesPerPixel = m_lastRawBytesPerPixel;
        job.settings = m_recordingColours;
        m_worker->Post(std::move(job));
    }
}

void CKorvexPlayerView::CaptureTargetPicture() {
    CRenderTarget* target = m_doc.RenderTarget();
    if (!target) return;
    PictureDesc desc;
    if (target->GetDesc(&desc) != 0) return;
    if (desc.pixels && desc.pitch > 0) {
        const size_t rowBytes = size_t(desc.width) * desc.bytesPerPixel;
        m_lastRaw.resize(rowBytes * desc.height);
        for (uint32_t y = 0; y < desc.height; ++y)
            std::memcpy(m_lastRaw.data() + y * rowBytes, desc.pixels + size_t(y) * size_t(desc.pitch),
                        rowBytes);
        m_lastRawWidth = desc.width;
        m_lastRawHeight = desc.height;
        m_lastRawBytesPerPixel = desc.bytesPerPixel;
    }
    target->Unlock();
}

void CKorvexPlayerView::StartColourWorker() {
    CRenderTarget* target = m_doc.RenderTarget();
    if (m_worker || !target) return;
    m_worker = std::make_unique<CColourWorker>();
    m_worker->SetWrittenCallback([this] {
        // Draw on the loop's thread; one queued redraw is enough however many pictures wait.
        if (!m_redrawQueued.exchange(true)) loop().post(*this, {kColourWritten, 0, 0});
    });
    m_worker->Start(target);
}

void CKorvexPlayerView::StopColourWorker() {
    if (!m_worker) return;
    m_worker->Stop();
    m_worker.reset();
    m_redrawQueued = false;
}

// ---- Mouse ---------------------------------------------------------------------------------

void CKorvexPlayerView::OnLeftButtonDown(int x, int y) {
    if (!m_doc.HasPlayer()) return;
    if (m_doc.MotionSetupMode()) {
        if (!m_regionDragPending) {
            m_regionDragPending = true;
            m_dragStartX = x;
            m_dragStartY = y;
        }
        return;
    }
    const ZoomState zoom = m_doc.Zoom();
    if (zoom == ZoomState::None || zoom == ZoomState::Chosen) {
        m_dragStartX = x;
        m_dragStartY = y;
        m_doc.BeginZoomDrag();
    }
}

void CKorvexPlayerView::OnLeftButtonUp(int x, int y) {
    if (!m_doc.HasPlayer()) return;
    const QSize client = m_window.clientSize();
    if (m_doc.MotionSetupMode()) {
        if (!m_regionDragPending) return;
        m_regionDragPending = false;
        m_doc.AddMotionRegion(m_dragStartX, m_dragStartY, x, y, client.width(), client.height());
        return;
    }
    if (m_doc.Zoom() == ZoomState::Dragging)
        m_doc.EndZoomDrag(m_dragStartX, m_dragStartY, x, y, client.width(), client.height());
}

void CKorvexPlayerView::OnMouseWheel(int delta) {
    if (delta > 0 && m_doc.Zoom() == ZoomState::Chosen)
        m_doc.ZoomIn();
    else if (delta < 0 && m_doc.Zoom() == ZoomState::Zoomed)
        m_doc.ZoomOut();
}

}  // namespace kx
