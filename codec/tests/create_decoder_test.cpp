// Codec selection: identifiers 0 and 1 have decoders, the rest none for now.
#include "codec/create_decoder.h"

#include <gtest/gtest.h>

#include "codec/native/native_motion_decoder.h"

namespace kx {
namespace {

TEST(CreateDecoder, NativeCodecsOnly) {
    const auto native = createDecoder(0);
    ASSERT_NE(native, nullptr);
    EXPECT_NE(dynamic_cast<NativeDecoder*>(native.get()), nullptr);
    EXPECT_EQ(dynamic_cast<NativeMotionDecoder*>(native.get()), nullptr);
    EXPECT_NE(dynamic_cast<NativeMotionDecoder*>(createDecoder(1).get()), nullptr);
    for (int codec = 2; codec < 16; ++codec) EXPECT_EQ(createDecoder(codec), nullptr) << codec;
}

}  // namespace
}  // namespace kx
