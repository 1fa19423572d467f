// The player's own media viewer control over libavcodec, registered under the viewer's name:
// member 3 takes the media-type block (the FourCC of its subtype names the stream), members 9
// and 7 take samples, and each decoded video picture is raised as "OnDecodedImage32" with
// format 1 (packed B, G, R, top row first).
#include <cstring>

#include "platform/camera_components.h"
#include "platform/ffmpeg/camera_stream_decoder.h"

namespace kx {
namespace {

// The subtype GUID of a media type starts at byte 16; its first word is the FourCC.
constexpr size_t kSubtypeOffset = 16;

uint32_t fourCc(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

CameraStreamKind kindOfMediaType(DispatchBytes block) {
    if (!block.data || block.size < kSubtypeOffset + 4) return CameraStreamKind::Unknown;
    uint32_t code = 0;
    std::memcpy(&code, block.data + kSubtypeOffset, 4);
    // FourCCs compare without regard to case.
    code &= ~0x20202020u;
    if (code == fourCc("MJPG")) return CameraStreamKind::Jpeg;
    if (code == fourCc("MP4V") || code == fourCc("XVID") || code == fourCc("DIVX")) return CameraStreamKind::Mpeg4;
    // The digits of "H264" and "AVC1" lose the same bit as the letters.
    if (code == (fourCc("H264") & ~0x20202020u) || code == (fourCc("AVC1") & ~0x20202020u))
        return CameraStreamKind::H264;
    return CameraStreamKind::Unknown;
}

using namespace media_viewer;

class OwnMediaViewer final : public DispatchControl {
public:
    DispatchResult invoke(int32_t member, DispatchKind kind, std::span<const DispatchValue> arguments) override {
        switch (member) {
            case kLiveOption:
            case kBuffering:
                return expect(kind == DispatchKind::PropertyPut && arguments.size() == 1);
            case kMediaType: {
                if (kind != DispatchKind::Method || arguments.size() != 4 ||
                    !std::holds_alternative<DispatchBytes>(arguments[1]))
                    return failure("Invalid media type arguments");
                m_kind = kindOfMediaType(std::get<DispatchBytes>(arguments[1]));
                if (std::holds_alternative<uintptr_t>(arguments[2]))
                    if (const auto* host = reinterpret_cast<const CameraScreen*>(std::get<uintptr_t>(arguments[2])))
                        m_decoder.setOutputSize(int(host->width), int(host->height));
                m_haveMediaType = true;
                return {};
            }
            case kQuery: return expect(kind == DispatchKind::Method);
            case kStart:
                if (!m_haveMediaType) return failure("No media type");
                m_running = true;
                return {};
            case kBeginSample:
                if (!m_haveMediaType) return failure("No media type");
                m_running = true;
                return {};
            case kStop:
                m_running = false;
                return {};
            case kState: return {true, DispatchValue(int32_t(m_running ? kRunningBit : 0)), {}};
            case kRenderVideo: return render(arguments, true);
            case kRenderOther: return render(arguments, false);
            default: return failure("Unknown member");
        }
    }

    bool connect(std::string_view interfaceId, DispatchEventSink* sink) override {
        if (interfaceId != kMediaViewerEventsId) return false;
        m_sink = sink;
        return true;
    }

    void disconnect() override { m_sink = nullptr; }

private:
    static DispatchResult failure(const char* text) { return {false, {}, text}; }
    static DispatchResult expect(bool valid) { return valid ? DispatchResult{} : failure("Invalid arguments"); }

    // Arguments: flags, start low, start high, stop low, stop high, sample bytes. Other samples
    // (sound, metadata) give no picture.
    DispatchResult render(std::span<const DispatchValue> arguments, bool video) {
        if (arguments.size() != 6 || !std::holds_alternative<DispatchBytes>(arguments[5]))
            return failure("Invalid sample arguments");
        if (!m_running) return failure("Not running");
        if (!video) return {};
        const DispatchBytes sample = std::get<DispatchBytes>(arguments[5]);
        if (!sample.data || sample.size == 0) return {};
        m_decoder.decode({sample.data, sample.size}, m_kind, [this] {
            if (!m_sink) return;
            const auto& picture = m_decoder.bgr();
            const DispatchValue event[] = {int32_t(kFormatBgr24), DispatchBytes{picture.data(), picture.size()},
                                           int32_t(m_decoder.width()), int32_t(m_decoder.height())};
            m_sink->onEvent("OnDecodedImage32", event);
        });
        return {};
    }

    CameraStreamDecoder m_decoder{cameraPictureLimit()};
    CameraStreamKind m_kind = CameraStreamKind::Unknown;
    bool m_haveMediaType = false;
    bool m_running = false;
    DispatchEventSink* m_sink = nullptr;
};

}  // namespace

ControlRegistry& ControlRegistry::process() {
    static ControlRegistry registry;
    static const bool registered = [] {
        registry.add(kMediaViewerProgId, [] { return std::make_unique<OwnMediaViewer>(); });
        return true;
    }();
    (void)registered;
    return registry;
}

}  // namespace kx
