// MPEG-4 test streams: the ffmpeg program for coding, libavcodec for the reference pictures.
#include "codec/mpeg4/tests/mpeg4_streams.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "codec/colour/colour_convert.h"

namespace kx::test {

std::vector<std::vector<uint8_t>> splitMpeg4Frames(const std::vector<uint8_t>& data) {
    std::vector<std::vector<uint8_t>> frames;
    size_t start = 0;
    bool sawPicture = false;
    for (size_t i = 0; i + 3 < data.size(); ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
        const uint8_t code = data[i + 3];
        // A picture ends at the next picture, or at the next header start code.
        const bool header = code == 0xB0 || code == 0xB5 || code <= 0x2F || code == 0xB2 || code == 0xB3;
        if (sawPicture && (code == 0xB6 || header)) {
            frames.emplace_back(data.begin() + std::ptrdiff_t(start), data.begin() + std::ptrdiff_t(i));
            start = i;
            sawPicture = false;
        }
        if (code == 0xB6) sawPicture = true;
        i += 3;
    }
    if (start < data.size()) frames.emplace_back(data.begin() + std::ptrdiff_t(start), data.end());
    return frames;
}

namespace {

bool isKey(const std::vector<uint8_t>& frame) {
    for (size_t i = 0; i + 4 < frame.size(); ++i)
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xB6)
            return (frame[i + 4] >> 6) == 0;
    return false;
}

}  // namespace

Mpeg4Stream encodeMpeg4Stream(const Mpeg4StreamRecipe& recipe, std::string& error) {
    Mpeg4Stream stream;
    stream.width = recipe.width;
    stream.height = recipe.height;
    const auto dir = std::filesystem::temp_directory_path() / ("kx_mpeg4_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    static int counter = 0;
    const auto path = dir / ("stream" + std::to_string(counter++) + ".m4v");
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + recipe.source + "=size=" +
                                std::to_string(recipe.width) + "x" + std::to_string(recipe.height) +
                                ":rate=25 -frames:v " + std::to_string(recipe.pictures) + " -pix_fmt yuv420p -c:v " +
                                recipe.encoder + " " + recipe.options + " -f m4v " + path.string();
    if (std::system(command.c_str()) != 0) {
        error = "ffmpeg failed: " + command;
        return stream;
    }
    std::ifstream in(path, std::ios::binary);
    stream.elementary.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    stream.frames = splitMpeg4Frames(stream.elementary);
    for (const auto& frame : stream.frames) stream.key.push_back(isKey(frame));
    if (stream.frames.empty()) error = "no pictures in " + command;
    return stream;
}

std::vector<std::vector<uint8_t>> referenceMpeg4Pictures(const std::vector<std::vector<uint8_t>>& frames, int width,
                                                         int height, ReferenceIdct idct) {
    std::vector<std::vector<uint8_t>> pictures;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    context->idct_algo = idct == ReferenceIdct::Simple ? FF_IDCT_SIMPLE
                         : idct == ReferenceIdct::Xvid ? FF_IDCT_XVID
                                                       : FF_IDCT_AUTO;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return pictures;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto receive = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            std::vector<uint8_t> bgr(size_t(width) * height * 3);
            for (int y = 0; y < height; ++y)
                PlanarRowsToBgr(frame->data[0] + y * frame->linesize[0], bgr.data() + size_t(y) * width * 3, nullptr,
                                nullptr, frame->data[1] + (y / 2) * frame->linesize[1],
                                frame->data[2] + (y / 2) * frame->linesize[2], width);
            pictures.push_back(std::move(bgr));
        }
    };
    for (const auto& data : frames) {
        std::vector<uint8_t> padded(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        std::copy(data.begin(), data.end(), padded.begin());
        packet->data = padded.data();
        packet->size = int(data.size());
        if (avcodec_send_packet(context, packet) == 0) receive();
    }
    avcodec_send_packet(context, nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return pictures;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

}  // namespace kx::test
