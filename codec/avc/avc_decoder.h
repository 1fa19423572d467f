// AvcDecoder: the decoder of codec 4. It feeds each frame to its AvcEngine and converts the
// picture due for display into the frame's RgbPicture as packed B, G, R rows.
#pragma once

#include <memory>
#include <string>

#include "codec/avc/avc_engine.h"
#include "codec/video_decoder.h"

namespace kx {

class AvcDecoder : public VideoDecoder {
public:
    // Decodes the frame (kind and tick go to the engine) and writes the display picture; false
    // when the engine fails or has no picture to show, or the picture is larger than `picture`
    // (the previous picture then stays). `status` receives the engine's status word.
    bool decodeInto(const CRecordFrame& frame, RgbPicture& picture, uint32_t* status,
                    Deblocking deblocking) override;

    void restart() override {
        if (m_engine) m_engine->Restart();
    }
    // The display picture always trails the last decoded reference.
    bool holdsPictures() const override { return true; }
    // Result 0 with no picture written: the display picture is not due yet (the first
    // reference of a stream), not a failure.
    bool lastPictureHeldBack() const override { return m_lastResult == kAvcOk; }
    std::string failureText() const override { return "avc engine result " + std::to_string(m_lastResult); }

    // The engine, once the first frame created it.
    const AvcEngine* engine() const { return m_engine.get(); }
    // The engine's result for the last frame: 0 with no picture written means the display
    // picture is not due yet (the first reference of a stream), not a failure.
    int lastResult() const { return m_lastResult; }
    // Where the engine's diagnostic lines go: the process-wide default (standard output unless
    // a tool moves it), or a stream for this decoder.
    void setDiagnostics(std::FILE* stream) { m_diagnostics = stream; }
    static void setDefaultDiagnostics(std::FILE* stream) { s_defaultDiagnostics = stream; }
    // The largest I picture the engine takes (fuzzing keeps pictures small); set before the
    // first frame.
    void setSizeLimit(int maxWidth, int maxHeight) {
        m_maxWidth = maxWidth;
        m_maxHeight = maxHeight;
    }

private:
    std::unique_ptr<AvcEngine> m_engine;
    int m_lastResult = kAvcNoEngine;
    static inline std::FILE* s_defaultDiagnostics = stdout;
    std::FILE* m_diagnostics = nullptr;
    int m_maxWidth = 1023, m_maxHeight = 1023;
};

}  // namespace kx
