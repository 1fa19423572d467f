// Pictures as the player shows them: each decoded picture goes through a render target with the
// recording's caption (default caption switches and colour) and is saved as a PNG file.
#pragma once

#include <memory>
#include <string>

#include "present/recording_caption.h"

namespace kx {

class CRecordInfo;
class RgbPicture;

class ShownPictureWriter {
public:
    ShownPictureWriter();
    ~ShownPictureWriter();

    // Saves `picture` (decoded from a frame of `fileKind` with `frameFlags`, shown at
    // `wallTime`) with its caption to `path` through a temporary file. False with a reason when
    // the picture has no layout or the file cannot be written.
    bool write(const RgbPicture& picture, const CRecordInfo& info, uint16_t frameFlags,
               uint32_t wallTime, const std::string& path, std::string& reason);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace kx
