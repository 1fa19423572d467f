// Fuzzes DmoMpeg4Decoder (codec 3) over libavcodec's decoder object with a sequence of frames of
// a 176 x 144 recording (the input form of mpeg4_fuzz_input.h). Frames may carry layer headers
// of any size of their own.
#include "codec/mpeg4/dmo_mpeg4_decoder.h"
#include "fuzz/mpeg4_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::DmoMpeg4Decoder decoder;
    kx::fuzz::feedMpeg4Frames(decoder, 3, data, size);
    return 0;
}
