// The AVI export: the checks and the opening of "Convert", the three streams, and the frame
// loop: sound decoded to PCM and appended, each picture decoded and fitted to the video format,
// one text sample per frame, up to the first frame that cannot be read.
#include "output/avi_export.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "codec/create_decoder.h"
#include "codec/legacy/legacy_decoder.h"
#include "codec/picture_layout.h"
#include "output/avi_picture_fitter.h"
#include "platform/avi_file.h"
#include "playback/audio_block_decoder.h"
#include "playback/wave_out.h"
#include "recording/record_reader.h"
#include "recording/resolution.h"

namespace kx {
namespace {

// The frame buffers hold the largest picture the recorders make, whatever the header says.
constexpr int kMinBufferWidth = 720;
constexpr int kMinBufferHeight = 576;
constexpr uint32_t kAudioBytes = 1 << 20;  // the largest audio block read
constexpr size_t kTextSampleBytes = 16;
constexpr uint32_t kTextLineHeight = 20;

std::string formatTime(uint32_t seconds) {
    const std::time_t time = seconds;
    std::tm parts{};
    localtime_r(&time, &parts);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y/%m/%d,%H:%M:%S", &parts);
    return text;
}

}  // namespace

const char* aviExportText(AviExportMessage message) {
    switch (message) {
        case AviExportMessage::NoInput:
            return "Please input the KX file name!";
        case AviExportMessage::NoOutput:
            return "Please input the AVI file name!";
        case AviExportMessage::BadOutputName:
            return "Please check the AVI file name(*.avi)!";
        case AviExportMessage::OpenFailed:
            return "File open failed!";
        case AviExportMessage::ConvertFailed:
            return "File convert failed!";
        case AviExportMessage::UnavailableFormat:
            return "Unavailable format!";
        case AviExportMessage::Saving:
            return "Saving the AVI file! Please waiting...";
        case AviExportMessage::Saved:
            return "File saved!";
    }
    return "";
}

std::string proposeAviName(const std::string& input) {
    if (input.empty()) return {};
    // Everything after the last dot of the file name is the extension: "kx" (two letters),
    // "kxx", "kxq", "kxz" and "ckx" (three) all give way to "avi".
    const size_t slash = input.find_last_of("/\\");
    const size_t dot = input.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return input + ".avi";
    return input.substr(0, dot + 1) + "avi";
}

AviExportRates aviExportRates(uint32_t totalFrames, uint32_t startTime, uint32_t endTime) {
    AviExportRates rates;
    rates.videoRate = totalFrames;
    if (endTime <= startTime) return rates;  // no whole second to divide by
    const uint32_t seconds = endTime - startTime;
    rates.videoScale = seconds;
    rates.textRate = totalFrames / seconds;
    if (rates.textRate < 1)
        rates.textRate = 1;
    else if (rates.textRate > 10)
        rates.textRate -= 1;
    return rates;
}

// Everything one conversion owns: the input (reader, frame, decoders) and the AVI file with
// its streams, released in the order compressed stream, audio, text, file.
struct AviExport::Conversion {
    CRecordInfo info;
    CRecordReader reader;
    std::unique_ptr<CRecordFrame> frame;
    bool legacy = false;
    LegacyDecoder legacyDecoder;
    std::vector<uint8_t> legacyOutput;
    std::unique_ptr<VideoDecoder> decoder;
    int codec = 0;
    RgbPicture picture;
    AviPictureFitter fitter;
    uint32_t width = 0;  // of the video format
    uint32_t height = 0;
    std::vector<uint8_t> sample;  // the picture as written, bottom row first
    AudioBlockDecoder audioDecoder;
    uint32_t audioPieceBytes = 0;
    std::vector<uint8_t> pcm;
    std::array<char, kTextSampleBytes> text{};
    AviExportRates rates;

    std::unique_ptr<AviFile> file;
    AviStream* video = nullptr;
    std::unique_ptr<AviStream> compressed;
    AviStream* audio = nullptr;
    AviStream* textStream = nullptr;

