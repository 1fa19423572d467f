// The MP4 evidence export: frames to timed pictures, sound and one subtitle a second, then the
// hashes and the header into the sidecar.
#include "output/mp4_export.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "output/export_source.h"
#include "platform/avi_file.h"
#include "platform/mp4_file.h"
#include "recording/file_digest.h"
#include "recording/recorder_text.h"

namespace kx {
namespace {

constexpr int kSamplesPerMs = 8;  // 8000 Hz

bool endsWithMp4(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".mp4";
}

std::string isoUtc(uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[40] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &parts);
    return text;
}

std::string recorderTime(uint32_t seconds, int32_t gmtOffsetHours) {
    const std::time_t t = std::time_t(seconds) + std::time_t(gmtOffsetHours) * 3600;
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[64] = {};
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
    char zone[24] = {};
    std::snprintf(zone, sizeof zone, gmtOffsetHours >= 0 ? " (GMT+%02d:00)" : " (GMT-%02d:00)",
                  gmtOffsetHours >= 0 ? gmtOffsetHours : -gmtOffsetHours);
    return std::string(text) + zone;
}

// Writes `text` to `path` under a temporary name, renamed into place when complete.
bool writeWhole(const std::string& path, const std::string& text) {
    const std::filesystem::path target(path);
    const std::filesystem::path partial =
        target.parent_path() /
        ("." + target.filename().string() + ".part-" + std::to_string(::getpid()));
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return false;
        }
    }
    std::error_code code;
    std::filesystem::rename(partial, target, code);
    if (code) std::filesystem::remove(partial, code);
    return !code;
}

}  // namespace

std::string mp4SidecarPath(const std::string& mp4Path) {
    return mp4Path + ".json";
}

std::string mp4SubtitleText(const CRecordInfo& info, uint32_t wallTime) {
    return recorderTextToUtf8(info.HostName()) + "  " + recorderTextToUtf8(info.BoardName()) +
           "  " + recorderTextToUtf8(info.CameraName()) + "\n" +
           recorderTime(wallTime, info.GmtOffset());
}

Mp4Export::Mp4Export(Log log, Progress progress)
    : m_log(std::move(log)), m_progress(std::move(progress)) {}

bool Mp4Export::Fail(const std::string& line) {
    m_log(line);
    return false;
}

