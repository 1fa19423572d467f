// MPEG-4 Part 2 pictures for codecs 2, 3 and 6: libavcodec's MPEG-4 encoder (codecs 2 and 3)
// or XviD's (codec 6), one coded picture out for each picture in, in coded order.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tools/recorder/yuv_image.h"

namespace kx {

enum class Mpeg4PictureType { I = 0, P = 1, B = 2, S = 3 };

struct Mpeg4EncoderSettings {
    int codec = 2;  // 2 and 3: libavcodec; 6: XviD
    int width = 352;
    int height = 288;
    double fps = 25;
    int quantiser = 6;  // 1 to 31
    int bFrames = 0;    // B pictures between references (codecs 2 and 6)
    bool quarterSample = false;  // quarter-sample motion (codecs 2 and 6)
};

struct Mpeg4Picture {
    std::vector<uint8_t> bytes;
    Mpeg4PictureType type = Mpeg4PictureType::I;
};

class Mpeg4Encoder {
public:
    // The time increment resolution of codec 3 (its fixed layer header's), also used by the
    // other codecs.
    static constexpr int kTimeResolution = 30000;

    // Null with `error` when the settings are refused.
    static std::unique_ptr<Mpeg4Encoder> create(const Mpeg4EncoderSettings& settings, std::string& error);
    virtual ~Mpeg4Encoder() = default;

    // Takes the next source picture in display order as the given type: I starts a closed
    // group, P ends a run of B pictures (and every group: no B picture refers across an I).
    virtual bool send(const YuvImage& picture, Mpeg4PictureType type) = 0;
    // No more pictures: the held-back ones come out.
    virtual bool finish() = 0;
    // The next coded picture in coded order; false when none is ready.
    bool receive(Mpeg4Picture& picture);
    const std::string& error() const { return m_error; }
    // The headers the encoder keeps out of the frames (codec 3's layer header); empty when the
    // frames carry them.
    virtual std::span<const uint8_t> configuration() const { return {}; }

    // The picture type a coded picture names (its first picture header); I when it has none.
    static Mpeg4PictureType typeOf(std::span<const uint8_t> bytes);
    // Display-order picture types of a recording from its key frames: I at each key frame, runs
    // of `bFrames` B pictures each closed by a P, and a P at the end of every group.
    static std::vector<Mpeg4PictureType> planTypes(const std::vector<bool>& keys, int bFrames);

protected:
    std::deque<Mpeg4Picture> m_ready;
    std::string m_error;
};

// XviD's encoder (codec 6).
std::unique_ptr<Mpeg4Encoder> createXvidEncoder(const Mpeg4EncoderSettings& settings, std::string& error);

}  // namespace kx
