// Camera streams for codecs 7 and 8: pictures coded by libavcodec's JPEG, MPEG-4 Part 2 or
// H.264 encoder, as a network camera sends them, each wrapped in the frame layout of its codec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/recorder/yuv_image.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace kx {

enum class CameraStream { Jpeg, Mpeg4, H264 };

class CameraStreamEncoder {
public:
    // `codec` is 7 (8-byte stream header, then the stream) or 8 (media-type block and one sample).
    CameraStreamEncoder(int codec, CameraStream stream, int width, int height, double fps);
    ~CameraStreamEncoder();
    CameraStreamEncoder(const CameraStreamEncoder&) = delete;
    CameraStreamEncoder& operator=(const CameraStreamEncoder&) = delete;

    // False (with error()) when libavcodec has no such encoder or refuses the settings.
    bool open();
    // Codes `picture` (a key picture when `key`) into `frameBytes`, the whole video part of a
    // frame in the codec's layout. False with error() on failure.
    bool encode(const YuvImage& picture, uint32_t index, bool key, std::vector<uint8_t>& frameBytes);
    const std::string& error() const { return m_error; }

    // The media-type block of codec 8: a 32-bit media type record (video, the stream's FourCC as
    // subtype, video-info format) followed by its video-info header.
    static std::vector<uint8_t> mediaTypeBlock(CameraStream stream, int width, int height);
    static const char* fourCcOf(CameraStream stream);

private:
    int m_codec;
    CameraStream m_stream;
    int m_width;
    int m_height;
    double m_fps;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::vector<uint8_t> m_mediaType;
    std::string m_error;
};

}  // namespace kx
