// writeRecording: sources, encoders, sound and groups put together.
#include "tools/recorder/recording_job.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "codec/avc/avc_engine.h"
#include "codec/mpeg4/dmo_mpeg4_decoder.h"
#include "recording/resolution.h"
#include "tools/recorder/avc_encoder.h"
#include "tools/recorder/legacy_encoder.h"
#include "tools/recorder/mpeg4_encoder.h"
#include "tools/recorder/native_encoder.h"
#include "tools/recorder/recording_writer.h"
#include "tools/recorder/synthetic_scene.h"
#include "tools/recorder/y4m_reader.h"

namespace kx {
namespace {

constexpr uint32_t kAudioCapacity = 65536;
// The largest legacy frame the player's decoder takes.
constexpr size_t kLegacyFrameBytes = 614400;
constexpr uint32_t kMaxLegacyVersion = 0x1000;
constexpr int kAvcCodec = 4;

bool isCameraCodec(int codec) { return codec == 7 || codec == 8; }
bool isMpeg4Codec(int codec) { return codec == 2 || codec == 3 || codec == 6; }

// Resolution codes that a header of each kind can name (kinds 7 and 8 store a picture selector).
bool kindCanHoldCode(int kind, uint8_t code) {
    if (kind == kKindClip || isLegacyKind(kind)) return CodedSizeOfCode(code).has_value();
    for (uint8_t selector : {0, 1, 2, 3, 128, 129})
        if (ResolutionCodeOfSelector(kind, selector) == code) return true;
    return false;
}

// Frame ticks: the frame rate, plus deterministic jitter and pauses when asked for.
class TickClock {
public:
    explicit TickClock(const RecordingJob& job) : m_job(job), m_state(job.seed * 747796405u + 1) {}
    uint32_t tickOf(uint32_t frame) {
        double ms = frame * 1000.0 / m_job.fps;
        if (m_job.gapEvery) ms += double(frame / m_job.gapEvery) * m_job.gapMs;
        int32_t jitter = 0;
        if (m_job.jitterMs) {
            m_state = m_state * 1664525u + 1013904223u;
            jitter = int32_t(m_state >> 8) % int32_t(2 * m_job.jitterMs + 1) - int32_t(m_job.jitterMs);
        }
        const auto tick = int64_t(std::llround(ms)) + jitter;
        // Ticks never go back, whatever the jitter.
        m_last = frame == 0 ? uint32_t(std::max<int64_t>(tick, 0)) : std::max(m_last + 1, uint32_t(std::max<int64_t>(tick, 0)));
        return m_job.firstTick + m_last;
    }

private:
    const RecordingJob& m_job;
    uint32_t m_state;
    uint32_t m_last = 0;
};

// Codec 4: which source picture each frame codes, and how. Within a group the I picture
// comes first, then each run of B pictures follows the reference after it, so the frames stay
// in time order while the pictures are coded out of order.
struct AvcPlanEntry {
    uint32_t source = 0;
    AvcPictureType type = AvcPictureType::I;
    int bParameter = 0;
};

std::vector<AvcPlanEntry> planAvcPictures(const std::vector<bool>& keys, int bFrames) {
    std::vector<AvcPlanEntry> plan;
    plan.reserve(keys.size());
    for (uint32_t start = 0; start < keys.size();) {
        uint32_t end = start + 1;
        while (end < keys.size() && !keys[end]) ++end;
        for (const AvcCodedPicture& picture : avcCodedOrder(int(end - start), bFrames))
            plan.push_back({start + uint32_t(picture.source), picture.type, picture.bParameter});
        start = end;
    }
    return plan;
}

// One camera's pictures and coded frames.
class Channel {
public:
    Channel(const RecordingJob& job, PictureSize size, uint32_t seed)
        : m_scene(size.width, size.height, seed), m_frame(size.width, size.height, kAudioCapacity) {
        if (job.codec == kAvcCodec && !isLegacyKind(job.kind)) {
            m_avc = std::make_unique<AvcEncoder>(size.width, size.height,
                                                 AvcEncoderSettings{job.quantiser, job.avcVersion, true});
            m_avcVersion = job.avcVersion;
            m_sources.resize(size_t(job.bFrames) + 2);
        } else if (isLegacyKind(job.kind)) {
            // The player shows the rows of kinds 0 and 1 bottom-up and those of kind 2 top-down.
            m_bottomUp = job.kind != kKindLegacyKxq;
            m_halved = job.version == kLegacyDoubledVersion;
            if (m_halved) m_half.resize(size.width / 2, size.height);
            m_legacy = std::make_unique<LegacyEncoder>(m_halved ? size.width / 2 : size.width, size.height,
                                                       LegacyEncoderSettings{job.quantiser, job.legacyGroups});
        } else if (isMpeg4Codec(job.codec)) {
            m_mpeg4Settings = Mpeg4EncoderSettings{job.codec, size.width, size.height, job.fps, job.quantiser,
                                                   job.bFrames, job.quarterSample};
        } else if (isCameraCodec(job.codec)) {
            // Camera pictures are shown top row first.
            m_camera = std::make_unique<CameraStreamEncoder>(job.codec, job.cameraStream, size.width, size.height, job.fps);
            m_cameraCodec = job.codec;
        } else {
            // The player shows the rows of a codec 0 or 1 picture bottom-up unless the frame
            // carries flag 0x4000 (inverse DCT B).
            m_bottomUp = !job.idctB;
            m_native = std::make_unique<NativeEncoder>(
                job.codec, size.width, size.height,
                NativeEncoderSettings{job.quantiser, job.idctB ? NativeIdct::B : NativeIdct::A});
        }
    }

