// Fuzzes the legacy decoder with a sequence of frames. Input: one byte of options (bit 0 the
// doubled variant, bit 1 a destination only large enough for 176 x 144), then frames, each a
// 3-byte big-endian length and its bytes.
#include <cstdint>
#include <vector>

#include "codec/legacy/legacy_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Each destination holds exactly the bytes it is said to hold, so AddressSanitizer sees a
    // write past the smaller one.
    static std::vector<uint8_t> large(kx::LegacyDecoder::kMaxOutputBytes);
    static std::vector<uint8_t> small(size_t(176) * 144 * 3);
    std::vector<uint8_t>& destination = (data[0] & 2) ? small : large;
    const size_t destinationBytes = destination.size();
    kx::LegacyDecoder decoder;
    if (!decoder.Setup((data[0] & 1) ? kx::LegacyDecoder::kVariantDoubled
                                     : kx::LegacyDecoder::kVariantPlain))
        return 0;
    size_t at = 1;
    while (at + 3 <= size) {
        size_t length = size_t(data[at]) << 16 | size_t(data[at + 1]) << 8 | data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        kx::LegacyDecodeResult result;
        decoder.Decode(result, data + at, uint32_t(length), destination.data(), destinationBytes,
                       0);
        at += length;
    }
    return 0;
}
