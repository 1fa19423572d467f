// Why reading a recording failed: a code for callers and a short text for the user.
#pragma once

#include <string>

namespace kx {

enum class RecordError {
    None,
    CannotOpen,       // the file could not be opened
    Truncated,        // the file ends inside a header or record
    BadMagic,         // the header does not begin as its kind requires
    BadVersion,       // legacy version above 0x1000
    NameTooLong,      // a name length above 500
    BadGroup,         // a four-channel group header without its magic
    BadFrame,         // a four-channel frame header without its magic
    BadChannel,       // channel outside 0 to 3
    NoGroup,          // the chain yields no group
    NoFrame,          // the groups hold no frame
    AlreadyOpen,      // Open on an open reader
    BadArgument,      // no record, wrong mode, negative position
    NotOpen,          // ReadFrame without an open file
    PastEnd,          // a frame beyond the last group
    PayloadTooLarge,  // a payload longer than the file or the frame's buffer
    OversizedRecord,  // a payload above the frame buffer's cap, skipped by its length
    NoBuffer,         // a payload but the frame has no buffer for it
    NothingToSave,    // a clip without frames
    CannotWrite,      // the clip could not be created or written
};

struct RecordFailure {
    RecordError code = RecordError::None;
    std::string text;
};

}  // namespace kx
