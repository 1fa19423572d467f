// XvidMpeg4Decoder (codec 6) against the XviD library's own decoding of the same frames (planar
// pictures through libswscale into U, Y0, V, Y1), on the recorder's streams and the ffmpeg
// program's with B pictures and quarter-sample motion; the decode loop's edge cases; creation
// failure; damaged frames and layer headers of other sizes.
#include "codec/mpeg4/xvid_mpeg4_decoder.h"

#include <gtest/gtest.h>
#include <xvid.h>

#include <algorithm>
#include <optional>

extern "C" {
#include <libswscale/swscale.h>
}

#include "codec/colour/colour_convert.h"
#include "codec/create_decoder.h"
#include "codec/frame_decoder.h"
#include "recording/record_info.h"
#include "codec/mpeg4/tests/mpeg4_test_streams.h"

namespace kx {
namespace {

using mpeg4test::Bytes;

// The library driven directly: whole frames, pictures as planar 4:2:0, then libswscale's
// U, Y0, V, Y1 and the player's conversion.
class ReferenceDecoder {
public:
    ReferenceDecoder(int width, int height) : m_width(width), m_height(height) {
        xvid_gbl_init_t init{};
        init.version = XVID_VERSION;
        init.cpu_flags = XVID_CPU_FORCE;
        xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
        xvid_dec_create_t create{};
        create.version = XVID_VERSION;
        create.width = width;
        create.height = height;
        EXPECT_EQ(xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr), 0);
        m_handle = create.handle;
    }
    ~ReferenceDecoder() {
        xvid_decore(m_handle, XVID_DEC_DESTROY, nullptr, nullptr);
        sws_freeContext(m_scaler);
    }

