// AxisDecoder (codec 8): a network camera's samples, each frame a media-type block and one
// sample, rendered by the media viewer control, whose decoded image comes back as an event.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/video_decoder.h"
#include "platform/dispatch_control.h"
#include "platform/snc_library.h"

namespace kx {

// The fields of a codec-8 frame: a media-type block and one sample, all numbers 32-bit
// little-endian. Views into the frame's bytes.
struct AxisFrame {
    static constexpr uint32_t kVideoSample = 300;
    // Bytes of the fixed fields: n, then kind, flags, start and stop (two words each), m.
    static constexpr uint32_t kFixedBytes = 32;

    const uint8_t* mediaType = nullptr;
    uint32_t mediaTypeBytes = 0;
    uint32_t kind = 0;
    uint32_t flags = 0;
    uint32_t startLow = 0, startHigh = 0, stopLow = 0, stopHigh = 0;
    const uint8_t* sample = nullptr;
    uint32_t sampleBytes = 0;

    // False when the lengths n and m run past the frame.
    static std::optional<AxisFrame> parse(const uint8_t* data, uint32_t length);
};

class AxisDecoder final : public VideoDecoder, private DispatchEventSink {
public:
    // `width` x `height` is the recording's picture size; the control named by `progId` is created
    // through `registry`.
    AxisDecoder(uint32_t width, uint32_t height, ControlRegistry& registry = ControlRegistry::process(),
                std::chrono::milliseconds samplePause = std::chrono::milliseconds(1));
    ~AxisDecoder() override;

    // Writes the control's image bytes (packed B, G, R, top row first from the player's own
    // control) into `picture`; false leaves the previous picture.
    bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) override;

    // The control's first automation error, for the application layer to show once; empty when
    // there is none, or when it was taken already.
    std::string takeMessage() override;
    bool hasControl() const { return m_control != nullptr; }

private:
    void onEvent(std::string_view name, std::span<const DispatchValue> arguments) override;
    // False on an automation error (recorded for takeMessage).
    bool call(int32_t member, DispatchKind kind, std::span<const DispatchValue> arguments,
              DispatchValue* result = nullptr);
    void startControl(const AxisFrame& frame);

    uint32_t m_width;
    uint32_t m_height;
    CameraScreen m_host;
    std::chrono::milliseconds m_samplePause;
    std::unique_ptr<DispatchControl> m_control;
    bool m_connected = false;
    bool m_started = false;
    std::vector<uint8_t> m_image;
    uint32_t m_bytesPerPixel = 0;
    std::string m_message;
    bool m_messageGiven = false;
};

}  // namespace kx
