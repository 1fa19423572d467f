// Fuzzes XvidMpeg4Decoder (codec 6) over libxvidcore with a sequence of frames of a 176 x 144
// recording (the input form of mpeg4_fuzz_input.h). Frames may carry layer headers of any size.
#include "codec/mpeg4/xvid_mpeg4_decoder.h"
#include "fuzz/mpeg4_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kx::XvidMpeg4Decoder decoder(kx::fuzz::kMpeg4FuzzWidth, kx::fuzz::kMpeg4FuzzHeight);
    kx::fuzz::feedMpeg4Frames(decoder, 6, data, size);
    return 0;
}
