// Recordings of the MPEG-4 codecs 2, 3 and 6 from a Y4M file: one coded picture per frame in
// coded order, kind 0 exactly on the I pictures that start the groups, kind 2 on B pictures;
// libavcodec decodes them (codec 3 with nothing but the fixed layer header) back to the source.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "codec/mpeg4/dmo_mpeg4_decoder.h"
#include "platform/mpeg4_layer_header.h"
#include "recording/record_frame.h"
#include "recording/record_reader.h"
#include "tools/recorder/mpeg4_encoder.h"
#include "tools/recorder/tests/recording_job_fixture.h"

namespace kx {
namespace {

constexpr int kWidth = 160;   // resolution code 0
constexpr int kHeight = 112;
constexpr uint32_t kFrames = 16;

void patternPicture(int index, YuvImage& out) {
    out.resize(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            out.y[size_t(y * kWidth + x)] =
                uint8_t(128 + 100 * std::sin((x + 5 * index) / 9.0) * std::cos((y - 3 * index) / 7.0));
    for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth / 2; ++x) {
            out.cb[size_t(y * (kWidth / 2) + x)] = uint8_t(128 + 60 * std::sin((x + y + 4 * index) / 11.0));
            out.cr[size_t(y * (kWidth / 2) + x)] = uint8_t(128 + 60 * std::cos((x - y - 2 * index) / 13.0));
        }
}

double psnr(const uint8_t* a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < b.size(); ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(b.size()) / sum);
}

// libavcodec's decoder over the frames in reading order; the luma of each picture it gives.
class Reference {
public:
    explicit Reference(const std::vector<uint8_t>& configuration) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
        m_context = avcodec_alloc_context3(codec);
        m_context->thread_count = 1;
        if (!configuration.empty()) {
            m_context->extradata = static_cast<uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            std::memcpy(m_context->extradata, configuration.data(), configuration.size());
            m_context->extradata_size = int(configuration.size());
        }
        EXPECT_EQ(avcodec_open2(m_context, codec, nullptr), 0);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
    }
    ~Reference() {
        avcodec_free_context(&m_context);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
    }
    // Feeds one frame (nothing: the end) and collects what comes out.
    void feed(const uint8_t* data, size_t length) {
        std::vector<uint8_t> padded(data, data + length);
        padded.resize(length + AV_INPUT_BUFFER_PADDING_SIZE);
        m_packet->data = padded.data();
        m_packet->size = int(length);
        EXPECT_EQ(avcodec_send_packet(m_context, length ? m_packet : nullptr), 0);
        m_packet->data = nullptr;
        while (avcodec_receive_frame(m_context, m_frame) == 0) {
            EXPECT_EQ(m_frame->width, kWidth);
            std::vector<uint8_t> luma;
            for (int y = 0; y < kHeight; ++y)
                luma.insert(luma.end(), m_frame->data[0] + ptrdiff_t(y) * m_frame->linesize[0],
                            m_frame->data[0] + ptrdiff_t(y) * m_frame->linesize[0] + kWidth);
            pictures.push_back(std::move(luma));
            av_frame_unref(m_frame);
        }
    }
    std::vector<std::vector<uint8_t>> pictures;

private:
    AVCodecContext* m_context = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
};

class Mpeg4RecordingTest : public RecordingJobFixture {
protected:
    Mpeg4RecordingTest() : RecordingJobFixture("kx_mpeg4_recording_") {
        std::ofstream y4m(path("source.y4m"), std::ios::binary);
        y4m << "YUV4MPEG2 W" << kWidth << " H" << kHeight << " F25:1 Ip A1:1 C420jpeg\n";
        YuvImage image;
        for (uint32_t k = 0; k < kFrames; ++k) {
            patternPicture(int(k), image);
            y4m << "FRAME\n";
            for (const auto* plane : {&image.y, &image.cb, &image.cr})
                y4m.write(reinterpret_cast<const char*>(plane->data()), std::streamsize(plane->size()));
        }
    }
};

