// Opening a recording for a command.
#include "tools/kxtool/open_recording.h"

#include "playback/play_frame.h"

namespace kx {

bool openRecording(const std::string& file, int channel, CRecordInfo& info, CRecordReader& reader,
                   std::string& reason) {
    if (!info.ReadInfo(file)) {
        reason = info.LastError().text;
        return false;
    }
    const bool fourChannel = info.Kind() == kKindFourChannel;
    if (!fourChannel && channel != -1) {
        reason = "not a four-channel recording, it has no channel " + std::to_string(channel);
        return false;
    }
    if (!reader.Open(&info, kReaderModeRead, fourChannel ? std::max(channel, 0) : -1)) {
        reason = reader.LastError().text;
        return false;
    }
    return true;
}

std::string whyNotPlayable(const std::string& file) {
    CRecordInfo info;
    if (!info.ReadInfo(file)) return info.LastError().text;
    if (info.Kind() == kKindFourChannel)
        return "a four-channel recording: it plays in quad play, not in the single player";
    CRecordReader reader;
    if (!reader.Open(&info, kReaderModeRead, -1)) return reader.LastError().text;
    CRecordFrame frame(info.Width(), info.Height(), CPlayFrame::kAudioCapacity);
    if (!reader.ReadFrame(frame, -1, 0)) return "no first frame: " + reader.LastError().text;
    return "no decoder for codec " + std::to_string(frame.Codec()) + " of the first frame";
}

}  // namespace kx
