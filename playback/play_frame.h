// CPlayFrame: the play engine's frame. A CRecordFrame that also owns the reader it is read from
// and the RgbPicture its decoder writes into, so that deleting the frame closes the recording.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "codec/video_decoder.h"
#include "recording/record_frame.h"
#include "recording/record_reader.h"

namespace kx {

class CPlayFrame : public CRecordFrame {
public:
    static constexpr uint32_t kAudioCapacity = 65536;

    // Buffers for pictures of width x height: the video bytes (2 bytes a pixel), 64 KiB of audio
    // and the picture (3 bytes a pixel), all allocated here once.
    CPlayFrame(int width, int height);
    ~CPlayFrame() override;

    // Takes ownership of `reader`; the previous reader is closed and deleted.
    void AttachReader(std::unique_ptr<CRecordReader> reader);
    CRecordReader* Reader() const { return m_reader.get(); }

    // Reads a frame of the attached reader into this frame (group -1: the next one).
    bool ReadNext() { return ReadAt(-1, 0); }
    bool ReadAt(int32_t group, int32_t position);

    // Copies kind, flags, tick, group, position in group and the video and audio payloads of
    // `other`; the picture and the reader stay. The audio bytes are copied when the audio flag
    // is set, otherwise the audio length becomes 0. False (nothing copied) when a payload does
    // fit this frame's buffers even grown to their cap.
    bool CopyFrom(const CPlayFrame& other);

    // Wall time of the frame's tick in the attached recording; 0 without a reader.
    uint32_t WallTime() const { return m_reader ? m_reader->WallTimeOfTick(Tick()) : 0; }

    RgbPicture& Picture() { return m_picture; }
    const RgbPicture& Picture() const { return m_picture; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The camera (low byte) and board (next byte) numbers of the recording.
    uint32_t CameraBoardWord() const { return m_cameraBoard; }
    void SetCameraBoardWord(uint32_t word) { m_cameraBoard = word; }

private:
    int m_width;
    int m_height;
    uint32_t m_cameraBoard = 0;
    RgbPicture m_picture;
    std::unique_ptr<CRecordReader> m_reader;
};

// How a seek reaches its frame: the codec starts afresh at the group's key frame (`restart`),
// and `decode` decodes each frame before the target unannounced. A codec that shows a picture
// only with a later frame (`holdsPictures`) would show nothing at a group's key frame and its
// picture a frame late, so stepping back from there would land on the same picture again: for
// such a codec a seek to a later group's key frame first decodes the group before, and the key
// frame shows what playing straight through shows there (if that group cannot be read, the key
// frame shows nothing).
struct SeekDecoding {
    std::function<void()> restart;
    std::function<bool()> holdsPictures;
    std::function<void(CPlayFrame&)> decode;
};

// Reads frame `position` of `group` into `frame` (a frame of `reader`), decoding what comes
// before it as above. False when the frame cannot be read.
bool ReadForSeek(CRecordReader& reader, CPlayFrame& frame, int32_t group, int32_t position,
                 const SeekDecoding& codec);

}  // namespace kx