    std::optional<Bytes> decode(const Bytes& frame) {
        Bytes input(frame);
        input.resize(frame.size() + 64, 0);
        Bytes planar(size_t(m_width) * m_height * 3 / 2);
        uint8_t* at = input.data();
        int left = int(frame.size());
        bool produced = false;
        while (left > 1) {
            xvid_dec_frame_t decode{};
            decode.version = XVID_VERSION;
            decode.bitstream = at;
            decode.length = left;
            decode.output.csp = XVID_CSP_PLANAR;
            decode.output.plane[0] = planar.data();
            decode.output.plane[1] = planar.data() + m_width * m_height;
            decode.output.plane[2] = planar.data() + m_width * m_height * 5 / 4;
            decode.output.stride[0] = m_width;
            decode.output.stride[1] = decode.output.stride[2] = m_width / 2;
            xvid_dec_stats_t stats{};
            stats.version = XVID_VERSION;
            const int used = xvid_decore(m_handle, XVID_DEC_DECODE, &decode, &stats);
            if (used <= 0) break;
            at += used;
            left -= used;
            if (stats.type > 0) {
                produced = true;
                break;
            }
        }
        if (!produced) return std::nullopt;
        const uint8_t* planes[4] = {planar.data(), planar.data() + m_width * m_height,
                                    planar.data() + m_width * m_height * 5 / 4};
        const int strides[4] = {m_width, m_width / 2, m_width / 2};
        return mpeg4test::bgrThroughUyvy(m_scaler, planes, strides, AV_PIX_FMT_YUV420P, m_width, m_height);
    }

private:
    int m_width;
    int m_height;
    void* m_handle = nullptr;
    SwsContext* m_scaler = nullptr;
};

// Every frame through the decoder createDecoder gives and through the reference: the same
// pictures, at the same frames (a reference picture before B pictures comes one frame late).
void expectSameAsLibrary(const std::vector<Bytes>& frames, int width, int height, int minPictures) {
    ASSERT_FALSE(frames.empty());
    auto decoder = createDecoder(6, uint32_t(width), uint32_t(height));
    ASSERT_NE(dynamic_cast<XvidMpeg4Decoder*>(decoder.get()), nullptr);
    ReferenceDecoder reference(width, height);
    CRecordFrame frame(width, height, 0);
    RgbPicture picture{uint32_t(width), uint32_t(height)};
    int pictures = 0;
    for (size_t n = 0; n < frames.size(); ++n) {
        mpeg4test::fill(frame, frames[n], 6);
        const auto expected = reference.decode(frames[n]);
        const Bytes before = mpeg4test::bgrOf(picture);
        ASSERT_EQ(decoder->decodeToRgb(frame, picture), expected.has_value()) << "frame " << n;
        if (expected) {
            ++pictures;
            ASSERT_EQ(mpeg4test::bgrOf(picture), *expected) << "frame " << n;
        } else {
            EXPECT_EQ(mpeg4test::bgrOf(picture), before) << "frame " << n;
        }
    }
    EXPECT_GE(pictures, minPictures);
}

Mpeg4EncoderSettings codec6(int bFrames, bool qpel) {
    Mpeg4EncoderSettings settings;
    settings.codec = 6;
    settings.width = 176;
    settings.height = 144;
    settings.bFrames = bFrames;
    settings.quarterSample = qpel;
    return settings;
}

struct StreamCase {
    const char* name;
    int bFrames;
    bool qpel;
};

class XvidRecorderStreams : public ::testing::TestWithParam<StreamCase> {};

TEST_P(XvidRecorderStreams, EqualTheLibrarysOwnDecoding) {
    const auto stream = mpeg4test::recorderStream(codec6(GetParam().bFrames, GetParam().qpel), 30);
    ASSERT_EQ(stream.frames.size(), 30u);
    if (GetParam().bFrames) {
        EXPECT_NE(mpeg4test::typesOf(stream.frames).find('B'), std::string::npos);
    }
    // One picture per frame, the first one held back where B pictures follow it.
    expectSameAsLibrary(stream.frames, 176, 144, GetParam().bFrames ? 29 : 30);
}

INSTANTIATE_TEST_SUITE_P(Mpeg4, XvidRecorderStreams,
                         ::testing::Values(StreamCase{"Plain", 0, false}, StreamCase{"BPictures", 2, false},
                                           StreamCase{"BPicturesQuarterSample", 2, true}),
                         [](const auto& param) { return std::string(param.param.name); });

struct FfmpegCase {
    const char* name;
    const char* options;
};

class XvidFfmpegStreams : public ::testing::TestWithParam<FfmpegCase> {};

TEST_P(XvidFfmpegStreams, EqualTheLibrarysOwnDecoding) {
    const auto frames = mpeg4test::ffmpegXvidFrames(192, 128, 30, GetParam().options);
    ASSERT_GE(frames.size(), 30u);
    // The program's B pictures come with placeholder pictures that show nothing new.
    expectSameAsLibrary(frames, 192, 128, 27);
}

INSTANTIATE_TEST_SUITE_P(
    Mpeg4, XvidFfmpegStreams,
    ::testing::Values(FfmpegCase{"Plain", "-q:v 4 -g 12"}, FfmpegCase{"BPictures", "-q:v 4 -g 12 -bf 2"},
                      FfmpegCase{"BPicturesQuarterSample", "-q:v 4 -g 12 -bf 2 -flags +qpel"},
                      FfmpegCase{"GlobalMotionInterlaced", "-q:v 4 -g 12 -gmc 1 -flags +ildct"}),
    [](const auto& param) { return std::string(param.param.name); });

// Counts the library's decode calls and can make creation fail.
struct CoreLog {
    int creates = 0;
    int decodes = 0;
    int consumed = 0;  // bytes the decode calls took, altogether
    bool failCreate = false;
};

class CountingCore final : public XvidCore {
public:
    explicit CountingCore(CoreLog& log) : m_log(log) {}
    int decore(void* handle, int operation, void* param1, void* param2) override {
        if (operation == XVID_DEC_CREATE) {
            ++m_log.creates;
            if (m_log.failCreate) return XVID_ERR_MEMORY;
        }
        const int result = XvidCore::decore(handle, operation, param1, param2);
        if (operation == XVID_DEC_DECODE) {
            ++m_log.decodes;
            m_log.consumed += std::max(result, 0);
        }
        return result;
    }

private:
    CoreLog& m_log;
};

// The first frame of the recorder's stream up to the end of its layer header (the user data
// and the I picture that follow left out).
Bytes headerPart(const Bytes& frame) {
    const uint8_t layer[] = {0, 0, 1, 0x20};
    auto at = std::search(frame.begin(), frame.end(), std::begin(layer), std::end(layer));
    for (at += 4; at + 4 <= frame.end(); ++at)
        if (at[0] == 0 && at[1] == 0 && at[2] == 1) break;
    return Bytes(frame.begin(), at);
}

TEST(XvidMpeg4Decoder, DecodeLoopTakesTheLayerHeaderThenThePictureAndStopsAtOneByteLeft) {
    const auto stream = mpeg4test::recorderStream(codec6(0, false), 2);
    const Bytes header = headerPart(stream.frames[0]);
    ASSERT_FALSE(header.empty());
    ASSERT_LT(header.size(), stream.frames[0].size());
    // The library takes a layer header up to its last field: the stuffing byte after it is left.
    Bytes headerAndByte = header;
    headerAndByte.push_back(0x7F);
    struct Case {
        const char* name;
        Bytes bytes;
        int calls;
        int left;
        bool picture;
    };
    const Case cases[] = {
        {"layer header and picture", stream.frames[0], 2, 0, true},
        {"layer header: one byte left", header, 1, 1, false},
        {"layer header and a byte: two left, the second call takes nothing", headerAndByte, 2, 2, false},
    };
    for (const Case& c : cases) {
        CoreLog log;
        XvidMpeg4Decoder decoder(176, 144, std::make_unique<CountingCore>(log));
        CRecordFrame frame(176, 144, 0);
        RgbPicture picture(176, 144);
        mpeg4test::fill(frame, c.bytes, 6);
        EXPECT_EQ(decoder.decodeToRgb(frame, picture), c.picture) << c.name;
        EXPECT_EQ(log.decodes, c.calls) << c.name;
        EXPECT_EQ(decoder.lastDecodeCalls(), c.calls) << c.name;
        EXPECT_EQ(int(c.bytes.size()) - log.consumed, c.left) << c.name;
    }
}

TEST(XvidMpeg4Decoder, CreationFailureGivesNoPictureAndIsTriedAgainWithEachFrame) {
    const auto stream = mpeg4test::recorderStream(codec6(0, false), 1);
    CoreLog log;
    log.failCreate = true;
    XvidMpeg4Decoder decoder(176, 144, std::make_unique<CountingCore>(log));
    CRecordFrame frame(176, 144, 0);
    RgbPicture picture(176, 144);
    mpeg4test::fill(frame, stream.frames[0], 6);
    const Bytes blank = mpeg4test::bgrOf(picture);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_FALSE(decoder.decodeToRgb(frame, picture));
        EXPECT_EQ(log.creates, n);
        EXPECT_EQ(log.decodes, 0);
    }
    EXPECT_EQ(mpeg4test::bgrOf(picture), blank);
    log.failCreate = false;
    EXPECT_TRUE(decoder.decodeToRgb(frame, picture));
    EXPECT_EQ(log.creates, 4);
}

