// The demo folder's face files and snapshots, made from the pictures of its recordings: a face
// file per camera in DIR/face/ whose faces fall inside that camera's recordings in DIR/video/
// (the layout the face window searches), and BMP and JPEG snapshots with their caption
// trailers in DIR/snapshots/.
#pragma once

#include <string>
#include <vector>

#include "tools/recorder/recording_job.h"

namespace kx {

// `jobs` are the demo recordings (demoJobs); the four-channel one gets no faces.
bool writeDemoPictures(const std::string& folder, const std::vector<RecordingJob>& jobs, std::string& error);

}  // namespace kx
