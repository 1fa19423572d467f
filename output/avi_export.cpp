// The AVI export: the checks and the opening of "Convert", the three streams, and the frame
// loop: sound decoded to PCM and appended, each picture decoded and fitted to the video format,
// one text sample per frame, up to the first frame that cannot be read.
#include "output/avi_export.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <numeric>
#include <vector>

#include "output/export_source.h"
#include "platform/avi_file.h"

namespace kx {
namespace {

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

AviExportRates aviExportRates(uint32_t totalFrames, uint32_t startTime, uint32_t endTime,
                              uint32_t firstTick, uint32_t lastTick) {
    AviExportRates rates = aviExportRates(totalFrames, startTime, endTime);
    const uint32_t spanMs = lastTick - firstTick;  // ticks wrap: the difference does not
    if (totalFrames < 2 || spanMs == 0 || spanMs > 0x80000000u) return rates;
    // Frames per second = (frames - 1) intervals over the span: rate (frames - 1) x 1000, scale
    // the span in milliseconds, reduced to fit 32 bits.
    uint64_t rate = uint64_t(totalFrames - 1) * 1000;
    uint64_t scale = spanMs;
    const uint64_t divisor = std::gcd(rate, scale);
    rate /= divisor;
    scale /= divisor;
    while (rate > 0xFFFFFFFFu) {
        rate >>= 1;
        scale = std::max<uint64_t>(1, scale >> 1);
    }
    rates.videoRate = uint32_t(rate);
    rates.videoScale = uint32_t(scale);
    return rates;
}

// Everything one conversion owns: the recording and the AVI file with its streams, released in
// the order compressed stream, audio, text, file.
struct AviExport::Conversion {
    ExportSource source;
    std::array<char, kTextSampleBytes> text{};
    AviExportRates rates;