// The library's cleared picture converts to a uniform green that looks like video; a frame
// without a picture shows the last good one instead.
TEST(XvidMpeg4Decoder, FrameWithoutPictureKeepsTheLastGoodOne) {
    const auto stream = mpeg4test::recorderStream(codec6(0, false), 3);
    auto decoder = createDecoder(6, 176, 144);
    CRecordFrame frame(176, 144, 0);
    RgbPicture picture(176, 144);
    mpeg4test::fill(frame, stream.frames[0], 6);
    ASSERT_TRUE(decoder->decodeToRgb(frame, picture));
    const Bytes shown = mpeg4test::bgrOf(picture);
    for (const Bytes& damaged : {Bytes{0x42}, Bytes(40, 0xFF), headerPart(stream.frames[0])}) {
        mpeg4test::fill(frame, damaged, 6);
        EXPECT_FALSE(decoder->decodeToRgb(frame, picture));
        EXPECT_EQ(mpeg4test::bgrOf(picture), shown);
    }
    // Decoding goes on with the next pictures.
    mpeg4test::fill(frame, stream.frames[1], 6);
    EXPECT_TRUE(decoder->decodeToRgb(frame, picture));
}

// kxtool and the player's paths tell a reference picture held back for B pictures from a
// failure.
TEST(XvidMpeg4Decoder, PictureHeldBackForBPicturesIsNotAFailure) {
    const auto stream = mpeg4test::recorderStream(codec6(2, false), 4);
    ASSERT_EQ(mpeg4test::typesOf(stream.frames), "IPBB");
    FrameDecoder decoder;
    std::string reason;
    ASSERT_TRUE(decoder.setup(kKindClip, 1, 6, reason, 176, 144)) << reason;
    CRecordFrame frame(176, 144, 0);
    RgbPicture picture(176, 144);
    std::vector<FrameDecode> results;
    for (const Bytes& bytes : stream.frames) {
        mpeg4test::fill(frame, bytes, 6);
        results.push_back(decoder.decode(frame, picture));
    }
    const std::vector<FrameDecode> expected = {FrameDecode::NotYet, FrameDecode::Whole, FrameDecode::Whole,
                                               FrameDecode::Whole};
    EXPECT_EQ(results, expected);
    mpeg4test::fill(frame, Bytes(40, 0xFF), 6);
    EXPECT_EQ(decoder.decode(frame, picture), FrameDecode::Failed);
}

TEST(XvidMpeg4Decoder, LayerHeaderOfALargerPictureIsNotDecodedIntoTheSmallerBuffer) {
    Mpeg4EncoderSettings large = codec6(0, false);
    large.width = 352;
    large.height = 288;
    const auto stream = mpeg4test::recorderStream(large, 1);
    CoreLog log;
    XvidMpeg4Decoder decoder(176, 144, std::make_unique<CountingCore>(log));
    CRecordFrame frame(352, 288, 0);
    RgbPicture picture(176, 144);
    const Bytes blank = mpeg4test::bgrOf(picture);
    mpeg4test::fill(frame, stream.frames[0], 6);
    EXPECT_FALSE(decoder.decodeToRgb(frame, picture));
    EXPECT_EQ(log.decodes, 0);
    EXPECT_EQ(mpeg4test::bgrOf(picture), blank);
    // The picture store of another size than the recording's is not written either.
    const auto small = mpeg4test::recorderStream(codec6(0, false), 1);
    RgbPicture other(352, 288);
    mpeg4test::fill(frame, small.frames[0], 6);
    EXPECT_FALSE(decoder.decodeToRgb(frame, other));
}

}  // namespace
}  // namespace kx
