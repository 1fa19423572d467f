// The document's settings: motion search and its regions, the zoom rectangle, the caption
// switches and colour, and the control panel.
#include <algorithm>

#include "app/document_text.h"
#include "app/player_doc.h"
#include "app/player_view.h"

namespace kx {
namespace {

// A region of the view, ordered, scaled to picture pixels (integer division).
CaptionRect viewToPicture(int left, int top, int right, int bottom, int viewWidth,
                          int viewHeight, int pictureWidth, int pictureHeight) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (viewWidth <= 0 || viewHeight <= 0) return {};
    const auto scale = [](int value, int to, int from) { return int(int64_t(value) * to / from); };
    return {scale(left, pictureWidth, viewWidth), scale(top, pictureHeight, viewHeight),
            scale(right, pictureWidth, viewWidth), scale(bottom, pictureHeight, viewHeight)};
}

}  // namespace

// ---- Settings ------------------------------------------------------------------------------

void CKorvexPlayerDoc::HandMotionToPlayer() {
    if (!m_player) return;
    m_player->SetMotionParams(m_motion.sensitivity, m_motion.changedPictures,
                              m_motion.pauseOnMotion);
    m_player->ClearRegions();
    if (!m_motionEnabled) return;
    for (const CaptionRect& region : m_regions)
        m_player->AddRegion(region.left, region.top, region.right, region.bottom);
}

void CKorvexPlayerDoc::OnMotionSetup() {
    MotionSettings settings = m_motion;
    if (!m_ui.runMotionSetup(settings)) return;
    m_motion = settings;
    if (m_player)
        m_player->SetMotionParams(m_motion.sensitivity, m_motion.changedPictures,
                                  m_motion.pauseOnMotion);
}

void CKorvexPlayerDoc::ToggleMotionSearch() {
    m_motionEnabled = !m_motionEnabled;
    if (!m_motionEnabled) {
        m_regions.clear();
        if (m_player) m_player->ClearRegions();
        if (m_caption && m_zoom != ZoomState::Chosen) {
            m_caption->flags &= ~kCaptionMotionRegions;
            m_caption->motion = MotionBlock{};
        }
        if (m_view) m_view->Redraw();
    }
}

