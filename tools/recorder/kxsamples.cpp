// kxsamples DIR: writes one small recording of each kind into DIR, so that the tools have
// something to show on a fresh build. The frames carry the "no picture" flag: their bytes are a
// fill pattern, not coded video. kxrec writes recordings with real pictures and sound.
#include <cstdio>
#include <filesystem>
#include <string>

#include "recording/record_reader.h"
#include "tools/recorder/recording_writer.h"

namespace kx {
namespace {

constexpr uint32_t kStartTime = 1793606400;  // 2026-11-02 08:00:00 UTC
constexpr uint32_t kFrameMs = 40;
constexpr uint32_t kFramesPerGroup = 25;

struct Sample {
    const char* name;
    int kind;
    uint32_t version;
    uint8_t resolutionCode;
    uint32_t headerFlags;
    int32_t gmtOffset;
    uint32_t groups;
    bool audio;
};

void fillFrame(CRecordFrame& frame, uint32_t number, bool audio) {
    const uint32_t videoBytes = 600 + (number * 37) % 400;
    for (uint32_t i = 0; i < videoBytes; ++i) frame.VideoBuffer()[i] = static_cast<uint8_t>(number + i * 13);
    frame.SetVideoLength(videoBytes);
    frame.SetKind(number % kFramesPerGroup == 0 ? kFrameKindKey : 1);
    frame.SetFlags(static_cast<uint16_t>(kFrameFlagNoPicture | (audio ? kFrameFlagAudio : 0)));
    frame.SetAudioLength(audio ? 120 : 0);
}

bool report(const RecordingWriter& writer) {
    std::fprintf(stderr, "kxsamples: %s\n", writer.errorText().c_str());
    return false;
}

bool writeSample(const std::filesystem::path& folder, const Sample& sample) {
    CRecordInfo info;
    info.SetKind(sample.kind);
    info.SetVersion(sample.version);
    info.SetResolutionCode(sample.resolutionCode);
    info.SetHeaderFlags(sample.headerFlags);
    info.SetBoardNumber(0);
    info.SetCameraNumber(static_cast<uint8_t>(sample.kind));
    info.SetHostName("DVR-SAMPLE");
    info.SetBoardName("Board 1");
    info.SetCameraName(std::string("Camera ") + sample.name);
    for (int c = 0; c < kChannelCount; ++c) {
        info.SetCameraName("Quad camera " + std::to_string(c + 1), c);
        info.SetBoardName("Quad board", c);
    }
    const uint32_t firstTick = 5'000'000 + 1000 * uint32_t(sample.kind);
    info.SetStartTime(kStartTime + 3600 * uint32_t(sample.kind));
    info.SetGmtOffset(sample.gmtOffset);
    info.SetFirstFrameTick(firstTick);

    RecordingWriter writer;
    const std::string path = (folder / sample.name).string();
    if (!writer.create(path, info)) return report(writer);
    CRecordFrame frames[kChannelCount] = {{320, 240, 4096}, {320, 240, 4096}, {320, 240, 4096}, {320, 240, 4096}};
    uint32_t tick = firstTick;
    for (uint32_t n = 0; n < sample.groups * kFramesPerGroup; ++n, tick += kFrameMs) {
        if (n % kFramesPerGroup == 0 && !writer.beginGroup(tick)) return report(writer);
        bool written = false;
        if (sample.kind == kKindFourChannel) {
            for (int c = 0; c < kChannelCount; ++c) fillFrame(frames[c], n + uint32_t(c), sample.audio && c == 0);
            written = writer.writeFourChannelFrame(tick, {&frames[0], &frames[1], &frames[2], &frames[3]});
        } else {
            fillFrame(frames[0], n, sample.audio);
            frames[0].SetTick(tick);
            written = writer.writeFrame(frames[0]);
        }
        if (!written) return report(writer);
    }
    const uint32_t lastTick = tick - kFrameMs;
    return writer.finish(info.WallTimeOfTick(lastTick)) || report(writer);
}

}  // namespace
}  // namespace kx

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kxsamples DIR\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const kx::Sample samples[] = {
        {"lobby.kx", kx::kKindLegacyKx, 0x100, 131, 0, 0, 3, false},
        {"gate.kxx", kx::kKindLegacyKxx, 0x101, 7, kx::kHeaderFlag352Pixels, 9, 4, true},
        {"yard.kxq", kx::kKindLegacyKxq, 0x101, 2, 0, -5, 2, false},
        {"clip.kxz", kx::kKindClip, 1, 135, kx::kHeaderFlagClip, 1, 3, true},
        {"office.ckx", kx::kKindExtended, 2, 135, 0, 1, 5, true},
        {"quad.ckx", kx::kKindFourChannel, 1, 7, 0, 8, 4, true},
    };
    bool ok = true;
    for (const kx::Sample& sample : samples) ok = kx::writeSample(folder, sample) && ok;
    return ok ? 0 : 1;
}