    std::unique_ptr<AviFile> file;
    AviStream* video = nullptr;
    std::unique_ptr<AviStream> compressed;
    AviStream* audio = nullptr;
    AviStream* textStream = nullptr;
};

AviExport::AviExport(Log log, Progress progress)
    : m_log(std::move(log)), m_progress(std::move(progress)) {}

AviExport::~AviExport() = default;

bool AviExport::Fail(AviExportMessage message, const std::string& detail) {
    m_conversion.reset();
    m_log(aviExportText(message));
    if (!detail.empty()) m_log(detail);
    return false;
}

bool AviExport::Convert(const std::string& input, const std::string& output,
                        const std::string& compressor, std::optional<int> quality) {
    return Open(input, output) && Run(compressor, quality);
}

void AviExport::Abandon() {
    m_conversion.reset();
}

bool AviExport::Open(const std::string& input, const std::string& output) {
    m_conversion.reset();
    if (input.empty()) return Fail(AviExportMessage::NoInput);
    if (output.empty()) return Fail(AviExportMessage::NoOutput);
    // Case-sensitive, as the name was typed.
    if (output.size() < 3 || output.compare(output.size() - 3, 3, "avi") != 0)
        return Fail(AviExportMessage::BadOutputName);

    // An existing file of the output name stays until the new one is complete (the file is
    // written under a temporary name), so a failure never leaves the user without either.
    m_conversion = std::make_unique<Conversion>();
    Conversion& c = *m_conversion;
    std::string detail;
    if (!c.source.open(input, ExportCodecs::AviSet, detail))
        return Fail(AviExportMessage::OpenFailed, detail);
    const CRecordInfo& info = c.source.info();
    c.rates = aviExportRates(c.source.totalFrames(), info.StartTime(), info.EndTime(),
                             c.source.firstTick(), c.source.lastTick());
    // The first 16 bytes of the description: board name, camera name and the times.
    const std::string description = info.BoardName() + " " + info.CameraName() +
                                    " From:" + formatTime(info.StartTime()) +
                                    " To:" + formatTime(info.EndTime());
    std::memcpy(c.text.data(), description.data(), std::min(c.text.size(), description.size()));

    c.file = openAviFile(output, detail);
    if (!c.file) return Fail(AviExportMessage::OpenFailed, detail);
    const uint32_t width = c.source.width();
    const uint32_t height = c.source.height();
    c.video = c.file->createStream({AviStreamType::Video,
                                    0,
                                    c.rates.videoScale,
                                    c.rates.videoRate,
                                    1,
                                    width * height * 3,
                                    0,
                                    {0, 0, int32_t(width), int32_t(height)}});
    if (!c.video) return Fail(AviExportMessage::ConvertFailed, c.file->errorText());
    return true;
}

bool AviExport::Run(const std::string& compressor, std::optional<int> quality) {
    if (!m_conversion) return false;
    Conversion& c = *m_conversion;
    std::string detail;
    const auto width = int32_t(c.source.width());
    const auto height = int32_t(c.source.height());
    c.compressed = makeCompressedStream(*c.video, compressor, detail, quality);
    if (!c.compressed) return Fail(AviExportMessage::ConvertFailed, detail);
    const std::vector<uint8_t> bitmap = aviBitmapFormat(width, height);
    if (!c.compressed->setFormat(bitmap.data(), bitmap.size()))
        return Fail(AviExportMessage::UnavailableFormat);

    const std::vector<uint8_t> wave = aviPcmFormat(1, 8000, 16);
    c.audio = c.file->createStream({AviStreamType::Audio, 0, 2, 16000, 1, 1920, 2, {}});
    if (!c.audio) return Fail(AviExportMessage::ConvertFailed, c.file->errorText());
    if (!c.audio->setFormat(wave.data(), wave.size()))
        return Fail(AviExportMessage::UnavailableFormat);

    c.textStream = c.file->createStream({AviStreamType::Text,
                                         aviFourCc('D', 'R', 'A', 'W'),
                                         1,
                                         c.rates.textRate,
                                         0,
                                         kTextSampleBytes,
                                         0,
                                         {0, height, width, height + int32_t(kTextLineHeight)}});
    if (!c.textStream) return Fail(AviExportMessage::ConvertFailed, c.file->errorText());
    const uint8_t textFormat[4] = {};
    if (!c.textStream->setFormat(textFormat, sizeof textFormat))
        return Fail(AviExportMessage::UnavailableFormat);

    m_log(aviExportText(AviExportMessage::Saving));
    const uint32_t total = c.source.totalFrames();
    std::string stopped;
    for (uint32_t i = 0; i < total; ++i) {
        if (m_cancel) {
            m_conversion.reset();  // the file is discarded unwritten
            m_log(kCancelledText);
            return false;
        }
        if (m_progress) m_progress(i, total);
        size_t samples = 0;
        const int16_t* pcm = c.source.decodeAudio(samples);
        if (samples > 0)
            c.audio->write(c.audio->length(), int32_t(samples), pcm, samples * 2,
                           AviSampleFlags::KeyFrame);
        if (c.source.hasPicture()) {
            // A picture that does not decode repeats the previous one, so the timing holds.
            c.source.decodePicture();
            c.compressed->write(i, 1, c.source.bitmap().data(), c.source.bitmap().size(),
                                AviSampleFlags::KeyFrame);
        }
        c.textStream->write(i, 1, c.text.data(), c.text.size(), AviSampleFlags::KeyFrame);
        std::string reason;
        if (i + 1 < total && !c.source.next(reason)) {
            stopped = "frame " + std::to_string(i + 1) + " of " + std::to_string(total) +
                      " cannot be read (" + reason + "): the file holds the frames before it";
            break;
        }
    }
    if (m_progress) m_progress(total, total);
    // The compressor's last pictures go in before the file is completed; a file missing them
    // is discarded.
    const bool flushed = c.compressed->release();
    c.compressed.reset();
    if (!flushed)
        return Fail(AviExportMessage::ConvertFailed, "the compressor failed on the last pictures");
    if (!c.file->close()) return Fail(AviExportMessage::ConvertFailed, c.file->errorText());
    m_conversion.reset();
    if (!stopped.empty()) m_log(stopped);
    m_log(aviExportText(AviExportMessage::Saved));
    return true;
}

}  // namespace kx
