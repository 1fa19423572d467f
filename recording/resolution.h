// Resolution codes: coded and display picture sizes, and the picture selector of kinds 7 and 8.
#pragma once

#include <cstdint>
#include <optional>

namespace kx {

class CRecordInfo;

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// Size the decoders produce for a code; none for a code outside the table.
std::optional<PictureSize> CodedSizeOfCode(uint8_t code);
// Size shown to the user for a code; none for a code outside the table.
std::optional<PictureSize> DisplaySizeOfCode(uint8_t code);
// The resolution code that a picture selector of a kind 7 or kind 8 header stands for.
uint8_t ResolutionCodeOfSelector(int kind, uint8_t selector);
// Display size of a recording: the table, except kind 0 with code 131 (640 x 480) and the
// 352-pixel flag with code 7 (704 wide). None when the code is outside the table.
std::optional<PictureSize> DisplaySizeOf(const CRecordInfo& info);

}  // namespace kx
