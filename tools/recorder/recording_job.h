// One recording to write: what kxrec's options and the demo folder describe. The recorder
// encodes each picture with the native encoder (or, for the older kinds 0 to 2, the legacy
// encoder; libavcodec or XviD for MPEG-4), adds the sound blocks and lays out the groups.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "recording/record_info.h"
#include "tools/recorder/audio_track.h"
#include "tools/recorder/camera_stream_encoder.h"

namespace kx {

struct RecordingJob {
    std::string path;
    int kind = kKindExtended;  // 0, 1 or 2 (legacy codec), 3, 7 or 8
    int codec = 1;             // native codec 0 or 1, MPEG-4 codec 2, 3 or 6 or the avc codec 4 (kinds 3, 7 and 8); camera codec 7 or 8 (kinds 3 and 7)
    CameraStream cameraStream = CameraStream::Jpeg;  // what the camera of codec 7 or 8 sends
    uint8_t resolutionCode = 135;
    std::string inputY4m;  // empty: the built-in scene
    uint32_t frames = 250;
    double fps = 25;
    uint32_t groupMs = 1000;  // one group (starting with a key picture) per this many ms
    int quantiser = 6;  // native and MPEG-4 codecs 1..31, avc 10..59
    int avcVersion = 4;  // codec 4: bitstream version 3 or 4
    uint32_t gop = 0;    // frames per group (each starting with a key picture); 0: by groupMs
    int bFrames = 0;     // codecs 2, 4 and 6: B pictures between references (0..7)
    bool quarterSample = false;  // codecs 2 and 6: quarter-sample motion
    bool idctB = false;  // codec 1: frame flag 0x4000
    int legacyGroups = -1;  // kinds 0 to 2: re-aligned runs of ten macroblocks; -1 as many as fit
    AudioFormat audio = AudioFormat::None;
    SoundKind sound = SoundKind::Speech;
    int imaBlockBytes = 256;
    uint8_t boardNumber = 0;   // counted from 0
    uint8_t cameraNumber = 0;  // counted from 0
    std::string hostName = "KX-DVR";
    std::string boardName = "Board 1";
    std::string cameraName = "Camera 1";
    std::array<std::string, kChannelCount> channelCameraNames = {"Camera 1", "Camera 2", "Camera 3", "Camera 4"};
    std::array<std::string, kChannelCount> channelBoardNames = {"Board 1", "Board 1", "Board 1", "Board 1"};
    // Kinds 0 to 2: 0x100 (no GMT offset), 0x101 (GMT offset) or 0x1000 (pictures coded at half
    // the width of the resolution code, doubled by the player).
    uint32_t version = 1;
    int32_t gmtOffset = 0;
    uint32_t startTime = 1793606400;  // 2026-11-02 08:00:00 UTC
    uint32_t firstTick = 12'345'678;
    uint32_t seed = 1;
    uint32_t jitterMs = 0;  // each tick moves by up to this much either way
    uint32_t gapEvery = 0;  // every this many frames the recorder pauses for gapMs
    uint32_t gapMs = 0;
};

// Checks the job and writes the recording (under a temporary name, renamed when complete).
// On failure `error` says what is wrong, naming the file.
// The quantiser a recording of `codec` is written with unless one is asked for: 28 for the avc
// codec (10..59), 10 for codec 3, whose key pictures must fit the player's input buffer for
// that codec, and 6 for the others.
constexpr int defaultQuantiser(int codec) { return codec == 4 ? 28 : codec == 3 ? 10 : 6; }

bool writeRecording(const RecordingJob& job, std::string& error);

}  // namespace kx
