// SncDecoder: loading and preparing the library on the first frame, starting the stream with the
// frame header's memory settings, feeding the stream bytes and taking the decoded picture.
#include "codec/camera/snc_decoder.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "recording/byte_order.h"
#include "recording/record_frame.h"

namespace kx {

SncDecoder::SncDecoder(uint32_t width, uint32_t height, std::unique_ptr<SncComponent> component,
                       std::chrono::milliseconds writePause)
    : m_width(width), m_height(height), m_component(std::move(component)), m_writePause(writePause),
      m_screen{width, height} {}

SncDecoder::~SncDecoder() {
    m_stopping = true;
    m_pictureBuffer = {};
    if (m_camera != -1) {
        // An empty write lets the library finish what it holds before the handle goes.
        uint32_t consumed = 0;
        api().stream.sncWriteVideoStream(m_camera, nullptr, 0, &consumed);
        api().stream.sncFinalize(m_camera);
        api().core.sncCloseCameraHandle(m_camera);
    }
    if (m_loaded) m_component->unload();
}

bool SncDecoder::prepare() {
    if (!m_component) return false;
    if (!m_loaded) {
        // Both libraries or none: the core library is never called when it did not load. A
        // failure is tried again with the next frame.
        if (!m_component->load()) {
            if (!m_loadFailureTold) {
                m_loadFailureTold = true;
                m_message = "The camera libraries libsncstrm.so and libsnccore.so beside the program cannot be "
                            "used: this recording plays without pictures.";
            }
            return false;
        }
        m_loaded = true;
    }
    const auto& s = api().stream;
    if (m_camera == -1) {
        m_camera = api().core.sncOpenCameraHandle();
        if (m_camera == -1) return false;
    }
    s.sncInitialize(m_camera);
    // The screen: the recording's picture size, in which the pictures are wanted.
    s.sncCreateScreen(m_camera, reinterpret_cast<uintptr_t>(&m_screen), 0, 0, 0, 0);
    s.sncEnableVideoStream(m_camera, 1);
    s.sncEnableVideoPlay(m_camera, 1);
    s.sncEnableAudioStream(m_camera, 1);
    s.sncEnableAudioPlay(m_camera, 1);
    m_ready = true;
    return true;
}

bool SncDecoder::start(const uint8_t* header) {
    const auto& s = api().stream;
    const uint32_t settings[2] = {loadLe32(header), 0};
    if (api().core.snccSetMemory(m_camera, settings, loadLe32(header + 4)) != 0) return false;
    s.sncEnableVideoStream(m_camera, 1);
    s.sncEnableVideoPlay(m_camera, 1);
    s.sncEnableAudioStream(m_camera, 0);
    s.sncEnableAudioPlay(m_camera, 0);
    s.sncSetCallBack(m_camera, kSncDecodedVideoNotification, &SncDecoder::onDecodedPicture, this);
    if (s.sncStart(m_camera) != 0) return false;
    m_started = true;
    return true;
}

bool SncDecoder::decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) {
    const uint32_t length = uint32_t(std::min<size_t>(frame.VideoLength(), frame.VideoCapacity()));
    if (length < kStreamHeaderBytes || !frame.VideoBuffer()) return false;
    if (!m_ready && !prepare()) return false;
    if (!m_started && !start(frame.VideoBuffer())) return false;
    if (m_stopping) return false;

    const uint8_t* data = frame.VideoBuffer();
    bool writeFailed = false;
    for (uint32_t offset = kStreamHeaderBytes; offset < length && !m_stopping;) {
        uint32_t consumed = 0;
        writeFailed = api().stream.sncWriteVideoStream(m_camera, data + offset, length - offset, &consumed) != 0;
        if (m_writePause.count() > 0) std::this_thread::sleep_for(m_writePause);
        // A library that takes nothing, or claims more than it was given, would hold the loop
        // for ever or run it past the frame.
        if (writeFailed || consumed == 0 || consumed > length - offset) {
            writeFailed = true;
            break;
        }
        offset += consumed;
    }
    if (m_stopping || writeFailed || m_pictureBuffer.empty() || !m_pictureAvailable) return false;
    uint8_t* pixels = picture.pixels();
    if (!pixels) return false;
    const size_t bytes = std::min({size_t(m_pictureLength), m_pictureBuffer.size(), picture.byteCount()});
    std::memcpy(pixels, m_pictureBuffer.data(), bytes);
    return true;
}

std::string SncDecoder::takeMessage() { return std::exchange(m_message, {}); }

void SncDecoder::onDecodedPicture(void* context) {
    auto* self = static_cast<SncDecoder*>(context);
    if (!self || self->m_stopping) return;
    const size_t bytes = size_t(self->m_width) * self->m_height * 4;
    if (bytes == 0 || bytes > UINT32_MAX) return;
    if (self->m_pictureBuffer.size() != bytes) self->m_pictureBuffer.assign(bytes, 0);
    self->m_pictureAvailable = false;
    SncPictureRequest request;
    request.buffer = self->m_pictureBuffer.data();
    request.bufferBytes = uint32_t(bytes);
    uint32_t length = 0;
    if (self->api().stream.sncGetCurrentDecVideo(self->m_camera, &request, &length) != 0) return;
    self->m_pictureLength = std::min(length, request.bufferBytes);
    self->m_pictureAvailable = true;
}

}  // namespace kx