    bool openInput(const std::string& path, PictureSize size, std::string& error) {
        m_input = std::make_unique<Y4mReader>();
        if (!m_input->open(path)) {
            error = m_input->error();
            return false;
        }
        if (m_input->width() != size.width || m_input->height() != size.height) {
            error = path + ": pictures are " + std::to_string(m_input->width()) + " x " +
                    std::to_string(m_input->height()) + ", the resolution code needs " + std::to_string(size.width) +
                    " x " + std::to_string(size.height);
            return false;
        }
        return true;
    }

    enum class Result { Encoded, InputEnded, Failed };

    // Codec 4: the plan of the whole recording and the wall time of each source picture.
    void setAvcPlan(const std::vector<AvcPlanEntry>* plan, std::function<uint32_t(uint32_t)> wallTimeOf) {
        m_plan = plan;
        m_wallTimeOf = std::move(wallTimeOf);
    }

    Result encodeAvc(uint32_t index, double fps, std::string& error) {
        const AvcPlanEntry& entry = (*m_plan)[index];
        // Source pictures are read in order into a ring deep enough for the furthest look-ahead.
        while (m_sourcesRead <= entry.source) {
            YuvImage& slot = m_sources[m_sourcesRead % m_sources.size()];
            if (m_input) {
                if (!m_input->read(slot)) {
                    error = m_input->error();
                    return error.empty() ? Result::InputEnded : Result::Failed;
                }
            } else {
                m_scene.render(m_sourcesRead, fps, m_wallTimeOf(m_sourcesRead), slot);
            }
            ++m_sourcesRead;
        }
        const YuvImage& source = m_sources[entry.source % m_sources.size()];
        const YuvPictureView view{{source.y.data(), source.cb.data(), source.cr.data()},
                                  {source.width, source.chromaWidth(), source.chromaWidth()}};
        uint16_t kind = entry.type == AvcPictureType::I ? 0 : entry.type == AvcPictureType::P ? 1 : 3;
        size_t length = 0;
        // A picture identical to the last reference, with no B pictures around, is sent as a
        // repeat frame without data (kind 5 in version 3, kind 4 from version 4 on).
        if (entry.type == AvcPictureType::P && m_plan->size() > index && m_lastReference &&
            m_lastReference->y == source.y && m_lastReference->cb == source.cb && m_lastReference->cr == source.cr &&
            (*m_plan)[index - 1].type != AvcPictureType::B &&
            (index + 1 >= m_plan->size() || (*m_plan)[index + 1].type != AvcPictureType::B)) {
            kind = m_avcVersion < 4 ? 5 : 4;
        } else {
            const std::span<const uint8_t> bytes = m_avc->encode(view, entry.type, entry.bParameter);
            // The player's avc engine takes frames below 262144 bytes.
            if (bytes.size() > m_frame.VideoCapacity() || bytes.size() >= AvcEngine::kBufferBytes) {
                error = "a coded picture of " + std::to_string(bytes.size()) +
                        " bytes is more than the player takes (below 262144): use a higher --quantiser";
                return Result::Failed;
            }
            std::memcpy(m_frame.VideoBuffer(), bytes.data(), bytes.size());
            length = bytes.size();
            if (entry.type != AvcPictureType::B) m_lastReference = &source;
        }
        m_frame.SetVideoLength(uint32_t(length));
        m_frame.SetKind(kind);
        m_frame.SetFlags(uint16_t(kAvcCodec << 4));
        return Result::Encoded;
    }

