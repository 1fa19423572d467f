// kxtool info: header, index and duration of recordings, as text or JSON.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "recording/resolution.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

using Json = nlohmann::ordered_json;

PictureSize displaySize(const CRecordInfo& info) {
    return DisplaySizeOf(info).value_or(PictureSize{});
}

Json infoJson(const std::string& path, const CRecordInfo& info, const CRecordReader& reader) {
    const PictureSize display = displaySize(info);
    Json object;
    object["path"] = path;
    object["kind"] = info.Kind();
    object["version"] = info.Version();
    object["resolution_code"] = info.ResolutionCode();
    object["coded_width"] = info.Width();
    object["coded_height"] = info.Height();
    object["display_width"] = display.width;
    object["display_height"] = display.height;
    object["board_number"] = info.BoardNumber();
    object["camera_number"] = info.CameraNumber();
    object["board_name"] = textToUtf8(info.BoardName());
    object["camera_name"] = textToUtf8(info.CameraName());
    object["host_name"] = textToUtf8(info.HostName());
    if (info.Kind() == kKindFourChannel) {
        Json channels = Json::array();
        for (int c = 0; c < kChannelCount; ++c)
            channels.push_back({{"board_name", textToUtf8(info.BoardName(c))},
                                {"camera_name", textToUtf8(info.CameraName(c))}});
        object["channels"] = channels;
    }
    object["start_time"] = info.StartTime();
    object["end_time"] = info.EndTime();
    object["first_frame_tick"] = info.FirstFrameTick();
    object["gmt_offset"] = info.GmtOffset();
    object["header_flags"] = info.HeaderFlags();
    object["first_group_offset"] = info.FirstGroupOffset();
    object["file_length"] = info.FileLength();
    object["groups"] = reader.GroupCount();
    object["frames"] = reader.TotalFrameCount();
    return object;
}

std::string quoted(const std::string& name) {
    std::string text = "\"";
    text += textToUtf8(name);
    text += '"';
    return text;
}

void printReport(const std::string& path, const CRecordInfo& info, const CRecordReader& reader) {
    std::printf("%s\n", path.c_str());
    std::printf("  kind         %d (%s), version 0x%X\n", info.Kind(), kindName(info.Kind()),
                info.Version());
    std::printf("  host         %s\n", quoted(info.HostName()).c_str());
    if (info.Kind() == kKindFourChannel) {
        std::printf("  board        %u, camera %u\n", info.BoardNumber() + 1u,
                    info.CameraNumber() + 1u);
        for (int c = 0; c < kChannelCount; ++c)
            std::printf("  channel %d    board %s, camera %s\n", c,
                        quoted(info.BoardName(c)).c_str(), quoted(info.CameraName(c)).c_str());
    } else {
        std::printf("  board        %u %s\n", info.BoardNumber() + 1u,
                    quoted(info.BoardName()).c_str());
        std::printf("  camera       %u %s\n", info.CameraNumber() + 1u,
                    quoted(info.CameraName()).c_str());
    }
    if (const auto display = DisplaySizeOf(info))
        std::printf("  picture      code %u: coded %d x %d, display %d x %d\n",
                    info.ResolutionCode(), info.Width(), info.Height(), display->width,
                    display->height);
    else
        std::printf("  picture      code %u: not a known resolution code\n", info.ResolutionCode());
    std::printf("  start        %s local, %s recorder\n", formatLocalTime(info.StartTime()).c_str(),
                formatRecorderTime(info.StartTime(), info.GmtOffset()).c_str());
    std::printf("  end          %s local, %s recorder\n", formatLocalTime(info.EndTime()).c_str(),
                formatRecorderTime(info.EndTime(), info.GmtOffset()).c_str());
    std::printf("  first tick   %u ms\n", info.FirstFrameTick());
    std::string flags;
    if (info.HeaderFlags() & kHeaderFlagClip) flags += ", clip";
    if (info.HeaderFlags() & kHeaderFlag352Pixels) flags += ", 352 pixels";
    std::printf("  flags        0x%08X%s\n", info.HeaderFlags(), flags.c_str());
    std::printf("  file         %s, first group at %u\n", formatBytes(info.FileLength()).c_str(),
                info.FirstGroupOffset());
    const std::string duration = info.EndTime() >= info.StartTime()
                                     ? formatDuration(info.EndTime() - info.StartTime())
                                     : "unknown";
    std::printf("  index        %u groups, %u frames, duration %s\n", reader.GroupCount(),
                reader.TotalFrameCount(), duration.c_str());
}

}  // namespace

void reportError(const std::string& file, const std::string& reason) {
    std::fprintf(stderr, "kxtool: %s: %s\n", file.c_str(), reason.c_str());
}

int runInfo(const InfoOptions& options) {
    int status = 0;
    Json all = Json::array();
    for (size_t i = 0; i < options.files.size(); ++i) {
        const std::string& file = options.files[i];
        CRecordInfo info;
        CRecordReader reader;
        std::string reason;
        if (!openRecording(file, -1, info, reader, reason)) {
            reportError(file, reason);
            status = 1;
            if (options.json) all.push_back({{"path", file}, {"error", reason}});
            continue;
        }
        if (options.json) {
            all.push_back(infoJson(file, info, reader));
        } else {
            if (i > 0) std::printf("\n");
            printReport(file, info, reader);
        }
    }
    if (options.json) std::cout << (all.size() == 1 ? all[0] : all).dump(2) << "\n";
    return status;
}

}  // namespace kx
