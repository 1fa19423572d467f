// AvcDecoder: engine calls and the conversion to packed BGR.
#include "codec/avc/avc_decoder.h"

#include <new>

#include "codec/colour/colour_convert.h"
#include "recording/record_frame.h"

namespace kx {

bool AvcDecoder::decodeInto(const CRecordFrame& frame, RgbPicture& picture, uint32_t* status,
                            Deblocking deblocking) {
    if (!m_engine) {
        m_engine.reset(new (std::nothrow) AvcEngine());
        if (!m_engine) return false;
        m_engine->setDiagnostics(m_diagnostics ? m_diagnostics : s_defaultDiagnostics);
        m_engine->setSizeLimit(m_maxWidth, m_maxHeight);
    }
    m_lastResult = avcDecode(m_engine.get(), frame.VideoBuffer(), frame.VideoLength(), frame.Kind(),
                             frame.Tick(), deblocking == Deblocking::On);
    if (m_lastResult != kAvcOk) return false;
    uint32_t word = 0;
    if (avcGetStatus(m_engine.get(), &word) != kAvcOk) return false;
    if (status) *status = word;
    int width = 0, height = 0;
    const uint8_t* samples = nullptr;
    if (avcGetSize(m_engine.get(), &width, &height) != kAvcOk ||
        avcGetPicture(m_engine.get(), &samples) != kAvcOk)
        return false;
    // The conversion writes width x height pixels at 3 x (picture width) bytes per row: a
    // picture larger than the store would write past it.
    if (uint32_t(width) > picture.width() || uint32_t(height) > picture.height() ||
        picture.pixels() == nullptr)
        return false;
    PlanarYuv420ToBgr(samples, picture.pixels(), ptrdiff_t(3) * picture.width(), width, height,
                      BgrPixelSize::Three);
    return true;
}

}  // namespace kx
