// Codec selection: identifiers 0 to 4 have decoders, and with a picture size 6, 7 and 8
// too.
#include "codec/create_decoder.h"

#include <gtest/gtest.h>

#include "codec/avc/avc_decoder.h"
#include "codec/camera/axis_decoder.h"
#include "codec/camera/snc_decoder.h"
#include "codec/mpeg4/dmo_mpeg4_decoder.h"
#include "codec/mpeg4/mpeg4_decoder.h"
#include "codec/mpeg4/xvid_mpeg4_decoder.h"
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
    EXPECT_NE(dynamic_cast<Mpeg4VideoDecoder*>(createDecoder(2).get()), nullptr);
    EXPECT_NE(dynamic_cast<DmoMpeg4Decoder*>(createDecoder(3).get()), nullptr);
    for (int codec = 2; codec < 16; ++codec) {
        if (codec == 2 || codec == 3 || codec == 4) continue;
        EXPECT_EQ(createDecoder(codec), nullptr) << codec;
    }
}

TEST(CreateDecoder, XvidAndCameraCodecsWithThePictureSize) {
    EXPECT_NE(dynamic_cast<XvidMpeg4Decoder*>(createDecoder(6, 352, 288).get()), nullptr);
    EXPECT_NE(dynamic_cast<DmoMpeg4Decoder*>(createDecoder(3, 352, 288).get()), nullptr);
    EXPECT_NE(dynamic_cast<SncDecoder*>(createDecoder(7, 352, 288).get()), nullptr);
    EXPECT_NE(dynamic_cast<AxisDecoder*>(createDecoder(8, 352, 288).get()), nullptr);
    EXPECT_NE(dynamic_cast<NativeMotionDecoder*>(createDecoder(1, 352, 288).get()), nullptr);
    for (int codec : {5, 9, 15}) EXPECT_EQ(createDecoder(codec, 352, 288), nullptr) << codec;
}

// The integrity pass asks hasDecoder instead of making decoders: the two must agree.
TEST(CreateDecoder, HasDecoderAgreesWithTheDecodersMade) {
    for (int codec = 0; codec < 16; ++codec)
        EXPECT_EQ(hasDecoder(codec), createDecoder(codec, 352, 288) != nullptr) << codec;
}

}  // namespace
}  // namespace kx
