// AvcDecoder: the decoder of codec 4. It feeds each frame to its AvcEngine and converts the
// picture due for display into the frame's RgbPicture as packed B, G, R rows.
#pragma once

#include <memory>

#include "codec/avc/avc_engine.h"
#include "codec/video_decoder.h"

namespace kx {

class AvcDecoder : public VideoDecoder {
public:
    // Decodes the frame (kind and tick go to the engine) and writes the display picture; false
    // when the engine fails or has no picture to show, or the picture is larger than `picture`
    // (the previous picture then stays). `status` receives the engine's status word.
    bool decodeInto(const CRecordFrame& frame, RgbPicture& picture, uint32_t* status, Deblocking deblocking) override;

    // The engine, once the first frame created it.
    const AvcEngine* engine() const { return m_engine.get(); }

private:
    std::unique_ptr<AvcEngine> m_engine;
};

}  // namespace kx