TEST_F(Mpeg4RecordingTest, OneCodedPicturePerFrameThatLibavcodecDecodesBackToTheSource) {
    struct Case {
        int codec;
        int bFrames;
        bool qpel;
    };
    for (const Case c : {Case{3, 0, false}, Case{2, 0, false}, Case{2, 2, true}, Case{6, 0, false}, Case{6, 2, true},
                         Case{6, 3, false}}) {
        SCOPED_TRACE("codec " + std::to_string(c.codec) + " B " + std::to_string(c.bFrames) + " qpel " +
                     std::to_string(c.qpel));
        RecordingJob job;
        job.path = path("mpeg4.kxz");
        job.inputY4m = path("source.y4m");
        job.kind = kKindClip;
        job.codec = c.codec;
        job.resolutionCode = 0;
        job.quantiser = 4;
        job.bFrames = c.bFrames;
        job.quarterSample = c.qpel;
        job.gop = 7;
        job.frames = kFrames;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;

        CRecordInfo info;
        info.SetPath(job.path);
        CRecordReader reader;
        ASSERT_TRUE(reader.Open(&info, kReaderModeRead, -1)) << reader.LastError().text;
        EXPECT_EQ(reader.GroupCount(), 3u);
        std::vector<uint8_t> configuration;
        if (c.codec == 3) {
            configuration.assign(DmoMpeg4Decoder::kDecoderConfiguration.begin(), DmoMpeg4Decoder::kDecoderConfiguration.end());
            ASSERT_TRUE(setLayerPictureSize(configuration, kWidth, kHeight));
        }
        Reference reference(configuration);
        CRecordFrame frame(kWidth, kHeight, 65536);
        int bPictures = 0;
        uint32_t lastTick = 0;
        for (uint32_t n = 0; n < kFrames; ++n) {
            ASSERT_TRUE(reader.ReadFrame(frame, -1, 0)) << n;
            EXPECT_EQ(frame.Codec(), c.codec);
            EXPECT_GT(frame.Tick(), lastTick);
            lastTick = frame.Tick();
            const std::span<const uint8_t> bytes(frame.VideoBuffer(), frame.VideoLength());
            // One picture header per frame; codec 3 frames carry no layer header.
            int pictureHeaders = 0;
            for (size_t i = 0; i + 3 < bytes.size(); ++i)
                pictureHeaders += bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB6;
            EXPECT_EQ(pictureHeaders, 1) << n;
            EXPECT_EQ(findLayerPictureSize(bytes).has_value(), c.codec != 3 && n % 7 == 0) << n;
            const Mpeg4PictureType type = Mpeg4Encoder::typeOf(bytes);
            EXPECT_EQ(frame.Kind() == 0, n % 7 == 0) << n;
            EXPECT_EQ(frame.Kind(), type == Mpeg4PictureType::I ? 0 : type == Mpeg4PictureType::B ? 2 : 1) << n;
            bPictures += type == Mpeg4PictureType::B;
            reference.feed(bytes.data(), bytes.size());
        }
        reference.feed(nullptr, 0);
        EXPECT_EQ(bPictures > 0, c.bFrames > 0);
        // Every source picture comes back, in order, close to the source and not to its neighbours.
        ASSERT_EQ(reference.pictures.size(), size_t(kFrames));
        YuvImage source;
        for (uint32_t k = 0; k < kFrames; ++k) {
            const auto distance = [&](int index) {
                patternPicture(index, source);
                return psnr(reference.pictures[k].data(), source.y);
            };
            EXPECT_GT(distance(int(k)), 30.0) << k;
            EXPECT_GT(distance(int(k)), distance(int(k) + 1) + 3) << k;
            if (k > 0) {
                EXPECT_GT(distance(int(k)), distance(int(k) - 1) + 3) << k;
            }
        }
        std::filesystem::remove(job.path);
    }
}

TEST_F(Mpeg4RecordingTest, Codec3FramesLargerThanThePlayersInputBufferAreRefused) {
    RecordingJob job;
    job.path = path("large.ckx");
    job.codec = 3;
    job.resolutionCode = 131;  // 704 x 288
    job.quantiser = 1;
    job.frames = 2;
    expectRefused(job, "is more than the player takes (32768)");
}

}  // namespace
}  // namespace kx