bool Mp4Export::Export(const std::string& input, const std::string& output, int quality) {
    if (input.empty()) return Fail("Please input the KX file name!");
    if (output.empty()) return Fail("Please input the MP4 file name!");
    if (!endsWithMp4(output)) return Fail("Please check the MP4 file name(*.mp4)!");

    auto source = std::make_unique<ExportSource>();
    std::string detail;
    if (!source->open(input, ExportCodecs::Any, detail)) return Fail("File open failed! " + detail);
    const CRecordInfo& info = source->info();
    const std::string host = recorderTextToUtf8(info.HostName());
    const std::string board = recorderTextToUtf8(info.BoardName());
    const std::string camera = recorderTextToUtf8(info.CameraName());

    Mp4Options options;
    options.width = int(source->width());
    options.height = int(source->height());
    options.quality = quality;
    options.audio = source->frame().HasAudio();
    options.metadata = {
        {"title", host + " " + board + " " + camera},
        {"comment", "Recorded by " + host + ", " + board + ", " + camera + " from " +
                        recorderTime(info.StartTime(), info.GmtOffset()) + " to " +
                        recorderTime(info.EndTime(), info.GmtOffset())},
        {"creation_time", isoUtc(info.StartTime())},
        {"kx_host", host},
        {"kx_board", board},
        {"kx_camera", camera},
        {"kx_start_time", std::to_string(info.StartTime())},
        {"kx_end_time", std::to_string(info.EndTime())},
        {"kx_gmt_offset", std::to_string(info.GmtOffset())},
        {"kx_first_tick", std::to_string(source->firstTick())},
        {"encoder", kMp4ExportVersion},
    };
    std::unique_ptr<Mp4File> file = openMp4File(output, options, detail);
    if (!file) return Fail("File open failed! " + detail);

    m_log("Saving the MP4 file! Please waiting...");
    const uint32_t total = source->totalFrames();
    const uint32_t firstTick = source->firstTick();
    const size_t stride = aviBitmapStride(source->width());
    int64_t timeMs = 0;
    int64_t lastTimeMs = 0;
    uint32_t pictures = 0;
    int64_t cueSecond = -1;  // the second whose subtitle is open
    std::string stopped;
    const auto closeCue = [&](int64_t endMs) {
        if (cueSecond < 0) return true;
        const int64_t start = cueSecond * 1000;
        const int64_t end = std::clamp<int64_t>(endMs, start + 1, start + 1000);
        return file->writeSubtitle(start, end,
                                   mp4SubtitleText(info, info.StartTime() + uint32_t(cueSecond)));
    };
    for (uint32_t i = 0; i < total; ++i) {
        if (m_cancel) return Fail(kCancelledText);  // the file is discarded unwritten
        if (m_progress) m_progress(i, total);
        // Ticks count up from the first frame (32-bit, wrapping); one that goes back keeps the
        // time of the frame before it.
        const uint32_t sinceFirst = source->frame().Tick() - firstTick;
        if (sinceFirst < 0x80000000u && int64_t(sinceFirst) > timeMs) timeMs = sinceFirst;
        if (timeMs / 1000 != cueSecond) {
            if (!closeCue(timeMs)) return Fail("File convert failed! " + file->errorText());
            cueSecond = timeMs / 1000;
        }
        size_t samples = 0;
        const int16_t* pcm = source->decodeAudio(samples);
        if (samples > 0 && !file->writeAudio(pcm, samples, timeMs * kSamplesPerMs))
            return Fail("File convert failed! " + file->errorText());
        if (source->hasPicture()) {
            // A picture that does not decode repeats the previous one, so the timing holds.
            source->decodePicture();
            if (!file->writePicture(source->bitmap().data(), stride, timeMs))
                return Fail("File convert failed! " + file->errorText());
            ++pictures;
            lastTimeMs = timeMs;
        }
        std::string reason;
        if (i + 1 < total && !source->next(reason)) {
            stopped = "frame " + std::to_string(i + 1) + " of " + std::to_string(total) +
                      " cannot be read (" + reason + "): the file holds the frames before it";
            break;
        }
    }
    if (m_progress) m_progress(total, total);
    const int64_t interval = pictures > 1 ? std::max<int64_t>(1, lastTimeMs / (pictures - 1)) : 40;
    if (!closeCue(lastTimeMs + interval) || !file->close())
        return Fail("File convert failed! " + file->errorText());
    if (!stopped.empty()) m_log(stopped);

    // The sidecar: hashes recomputed from the files as they now stand.
    const std::string sourceHash = sha256OfFile(input);
    const std::string mp4Hash = sha256OfFile(output);
    if (sourceHash.empty() || mp4Hash.empty()) return Fail("File convert failed! the files cannot be hashed");
    nlohmann::ordered_json record;
    record["source"] = {
        {"path", input},
        {"size", std::filesystem::file_size(input)},
        {"sha256", sourceHash},
        {"header",
         {{"kind", info.Kind()},
          {"version", info.Version()},
          {"resolution_code", info.ResolutionCode()},
          {"host_name", host},
          {"board_name", board},
          {"camera_name", camera},
          {"board_number", info.BoardNumber()},
          {"camera_number", info.CameraNumber()},
          {"start_time", info.StartTime()},
          {"end_time", info.EndTime()},
          {"first_frame_tick", info.FirstFrameTick()},
          {"gmt_offset", info.GmtOffset()}}},
    };
    record["mp4"] = {{"path", output},
                     {"size", std::filesystem::file_size(output)},
                     {"sha256", mp4Hash},
                     {"width", source->width()},
                     {"height", source->height()},
                     {"quality", quality}};
    record["frames"] = total;
    record["pictures"] = pictures;
    record["first_tick"] = firstTick;
    record["last_tick"] = source->lastTick();
    record["tool"] = {{"name", "KX Player"},
                      {"version", kMp4ExportVersion},
                      {"writer", mp4WriterVersion()}};
    if (!writeWhole(mp4SidecarPath(output), record.dump(2) + "\n"))
        return Fail("File convert failed! cannot write " + mp4SidecarPath(output));
    m_log("File saved!");
    return true;
}

}  // namespace kx
