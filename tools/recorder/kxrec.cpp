// kxrec: writes recordings as a recorder would, from the built-in scene or a Y4M file, with
// the native or avc encoder (or the legacy encoder for .kx, .kxx and .kxq) and G.726 or IMA sound.
// `kxrec demo DIR` writes the demo folder.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/system_clock.h"
#include "tools/recorder/demo_folder.h"
#include "tools/recorder/demo_pictures.h"
#include "tools/recorder/recording_job.h"

namespace {

// "2026-11-02 08:00:00" (UTC) or seconds since 1970.
bool parseStart(const std::string& text, uint32_t& seconds) {
    std::tm parts{};
    if (const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parts); end && *end == '\0') {
        seconds = uint32_t(timegm(&parts));
        return true;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (end && *end == '\0' && !text.empty() && value <= 0xFFFFFFFFull) {
        seconds = uint32_t(value);
        return true;
    }
    return false;
}

int kindOfName(const std::string& path, bool fourChannel, std::string& error) {
    if (fourChannel) return kx::kKindFourChannel;
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".kxz") return kx::kKindClip;
    if (extension == ".ckx") return kx::kKindExtended;
    if (extension == ".kx") return kx::kKindLegacyKx;
    if (extension == ".kxx") return kx::kKindLegacyKxx;
    if (extension == ".kxq") return kx::kKindLegacyKxq;
    error = path + ": the name must end in .kx, .kxx, .kxq (older kinds), .kxz (clip) or .ckx (extended), or give "
                   "--four-channel";
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kxrec: write recordings of the KX recorders from a synthetic scene or a Y4M file"};
    kx::RecordingJob job;
    job.gmtOffset = kx::systemGmtOffsetHours();
    std::string out;
    bool fourChannel = false;
    std::string audio = "none";
    std::string sound = "speech";
    int board = 1;
    int camera = 1;
    std::string start;
    int resolution = job.resolutionCode;
    std::optional<uint32_t> version;

    app.add_option("OUT", out, "Recording to write: .kx, .kxx, .kxq (older kinds, legacy codec), .kxz (clip) or .ckx (extended); any name with --four-channel");
    app.add_flag("--four-channel", fourChannel, "Write a four-channel recording (four cameras in one file)");
    app.add_option("--codec", job.codec, "Video codec of .kxz, .ckx and four-channel recordings: native 0, native 1 with motion vectors, MPEG-4 2 (the player's own engine), 3 (the media object) or 6 (XviD), the avc codec 4; 7 or 8 (camera streams, .kxz and .ckx)")->check(CLI::IsMember({0, 1, 2, 3, 4, 6, 7, 8}))->capture_default_str();
    app.add_option("--avc-version", job.avcVersion, "Codec 4: bitstream version 3 (B pictures from both references, direct macroblocks) or 4 (skipped macroblocks)")->check(CLI::IsMember({3, 4}))->capture_default_str();
    app.add_option("--gop", job.gop, "Frames per group, each group starting with a key picture (default: by --group-ms)");
    app.add_option("--b-frames", job.bFrames, "Codecs 2, 4 and 6: B pictures between reference pictures")->check(CLI::Range(0, 7))->capture_default_str();
    std::string cameraStream = "jpeg";
    app.add_option("--camera-stream", cameraStream, "Codecs 7 and 8: what the camera sends, jpeg, mpeg4 or h264")->check(CLI::IsMember({"jpeg", "mpeg4", "h264"}))->capture_default_str();
    app.add_option("--resolution", resolution, "Resolution code; the picture has its coded size")->check(CLI::Range(0, 255))->capture_default_str();
    app.add_option("--input", job.inputY4m, "Y4M file (4:2:0, samples taken as full-range like the cameras') whose pictures have the coded size; default: the built-in scene");
    app.add_option("--frames", job.frames, "Number of frames")->check(CLI::Range(1u, 10'000'000u))->capture_default_str();
    app.add_option("--fps", job.fps, "Frames per second")->capture_default_str();
    app.add_option("--group-ms", job.groupMs, "Length of a group (each starts with a key picture), ms")->capture_default_str();
    std::optional<int> quantiser;
    app.add_option("--quantiser", quantiser, "Quantiser: native and MPEG-4 codecs 1 (finest) to 31 (default 6, codec 3 10), codec 4 10 to 59 (default 28)")->check(CLI::Range(1, 59));
    app.add_flag("--qpel", job.quarterSample, "Codecs 2 and 6: quarter-sample motion");
    app.add_flag("--idct-b", job.idctB, "Codec 1: code with inverse DCT B (frame flag 0x4000)");
    app.add_option("--groups", job.legacyGroups, "Older kinds: runs of ten macroblocks re-aligned at the end of each picture (-1: as many as fit)")->check(CLI::Range(-1, 65535))->capture_default_str();
    app.add_option("--audio", audio, "Sound: none, g726 (24 kbit/s) or ima (IMA ADPCM blocks)")->check(CLI::IsMember({"none", "g726", "ima"}))->capture_default_str();
    app.add_option("--ima-block", job.imaBlockBytes, "Bytes per IMA block (32, 64, 128 or 256)")->capture_default_str();
    app.add_option("--sound", sound, "Source sound: speech or tone")->check(CLI::IsMember({"speech", "tone"}))->capture_default_str();
    app.add_option("--board", board, "Board number, counted from 1")->check(CLI::Range(1, 256))->capture_default_str();
    app.add_option("--camera", camera, "Camera number, counted from 1")->check(CLI::Range(1, 256))->capture_default_str();
    app.add_option("--board-name", job.boardName, "Board name")->capture_default_str();
    app.add_option("--camera-name", job.cameraName, "Camera name")->capture_default_str();
    app.add_option("--host", job.hostName, "Host (recorder) name")->capture_default_str();
    app.add_option("--gmt-offset", job.gmtOffset, "Time zone of the recorder, hours east of GMT (default: this computer's)")->check(CLI::Range(-12, 14));
    app.add_option("--start", start, "Start time: \"YYYY-MM-DD HH:MM:SS\" (UTC) or seconds since 1970 (default 2026-11-02 08:00:00)");
    app.add_option("--first-tick", job.firstTick, "Recorder clock at the first frame, ms")->capture_default_str();
    app.add_option("--jitter-ms", job.jitterMs, "Move each frame tick by up to this many ms")->capture_default_str();
    app.add_option("--gap-every", job.gapEvery, "Pause the recording every N frames (0: never)")->capture_default_str();
    app.add_option("--gap-ms", job.gapMs, "Length of each pause, ms")->capture_default_str();
    app.add_option("--version", version, "Header version (default 1; older kinds: 0x101, or 0x100 without the GMT offset, or 0x1000 for pictures coded at half the width and doubled by the player)");
    app.add_option("--seed", job.seed, "Seed of the built-in scene and sound")->capture_default_str();

