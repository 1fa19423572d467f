// The MP4 evidence export: a recording as an MP4 that plays anywhere, each picture at its own
// recording time (the frames' ticks: the recorder's timeline, gaps included), the sound as AAC,
// a subtitle track with the recording's names and the recorder's wall time for every second,
// the names and times in the container's metadata; beside it OUT.json with the SHA-256 of the
// recording and of the MP4, the recording's header fields and the frame count. Both files are
// written under temporary names and renamed into place when complete.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kx {

class CRecordInfo;

// The version recorded in the sidecar.
inline constexpr const char* kMp4ExportVersion = "KX Player MP4 export 1.0";
inline constexpr int kDefaultMp4Quality = 23;  // H.264 constant rate factor, 0 (best) to 51

// The sidecar of an MP4: its path with ".json" appended.
std::string mp4SidecarPath(const std::string& mp4Path);

// The subtitle of one second of a recording: its names, then the recorder's wall time in the
// recorder's time zone, "YYYY/MM/DD HH:MM:SS (GMT+hh:00)".
std::string mp4SubtitleText(const CRecordInfo& info, uint32_t wallTime);

class Mp4Export {
public:
    using Log = std::function<void(const std::string& line)>;
    // Called before each frame with its index and the recording's total frame count.
    using Progress = std::function<void(uint32_t frame, uint32_t total)>;

    explicit Mp4Export(Log log, Progress progress = {});

    // Exports `input` to `output` (named *.mp4, any case) at `quality`; logs what happened, the
    // last line "File saved!" on success.
    bool Export(const std::string& input, const std::string& output, int quality);
    // From any thread: the export stops before its next frame and leaves no file.
    void Cancel() { m_cancel = true; }

    static constexpr const char* kCancelledText = "Export cancelled: no file was written.";

private:
    bool Fail(const std::string& line);

    Log m_log;
    Progress m_progress;
    std::atomic<bool> m_cancel{false};
};

}  // namespace kx
