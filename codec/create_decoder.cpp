// createDecoder: codec identifier to decoder object.
#include "codec/create_decoder.h"

#include "codec/avc/avc_decoder.h"
#include "codec/native/native_decoder.h"
#include "codec/native/native_motion_decoder.h"

namespace kx {

std::unique_ptr<VideoDecoder> createDecoder(int codec) {
    switch (codec) {
        case 0: return std::make_unique<NativeDecoder>();
        case 1: return std::make_unique<NativeMotionDecoder>();
        case 4: return std::make_unique<AvcDecoder>();
        default: return nullptr;
    }
}

}  // namespace kx
