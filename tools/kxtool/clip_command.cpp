// kxtool clip: cuts a clip out of a recording with the clip writer, then shows the new file.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

// The last group whose wall time is not after `time` (0 when the time lies before them all).
int32_t groupAt(const CRecordReader& reader, uint32_t time) {
    int32_t found = 0;
    for (int32_t g = 0; g < int32_t(reader.GroupCount()); ++g)
        if (reader.GroupWallTime(g) <= time) found = g;
    return found;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) !=
            suffix[i])
            return false;
    return true;
}

}  // namespace

int runClip(const ClipOptions& options) {
    CRecordInfo info;
    CRecordReader reader;
    std::string reason;
    if (!openRecording(options.file, -1, info, reader, reason)) {
        reportError(options.file, reason);
        return 1;
    }
    // Recognition goes by name for every kind but the four-channel one, so the clip must carry
    // the name of its kind to open again.
    const std::string extension = RecordingExtension(info.Kind());
    if (info.Kind() != kKindFourChannel && !endsWith(options.out, extension)) {
        reportError(options.out,
                    "a clip of this recording must be named *" + extension + " to open again");
        return 2;
    }

    int32_t firstGroup = options.fromGroup;
    int32_t lastGroup = options.toGroup;
    int32_t lastPosition = options.toPosition;
    if (!options.fromTime.empty()) {
        const auto time = parseTime(options.fromTime);
        if (!time) {
            reportError(options.fromTime, "not a time (YYYY-MM-DD HH:MM:SS or seconds)");
            return 2;
        }
        firstGroup = groupAt(reader, *time);
    }
    if (!options.toTime.empty()) {
        const auto time = parseTime(options.toTime);
        if (!time) {
            reportError(options.toTime, "not a time (YYYY-MM-DD HH:MM:SS or seconds)");
            return 2;
        }
        // The clip ends before the first frame of that group that is later than the time.
        lastGroup = groupAt(reader, *time);
        CRecordFrame frame(std::max(info.Width(), 720), std::max(info.Height(), 576), 1 << 20);
        lastPosition = 0;
        while (uint32_t(lastPosition) < reader.GroupFrameCount(lastGroup) &&
               reader.ReadFrame(frame, lastGroup, lastPosition) &&
               info.WallTimeOfTick(frame.Tick()) <= *time)
            ++lastPosition;
    }
    if (!reader.SaveClip(options.out, firstGroup, lastGroup, lastPosition)) {
        reportError(options.out, reader.LastError().text);
        return 1;
    }
    return runInfo(InfoOptions{false, {options.out}});
}

}  // namespace kx
