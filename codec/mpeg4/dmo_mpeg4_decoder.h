// DmoMpeg4Decoder (codec 3): MPEG-4 Part 2 frames handed to the MPEG-4 decoder media object,
// whose U, Y0, V, Y1 pictures are converted to packed B, G, R.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codec/video_decoder.h"
#include "platform/media_object.h"

namespace kx {

class DmoMpeg4Decoder final : public VideoDecoder {
public:
    // Codec-3 frames carry no layer header: the media object is given this one, a video object
    // and a video object layer header for 320 x 240, whatever the recording's size (the media
    // types carry the real size).
    static constexpr std::array<uint8_t, 20> kDecoderConfiguration = {
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0x84,
        0x5D, 0x4C, 0x28, 0x50, 0x20, 0xF0, 0xA3, 0x1F, 0x00, 0x00};
    // The input media buffer's capacity: a longer frame is refused (no picture).
    static constexpr uint32_t kInputBufferBytes = 32768;
    static constexpr uint32_t kBitRate = 1026378;

    using MediaObjectFactory = std::function<std::unique_ptr<MediaObject>()>;
    explicit DmoMpeg4Decoder(MediaObjectFactory factory = createMpeg4DecoderObject);
    ~DmoMpeg4Decoder() override;

    // The first frame sets up the media object for the picture's size (tried again with the
    // next frame on failure). True when the object gave a picture, which is then written into
    // `picture`; false leaves the previous picture: no output yet, a frame longer than the
    // input buffer, a picture whose size is not the one the object was set up for.
    bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) override;

    // The media types given to the object for a picture size.
    static MediaType inputType(uint32_t width, uint32_t height);
    static MediaType outputType(uint32_t width, uint32_t height);

private:
    bool create(uint32_t width, uint32_t height);
    void release();

    MediaObjectFactory m_factory;
    std::unique_ptr<MediaObject> m_object;
    MediaBufferRef m_input;
    MediaBufferRef m_output;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    std::vector<uint8_t> m_picture;  // the last U, Y0, V, Y1 picture, width x height x 2 bytes
    bool m_initialised = false;
};

}  // namespace kx
