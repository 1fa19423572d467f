// ExportSource: one recording read frame by frame for an export (AVI or MP4): its reader, the
// decoder of its codec (or the legacy decoder of the older kinds), each picture brought to the
// recording's display size as a 24-bit bottom-up bitmap, and each frame's sound as 16-bit PCM.
// Buffers are allocated once at open; one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/frame_decoder.h"
#include "output/avi_picture_fitter.h"
#include "playback/audio_block_decoder.h"
#include "recording/record_frame.h"
#include "recording/record_reader.h"

namespace kx {

enum class ExportCodecs {
    AviSet,  // codecs 0, 1, 2 and 4 only, as the AVI export has always taken
    Any,     // every codec that has a decoder
};

class ExportSource {
public:
    // Opens the recording, reads its first frame and makes its decoder; on failure `detail`
    // says why (naming the file).
    bool open(const std::string& path, ExportCodecs codecs, std::string& detail);

    const CRecordInfo& info() const { return m_info; }
    CRecordReader& reader() { return m_reader; }
    const CRecordFrame& frame() const { return *m_frame; }
    uint32_t totalFrames() const { return m_reader.TotalFrameCount(); }
    // The display size, the size of the bitmaps handed out.
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    // Tick of the first and of the last frame (read at open; equal for a single frame).
    uint32_t firstTick() const { return m_firstTick; }
    uint32_t lastTick() const { return m_lastTick; }

    // Reads the next frame; false (with `detail`) when it cannot be read.
    bool next(std::string& detail);
    bool hasPicture() const;
    // Decodes the current frame's picture into bitmap(): the display size, rows of
    // aviBitmapStride(width) bytes, bottom row first. False when it does not decode: the
    // previous picture stays.
    bool decodePicture();
    const std::vector<uint8_t>& bitmap() const { return m_bitmap; }
    // Decodes the current frame's sound; the samples stay valid until the next call.
    const int16_t* decodeAudio(size_t& samples);

private:
    bool decodeIntoPicture();

    CRecordInfo m_info;
    CRecordReader m_reader;
    std::unique_ptr<CRecordFrame> m_frame;
    bool m_legacy = false;
    FrameDecoder m_decoder;
    int m_codec = 0;
    RgbPicture m_picture;
    AviPictureFitter m_fitter;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_firstTick = 0;
    uint32_t m_lastTick = 0;
    std::vector<uint8_t> m_bitmap;
    AudioBlockDecoder m_audioDecoder;
    uint32_t m_audioPieceBytes = 0;
    std::vector<int16_t> m_pcm;
};

}  // namespace kx
