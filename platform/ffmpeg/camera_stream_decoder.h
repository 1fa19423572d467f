// Decoding of what network cameras send (JPEG, MPEG-4 Part 2, H.264 Annex B) with libavcodec,
// into packed B, G, R rows, top row first: the engine of the player's own camera components.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace kx {

enum class CameraStreamKind { Unknown, Jpeg, Mpeg4, H264 };

// The kind of stream `data` starts or continues, from its start codes; Unknown when none fits.
CameraStreamKind recogniseCameraStream(std::span<const uint8_t> data);

class CameraStreamDecoder {
public:
    // Pictures larger than `maxSide` on either side are refused.
    explicit CameraStreamDecoder(int maxSide);
    ~CameraStreamDecoder();
    CameraStreamDecoder(const CameraStreamDecoder&) = delete;
    CameraStreamDecoder& operator=(const CameraStreamDecoder&) = delete;

    // Decodes the pictures in `data` (one or more whole pictures of a stream of `kind`; Unknown
    // recognises it); `onPicture` is called for each picture the decoder gives, while bgr() holds
    // it. Returns false when the data could not be decoded at all.
    bool decode(std::span<const uint8_t> data, CameraStreamKind kind, const std::function<void()>& onPicture);

    // Pictures come out at this size (0 x 0: the stream's own).
    void setOutputSize(int width, int height);

    // The last picture: packed B, G, R, 3 x width bytes a row, top row first.
    const std::vector<uint8_t>& bgr() const { return m_bgr; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    CameraStreamKind kind() const { return m_kind; }

private:
    bool open(CameraStreamKind kind);
    void close();
    bool sendPacket(std::span<const uint8_t> data, const std::function<void()>& onPicture);
    bool convert();

    int m_maxSide;
    CameraStreamKind m_kind = CameraStreamKind::Unknown;
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    std::vector<uint8_t> m_padded;
    std::vector<uint8_t> m_bgr;
    int m_width = 0;
    int m_height = 0;
    int m_outputWidth = 0;
    int m_outputHeight = 0;
};

}  // namespace kx
