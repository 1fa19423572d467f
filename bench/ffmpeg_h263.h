// FFmpeg's H.263 encoder and decoder (libavcodec, one thread each) and libswscale's conversion
// of the decoded pictures to packed B, G, R: the peer the native decoders are measured beside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/recorder/yuv_image.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace kx {

// Keeps libavcodec to errors: its encoder warns of every clipped coefficient.
void quietFfmpegLog();

// Encodes pictures of one of H.263's standard sizes (the plain H.263 encoder takes no other)
// at a fixed quantiser (1..31), with a key picture every `keyInterval` pictures and no B
// pictures.
class FfmpegH263Encoder {
public:
    FfmpegH263Encoder(int width, int height, double fps, int quantiser, int keyInterval);
    ~FfmpegH263Encoder();
    FfmpegH263Encoder(const FfmpegH263Encoder&) = delete;
    FfmpegH263Encoder& operator=(const FfmpegH263Encoder&) = delete;

    // False when libavcodec refused the settings; `error()` says why.
    bool ready() const { return m_context != nullptr; }
    const char* error() const { return m_error; }

    // Encodes one picture; the encoder has no delay, so its packet comes out at once. An empty
    // result means the encoder failed.
    std::vector<uint8_t> encode(const YuvImage& picture);

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    int m_keyInterval;
    int m_quality;  // the quantiser in libavcodec's lambda units
    int64_t m_next = 0;
    const char* m_error = "";
};

// Decodes H.263 packets into libavcodec's YUV 4:2:0 picture and, when asked, converts that
// picture to packed B, G, R rows (the layout the player's other decoders write).
class FfmpegH263Decoder {
public:
    FfmpegH263Decoder(int width, int height);
    ~FfmpegH263Decoder();
    FfmpegH263Decoder(const FfmpegH263Decoder&) = delete;
    FfmpegH263Decoder& operator=(const FfmpegH263Decoder&) = delete;

    bool ready() const { return m_context != nullptr; }

    // Decodes one packet; true when a picture came out.
    bool decode(const uint8_t* data, size_t size);
    // The last picture as packed B, G, R rows of 3 x width bytes into `destination`.
    bool convertToBgr24(uint8_t* destination);
    // Luma sample of the last picture.
    uint8_t luma(int x, int y) const;

private:
    int m_width;
    int m_height;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    std::vector<uint8_t> m_input;  // the packet with libavcodec's zero padding
};

}  // namespace kx
