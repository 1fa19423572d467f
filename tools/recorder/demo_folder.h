// The demo folder: recordings a new user can explore, written by `kxrec demo DIR`.
#pragma once

#include <string>
#include <vector>

#include "tools/recorder/recording_job.h"

namespace kx {

// The recordings of the demo folder under `folder` (in its video/ subfolder): two boards with
// two cameras each, three consecutive recordings per camera, on two days, different sizes,
// both native codecs, sound on some, and one four-channel recording; and an older recorder's
// board with one camera for each of the older kinds (.kx, .kxx, .kxq, legacy codec).
std::vector<RecordingJob> demoJobs(const std::string& folder);

// Writes the jobs on all processor cores; returns false and the first error when one fails.
bool writeRecordings(const std::vector<RecordingJob>& jobs, std::string& error);

}  // namespace kx
