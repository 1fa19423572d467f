// Where each element of a caption goes on the picture: the text slots it is rendered into and
// the place it is copied to, from the caption's flags, zoom rectangle and scale mode.
#pragma once

#include <array>

#include "present/caption_info.h"

namespace kx {

enum class CaptionElement {
    CameraName,
    BoardName,
    FrameTime,
    StartTime,
    EndTime,
    Date,
    TimeZone,
    Loudspeaker,
    Hand,
};

// The text elements in the order they are drawn, with the flag that shows each.
struct CaptionTextElement {
    CaptionElement element;
    uint32_t flag;
};
inline constexpr std::array<CaptionTextElement, 7> kCaptionTextElements{{
    {CaptionElement::CameraName, kCaptionCameraName},
    {CaptionElement::BoardName, kCaptionBoardName},
    {CaptionElement::FrameTime, kCaptionFrameTime},
    {CaptionElement::StartTime, kCaptionStartTime},
    {CaptionElement::EndTime, kCaptionEndTime},
    {CaptionElement::Date, kCaptionDate},
    {CaptionElement::TimeZone, kCaptionTimeZone},
}};

// The text surface the caption texts are rendered into, and each text element's slot in it.
constexpr int kTextSurfaceWidth = 320;
constexpr int kTextSurfaceHeight = 148;
CaptionRect captionSlot(CaptionElement element);

// The rectangle R the caption is placed in, in picture pixels: the zoom rectangle when the zoom
// flag is set, otherwise the whole picture.
CaptionRect captionFrame(const CaptionInfo& info, int pictureWidth, int pictureHeight);

// Where `element` is drawn, in picture pixels, for frame R. Left-aligned texts stand 5 pixels in
// from R's left edge; the time lines stack upwards from 5 pixels above R's bottom, 20 pixels a
// line, skipping the lines that are hidden. Scale mode DoubleWidth doubles the width of texts and
// icons and the margin from R's side edges; Half halves every coordinate and size.
CaptionRect placeCaptionElement(CaptionElement element, const CaptionInfo& info,
                                const CaptionRect& frame);

}  // namespace kx