    // MPEG-4: the display-order picture types of the whole recording and the wall time of
    // each source picture.
    void setMpeg4Plan(const std::vector<Mpeg4PictureType>* types, std::function<uint32_t(uint32_t)> wallTimeOf) {
        m_mpeg4Types = types;
        m_wallTimeOf = std::move(wallTimeOf);
    }

    // MPEG-4: the next coded picture, in coded order, into the frame. The encoder is fed source
    // pictures until it gives one (B pictures hold their reference back).
    Result encodeMpeg4(uint32_t index, double fps, std::string& error) {
        if (index == 0) {
            m_mpeg4 = Mpeg4Encoder::create(m_mpeg4Settings, error);
            if (!m_mpeg4) return Result::Failed;
        }
        Mpeg4Picture coded;
        while (!m_mpeg4->receive(coded)) {
            if (m_mpeg4Finished) return Result::InputEnded;
            bool more = m_sourcesRead < m_mpeg4Types->size();
            if (more && m_input && !m_input->read(m_picture)) {
                error = m_input->error();
                if (!error.empty()) return Result::Failed;
                more = false;
            } else if (more && !m_input) {
                m_scene.render(m_sourcesRead, fps, m_wallTimeOf(m_sourcesRead), m_picture);
            }
            const bool fed = more ? m_mpeg4->send(m_picture, (*m_mpeg4Types)[m_sourcesRead++]) : m_mpeg4->finish();
            if (!fed) {
                error = m_mpeg4->error();
                return Result::Failed;
            }
            m_mpeg4Finished = !more;
        }
        // Groups start at the key frames: the coded pictures must be I exactly there.
        const bool key = (*m_mpeg4Types)[index] == Mpeg4PictureType::I;
        if ((coded.type == Mpeg4PictureType::I) != key) {
            error = "the MPEG-4 encoder coded picture " + std::to_string(index) +
                    (key ? " as a predicted picture at the start of a group" : " as an I picture inside a group");
            return Result::Failed;
        }
        if (coded.bytes.size() > m_frame.VideoCapacity()) {
            error = "a coded picture of " + std::to_string(coded.bytes.size()) + " bytes exceeds the frame buffer";
            return Result::Failed;
        }
        // The player's codec-3 decoder refuses frames longer than its input buffer.
        if (m_mpeg4Settings.codec == 3 && coded.bytes.size() > DmoMpeg4Decoder::kInputBufferBytes) {
            error = "a codec-3 picture of " + std::to_string(coded.bytes.size()) + " bytes is more than the player takes (" +
                    std::to_string(DmoMpeg4Decoder::kInputBufferBytes) + "): use a higher --quantiser";
            return Result::Failed;
        }
        std::memcpy(m_frame.VideoBuffer(), coded.bytes.data(), coded.bytes.size());
        m_frame.SetVideoLength(uint32_t(coded.bytes.size()));
        // Kind 0 marks the I pictures; P (and sprite) pictures are 1, B pictures 2.
        m_frame.SetKind(coded.type == Mpeg4PictureType::I ? kFrameKindKey
                        : coded.type == Mpeg4PictureType::B ? 2 : 1);
        m_frame.SetFlags(uint16_t(m_mpeg4Settings.codec << 4));
        return Result::Encoded;
    }

