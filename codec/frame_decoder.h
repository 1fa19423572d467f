// FrameDecoder: decodes the frames of one recording into pictures the way the player does --
// the legacy decoder for the older kinds 0 to 2, otherwise the decoder of the first frame's
// codec -- tells a whole picture from a damaged or a missing one, and copies a picture upright.
// The play engine, the AVI export and kxtool decode share it. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/legacy/legacy_decoder.h"
#include "codec/video_decoder.h"

namespace kx {

enum class FrameDecode {
    Whole,    // the picture decoded from complete data
    Damaged,  // written, but its data ended early or broke off part way: part of it is missing
    Failed,   // no picture: the previous one stays
    NotYet,   // the codec holds this frame's picture back (avc display order): nothing is wrong
};

class FrameDecoder {
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // Chooses the decoder for a recording of `fileKind` whose first frame names `codec` (the
    // legacy decoder's variant comes from the header's `version`). False, with `reason`, when
    // there is none.
    // The XviD codec (6) and the network-camera codecs (7, 8) also need the recording's picture size.
    bool setup(int fileKind, uint32_t version, int codec, std::string& reason, uint32_t width = 0,
               uint32_t height = 0);
    void reset();
    // Playback jumped: the codec forgets the pictures it holds for display order.
    void restart() {
        if (m_decoder) m_decoder->restart();
    }
    bool holdsPictures() const { return m_decoder && m_decoder->holdsPictures(); }
    bool ready() const { return m_decoder || m_legacy; }
    bool isLegacy() const { return m_legacy != nullptr; }

    // Decodes `frame` into `picture`. A codec decoder writes in its own layout at the picture's
    // size (the avc codec through decodeInto with `deblocking`). The legacy
    // decoder gives packed B, G, R at the size its stream names: `picture` takes that size (its
    // store is kept while the size stays) and the picture as far as it decoded, as the player
    // shows it. A frame flagged as carrying no picture is Whole and changes nothing.
    FrameDecode decode(const CRecordFrame& frame, RgbPicture& picture, Deblocking deblocking = Deblocking::On);
    // Why the last decode was not Whole.
    const std::string& failureText() const { return m_failure; }

    VideoDecoder* decoder() const { return m_decoder.get(); }
    LegacyDecoder* legacyDecoder() const { return m_legacy.get(); }

private:
    int m_fileKind = 0;
    std::unique_ptr<VideoDecoder> m_decoder;
    std::unique_ptr<LegacyDecoder> m_legacy;
    std::vector<uint8_t> m_legacyOutput;  // allocated once, kMaxOutputBytes
    LegacyDecodeResult m_legacyResult;
    std::string m_failure;
};

// Copies `picture`, decoded from a frame with `frameFlags` of a recording of `fileKind`, upright
// as B, G, R rows, top row first, into `bgr` (width x height x 3 bytes). False, nothing
// written, when the layout of the picture is not known.
bool uprightBgr(const RgbPicture& picture, int fileKind, uint16_t frameFlags, uint8_t* bgr);

}  // namespace kx