void CKorvexPlayerDoc::AddMotionRegion(int left, int top, int right, int bottom, int viewWidth,
                                       int viewHeight) {
    if (!m_player || !m_player->Frame()) return;
    const CaptionRect region =
        viewToPicture(left, top, right, bottom, viewWidth, viewHeight,
                      m_player->Frame()->Width(), m_player->Frame()->Height());
    if (region.width() < 4 || region.height() < 4) {
        m_regions.clear();
        m_player->ClearRegions();
        if (m_caption) {
            m_caption->flags &= ~kCaptionMotionRegions;
            m_caption->motion = MotionBlock{};
        }
    } else {
        if (m_regions.size() >= size_t(MotionBlock::kMaxRegions)) return;
        m_regions.push_back(region);
        HandMotionToPlayer();
        if (m_caption) {
            m_caption->motion = m_player->Motion();
            m_caption->flags |= kCaptionMotionRegions;
        }
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::OnMotionBlock(const MotionBlock& block) {
    if (!m_caption) return;
    m_caption->motion = block;
    if (block.count != 0)
        m_caption->flags |= kCaptionMotionRegions;
    else
        m_caption->flags &= ~kCaptionMotionRegions;
}

void CKorvexPlayerDoc::ClearZoomOutline() {
    if (!m_caption) return;
    m_caption->flags &= ~kCaptionMotionRegions;
    m_caption->motion = MotionBlock{};
}

void CKorvexPlayerDoc::BeginZoomDrag() {
    if (!m_player) return;
    if (m_zoom == ZoomState::None || m_zoom == ZoomState::Chosen) m_zoom = ZoomState::Dragging;
}

void CKorvexPlayerDoc::EndZoomDrag(int left, int top, int right, int bottom, int viewWidth,
                                   int viewHeight) {
    if (!m_player || m_zoom != ZoomState::Dragging || !m_caption) return;
    const CaptionRect rect =
        viewToPicture(left, top, right, bottom, viewWidth, viewHeight,
                      m_player->Frame()->Width(), m_player->Frame()->Height());
    if (rect.width() < 4 || rect.height() < 4) {
        m_zoom = ZoomState::None;
        ClearZoomOutline();
    } else {
        m_zoom = ZoomState::Chosen;
        m_zoomRect = rect;
        MotionBlock outline;
        outline.count = 1;
        outline.regions[0] = {rect.left, rect.top, rect.right, rect.bottom, 0, 0};
        m_caption->motion = outline;
        m_caption->flags |= kCaptionMotionRegions;
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ZoomIn() {
    if (!m_caption || m_zoom != ZoomState::Chosen) return;
    m_zoom = ZoomState::Zoomed;
    ClearZoomOutline();
    m_caption->flags |= kCaptionHidden;
    m_caption->zoom = m_zoomRect;
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ZoomOut() {
    if (!m_caption || m_zoom != ZoomState::Zoomed) return;
    m_zoom = ZoomState::None;
    ClearZoomOutline();
    if (m_captionOn) m_caption->flags &= ~kCaptionHidden;
    m_caption->zoom = m_fullRect;
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ApplyCaptionFlags() {
    if (!m_caption || !m_player || !m_player->Frame()) return;
    const CaptionInfo previous = *m_caption;
    fillRecordingCaption(*m_caption, m_info, m_player->Frame()->Width(),
                         m_player->Frame()->Height(), m_captionSettings);
    m_caption->zoom = previous.zoom;
    m_caption->motion = previous.motion;
    m_caption->flags |= previous.flags & (kCaptionMotionRegions | kCaptionAudio | kCaptionNoVideo);
    if (!m_captionOn || m_zoom == ZoomState::Zoomed) m_caption->flags |= kCaptionHidden;
    SetCaptionFrameTime(m_currentFrameTime ? m_currentFrameTime : m_info.StartTime());
}

void CKorvexPlayerDoc::OnCaptionSetup() {
    uint32_t switches = m_captionSettings.switches;
    if (!m_ui.runCaptionSetup(switches)) return;
    m_captionSettings.switches = switches;
    ApplyCaptionFlags();
    if (m_player) {
        MakeTitlePrefix();
        UpdateStatusTitle();
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::ToggleCaption() {
    if (IsStillPicture()) {
        // A still picture has a caption of its own: its trailer's names over the picture.
        m_pictureCaptionOn = !m_pictureCaptionOn;
        if (m_view) m_view->SetPictureCaption(m_pictureCaptionOn, m_captionSettings.colour);
        return;
    }
    m_captionOn = !m_captionOn;
    if (m_caption) {
        if (m_captionOn && m_zoom != ZoomState::Zoomed)
            m_caption->flags &= ~kCaptionHidden;
        else
            m_caption->flags |= kCaptionHidden;
    }
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::OnCaptionColour() {
    uint32_t colour = m_captionSettings.colour;
    if (!m_ui.chooseColour(colour)) return;
    m_captionSettings.colour = colour;
    if (IsStillPicture() && m_view) m_view->SetPictureCaption(m_pictureCaptionOn, colour);
    if (m_caption)
        m_caption->cameraColour = m_caption->boardColour = m_caption->timeColour =
            m_caption->timeZoneColour = colour;
    if (m_view) m_view->Redraw();
}

void CKorvexPlayerDoc::TogglePlayerPanel() {
    if (m_ui.panelExists()) {
        m_ui.destroyPanel();
        return;
    }
    m_ui.createPanel();
    m_ui.showSpeedLevel(m_speedLevel);
    SetSliderFromInfo();
    if (m_player && m_player->Reader())
        m_ui.setSliderPosition(m_player->Reader()->FirstFrameNumber(
            m_currentGroup, uint32_t(m_currentPosition)));
}

}  // namespace kx
