// kxtool frames: one row per frame record in reading order. A damaged frame is reported and
// listing goes on with the next group, so everything readable is shown.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

// The listing reads every payload, so its buffers hold the largest picture the recorders make
// even when the header's resolution code promises less.
constexpr int kMinListingWidth = 720;
constexpr int kMinListingHeight = 576;
constexpr uint32_t kListingAudioBytes = 1 << 20;

void printRow(bool json, bool first, const CRecordInfo& info, const CRecordFrame& frame) {
    if (json) {
        const nlohmann::ordered_json row = {{"group", frame.Group()},
                                            {"position", frame.PositionInGroup()},
                                            {"tick", frame.Tick()},
                                            {"wall_time", info.WallTimeOfTick(frame.Tick())},
                                            {"kind", frame.Kind()},
                                            {"flags", frame.Flags()},
                                            {"codec", frame.Codec()},
                                            {"video_length", frame.VideoLength()},
                                            {"audio_length", frame.AudioLength()}};
        std::printf("%s\n  %s", first ? "" : ",", row.dump().c_str());
        return;
    }
    std::printf("%6u %5u %10u  %s %5u 0x%04X %5d %8u %6u\n", frame.Group(), frame.PositionInGroup(),
                frame.Tick(), formatLocalTime(info.WallTimeOfTick(frame.Tick())).c_str(),
                frame.Kind(), frame.Flags(), frame.Codec(), frame.VideoLength(),
                frame.AudioLength());
}

}  // namespace

int runFrames(const FramesOptions& options) {
    CRecordInfo info;
    CRecordReader reader;
    std::string reason;
    if (!openRecording(options.file, options.channel.value_or(-1), info, reader, reason)) {
        reportError(options.file, reason);
        if (options.json) std::printf("[]\n");
        return 1;
    }
    const bool large =
        int64_t(info.Width()) * info.Height() >= int64_t(kMinListingWidth) * kMinListingHeight;
    CRecordFrame frame(large ? info.Width() : kMinListingWidth,
                       large ? info.Height() : kMinListingHeight, kListingAudioBytes);

    int status = 0;
    bool first = true;
    if (options.json)
        std::printf("[");
    else
        std::printf(
            " group   pos       tick  wall time (local)     kind  flags codec    video  audio\n");
    const auto report = [&] {
        reportError(options.file, reader.LastError().text);
        status = 1;
    };
    for (;;) {
        if (reader.ReadFrame(frame, -1, 0)) {
            printRow(options.json, first, info, frame);
            first = false;
            continue;
        }
        // The cursor still names the frame after the last one read: find the group that
        // failed, or the end of the recording.
        uint32_t failed = reader.NextGroup();
        if (failed < reader.GroupCount() &&
            reader.NextInGroup() >= reader.GroupFrameCount(int32_t(failed)))
            ++failed;
        while (failed < reader.GroupCount() && reader.GroupFrameCount(int32_t(failed)) == 0)
            ++failed;
        if (failed >= reader.GroupCount()) break;
        report();
        // Go on with the first group after it whose first frame can be read.
        bool resumed = false;
        for (uint32_t g = failed + 1; g < reader.GroupCount() && !resumed; ++g) {
            if (reader.GroupFrameCount(int32_t(g)) == 0) continue;
            resumed = reader.ReadFrame(frame, int32_t(g), 0);
            if (!resumed) report();
        }
        if (!resumed) break;
        printRow(options.json, first, info, frame);
        first = false;
    }
    if (options.json) std::printf("%s]\n", first ? "" : "\n");
    return status;
}

}  // namespace kx
