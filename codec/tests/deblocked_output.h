// Test helper: whether a native decoder's output picture is its current picture deblocked with
// the coded flags and quantiser of the last picture, worked out afresh from the whole picture.
#pragma once

#include <algorithm>

#include "codec/native/deblock.h"
#include "codec/native/native_decoder.h"

namespace kx::test {

inline bool outputIsDeblockedCurrent(const NativeDecoder& decoder, int quantiser) {
    MacroblockPicture expected = decoder.currentPicture();
    deblockPicture(expected, decoder.codedFlags().data(), quantiser, KernelPath::Plain);
    const MacroblockPicture& output = decoder.outputPicture();
    const size_t samples =
        size_t(expected.macroblockCount()) * MacroblockPicture::kMacroblockSamples;
    return output.mbColumns() == expected.mbColumns() && output.mbRows() == expected.mbRows() &&
           std::equal(expected.samples(), expected.samples() + samples, output.samples());
}

}  // namespace kx::test
