// Codecs 7 and 8 through the player's own camera components, end to end: camera streams coded
// by libavcodec's encoders, wrapped in each frame layout, decoded by the decoders createDecoder
// gives, and compared picture by picture with FFmpeg's own decoding of the same stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/camera/axis_decoder.h"
#include "codec/create_decoder.h"
#include "recording/byte_order.h"
#include "recording/record_frame.h"
#include "tools/recorder/camera_stream_encoder.h"

namespace kx {
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr uint32_t kFrames = 6;

// A picture with edges and colour that moves from frame to frame.
YuvImage scene(uint32_t index) {
    YuvImage p;
    p.resize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            p.y[size_t(y) * kWidth + x] = uint8_t(((x + int(index) * 3) / 8 + y / 8) % 2 ? 200 : 40 + x);
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth / 2; ++x) {
            p.cb[size_t(y) * (kWidth / 2) + x] = uint8_t(64 + x * 2 + int(index));
            p.cr[size_t(y) * (kWidth / 2) + x] = uint8_t(192 - y * 3);
        }
    return p;
}

struct Stream {
    std::vector<std::vector<uint8_t>> frames;  // the video part of each recording frame
    std::vector<uint8_t> elementary;           // the camera's stream alone
};

Stream encode(int codec, CameraStream kind) {
    Stream s;
    CameraStreamEncoder encoder(codec, kind, kWidth, kHeight, 25);
    EXPECT_TRUE(encoder.open()) << encoder.error();
    for (uint32_t i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(encoder.encode(scene(i), i, i % 3 == 0, bytes)) << encoder.error();
        size_t sampleAt = 8;
        if (codec == 8) {
            const auto f = AxisFrame::parse(bytes.data(), uint32_t(bytes.size()));
            EXPECT_TRUE(f.has_value());
            sampleAt = size_t(f->sample - bytes.data());
        }
        s.elementary.insert(s.elementary.end(), bytes.begin() + ptrdiff_t(sampleAt), bytes.end());
        s.frames.push_back(std::move(bytes));
    }
    return s;
}

// FFmpeg's decoding of the elementary stream: packed B, G, R pictures.
std::vector<std::vector<uint8_t>> ffmpegPictures(const std::vector<uint8_t>& elementary, const char* format,
                                                 int width = kWidth, int height = kHeight) {
    const auto dir = std::filesystem::temp_directory_path() / ("kx_camera_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto in = dir / "stream";
    const auto out = dir / "pictures.bgr";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(elementary.data()),
                                              std::streamsize(elementary.size()));
    const std::string command = std::string("ffmpeg -nostdin -v error -y -f ") + format + " -i " + in.string() +
                                " -vf scale=" + std::to_string(width) + ":" + std::to_string(height) +
                                ":flags=bicubic -f rawvideo -pix_fmt bgr24 " + out.string();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(out, std::ios::binary);
    const std::vector<uint8_t> all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(dir);
    std::vector<std::vector<uint8_t>> pictures;
    const size_t bytes = size_t(width) * height * 3;
    for (size_t at = 0; at + bytes <= all.size(); at += bytes)
        pictures.emplace_back(all.begin() + ptrdiff_t(at), all.begin() + ptrdiff_t(at + bytes));
    return pictures;
}

std::vector<std::vector<uint8_t>> playerPictures(int codec, const std::vector<std::vector<uint8_t>>& frames,
                                                 int width = kWidth, int height = kHeight) {
    auto decoder = createDecoder(codec, uint32_t(width), uint32_t(height));
    EXPECT_NE(decoder, nullptr);
    std::vector<std::vector<uint8_t>> pictures;
    if (!decoder) return pictures;
    RgbPicture picture{uint32_t(width), uint32_t(height)};
    for (const auto& bytes : frames) {
        CRecordFrame frame(kWidth, kHeight, 0);
        EXPECT_LE(bytes.size(), frame.VideoCapacity());
        std::copy(bytes.begin(), bytes.end(), frame.VideoBuffer());
        frame.SetVideoLength(uint32_t(bytes.size()));
        frame.SetFlags(uint16_t(codec << 4));
        if (decoder->decodeToRgb(frame, picture))
            pictures.emplace_back(picture.pixels(), picture.pixels() + picture.byteCount());
    }
    return pictures;
}

struct Case {
    int codec;
    CameraStream kind;
    const char* ffmpegFormat;
};

class CameraStreamTest : public ::testing::TestWithParam<Case> {};

TEST_P(CameraStreamTest, PicturesEqualFfmpegsDecodingOfTheSameStream) {
    const Case c = GetParam();
    const Stream stream = encode(c.codec, c.kind);
    const auto expected = ffmpegPictures(stream.elementary, c.ffmpegFormat);
    const auto actual = playerPictures(c.codec, stream.frames);
    ASSERT_EQ(expected.size(), kFrames);
    ASSERT_EQ(actual.size(), kFrames);
    for (size_t i = 0; i < kFrames; ++i) EXPECT_TRUE(actual[i] == expected[i]) << "picture " << i;
    // The pictures move: a decoder repeating its first picture would not pass.
    EXPECT_NE(actual[0], actual[1]);
}

