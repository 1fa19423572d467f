// Opening a recording for a command: header first, then the reader on the wanted channel.
#pragma once

#include <string>

#include "recording/record_reader.h"

namespace kx {

// Reads the header of `file` into `info` and opens `reader` on it. Four-channel recordings are
// opened on `channel` (channel 0 when -1); `channel` other than -1 is refused for other kinds.
// On failure `reason` says why.
bool openRecording(const std::string& file, int channel, CRecordInfo& info, CRecordReader& reader,
                   std::string& reason);

}  // namespace kx
