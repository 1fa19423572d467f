// The recording side of the exports: opening with the decoder of the codec, the first and last
// ticks, pictures fitted to the display size and sound decoded to PCM.
#include "output/export_source.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "codec/picture_layout.h"
#include "platform/avi_file.h"
#include "playback/wave_out.h"
#include "recording/resolution.h"

namespace kx {
namespace {

// The frame buffers hold the largest picture the recorders make, whatever the header says.
constexpr int kMinBufferWidth = 720;
constexpr int kMinBufferHeight = 576;
constexpr uint32_t kAudioBytes = 1 << 20;  // the largest audio block read

}  // namespace

bool ExportSource::open(const std::string& path, ExportCodecs codecs, std::string& detail) {
    if (!m_info.ReadInfo(path) || !m_reader.Open(&m_info, kReaderModeRead, -1)) {
        detail = path + ": " +
                 (m_reader.LastError().text.empty() ? m_info.LastError().text
                                                    : m_reader.LastError().text);
        return false;
    }
    const std::optional<PictureSize> display = DisplaySizeOf(m_info);
    if (!display) {
        detail = path + ": the resolution code " + std::to_string(m_info.ResolutionCode()) +
                 " gives no picture size";
        return false;
    }
    m_width = uint32_t(display->width);
    m_height = uint32_t(display->height);
    const bool large =
        int64_t(m_info.Width()) * m_info.Height() >= int64_t(kMinBufferWidth) * kMinBufferHeight;
    m_frame = std::make_unique<CRecordFrame>(large ? m_info.Width() : kMinBufferWidth,
                                             large ? m_info.Height() : kMinBufferHeight,
                                             kAudioBytes);
    // The last frame's tick first (the video's length), then back to the first frame.
    for (int32_t group = int32_t(m_reader.GroupCount()) - 1; group >= 0; --group) {
        const uint32_t count = m_reader.GroupFrameCount(group);
        if (count == 0) continue;
        if (m_reader.ReadFrame(*m_frame, group, int32_t(count - 1))) m_lastTick = m_frame->Tick();
        break;
    }
    if (!m_reader.ReadFrame(*m_frame, 0, 0)) {
        detail = path + ": the first frame cannot be read: " + m_reader.LastError().text;
        return false;
    }
    m_firstTick = m_frame->Tick();
    if (m_reader.TotalFrameCount() <= 1) m_lastTick = m_firstTick;
    m_legacy = isLegacyKind(m_info.Kind());
    m_codec = m_frame->Codec();
    if (!m_legacy && codecs == ExportCodecs::AviSet && m_codec != 0 && m_codec != 1 && m_codec != 2 &&
        m_codec != 4) {
        detail = path + ": codec " + std::to_string(m_codec) + " is not exported (codecs 0, 1, 2 and 4 only)";
        return false;
    }
    // The older kinds go to the legacy decoder whatever codec their frames name.
    std::string reason;
    if (!m_decoder.setup(m_info.Kind(), m_info.Version(), m_codec, reason, uint32_t(std::max(m_info.Width(), 0)),
                         uint32_t(std::max(m_info.Height(), 0)))) {
        detail = path + ": " + (m_legacy ? reason : "codec " + std::to_string(m_codec) + " has no decoder yet");
        return false;
    }
    if (!m_legacy)
        m_picture.resize(uint32_t(std::max(m_info.Width(), 0)), uint32_t(std::max(m_info.Height(), 0)));
    m_bitmap.assign(size_t(aviBitmapStride(m_width)) * m_height, 0);

    const WaveOutMode& mode = *WaveOutModeInfo(WaveOutModeForVideoCodec(m_codec));
    m_audioDecoder = AudioBlockDecoder(mode.codec, mode.format.bytesPerFrame());
    m_audioPieceBytes = mode.bufferBytes;
    // The most PCM one block can give: G.726 turns 3 bytes into 16, IMA never more than that.
    m_pcm.resize((size_t(kAudioBytes) / 3 * 16 + m_audioPieceBytes) / 2);
    return true;
}

bool ExportSource::next(std::string& detail) {
    if (m_reader.ReadFrame(*m_frame, -1, 0)) return true;
    // A record above the frame size cap is passed over: its frame is left empty, so its picture
    // repeats the previous one and the reading goes on after it.
    if (m_reader.LastError().code == RecordError::OversizedRecord) return true;
    detail = m_reader.LastError().text;
    return false;
}

bool ExportSource::hasPicture() const {
    return !(m_frame->Flags() & kFrameFlagNoPicture);
}

// A picture damaged part way is written as far as it decoded, as the player shows it.
bool ExportSource::decodeIntoPicture() {
    // Codec 4 without the loop filter, as every path but normal playback decodes it.
    const FrameDecode decoded = m_decoder.decode(*m_frame, m_picture, Deblocking::Off);
    return decoded == FrameDecode::Whole || decoded == FrameDecode::Damaged;
}

bool ExportSource::decodePicture() {
    if (!decodeIntoPicture()) return false;
    return m_fitter.fit(m_picture, pictureFormatOf(m_info.Kind(), m_frame->Flags()), m_width,
                        m_height, m_bitmap.data());
}

const int16_t* ExportSource::decodeAudio(size_t& samples) {
    samples = 0;
    if (!m_frame->HasAudio() || m_frame->AudioLength() == 0) return m_pcm.data();
    const uint8_t* bytes = m_frame->AudioBuffer();
    size_t size = m_frame->AudioLength();
    auto* out = reinterpret_cast<uint8_t*>(m_pcm.data());
    const size_t capacity = m_pcm.size() * 2;
    size_t filled = 0;
    size_t pieceBytes = 0;
    while (capacity - filled >= m_audioPieceBytes) {
        const size_t consumed =
            m_audioDecoder.decodePiece(bytes, size, out + filled, m_audioPieceBytes, pieceBytes);
        if (consumed == 0) break;
        filled += pieceBytes;
        bytes += consumed;
        size -= consumed;
    }
    samples = filled / 2;
    return m_pcm.data();
}

}  // namespace kx
