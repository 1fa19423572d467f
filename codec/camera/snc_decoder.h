// SncDecoder (codec 7): a network camera's stream fed to the SNC stream library, which decodes it
// and hands the picture back through its decoded-picture notification.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/video_decoder.h"
#include "platform/snc_library.h"

namespace kx {

class SncDecoder final : public VideoDecoder {
public:
    // The first 8 bytes of a frame: the stream's memory settings for the library.
    static constexpr uint32_t kStreamHeaderBytes = 8;

    // `width` x `height` is the recording's picture size. `writePause` is the pause after each
    // write, which lets a library's own threads take the bytes.
    SncDecoder(uint32_t width, uint32_t height, std::unique_ptr<SncComponent> component,
               std::chrono::milliseconds writePause = std::chrono::milliseconds(1));
    ~SncDecoder() override;

    // Writes the library's picture bytes (packed B, G, R, top row first from the player's own
    // component) into `picture`; false leaves the previous picture.
    bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) override;
    // Once, after the libraries first fail to load: that the recording plays without pictures.
    std::string takeMessage() override;

private:
    static void onDecodedPicture(void* context);
    bool prepare();
    bool start(const uint8_t* header);

    const SncEntryPoints& api() const { return m_component->entryPoints(); }

    uint32_t m_width;
    uint32_t m_height;
    std::unique_ptr<SncComponent> m_component;
    std::chrono::milliseconds m_writePause;
    CameraScreen m_screen;
    int32_t m_camera = -1;
    bool m_loaded = false;
    bool m_ready = false;
    bool m_started = false;
    std::atomic<bool> m_stopping{false};
    std::vector<uint8_t> m_pictureBuffer;
    uint32_t m_pictureLength = 0;
    bool m_pictureAvailable = false;
    bool m_loadFailureTold = false;
    std::string m_message;
};

}  // namespace kx
