// The AVI export ("KX to AVI"): converts one recording into an AVI file of three streams, the
// pictures through a chosen compressor, the sound as 16-bit PCM and a text stream describing
// the recording. The Kx2Avi dialog and kxtool export drive it; it reports as log lines.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kx {

// The log messages, by their string ids.
enum class AviExportMessage {
    NoInput = 3,
    NoOutput = 4,
    BadOutputName = 5,
    OpenFailed = 6,
    ConvertFailed = 7,
    UnavailableFormat = 8,
    Saving = 9,
    Saved = 10,
};
const char* aviExportText(AviExportMessage message);

// The output name proposed for a recording: the name with "avi" for its extension (".avi"
// added to a name without one); empty for no input.
std::string proposeAviName(const std::string& input);

struct AviExportRates {
    uint32_t videoRate = 0;   // the recording's frames ...
    uint32_t videoScale = 1;  // ... over its whole seconds
    uint32_t textRate = 1;
};
// Video: total frames over the seconds from start to end time. Text: frames per whole second,
// at least 1 and one less when above 10. A recording whose end time is not after its start
// time (one shorter than a second, or damaged) counts as one second for the video and gets a
// text rate of 1.
AviExportRates aviExportRates(uint32_t totalFrames, uint32_t startTime, uint32_t endTime);
// The video rate the export writes: taken from the frames' ticks, first to last plus one frame
// interval, so that the pictures last as long as the sound recorded beside them (the header's
// whole seconds can be a second short or long). The text rate stays the header's. A recording
// of one frame, or whose ticks do not advance, keeps the header's video rate.
AviExportRates aviExportRates(uint32_t totalFrames, uint32_t startTime, uint32_t endTime,
                              uint32_t firstTick, uint32_t lastTick);

class AviExport {
public:
    using Log = std::function<void(const std::string& line)>;
    // Called before each frame with its index and the recording's total frame count.
    using Progress = std::function<void(uint32_t frame, uint32_t total)>;

    explicit AviExport(Log log, Progress progress = {});
    ~AviExport();
    AviExport(const AviExport&) = delete;
    AviExport& operator=(const AviExport&) = delete;

    // "Convert": checks the names, opens the recording, creates the streams, converts every
    // frame and logs "File saved!" (true) or the failure (false). The file is written under a
    // temporary name and replaces a file of the output name only when complete.
    bool Convert(const std::string& input, const std::string& output,
                 const std::string& compressor, std::optional<int> quality = std::nullopt);
    // Convert in two steps, so that a window can ask for the compressor between them and run
    // the frames on a worker thread. Open: the names, the recording, the file and its video
    // stream (failures logged). Run: the compressed, audio and text streams and every frame;
    // only after Open succeeded, once.
    bool Open(const std::string& input, const std::string& output);
    // `quality`: the compressor's quality setting (none: its standard one).
    bool Run(const std::string& compressor, std::optional<int> quality = std::nullopt);
    // Closes what Open opened without writing a file (the compressor choice was cancelled).
    void Abandon();
    // Replaces the log and progress callbacks (before Run, when Run goes to another thread).
    void SetLog(Log log, Progress progress) {
        m_log = std::move(log);
        m_progress = std::move(progress);
    }
    // From any thread: Run stops before its next frame, logs kCancelledText and leaves no file.
    void Cancel() { m_cancel = true; }

    static constexpr const char* kCancelledText = "Conversion cancelled: no file was written.";

private:
    struct Conversion;
    bool Fail(AviExportMessage message, const std::string& detail = {});

    Log m_log;
    Progress m_progress;
    std::unique_ptr<Conversion> m_conversion;
    std::atomic<bool> m_cancel{false};
};

}  // namespace kx