    // Encodes the next picture into the frame.
    Result encode(uint32_t index, double fps, uint32_t wallTime, bool key, std::string& error) {
        if (m_avc) return encodeAvc(index, fps, error);
        if (m_mpeg4Types) return encodeMpeg4(index, fps, error);
        if (m_input) {
            if (!m_input->read(m_picture)) {
                error = m_input->error();
                return error.empty() ? Result::InputEnded : Result::Failed;
            }
        } else {
            m_scene.render(index, fps, wallTime, m_picture);
        }
        if (m_camera) return encodeCamera(index, key, error);
        const PictureChoice choice = key ? PictureChoice::Key : PictureChoice::Predicted;
        const EncodedPicture coded = m_legacy ? m_legacy->encode(view(), choice) : m_native->encode(view(), choice);
        const size_t capacity = m_legacy ? std::min(kLegacyFrameBytes, m_frame.VideoCapacity()) : m_frame.VideoCapacity();
        if (coded.bytes.size() > capacity) {
            error = "a coded picture of " + std::to_string(coded.bytes.size()) + " bytes exceeds the frame buffer";
            return Result::Failed;
        }
        std::memcpy(m_frame.VideoBuffer(), coded.bytes.data(), coded.bytes.size());
        m_frame.SetVideoLength(uint32_t(coded.bytes.size()));
        m_frame.SetKind(coded.kind);
        m_frame.SetFlags(coded.flags);
        return Result::Encoded;
    }

    Result encodeCamera(uint32_t index, bool key, std::string& error) {
        if (index == 0 && !m_camera->open()) {
            error = m_camera->error();
            return Result::Failed;
        }
        if (!m_camera->encode(m_picture, index, key, m_cameraBytes)) {
            error = m_camera->error();
            return Result::Failed;
        }
        if (m_cameraBytes.size() > m_frame.VideoCapacity()) {
            error = "a camera frame of " + std::to_string(m_cameraBytes.size()) + " bytes exceeds the frame buffer";
            return Result::Failed;
        }
        std::memcpy(m_frame.VideoBuffer(), m_cameraBytes.data(), m_cameraBytes.size());
        m_frame.SetVideoLength(uint32_t(m_cameraBytes.size()));
        m_frame.SetKind(key ? kFrameKindKey : 1);
        m_frame.SetFlags(uint16_t(m_cameraCodec << 4));
        return Result::Encoded;
    }

    void setSound(std::span<const uint8_t> block, bool withSound) {
        const size_t bytes = std::min(block.size(), size_t(kAudioCapacity));
        if (bytes) std::memcpy(m_frame.AudioBuffer(), block.data(), bytes);
        m_frame.SetAudioLength(uint32_t(bytes));
        if (withSound) m_frame.SetFlags(m_frame.Flags() | kFrameFlagAudio);
    }

    CRecordFrame& frame() { return m_frame; }

private:
    // The source as the encoder takes it: bottom row first where the player shows the rows
    // bottom-up; at half the width (each pair of samples averaged) for the doubled legacy kind.
    YuvPictureView view() {
        const YuvImage* picture = &m_picture;
        if (m_halved) {
            halve(m_picture.y.data(), m_picture.width, m_picture.height, m_half.y.data());
            halve(m_picture.cb.data(), m_picture.chromaWidth(), m_picture.chromaHeight(), m_half.cb.data());
            halve(m_picture.cr.data(), m_picture.chromaWidth(), m_picture.chromaHeight(), m_half.cr.data());
            picture = &m_half;
        }
        const YuvImage& p = *picture;
        if (m_bottomUp) {
            const ptrdiff_t luma = p.width;
            const ptrdiff_t chroma = p.chromaWidth();
            return {{p.y.data() + luma * (p.height - 1), p.cb.data() + chroma * (p.chromaHeight() - 1),
                     p.cr.data() + chroma * (p.chromaHeight() - 1)},
                    {-luma, -chroma, -chroma}};
        }
        return {{p.y.data(), p.cb.data(), p.cr.data()}, {p.width, p.chromaWidth(), p.chromaWidth()}};
    }

