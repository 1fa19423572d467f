// kxtool decode: decodes every frame that carries a picture with the decoder the player would
// choose (the legacy decoder for the older kinds 0 to 2, else the decoder of the first frame's
// codec) and writes each picture upright as B, G, R (raw), as an MD5 line, as a PPM file, or
// as a PNG file of the picture as the player shows it, caption included.
// A frame that does not decode is reported and the run goes on with the next; a legacy picture
// damaged part way is reported and written as far as it decoded, as the player shows it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "codec/frame_decoder.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/md5.h"
#include "tools/kxtool/open_recording.h"
#include "tools/kxtool/shown_picture.h"

namespace kx {
namespace {

// The frame buffers hold the largest picture the recorders make, whatever the header says.
constexpr int kMinBufferWidth = 720;
constexpr int kMinBufferHeight = 576;
constexpr uint32_t kAudioBytes = 1 << 20;
constexpr int kAvcCodec = 4;

// Writes to `path` through a temporary name beside it, renamed into place on success.
bool writeFileAtomically(const std::string& path, const std::vector<uint8_t>& header,
                         const uint8_t* data, size_t size, std::string& reason) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        if (!out) {
            reason = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        reason = "cannot rename " + temporary + " to " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int runDecode(const DecodeOptions& options) {
    CRecordInfo info;
    CRecordReader reader;
    std::string reason;
    if (!openRecording(options.file, options.channel.value_or(-1), info, reader, reason)) {
        reportError(options.file, reason);
        return 1;
    }
    const bool legacy = isLegacyKind(info.Kind());
    // The older kinds: pictures come out at the size their stream gives.
    if (!legacy && (info.Width() <= 0 || info.Height() <= 0)) {
        reportError(options.file, "the resolution code " + std::to_string(info.ResolutionCode()) +
                                      " gives no picture size");
        return 1;
    }
    const auto headerWidth = uint32_t(std::max(info.Width(), 0));
    const auto headerHeight = uint32_t(std::max(info.Height(), 0));
    const bool large =
        int64_t(headerWidth) * headerHeight >= int64_t(kMinBufferWidth) * kMinBufferHeight;
    CRecordFrame frame(large ? int(headerWidth) : kMinBufferWidth,
                       large ? int(headerHeight) : kMinBufferHeight, kAudioBytes);

    FrameDecoder decoder;
    RgbPicture picture(legacy ? 0 : headerWidth, legacy ? 0 : headerHeight);
    std::vector<uint8_t> upright;
    std::ofstream raw;
    const std::string rawTemporary = options.raw.empty() ? "" : options.raw + ".part";
    if (!options.raw.empty()) {
        raw.open(rawTemporary, std::ios::binary | std::ios::trunc);
        if (!raw) {
            reportError(options.raw, "cannot be written");
            return 1;
        }
    }
    if (!options.ppm.empty()) std::filesystem::create_directories(options.ppm);
    std::unique_ptr<ShownPictureWriter> shown;
    if (!options.shown.empty()) {
        std::filesystem::create_directories(options.shown);
        shown = std::make_unique<ShownPictureWriter>();
    }

    int status = 0;
    uint32_t index = 0;
    int written = 0;
    for (;; ++index) {
        if (options.frames && written >= *options.frames) break;
        if (!reader.ReadFrame(frame, -1, 0)) {
            // A damaged frame: report it and go on with the next group that reads.
            uint32_t failed = reader.NextGroup();
            if (failed < reader.GroupCount() &&
                reader.NextInGroup() >= reader.GroupFrameCount(int32_t(failed)))
                ++failed;
            while (failed < reader.GroupCount() && reader.GroupFrameCount(int32_t(failed)) == 0)
                ++failed;
            if (failed >= reader.GroupCount()) break;
            reportError(options.file, reader.LastError().text);
            status = 1;
            bool resumed = false;
            for (uint32_t g = failed + 1; g < reader.GroupCount() && !resumed; ++g)
                resumed = reader.GroupFrameCount(int32_t(g)) > 0 &&
                          reader.ReadFrame(frame, int32_t(g), 0);
            if (!resumed) break;
            index = reader.FirstFrameNumber(int32_t(frame.Group())) + frame.PositionInGroup();
        }
        if (!decoder.ready() && !decoder.setup(info.Kind(), info.Version(), frame.Codec(), reason, headerWidth, headerHeight)) {
            reportError(options.file, reason);
            return 1;
        }
        if (frame.Flags() & kFrameFlagNoPicture) continue;
        // As the player decodes codec 4: the loop filter on, as in normal playback, unless asked.
        const FrameDecode decoded =
            decoder.decode(frame, picture, options.noDeblock ? Deblocking::Off : Deblocking::On);
        if (decoded == FrameDecode::NotYet) continue;  // the codec holds this picture back
        if (decoded != FrameDecode::Whole) {
            // A damaged picture is reported and written as far as it decoded.
            reportError(options.file, "frame " + std::to_string(index) + ": " + decoder.failureText());
            status = 1;
            if (decoded == FrameDecode::Failed) continue;
        }
        if (shown) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%06u.png", index);
            const std::string path = (std::filesystem::path(options.shown) / name).string();
            if (!shown->write(picture, info, frame.Flags(), info.WallTimeOfTick(frame.Tick()), path,
                              reason)) {
                reportError(path, reason);
                return 1;
            }
            ++written;
            continue;
        }
        const uint32_t width = picture.width();
        const uint32_t height = picture.height();
        upright.resize(size_t(width) * height * 3);
        if (!uprightBgr(picture, info.Kind(), frame.Flags(), upright.data())) {
            reportError(options.file, "frame " + std::to_string(index) + ": codec " +
                                          std::to_string(frame.Codec()) + " has no picture layout");
            status = 1;
            continue;
        }
        ++written;
        if (raw.is_open())
            raw.write(reinterpret_cast<const char*>(upright.data()),
                      std::streamsize(upright.size()));
        if (options.md5)
            std::printf("%u %u %s\n", index, frame.Tick(),
                        md5Hex(upright.data(), upright.size()).c_str());
        if (!options.ppm.empty()) {
            // PPM holds R, G, B: swap from the B, G, R picture.
            std::vector<uint8_t> rgb(upright.size());
            for (size_t i = 0; i < rgb.size(); i += 3) {
                rgb[i] = upright[i + 2];
                rgb[i + 1] = upright[i + 1];
                rgb[i + 2] = upright[i];
            }
            const std::string text =
                "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
            char name[32];
            std::snprintf(name, sizeof name, "frame_%06u.ppm", index);
            const std::string path = (std::filesystem::path(options.ppm) / name).string();
            if (!writeFileAtomically(path, std::vector<uint8_t>(text.begin(), text.end()),
                                     rgb.data(), rgb.size(), reason)) {
                reportError(path, reason);
                return 1;
            }
        }
    }
    if (raw.is_open()) {
        raw.close();
        if (!raw || std::rename(rawTemporary.c_str(), options.raw.c_str()) != 0) {
            reportError(options.raw, "cannot be written");
            std::remove(rawTemporary.c_str());
            return 1;
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace kx
