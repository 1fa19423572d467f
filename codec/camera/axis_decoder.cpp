// AxisDecoder: the frame layout, the member calls of the media viewer control in their order, and
// the decoded image taken from its "OnDecodedImage32" event.
#include "codec/camera/axis_decoder.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/camera_components.h"
#include "recording/byte_order.h"
#include "recording/record_frame.h"

namespace kx {
using namespace media_viewer;

std::optional<AxisFrame> AxisFrame::parse(const uint8_t* data, uint32_t length) {
    if (!data || length < kFixedBytes) return std::nullopt;
    AxisFrame f;
    f.mediaTypeBytes = loadLe32(data);
    // 64-bit sums: n and m near 2^32 must not wrap back inside the frame.
    if (uint64_t(kFixedBytes) + f.mediaTypeBytes > length) return std::nullopt;
    const uint8_t* p = data + 4 + f.mediaTypeBytes;
    f.mediaType = data + 4;
    f.kind = loadLe32(p);
    f.flags = loadLe32(p + 4);
    f.startLow = loadLe32(p + 8);
    f.startHigh = loadLe32(p + 12);
    f.stopLow = loadLe32(p + 16);
    f.stopHigh = loadLe32(p + 20);
    f.sampleBytes = loadLe32(p + 24);
    if (uint64_t(kFixedBytes) + f.mediaTypeBytes + f.sampleBytes > length) return std::nullopt;
    f.sample = p + 28;
    return f;
}

AxisDecoder::AxisDecoder(uint32_t width, uint32_t height, ControlRegistry& registry,
                         std::chrono::milliseconds samplePause)
    : m_width(width), m_height(height), m_host{width, height}, m_samplePause(samplePause), m_control(registry.create(kMediaViewerProgId)) {
    // No window hosts the control here: the handle it is given (member 3) points to the
    // recording's picture size, in which the pictures are wanted. A control that cannot be
    // created leaves the decoder without pictures.
    if (m_control) m_connected = m_control->connect(kMediaViewerEventsId, this);
}

AxisDecoder::~AxisDecoder() {
    if (!m_control) return;
    DispatchValue state;
    if (call(kState, DispatchKind::PropertyGet, {}, &state) && std::holds_alternative<int32_t>(state) &&
        (std::get<int32_t>(state) & kRunningBit))
        call(kStop, DispatchKind::Method, {});
    if (m_connected) m_control->disconnect();
    m_control.reset();
}

bool AxisDecoder::call(int32_t member, DispatchKind kind, std::span<const DispatchValue> arguments,
                       DispatchValue* result) {
    DispatchResult outcome = m_control->invoke(member, kind, arguments);
    if (!outcome.ok) {
        if (m_message.empty() && !m_messageGiven) m_message = outcome.error.empty() ? "Automation error" : outcome.error;
        return false;
    }
    if (result) *result = outcome.value;
    return true;
}

std::string AxisDecoder::takeMessage() {
    if (m_message.empty()) return {};
    m_messageGiven = true;
    return std::exchange(m_message, {});
}

void AxisDecoder::startControl(const AxisFrame& f) {
    const DispatchValue live[] = {false};
    const DispatchValue buffering[] = {int16_t(1)};
    const DispatchValue mediaType[] = {int32_t(0), DispatchBytes{f.mediaType, f.mediaTypeBytes},
                                       reinterpret_cast<uintptr_t>(&m_host), int32_t(0)};
    const DispatchValue outputs[] = {int32_t(0), int32_t(0)};
    const DispatchValue start[] = {int32_t(0), int32_t(5), int32_t(0), int32_t(0)};
    m_started = true;
    // An automation error ends the sequence; the decoder goes on to the picture step.
    call(kLiveOption, DispatchKind::PropertyPut, live) && call(kBuffering, DispatchKind::PropertyPut, buffering) &&
        call(kMediaType, DispatchKind::Method, mediaType) && call(kQuery, DispatchKind::Method, outputs) &&
        call(kStart, DispatchKind::Method, start);
}

bool AxisDecoder::decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) {
    if (!m_control) return false;
    const uint32_t length = uint32_t(std::min<size_t>(frame.VideoLength(), frame.VideoCapacity()));
    const auto parsed = AxisFrame::parse(frame.VideoBuffer(), length);
    if (!parsed) return false;
    const AxisFrame& f = *parsed;
    if (!m_started) startControl(f);

    const DispatchValue sample[] = {int32_t(f.flags),    int32_t(f.startLow), int32_t(f.startHigh),
                                    int32_t(f.stopLow),  int32_t(f.stopHigh), DispatchBytes{f.sample, f.sampleBytes}};
    if (call(kBeginSample, DispatchKind::Method, {}) &&
        call(f.kind == AxisFrame::kVideoSample ? kRenderVideo : kRenderOther, DispatchKind::Method, sample)) {
        if (m_samplePause.count() > 0) std::this_thread::sleep_for(m_samplePause);
        call(kStop, DispatchKind::Method, {});
    }

    if (m_image.empty() || m_bytesPerPixel == 0) return false;
    uint8_t* pixels = picture.pixels();
    if (!pixels) return false;
    const size_t wanted = size_t(m_width) * m_height * m_bytesPerPixel;
    const size_t bytes = std::min({wanted, m_image.size(), picture.byteCount()});
    std::memcpy(pixels, m_image.data(), bytes);
    return true;
}

void AxisDecoder::onEvent(std::string_view name, std::span<const DispatchValue> arguments) {
    if (name != "OnDecodedImage32" || arguments.size() < 2) return;
    if (!std::holds_alternative<int32_t>(arguments[0]) || !std::holds_alternative<DispatchBytes>(arguments[1])) return;
    const int32_t format = std::get<int32_t>(arguments[0]);
    const uint32_t bytesPerPixel = format == kFormatBgr24 ? 3 : format == kFormatBgra32 ? 4 : 0;
    if (bytesPerPixel == 0) return;
    const DispatchBytes image = std::get<DispatchBytes>(arguments[1]);
    if (!image.data || image.size == 0) return;
    // The event's bytes live only as long as the event; the decoder keeps its own copy, of at
    // most one picture of the recording's size.
    const size_t kept = std::min(image.size, size_t(m_width) * m_height * bytesPerPixel);
    m_image.assign(image.data, image.data + kept);
    m_bytesPerPixel = bytesPerPixel;
}

}  // namespace kx