    static void halve(const uint8_t* in, int width, int height, uint8_t* out) {
        for (int y = 0; y < height; ++y, in += width)
            for (int x = 0; x + 1 < width; x += 2) *out++ = uint8_t((in[x] + in[x + 1] + 1) / 2);
    }

    SyntheticScene m_scene;
    std::unique_ptr<AvcEncoder> m_avc;
    int m_avcVersion = 4;
    const std::vector<AvcPlanEntry>* m_plan = nullptr;
    std::function<uint32_t(uint32_t)> m_wallTimeOf;
    std::vector<YuvImage> m_sources;
    uint32_t m_sourcesRead = 0;
    const YuvImage* m_lastReference = nullptr;
    std::unique_ptr<NativeEncoder> m_native;
    Mpeg4EncoderSettings m_mpeg4Settings;
    std::unique_ptr<Mpeg4Encoder> m_mpeg4;
    const std::vector<Mpeg4PictureType>* m_mpeg4Types = nullptr;
    bool m_mpeg4Finished = false;
    std::unique_ptr<LegacyEncoder> m_legacy;
    std::unique_ptr<CameraStreamEncoder> m_camera;
    int m_cameraCodec = 0;
    std::vector<uint8_t> m_cameraBytes;
    CRecordFrame m_frame;
    YuvImage m_picture;
    YuvImage m_half;
    std::unique_ptr<Y4mReader> m_input;
    bool m_bottomUp = false;
    bool m_halved = false;
};

// The coded picture size of a legacy recording: the size of the resolution code (640 x 240 for
// code 131 in a .kx file), at half the width for the doubled kind.
PictureSize legacyCodedSize(const RecordingJob& job, PictureSize size) {
    return {job.version == kLegacyDoubledVersion ? size.width / 2 : size.width, size.height};
}

bool check(const RecordingJob& job, PictureSize size, std::string& error) {
    const std::string file = job.path + ": ";
    const bool legacy = isLegacyKind(job.kind);
    const PictureSize coded = legacy ? legacyCodedSize(job, size) : size;
    if (!legacy && job.kind != kKindClip && job.kind != kKindExtended && job.kind != kKindFourChannel)
        error = file + "only legacy (.kx, .kxx, .kxq), clip (.kxz), extended (.ckx) and four-channel recordings are written";
    else if (!legacy && job.codec != 0 && job.codec != 1 && job.codec != kAvcCodec && !isCameraCodec(job.codec) &&
             !isMpeg4Codec(job.codec))
        error = file + "codec " + std::to_string(job.codec) +
                " is neither a native codec (0 or 1), an MPEG-4 codec (2, 3 or 6), the avc codec (4) nor a camera codec (7 or 8)";
    else if (isCameraCodec(job.codec) && job.kind != kKindClip && job.kind != kKindExtended)
        error = file + "camera streams (codecs 7 and 8) are written to clip (.kxz) and extended (.ckx) recordings";
    else if (job.codec == kAvcCodec && (job.quantiser < 10 || job.quantiser > 59))
        error = file + "the avc codec's quantiser is 10 to 59";
    else if (job.codec == kAvcCodec && job.avcVersion != 3 && job.avcVersion != 4)
        error = file + "the avc bitstream version is 3 or 4";
    else if ((job.codec == kAvcCodec || isMpeg4Codec(job.codec)) && (job.bFrames < 0 || job.bFrames > 7))
        error = file + "0 to 7 B pictures between references";
    else if (job.codec != kAvcCodec && job.codec != 2 && job.codec != 6 && job.bFrames != 0)
        error = file + "B pictures are written by the MPEG-4 codecs 2 and 6 and the avc codec (4) only";
    else if (job.quarterSample && job.codec != 2 && job.codec != 6)
        error = file + "quarter-sample motion is written by the MPEG-4 codecs 2 and 6 only";
    else if (!kindCanHoldCode(job.kind, job.resolutionCode))
        error = file + "resolution code " + std::to_string(job.resolutionCode) + " cannot be named in a header of kind " +
                std::to_string(job.kind) + (job.kind == kKindExtended ? " (135, 7, 131 or 3)" : job.kind == 8 ? " (135, 7, 131, 3, 144 or 145)" : "");
    else if (legacy && job.version > kMaxLegacyVersion)
        error = file + "the older kinds have header versions up to 0x1000 (0x100, 0x101 with the GMT offset, 0x1000 doubled)";
    else if (legacy && !LegacyEncoder::sizeFits(coded.width, coded.height))
        error = file + "the legacy codec codes whole macroblocks of at most 640 x 480 samples: resolution code " +
                std::to_string(job.resolutionCode) + " gives " + std::to_string(coded.width) + " x " +
                std::to_string(coded.height) + (job.version == kLegacyDoubledVersion ? " (half the width, version 0x1000)" : "");
    else if (legacy && job.idctB)
        error = file + "inverse DCT B is an option of the native codec 1";
    else if (legacy && (job.legacyGroups < -1 || job.legacyGroups > 0xFFFF))
        error = file + "the group count is 16 bits (or -1 for as many as fit)";
    else if (job.frames == 0)
        error = file + "no frames to write";
    else if (!(job.fps > 0 && job.fps <= 120))
        error = file + "frame rate must be above 0 and at most 120";
    else if (job.codec != kAvcCodec && (job.quantiser < 1 || job.quantiser > 31))
        error = file + "quantiser must be 1 to 31";
    else if (job.idctB && job.codec != 1)
        error = file + "inverse DCT B is an option of codec 1";
    else if (job.groupMs == 0)
        error = file + "groups must last at least 1 ms";
    else if (job.kind == kKindFourChannel && !job.inputY4m.empty())
        error = file + "four-channel recordings are drawn from the built-in scene";
    else
        return true;
    return false;
}

}  // namespace

bool writeRecording(const RecordingJob& job, std::string& error) {
    const auto fail = [&error](std::string text) {
        error = std::move(text);
        return false;
    };
    CRecordInfo info;
    info.SetKind(job.kind);
    info.SetResolutionCode(job.resolutionCode);
    const PictureSize size{info.Width(), info.Height()};
    if (!check(job, size, error)) return false;
    const int channelCount = job.kind == kKindFourChannel ? kChannelCount : 1;

    std::vector<std::unique_ptr<Channel>> channels;
    for (int c = 0; c < channelCount; ++c) {
        channels.push_back(std::make_unique<Channel>(job, size, job.seed + 7919u * uint32_t(c)));
        if (!job.inputY4m.empty() && !channels.back()->openInput(job.inputY4m, size, error)) return false;
    }

    TickClock clock(job);
    std::vector<uint32_t> ticks(job.frames);
    for (uint32_t n = 0; n < job.frames; ++n) ticks[n] = clock.tickOf(n);
    const double fps = job.fps;
    const uint64_t soundSamples =
        (uint64_t(ticks.back() - job.firstTick) + uint64_t(2000 / fps)) * kAudioSampleRate / 1000;
    std::optional<AudioTrack> sound;
    if (job.audio != AudioFormat::None) {
        sound.emplace(job.audio, synthesiseSound(job.sound, soundSamples, job.seed), job.imaBlockBytes);
        if (!sound->ok()) return fail(job.path + ": " + sound->error());
    }

    info.SetVersion(job.version);
    info.SetBoardNumber(job.boardNumber);
    info.SetCameraNumber(job.cameraNumber);
    info.SetHostName(job.hostName);
    info.SetBoardName(job.boardName);
    info.SetCameraName(job.cameraName);
    for (int c = 0; c < kChannelCount; ++c) {
        info.SetCameraName(job.channelCameraNames[size_t(c)], c);
        info.SetBoardName(job.channelBoardNames[size_t(c)], c);
    }
    info.SetStartTime(job.startTime);
    info.SetGmtOffset(job.gmtOffset);
    info.SetFirstFrameTick(job.firstTick);

    // Key pictures start the groups: every `gop` frames, or once a group lasts groupMs.
    std::vector<bool> keys(job.frames);
    for (uint32_t n = 0, groupStart = 0; n < job.frames; ++n) {
        keys[n] = n == 0 || (job.gop ? n % job.gop == 0 : ticks[n] - ticks[groupStart] >= job.groupMs);
        if (keys[n]) groupStart = n;
    }
    std::vector<Mpeg4PictureType> mpeg4Types;
    if (isMpeg4Codec(job.codec) && !isLegacyKind(job.kind)) {
        mpeg4Types = Mpeg4Encoder::planTypes(keys, job.bFrames);
        for (auto& channel : channels)
            channel->setMpeg4Plan(&mpeg4Types, [&](uint32_t source) { return info.WallTimeOfTick(ticks[source]); });
    }
    std::vector<AvcPlanEntry> plan;
    if (job.codec == kAvcCodec && !isLegacyKind(job.kind)) {
        plan = planAvcPictures(keys, job.bFrames);
        for (auto& channel : channels)
            channel->setAvcPlan(&plan, [&](uint32_t source) { return info.WallTimeOfTick(ticks[source]); });
    }

    RecordingWriter writer;
    if (!writer.create(job.path, info)) return fail(writer.errorText());
    uint32_t lastTick = ticks.front();
    for (uint32_t n = 0; n < job.frames; ++n) {
        const uint32_t tick = ticks[n];
        const bool key = keys[n];
        bool inputEnded = false;
        for (int c = 0; c < channelCount && !inputEnded; ++c) {
            switch (channels[size_t(c)]->encode(n, fps, info.WallTimeOfTick(tick), key, error)) {
                case Channel::Result::Encoded: break;
                case Channel::Result::InputEnded: inputEnded = true; break;
                case Channel::Result::Failed: return fail(job.path + ": " + error);
            }
        }
        if (inputEnded) {
            if (n == 0) return fail(job.inputY4m + ": holds no picture");
            break;  // a shorter input makes a shorter recording
        }
        if (key) {
            if (!writer.beginGroup(tick)) return fail(writer.errorText());
        }
        std::span<const uint8_t> block;
        if (sound) {
            const uint64_t begin = uint64_t(tick - job.firstTick) * kAudioSampleRate / 1000;
            const uint64_t end = n + 1 < job.frames ? uint64_t(ticks[n + 1] - job.firstTick) * kAudioSampleRate / 1000
                                                    : begin + uint64_t(kAudioSampleRate / fps);
            block = sound->block(begin, end);
        }
        // Sound goes with the first channel of a four-channel recording.
        for (int c = 0; c < channelCount; ++c) {
            channels[size_t(c)]->setSound(c == 0 ? block : std::span<const uint8_t>{}, sound.has_value() && c == 0);
            channels[size_t(c)]->frame().SetTick(tick);
        }
        const bool written =
            channelCount == 1
                ? writer.writeFrame(channels[0]->frame())
                : writer.writeFourChannelFrame(tick, {&channels[0]->frame(), &channels[1]->frame(),
                                                      &channels[2]->frame(), &channels[3]->frame()});
        if (!written) return fail(writer.errorText());
        lastTick = tick;
    }
    if (!writer.finish(info.WallTimeOfTick(lastTick))) return fail(writer.errorText());
    return true;
}

}  // namespace kx