    std::string demoFolder;
    CLI::App* demo = app.add_subcommand(
        "demo", "Write the demo folder (recordings in DIR/video, face files in DIR/face, snapshots in DIR/snapshots)");
    demo->add_option("DIR", demoFolder, "Folder to write")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }

    std::string error;
    if (*demo) {
        const std::vector<kx::RecordingJob> jobs = kx::demoJobs(demoFolder);
        if (!kx::writeRecordings(jobs, error) || !kx::writeDemoPictures(demoFolder, jobs, error)) {
            std::fprintf(stderr, "kxrec: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (out.empty()) {
        std::fprintf(stderr, "kxrec: name the recording to write (kxrec --help)\n");
        return 2;
    }
    job.path = out;
    job.kind = kindOfName(out, fourChannel, error);
    if (job.kind < 0) {
        std::fprintf(stderr, "kxrec: %s\n", error.c_str());
        return 2;
    }
    if (!start.empty() && !parseStart(start, job.startTime)) {
        std::fprintf(stderr, "kxrec: --start %s is neither \"YYYY-MM-DD HH:MM:SS\" nor seconds since 1970\n", start.c_str());
        return 2;
    }
    job.resolutionCode = uint8_t(resolution);
    job.quantiser = quantiser.value_or(kx::defaultQuantiser(job.codec));
    const bool legacy = kx::isLegacyKind(job.kind);
    job.version = version.value_or(legacy ? 0x101 : 1);
    job.audio = audio == "g726" ? kx::AudioFormat::G726 : audio == "ima" ? kx::AudioFormat::Ima : kx::AudioFormat::None;
    job.sound = sound == "tone" ? kx::SoundKind::Tone : kx::SoundKind::Speech;
    job.cameraStream = cameraStream == "mpeg4" ? kx::CameraStream::Mpeg4 : cameraStream == "h264" ? kx::CameraStream::H264 : kx::CameraStream::Jpeg;
    job.boardNumber = uint8_t(board - 1);
    job.cameraNumber = uint8_t(camera - 1);
    if (job.audio == kx::AudioFormat::Ima)
        std::fprintf(stderr, "kxrec: note: the player decodes the sound of native-codec recordings as G.726; "
                             "IMA blocks go with video codec 2\n");
    if (!kx::writeRecording(job, error)) {
        std::fprintf(stderr, "kxrec: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
