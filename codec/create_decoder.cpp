// createDecoder: codec identifier to decoder object.
#include "codec/create_decoder.h"

#include "codec/avc/avc_decoder.h"
#include "codec/camera/axis_decoder.h"
#include "codec/camera/snc_decoder.h"
#include "codec/mpeg4/dmo_mpeg4_decoder.h"
#include "codec/mpeg4/xvid_mpeg4_decoder.h"
#include "codec/mpeg4/mpeg4_decoder.h"
#include "codec/native/native_decoder.h"
#include "codec/native/native_motion_decoder.h"
#include "platform/camera_components.h"

namespace kx {

std::unique_ptr<VideoDecoder> createDecoder(int codec) {
    switch (codec) {
        case 0: return std::make_unique<NativeDecoder>();
        case 1: return std::make_unique<NativeMotionDecoder>();
        case 2: return std::make_unique<Mpeg4VideoDecoder>();
        case 3: return std::make_unique<DmoMpeg4Decoder>();
        case 4: return std::make_unique<AvcDecoder>();
        default: return nullptr;
    }
}

std::unique_ptr<VideoDecoder> createDecoder(int codec, uint32_t width, uint32_t height) {
    switch (codec) {
        case 6: return std::make_unique<XvidMpeg4Decoder>(width, height);
        case 7: return std::make_unique<SncDecoder>(width, height, createSncComponent());
        case 8: return std::make_unique<AxisDecoder>(width, height);
        default: return createDecoder(codec);
    }
}

bool hasDecoder(int codec) {
    switch (codec) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 6:
        case 7:
        case 8:
            return true;
        default:
            return false;
    }
}

}  // namespace kx
