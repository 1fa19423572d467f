// XvidMpeg4Decoder (codec 6): MPEG-4 Part 2 frames decoded by the XviD library into U, Y0, V, Y1
// pictures, converted to packed B, G, R.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/video_decoder.h"

namespace kx {

// The two entry points of the XviD library the decoder calls, so that tests can stand between
// the decoder and the library. The default forwards to libxvidcore.
class XvidCore {
public:
    virtual ~XvidCore() = default;
    virtual int global(int operation, void* param1, void* param2);
    virtual int decore(void* handle, int operation, void* param1, void* param2);
};

class XvidMpeg4Decoder final : public VideoDecoder {
public:
    // The structure version given in every call (the library's interface 1.1).
    static constexpr int kStructureVersion = 0x010100;
    // Library initialisation: the CPU flags forced with no instruction-set bit, so that the
    // library runs its plain code on every machine.
    static constexpr unsigned kForcedPlainCpu = 0x80000000u;

    // `width` x `height` is the recording's picture size (from its header).
    XvidMpeg4Decoder(uint32_t width, uint32_t height, std::unique_ptr<XvidCore> core = nullptr);
    ~XvidMpeg4Decoder() override;

    // Decodes the frame's layer headers and picture. True when a picture came out, which is
    // then written into `picture`. False leaves the previous picture, both in the decoder's
    // own buffer and in `picture`: no decoder (creation is tried again with the next frame),
    // no picture in the frame or held back by the library (B pictures), a frame whose layer
    // header names a picture larger than the recording's, or a `picture` of another size.
    bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) override;

    // In streams with B pictures the library holds each reference picture and hands it out with
    // the next frame: after a jump the picture it hands out first belongs to where playback was,
    // so that one is not shown (the frame reports a held-back picture). The library itself is
    // kept, with the layer header it has seen.
    void restart() override { m_dropStale = m_everHeldBack; }
    bool holdsPictures() const override { return m_everHeldBack; }

    // The last frame decoded without fault but its picture is held back by the library until
    // the next one (a reference picture before B pictures).
    bool lastPictureHeldBack() const override { return m_heldBack; }
    // Calls of the library's decode operation for the last frame.
    int lastDecodeCalls() const { return m_decodeCalls; }

private:
    bool initialise();

    uint32_t m_width;
    uint32_t m_height;
    std::unique_ptr<XvidCore> m_core;
    bool m_initialised = false;
    void* m_handle = nullptr;
    std::vector<uint8_t> m_picture;    // U, Y0, V, Y1, width x height x 2 bytes, allocated once
    std::vector<uint8_t> m_bitstream;  // the frame with zero padding behind it for the library's reader
    // The size the library decodes at, from the last layer header it reported: while it is
    // larger than the buffer, pictures are decoded without output.
    uint32_t m_streamWidth;
    uint32_t m_streamHeight;
    bool m_heldBack = false;
    bool m_everHeldBack = false;  // the library held a picture back at least once
    bool m_dropStale = false;     // the next picture out is the one held from before a jump
    int m_decodeCalls = 0;
};

}  // namespace kx
