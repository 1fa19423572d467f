// kxtool audio: decodes every audio block of a recording, in reading order, into a mono 8 kHz
// 16-bit WAV file, with the codec the player chooses (IMA ADPCM for recordings whose video
// codec is 2, G.726 for all others) unless one is named. Blocks are cut into pieces exactly as
// the audio output fills its buffers, so the file holds what the player would play.
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "playback/audio_block_decoder.h"
#include "playback/wave_out.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/open_recording.h"

namespace kx {
namespace {

constexpr uint32_t kAudioBytes = 1 << 20;  // the largest audio block read
// The video buffer holds the largest picture the recorders make, whatever the header says.
constexpr int kMinBufferWidth = 720;
constexpr int kMinBufferHeight = 576;
constexpr uint32_t kWavHeaderBytes = 44;
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - kWavHeaderBytes;

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

std::vector<uint8_t> wavHeader(const PcmFormat& format, uint32_t dataBytes) {
    std::vector<uint8_t> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    putLe(h, 36 + dataBytes, 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe(h, 16, 4);
    putLe(h, 1, 2);  // PCM
    putLe(h, format.channels, 2);
    putLe(h, format.samplesPerSecond, 4);
    putLe(h, format.bytesPerSecond(), 4);
    putLe(h, format.bytesPerFrame(), 2);
    putLe(h, format.bitsPerSample, 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    putLe(h, dataBytes, 4);
    return h;
}

// Reads the next frame; after a damaged frame, reports it and goes on with the next group that
// reads. False at the end of the recording.
bool nextFrame(const AudioOptions& options, CRecordReader& reader, CRecordFrame& frame,
               int& status) {
    if (reader.ReadFrame(frame, -1, 0)) return true;
    uint32_t failed = reader.NextGroup();
    if (failed < reader.GroupCount() &&
        reader.NextInGroup() >= reader.GroupFrameCount(int32_t(failed)))
        ++failed;
    while (failed < reader.GroupCount() && reader.GroupFrameCount(int32_t(failed)) == 0) ++failed;
    if (failed >= reader.GroupCount()) return false;
    reportError(options.file, reader.LastError().text);
    status = 1;
    for (uint32_t g = failed + 1; g < reader.GroupCount(); ++g)
        if (reader.GroupFrameCount(int32_t(g)) > 0 && reader.ReadFrame(frame, int32_t(g), 0))
            return true;
    return false;
}

}  // namespace

int runAudio(const AudioOptions& options) {
    CRecordInfo info;
    CRecordReader reader;
    std::string reason;
    if (!openRecording(options.file, options.channel.value_or(-1), info, reader, reason)) {
        reportError(options.file, reason);
        return 1;
    }
    const bool large =
        int64_t(info.Width()) * info.Height() >= int64_t(kMinBufferWidth) * kMinBufferHeight;
    CRecordFrame frame(large ? info.Width() : kMinBufferWidth,
                       large ? info.Height() : kMinBufferHeight, kAudioBytes);
    int status = 0;
    if (!nextFrame(options, reader, frame, status)) {
        reportError(options.file, "no frame can be read");
        return 1;
    }
    int mode = WaveOutModeForVideoCodec(frame.Codec());
    if (options.codec == "g726") mode = 0;
    if (options.codec == "ima") mode = 1;
    const WaveOutMode& layout = *WaveOutModeInfo(mode);
    AudioBlockDecoder decoder(layout.codec, layout.format.bytesPerFrame());
    std::unique_ptr<int16_t[]> buffer(new int16_t[layout.bufferBytes / 2]);

    const std::string temporary = options.out + ".part";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
        reportError(options.out, "cannot be written");
        return 1;
    }
    out.write(reinterpret_cast<const char*>(wavHeader(layout.format, 0).data()), kWavHeaderBytes);
    uint64_t dataBytes = 0;
    uint64_t blocks = 0;
    do {
        if (!frame.HasAudio() || frame.AudioLength() == 0) continue;
        ++blocks;
        const uint8_t* bytes = frame.AudioBuffer();
        size_t size = frame.AudioLength();
        size_t pieceBytes = 0;
        while (size_t consumed =
                   decoder.decodePiece(bytes, size, reinterpret_cast<uint8_t*>(buffer.get()),
                                       layout.bufferBytes, pieceBytes)) {
            out.write(reinterpret_cast<const char*>(buffer.get()), std::streamsize(pieceBytes));
            dataBytes += pieceBytes;
            bytes += consumed;
            size -= consumed;
        }
    } while (dataBytes <= kMaxWavDataBytes && nextFrame(options, reader, frame, status));

    bool ok = dataBytes <= kMaxWavDataBytes;
    if (!ok) reportError(options.out, "the sound is longer than a WAV file holds");
    if (ok) {
        out.seekp(0);
        out.write(
            reinterpret_cast<const char*>(wavHeader(layout.format, uint32_t(dataBytes)).data()),
            kWavHeaderBytes);
        out.close();
        ok = bool(out);
        if (!ok) reportError(options.out, "cannot write " + temporary);
    }
    if (ok && std::rename(temporary.c_str(), options.out.c_str()) != 0) {
        reportError(options.out, "cannot rename " + temporary + " to " + options.out);
        ok = false;
    }
    if (!ok) {
        std::remove(temporary.c_str());
        return 1;
    }
    std::printf("%s: %llu audio blocks, mode %d (%s), %llu samples\n", options.out.c_str(),
                static_cast<unsigned long long>(blocks), mode,
                mode == 1 ? "IMA ADPCM" : "G.726 24 kbit/s",
                static_cast<unsigned long long>(dataBytes / 2));
    return status;
}

}  // namespace kx
