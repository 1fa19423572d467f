// Mpeg4VideoDecoder: the decoder of codec 2. It creates the MPEG-4 engine for the recording's
// picture size on the first frame (six memory blocks, post-processing off) and writes each
// picture the engine gives as packed B, G, R rows into the frame's RgbPicture or a caller's
// buffer.
//
// Display order: in streams with B pictures an anchor (I or P) picture is held back until the
// next anchor arrives, B pictures are shown at once; a frame whose picture is held back writes
// nothing and reports lastPictureHeldBack(). The last anchor of a recording therefore stays held: the
// player and kxtool show every picture but that one, which flushHeld() hands out on request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "codec/mpeg4/mpeg4_engine.h"
#include "codec/video_decoder.h"

namespace kx {

class Mpeg4VideoDecoder : public VideoDecoder {
public:
    Mpeg4VideoDecoder();
    ~Mpeg4VideoDecoder() override;

    // Creates the engine if needed (a first frame that is not a key frame then gives nothing),
    // decodes and writes the picture into `picture` (rows of 3 x width bytes). False when no
    // picture was written: the previous one stays.
    bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) override;
    // The same into `destination`, rows of 3 x destinationWidth bytes, as many rows as the
    // recording's picture has.
    bool decodeToBuffer(const CRecordFrame& frame, uint8_t* destination, uint32_t destinationWidth) override;
    bool lastPictureDamaged() const override { return m_info.dataBrokeOff && m_shown; }

    // Writes the held anchor picture, if any, into `picture`.
    bool flushHeld(RgbPicture& picture);
    void restart() override {
        if (m_engine) m_engine->restart();
    }
    bool holdsPictures() const override { return m_engine && m_engine->reordersPictures(); }

    // The engine's result and outcome of the last frame.
    int lastResult() const { return m_result; }
    const Mpeg4DecodeInfo& lastInfo() const { return m_info; }
    // True when the last frame gave no picture for a reason that is not a fault: its picture
    // is held back for display order, it is a B picture whose references are not there
    // (after a start at a key frame), a not-coded picture (the previous one stays), or it was
    // the first frame and not a key frame.
    bool lastPictureHeldBack() const override;
    const Mpeg4VideoEngine* engine() const { return m_engine.get(); }
    // Why the last frame gave no picture, for the tools.
    std::string failureText() const override;

    // The largest picture the engine is made for (fuzzing keeps pictures small).
    void setSizeLimit(uint32_t maxWidth, uint32_t maxHeight) {
        m_maxWidth = maxWidth;
        m_maxHeight = maxHeight;
    }

private:
    bool createEngine(uint32_t width, uint32_t height);
    void releaseEngine();
    bool decode(const CRecordFrame& frame, uint8_t* destination, uint32_t destinationWidth, uint32_t width,
                uint32_t height);

    std::unique_ptr<Mpeg4VideoEngine> m_engine;
    std::vector<uint8_t> m_blocks[kMpeg4BlockCount];
    uint32_t m_width = 0, m_height = 0;
    bool m_firstFrame = true;
    bool m_skippedFirst = false;
    bool m_shown = false;
    int m_result = kMpeg4NoPicture;
    Mpeg4DecodeInfo m_info;
    uint32_t m_maxWidth = Mpeg4VideoEngine::kMaxDimension, m_maxHeight = Mpeg4VideoEngine::kMaxDimension;
};

}  // namespace kx
