// CPlayFrame: buffers, the owned reader and the frame copy of Seek.
#include "playback/play_frame.h"

#include <cstring>

namespace kx {

CPlayFrame::CPlayFrame(int width, int height)
    : CRecordFrame(width, height, kAudioCapacity),
      m_width(width),
      m_height(height),
      m_picture(uint32_t(width), uint32_t(height)) {}

CPlayFrame::~CPlayFrame() {
    if (m_reader) m_reader->Close();
}

void CPlayFrame::AttachReader(std::unique_ptr<CRecordReader> reader) {
    if (m_reader) m_reader->Close();
    m_reader = std::move(reader);
}

bool CPlayFrame::ReadAt(int32_t group, int32_t position) {
    return m_reader && m_reader->ReadFrame(*this, group, position);
}

bool CPlayFrame::CopyFrom(const CPlayFrame& other) {
    const bool audio = other.HasAudio() && AudioBuffer() && other.AudioBuffer();
    if ((other.VideoLength() > 0 && !ReserveVideo(other.VideoLength())) ||
        (audio && other.AudioLength() > 0 && !ReserveAudio(other.AudioLength())))
        return false;
    SetKind(other.Kind());
    SetFlags(other.Flags());
    SetTick(other.Tick());
    SetGroup(other.Group());
    SetPositionInGroup(other.PositionInGroup());
    if (other.VideoLength() > 0)
        std::memcpy(VideoBuffer(), other.VideoBuffer(), other.VideoLength());
    SetVideoLength(other.VideoLength());
    if (audio && other.AudioLength() > 0)
        std::memcpy(AudioBuffer(), other.AudioBuffer(), other.AudioLength());
    SetAudioLength(audio ? other.AudioLength() : 0);
    return true;
}

bool ReadForSeek(CRecordReader& reader, CPlayFrame& frame, int32_t group, int32_t position,
                 const SeekDecoding& codec) {
    if (group < 0 || position < 0 || !reader.ReadFrame(frame, group, 0)) return false;
    codec.restart();
    if (position == 0 && group > 0 && codec.holdsPictures()) {
        if (reader.ReadFrame(frame, group - 1, 0)) {
            do {
                codec.decode(frame);
            } while (reader.ReadFrame(frame, -1, 0) && int32_t(frame.Group()) < group);
        }
        // Land on the key frame again unless reading stopped right on it.
        if ((int32_t(frame.Group()) != group || frame.PositionInGroup() != 0) && !reader.ReadFrame(frame, group, 0))
            return false;
    }
    for (int32_t i = 0; i < position; ++i) {
        codec.decode(frame);
        if (!reader.ReadFrame(frame, -1, 0)) return false;
    }
    return true;
}

}  // namespace kx