    // Step 3 of Convert; on failure `detail` says why.
    bool open(const std::string& path, std::string& detail);
    bool decodePicture();
    void writeAudio();
};

bool AviExport::Conversion::open(const std::string& path, std::string& detail) {
    if (!info.ReadInfo(path) || !reader.Open(&info, kReaderModeRead, -1)) {
        detail =
            path + ": " +
            (reader.LastError().text.empty() ? info.LastError().text : reader.LastError().text);
        return false;
    }
    const std::optional<PictureSize> display = DisplaySizeOf(info);
    if (!display) {
        detail = path + ": the resolution code " + std::to_string(info.ResolutionCode()) +
                 " gives no picture size";
        return false;
    }
    width = uint32_t(display->width);
    height = uint32_t(display->height);
    const bool large =
        int64_t(info.Width()) * info.Height() >= int64_t(kMinBufferWidth) * kMinBufferHeight;
    frame = std::make_unique<CRecordFrame>(large ? info.Width() : kMinBufferWidth,
                                           large ? info.Height() : kMinBufferHeight, kAudioBytes);
    if (!reader.ReadFrame(*frame, -1, 0)) {
        detail = path + ": the first frame cannot be read: " + reader.LastError().text;
        return false;
    }
    legacy = isLegacyKind(info.Kind());
    codec = frame->Codec();
    if (legacy) {
        // The older kinds go to the legacy decoder whatever codec their frames name.
        if (!legacyDecoder.Setup(LegacyDecoder::VariantOfVersion(info.Version()))) {
            detail = path + ": the legacy decoder cannot be set up";
            return false;
        }
        legacyOutput.resize(LegacyDecoder::kMaxOutputBytes);
    } else {
        if (codec != 0 && codec != 1 && codec != 2 && codec != 4) {
            detail = path + ": codec " + std::to_string(codec) +
                     " is not exported (codecs 0, 1, 2 and 4 only)";
            return false;
        }
        decoder = createDecoder(codec);
        if (!decoder) {
            detail = path + ": codec " + std::to_string(codec) + " has no decoder yet";
            return false;
        }
        picture.resize(uint32_t(std::max(info.Width(), 0)), uint32_t(std::max(info.Height(), 0)));
    }
    rates = aviExportRates(reader.TotalFrameCount(), info.StartTime(), info.EndTime());
    sample.assign(size_t(aviBitmapStride(width)) * height, 0);

    const WaveOutMode& mode = *WaveOutModeInfo(WaveOutModeForVideoCodec(codec));
    audioDecoder = AudioBlockDecoder(mode.codec, mode.format.bytesPerFrame());
    audioPieceBytes = mode.bufferBytes;
    // The most PCM one block can give: G.726 turns 3 bytes into 16, IMA never more than that.
    pcm.resize(size_t(kAudioBytes) / 3 * 16 + audioPieceBytes);

    // The first 16 bytes of the description: board name, camera name and the times.
    const std::string description = info.BoardName() + " " + info.CameraName() +
                                    " From:" + formatTime(info.StartTime()) +
                                    " To:" + formatTime(info.EndTime());
    std::memcpy(text.data(), description.data(), std::min(text.size(), description.size()));
    return true;
}

// Decodes the current frame into `picture`; on false the previous picture stays.
bool AviExport::Conversion::decodePicture() {
    if (!legacy) {
        // Codec 4 without the loop filter, as every path but normal playback decodes it.
        return codec == 4 ? decoder->decodeInto(*frame, picture, nullptr, Deblocking::Off)
                          : decoder->decodeToRgb(*frame, picture);
    }
    LegacyDecodeResult result;
    legacyDecoder.Decode(result, frame->VideoBuffer(), frame->VideoLength(), legacyOutput.data(),
                         legacyOutput.size(), 0);
    // A picture damaged part way is written as far as it decoded, as the player shows it.
    if ((result.error && legacyDecoder.LastFailure() != LegacyFailure::BadMacroblock) ||
        result.width == 0 || result.height == 0)
        return false;
    picture.resize(result.width, result.height);
    std::memcpy(picture.pixels(), legacyOutput.data(), picture.byteCount());
    return true;
}

void AviExport::Conversion::writeAudio() {
    const uint8_t* bytes = frame->AudioBuffer();
    size_t size = frame->AudioLength();
    size_t filled = 0;
    size_t pieceBytes = 0;
    while (size_t consumed = audioDecoder.decodePiece(bytes, size, pcm.data() + filled,
                                                      audioPieceBytes, pieceBytes)) {
        filled += pieceBytes;
        bytes += consumed;
        size -= consumed;
        if (pcm.size() - filled < audioPieceBytes) break;
    }
    if (filled > 0)
        audio->write(audio->length(), int32_t(filled / 2), pcm.data(), filled - filled % 2,
                     AviSampleFlags::KeyFrame);
}

AviExport::AviExport(Log log, Progress progress)
    : m_log(std::move(log)), m_progress(std::move(progress)) {}

AviExport::~AviExport() = default;

bool AviExport::Fail(AviExportMessage message, const std::string& detail) {
    m_log(aviExportText(message));
    if (!detail.empty()) m_log(detail);
    return false;
}

bool AviExport::Convert(const std::string& input, const std::string& output,
                        const std::string& compressor) {
    if (input.empty()) return Fail(AviExportMessage::NoInput);
    if (output.empty()) return Fail(AviExportMessage::NoOutput);
    // Case-sensitive, as the name was typed.
    if (output.size() < 3 || output.compare(output.size() - 3, 3, "avi") != 0)
        return Fail(AviExportMessage::BadOutputName);

    // An existing file of the output name stays until the new one is complete (the file is
    // written under a temporary name), so a failure never leaves the user without either.
    auto c = std::make_unique<Conversion>();
    std::string detail;
    if (!c->open(input, detail)) return Fail(AviExportMessage::OpenFailed, detail);
    c->file = openAviFile(output, detail);
    if (!c->file) return Fail(AviExportMessage::OpenFailed, detail);

    const auto width = int32_t(c->width);
    const auto height = int32_t(c->height);
    c->video = c->file->createStream({AviStreamType::Video,
                                      0,
                                      c->rates.videoScale,
                                      c->rates.videoRate,
                                      1,
                                      c->width * c->height * 3,
                                      0,
                                      {0, 0, width, height}});
    if (!c->video) return Fail(AviExportMessage::ConvertFailed, c->file->errorText());
    c->compressed = makeCompressedStream(*c->video, compressor, detail);
    if (!c->compressed) return Fail(AviExportMessage::ConvertFailed, detail);
    const std::vector<uint8_t> bitmap = aviBitmapFormat(width, height);
    if (!c->compressed->setFormat(bitmap.data(), bitmap.size()))
        return Fail(AviExportMessage::UnavailableFormat);

    const std::vector<uint8_t> wave = aviPcmFormat(1, 8000, 16);
    c->audio = c->file->createStream({AviStreamType::Audio, 0, 2, 16000, 1, 1920, 2, {}});
    if (!c->audio) return Fail(AviExportMessage::ConvertFailed, c->file->errorText());
    if (!c->audio->setFormat(wave.data(), wave.size()))
        return Fail(AviExportMessage::UnavailableFormat);

    c->textStream = c->file->createStream({AviStreamType::Text,
                                           aviFourCc('D', 'R', 'A', 'W'),
                                           1,
                                           c->rates.textRate,
                                           0,
                                           kTextSampleBytes,
                                           0,
                                           {0, height, width, height + int32_t(kTextLineHeight)}});
    if (!c->textStream) return Fail(AviExportMessage::ConvertFailed, c->file->errorText());
    const uint8_t textFormat[4] = {};
    if (!c->textStream->setFormat(textFormat, sizeof textFormat))
        return Fail(AviExportMessage::UnavailableFormat);

    m_log(aviExportText(AviExportMessage::Saving));
    const uint32_t total = c->reader.TotalFrameCount();
    std::string stopped;
    for (uint32_t i = 0; i < total; ++i) {
        if (m_progress) m_progress(i, total);
        if (c->frame->HasAudio() && c->frame->AudioLength() > 0) c->writeAudio();
        if (!(c->frame->Flags() & kFrameFlagNoPicture)) {
            if (c->decodePicture())
                c->fitter.fit(c->picture, pictureFormatOf(c->info.Kind(), c->frame->Flags()),
                              c->width, c->height, c->sample.data());
            // A picture that does not decode repeats the previous one, so the timing holds.
            c->compressed->write(i, 1, c->sample.data(), c->sample.size(),
                                 AviSampleFlags::KeyFrame);
        }
        c->textStream->write(i, 1, c->text.data(), c->text.size(), AviSampleFlags::KeyFrame);
        if (i + 1 < total && !c->reader.ReadFrame(*c->frame, -1, 0)) {
            stopped = "frame " + std::to_string(i + 1) + " of " + std::to_string(total) +
                      " cannot be read (" + c->reader.LastError().text +
                      "): the file holds the frames before it";
            break;
        }
    }
    if (m_progress) m_progress(total, total);
    // The compressor's last pictures go in before the file is completed; a file missing them
    // is discarded.
    const bool flushed = c->compressed->release();
    c->compressed.reset();
    if (!flushed)
        return Fail(AviExportMessage::ConvertFailed, "the compressor failed on the last pictures");
    if (!c->file->close()) return Fail(AviExportMessage::ConvertFailed, c->file->errorText());
    if (!stopped.empty()) m_log(stopped);
    m_log(aviExportText(AviExportMessage::Saved));
    return true;
}

}  // namespace kx