const Case kCases[] = {{7, CameraStream::Jpeg, "mjpeg"}, {7, CameraStream::Mpeg4, "m4v"},
                       {7, CameraStream::H264, "h264"},  {8, CameraStream::Jpeg, "mjpeg"},
                       {8, CameraStream::Mpeg4, "m4v"},  {8, CameraStream::H264, "h264"}};

std::string caseName(const ::testing::TestParamInfo<Case>& param) {
    const char* kinds[] = {"Jpeg", "Mpeg4", "H264"};
    return "Codec" + std::to_string(param.param.codec) + kinds[int(param.param.kind)];
}

INSTANTIATE_TEST_SUITE_P(Streams, CameraStreamTest, ::testing::ValuesIn(kCases), caseName);

// The viewer names the stream by the FourCC of the media type's subtype; a block it cannot read
// leaves it to the sample's start codes, and an unknown FourCC alike.
TEST(CameraMediaType, StreamIsFoundWithoutAReadableMediaType) {
    const Stream stream = encode(8, CameraStream::Mpeg4);
    const auto expected = playerPictures(8, stream.frames);
    ASSERT_EQ(expected.size(), kFrames);
    for (const std::string& block : {std::string(), std::string("short"), std::string(40, 'z')}) {
        std::vector<std::vector<uint8_t>> rewrapped;
        for (const auto& bytes : stream.frames) {
            const uint32_t n = loadLe32(bytes.data());
            std::vector<uint8_t> out(4);
            storeLe32(out.data(), uint32_t(block.size()));
            out.insert(out.end(), block.begin(), block.end());
            out.insert(out.end(), bytes.begin() + 4 + n, bytes.end());
            rewrapped.push_back(std::move(out));
        }
        EXPECT_EQ(playerPictures(8, rewrapped), expected) << block.size();
    }
}


// The SNC component cuts the fed bytes at each JPEG's end of image: a thumbnail inside an APP1
// segment stays part of its picture, and of two pictures in one write the second is shown.
TEST(CameraJpegCutting, PicturesEndAtTheirEndOfImage) {
    const Stream a = encode(7, CameraStream::Jpeg);
    const std::vector<uint8_t> header(a.frames[0].begin(), a.frames[0].begin() + 8);
    const std::vector<uint8_t> first(a.frames[0].begin() + 8, a.frames[0].end());
    const std::vector<uint8_t> second(a.frames[4].begin() + 8, a.frames[4].end());
    ASSERT_LT(second.size() + 8, 0x10000u);
    // SOI, an APP1 segment holding the whole second picture as a thumbnail, then the first's rest.
    std::vector<uint8_t> withThumbnail = {0xFF, 0xD8, 0xFF, 0xE1};
    const size_t segment = second.size() + 2;
    withThumbnail.push_back(uint8_t(segment >> 8));
    withThumbnail.push_back(uint8_t(segment));
    withThumbnail.insert(withThumbnail.end(), second.begin(), second.end());
    withThumbnail.insert(withThumbnail.end(), first.begin() + 2, first.end());

    const auto join = [&](std::initializer_list<const std::vector<uint8_t>*> parts) {
        std::vector<uint8_t> out = header;
        for (const auto* p : parts) out.insert(out.end(), p->begin(), p->end());
        return out;
    };
    const auto plain = playerPictures(7, {join({&first}), join({&second})});
    ASSERT_EQ(plain.size(), 2u);
    ASSERT_NE(plain[0], plain[1]);
    EXPECT_EQ(playerPictures(7, {join({&withThumbnail})}), std::vector<std::vector<uint8_t>>{plain[0]});
    EXPECT_EQ(playerPictures(7, {join({&withThumbnail, &second})}), std::vector<std::vector<uint8_t>>{plain[1]});
}


// A stream whose pictures differ in size from the recording comes out at the recording's size,
// scaled as FFmpeg's bicubic scaler does.
TEST(CameraPictureSize, PicturesComeOutAtTheRecordingsSize) {
    for (const int codec : {7, 8}) {
        const Stream stream = encode(codec, CameraStream::Mpeg4);
        for (const auto& [width, height] : {std::pair{48, 32}, std::pair{160, 120}}) {
            const auto expected = ffmpegPictures(stream.elementary, "m4v", width, height);
            const auto actual = playerPictures(codec, stream.frames, width, height);
            ASSERT_EQ(actual.size(), expected.size()) << codec << " " << width;
            for (size_t i = 0; i < actual.size(); ++i) {
                ASSERT_EQ(actual[i].size(), expected[i].size());
                double difference = 0;
                for (size_t b = 0; b < actual[i].size(); ++b) difference += std::abs(actual[i][b] - expected[i][b]);
                EXPECT_LT(difference / double(actual[i].size()), 1.0) << codec << " " << width << " picture " << i;
            }
        }
    }
}

}  // namespace
}  // namespace kx
