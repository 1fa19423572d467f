// MPEG-4 streams for the tests of codecs 3 and 6: coded by the recorder's encoders from its
// built-in scene, or by the ffmpeg program with XviD, split into one frame per coded picture;
// and the frame and picture plumbing around them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "codec/colour/colour_convert.h"
#include "codec/video_decoder.h"
#include "recording/record_frame.h"
#include "tools/recorder/mpeg4_encoder.h"
#include "tools/recorder/synthetic_scene.h"

namespace kx::mpeg4test {

using Bytes = std::vector<uint8_t>;

// A reference decoder's picture (`planes` of `format`) as the MPEG-4 decoders of codecs 3 and 6
// see theirs: through libswscale into U, Y0, V, Y1, then the player's conversion to B, G, R.
inline Bytes bgrThroughUyvy(SwsContext*& scaler, const uint8_t* const planes[], const int strides[],
                            AVPixelFormat format, int width, int height) {
    scaler = sws_getCachedContext(scaler, width, height, format, width, height, AV_PIX_FMT_UYVY422, SWS_POINT,
                                  nullptr, nullptr, nullptr);
    Bytes uyvy(size_t(width) * height * 2);
    uint8_t* out[4] = {uyvy.data()};
    const int outStrides[4] = {width * 2};
    sws_scale(scaler, planes, strides, 0, height, out, outStrides);
    Bytes bgr(size_t(width) * height * 3);
    PackedYuv422ToBgr24(bgr.data(), uyvy.data(), width, height);
    return bgr;
}

struct CodedStream {
    std::vector<Bytes> frames;  // one coded picture each, in coded order
    Bytes configuration;        // the headers kept out of the frames (codec 3)
};

// `count` pictures of the recorder's scene, an I picture every `gop`.
inline CodedStream recorderStream(const Mpeg4EncoderSettings& settings, uint32_t count, uint32_t gop = 12) {
    CodedStream stream;
    std::string error;
    auto encoder = Mpeg4Encoder::create(settings, error);
    EXPECT_TRUE(encoder) << error;
    if (!encoder) return stream;
    std::vector<bool> keys(count);
    for (uint32_t n = 0; n < count; ++n) keys[n] = n % gop == 0;
    const auto types = Mpeg4Encoder::planTypes(keys, settings.bFrames);
    SyntheticScene scene(settings.width, settings.height, 7);
    YuvImage picture;
    Mpeg4Picture coded;
    for (uint32_t n = 0; n < count; ++n) {
        scene.render(n, settings.fps, 1793606400 + n / 25, picture);
        EXPECT_TRUE(encoder->send(picture, types[n])) << encoder->error();
        while (encoder->receive(coded)) stream.frames.push_back(coded.bytes);
    }
    EXPECT_TRUE(encoder->finish());
    while (encoder->receive(coded)) stream.frames.push_back(coded.bytes);
    const auto configuration = encoder->configuration();
    stream.configuration.assign(configuration.begin(), configuration.end());
    return stream;
}

// Splits an elementary stream into frames: each picture with the headers before it.
inline std::vector<Bytes> splitPictures(const Bytes& stream) {
    std::vector<Bytes> frames;
    size_t start = 0;
    bool pictureSeen = false;
    for (size_t i = 0; i + 4 <= stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        const uint8_t code = stream[i + 3];
        // A header after a picture starts the next frame.
        if (pictureSeen && (code == 0xB6 || code == 0xB0 || code == 0xB3 || code <= 0x2F)) {
            frames.emplace_back(stream.begin() + ptrdiff_t(start), stream.begin() + ptrdiff_t(i));
            start = i;
            pictureSeen = false;
        }
        if (code == 0xB6) pictureSeen = true;
    }
    if (start < stream.size()) frames.emplace_back(stream.begin() + ptrdiff_t(start), stream.end());
    return frames;
}

// The ffmpeg program's XviD encoding of its moving test pattern, with `options`.
inline std::vector<Bytes> ffmpegXvidFrames(int width, int height, int count, const std::string& options) {
    const auto dir = std::filesystem::temp_directory_path() / ("kx_xvid_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto out = dir / "stream.m4v";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
                                std::to_string(height) + ":rate=25 -frames:v " + std::to_string(count) +
                                " -c:v libxvid " + options + " -f m4v " + out.string();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(out, std::ios::binary);
    const Bytes stream{std::istreambuf_iterator<char>(file), {}};
    std::filesystem::remove_all(dir);
    return splitPictures(stream);
}

// Puts `bytes` into `frame` as the video of codec `codec`.
inline void fill(CRecordFrame& frame, const Bytes& bytes, int codec) {
    ASSERT_TRUE(frame.ReserveVideo(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), frame.VideoBuffer());
    ASSERT_TRUE(frame.SetVideoLength(uint32_t(bytes.size())));
    frame.SetFlags(uint16_t(codec << 4));
}

inline Bytes bgrOf(const RgbPicture& picture) {
    return Bytes(picture.pixels(), picture.pixels() + size_t(picture.width()) * picture.height() * 3);
}

// Pictures in the pattern of coded picture types of a stream (I, P, B, S letters).
inline std::string typesOf(const std::vector<Bytes>& frames) {
    std::string letters;
    for (const Bytes& frame : frames) letters += "IPBS"[int(Mpeg4Encoder::typeOf(frame))];
    return letters;
}

}  // namespace kx::mpeg4test
