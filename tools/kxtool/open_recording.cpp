// Opening a recording for a command.
#include "tools/kxtool/open_recording.h"

#include <algorithm>


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

}  // namespace kx
