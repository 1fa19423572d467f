// The caption's slot table and placement rules.
#include "present/caption_layout.h"

namespace kx {
namespace {

constexpr int kMargin = 5;
constexpr int kLineHeight = 20;
constexpr int kIconSize = 16;

}  // namespace

CaptionRect captionSlot(CaptionElement element) {
    switch (element) {
        case CaptionElement::CameraName:
            return {0, 0, 200, 20};
        case CaptionElement::BoardName:
            return {0, 20, 200, 40};
        case CaptionElement::FrameTime:
            return {0, 40, 200, 60};
        case CaptionElement::StartTime:
            return {0, 60, 200, 80};
        case CaptionElement::EndTime:
            return {0, 80, 200, 100};
        case CaptionElement::Date:
            return {0, 100, 200, 120};
        case CaptionElement::TimeZone:
            return {0, 120, 70, 140};
        case CaptionElement::Loudspeaker:
        case CaptionElement::Hand:
            return {0, 0, kIconSize, kIconSize};
    }
    return {};
}

CaptionRect captionFrame(const CaptionInfo& info, int pictureWidth, int pictureHeight) {
    if (info.flags & kCaptionZoom) return info.zoom;
    return {0, 0, pictureWidth, pictureHeight};
}

CaptionRect placeCaptionElement(CaptionElement element, const CaptionInfo& info,
                                const CaptionRect& frame) {
    const CaptionScale scale = captionScale(info.flags);
    const int widthFactor = scale == CaptionScale::DoubleWidth ? 2 : 1;
    const int sideMargin = kMargin * widthFactor;
    const CaptionRect slot = captionSlot(element);
    const int width = slot.width() * widthFactor;
    const int height = slot.height();
    const auto shown = [&](uint32_t flag) { return (info.flags & flag) ? 1 : 0; };

    CaptionRect place;
    const auto atLeft = [&](int top) {
        place = {frame.left + sideMargin, top, frame.left + sideMargin + width, top + height};
    };
    const auto lineAboveBottom = [&](int linesBelow) {
        const int bottom = frame.bottom - kMargin - kLineHeight * linesBelow;
        place = {frame.left + sideMargin, bottom - height, frame.left + sideMargin + width, bottom};
    };
    switch (element) {
        case CaptionElement::CameraName:
            atLeft(frame.top + 25);
            break;
        case CaptionElement::BoardName:
            atLeft(frame.top + 45);
            break;
        case CaptionElement::EndTime:
            lineAboveBottom(0);
            break;
        case CaptionElement::FrameTime:
            lineAboveBottom(shown(kCaptionEndTime));
            break;
        case CaptionElement::StartTime:
            lineAboveBottom(shown(kCaptionEndTime) + shown(kCaptionFrameTime));
            break;
        case CaptionElement::Date:
            lineAboveBottom(shown(kCaptionEndTime) + shown(kCaptionFrameTime) +
                            shown(kCaptionStartTime));
            break;
        case CaptionElement::TimeZone: {
            const int right = frame.right - sideMargin;
            place = {right - width, frame.top + kMargin, right, frame.top + kMargin + height};
            break;
        }
        case CaptionElement::Loudspeaker:
            place = {frame.right - width, frame.bottom - height, frame.right, frame.bottom};
            break;
        case CaptionElement::Hand:
            place = {frame.right - width, frame.top, frame.right, frame.top + height};
            break;
    }
    if (scale == CaptionScale::Half)
        place = {place.left / 2, place.top / 2, place.right / 2, place.bottom / 2};
    return place;
}

}  // namespace kx
