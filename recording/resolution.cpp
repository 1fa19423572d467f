// The resolution-code table of the recorders and the picture-selector mapping.
#include "recording/resolution.h"

#include <array>

#include "recording/record_info.h"

namespace kx {
namespace {

struct ResolutionEntry {
    uint8_t code;
    PictureSize coded;
    PictureSize display;
};

constexpr std::array<ResolutionEntry, 42> kResolutions = {{
    {0, {160, 112}, {160, 112}},   {1, {240, 176}, {240, 176}},   {2, {320, 240}, {320, 240}},
    {3, {640, 240}, {640, 480}},   {4, {320, 240}, {320, 240}},   {5, {640, 240}, {640, 480}},
    {6, {160, 128}, {320, 240}},   {7, {320, 240}, {640, 480}},   {8, {720, 240}, {704, 480}},
    {9, {640, 480}, {640, 480}},   {96, {640, 480}, {640, 480}},  {97, {384, 288}, {384, 288}},
    {98, {320, 240}, {320, 240}},  {99, {160, 120}, {160, 120}},  {100, {640, 480}, {640, 480}},
    {101, {480, 240}, {480, 240}}, {102, {320, 120}, {320, 120}}, {103, {176, 144}, {176, 144}},
    {104, {160, 120}, {160, 120}}, {112, {160, 128}, {160, 128}}, {113, {320, 240}, {320, 240}},
    {114, {640, 480}, {640, 480}}, {115, {160, 128}, {160, 128}}, {116, {320, 240}, {320, 240}},
    {117, {640, 480}, {640, 480}}, {118, {176, 120}, {176, 120}}, {119, {352, 240}, {352, 240}},
    {120, {720, 480}, {720, 480}}, {121, {176, 144}, {176, 144}}, {122, {352, 288}, {352, 288}},
    {123, {720, 576}, {720, 576}}, {128, {176, 144}, {176, 144}}, {129, {256, 192}, {256, 192}},
    {130, {352, 288}, {352, 288}}, {131, {704, 288}, {704, 576}}, {132, {352, 288}, {352, 288}},
    {133, {704, 288}, {704, 576}}, {134, {176, 144}, {352, 288}}, {135, {352, 288}, {704, 576}},
    {136, {720, 288}, {704, 576}}, {137, {704, 576}, {704, 576}}, {144, {352, 240}, {704, 480}},
}};
constexpr ResolutionEntry kCode145 = {145, {704, 240}, {704, 480}};

const ResolutionEntry* findCode(uint8_t code) {
    if (code == kCode145.code) return &kCode145;
    for (const ResolutionEntry& entry : kResolutions)
        if (entry.code == code) return &entry;
    return nullptr;
}

}  // namespace

std::optional<PictureSize> CodedSizeOfCode(uint8_t code) {
    const ResolutionEntry* entry = findCode(code);
    return entry ? std::optional(entry->coded) : std::nullopt;
}

std::optional<PictureSize> DisplaySizeOfCode(uint8_t code) {
    const ResolutionEntry* entry = findCode(code);
    return entry ? std::optional(entry->display) : std::nullopt;
}

uint8_t ResolutionCodeOfSelector(int kind, uint8_t selector) {
    switch (selector) {
        case 0: return 135;
        case 1: return 7;
        case 2: return 131;
        case 3: return 3;
        case 128:
        case 144: return kind == 8 ? 144 : 135;
        case 129: return kind == 8 ? 145 : 135;
        default: return kind == 8 ? 7 : 135;
    }
}

std::optional<PictureSize> DisplaySizeOf(const CRecordInfo& info) {
    std::optional<PictureSize> size = DisplaySizeOfCode(info.ResolutionCode());
    if (!size) return size;
    if (info.Kind() == 0 && info.ResolutionCode() == 131) return PictureSize{640, 480};
    if (info.ResolutionCode() == 7 && (info.HeaderFlags() & kHeaderFlag352Pixels)) size->width = 704;
    return size;
}

}  // namespace kx
