// Codec selection: identifiers 0, 1 and 4 have decoders, the rest none for now.
#include "codec/create_decoder.h"

#include <gtest/gtest.h>

#include "codec/avc/avc_decoder.h"
#include "codec/native/native_motion_decoder.h"

namespace kx {
namespace {

TEST(CreateDecoder, NativeAndAvcCodecs) {
    const auto native = createDecoder(0);
    ASSERT_NE(native, nullptr);
    EXPECT_NE(dynamic_cast<NativeDecoder*>(native.get()), nullptr);
    EXPECT_EQ(dynamic_cast<NativeMotionDecoder*>(native.get()), nullptr);
    EXPECT_NE(dynamic_cast<NativeMotionDecoder*>(createDecoder(1).get()), nullptr);
    EXPECT_NE(dynamic_cast<AvcDecoder*>(createDecoder(4).get()), nullptr);
    for (int codec = 2; codec < 16; ++codec) {
        if (codec == 4) continue;
        EXPECT_EQ(createDecoder(codec), nullptr) << codec;
    }
}

}  // namespace
}  // namespace kx
