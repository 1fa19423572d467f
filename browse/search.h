// The search for the recording of a camera channel that covers a moment: the criteria the user
// last gave, the header scan of a folder tree, the choice of the recording whose end comes first
// after the moment, and the frame playback starts at. No toolkit: the Search dialog, the quad
// play window and `kxtool search` share it.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace kx {

constexpr int kSearchChannelCount = 16;  // "Channel 1" .. "Channel 16": boards 0-3, cameras 0-3
constexpr int kQuadChannelCount = 4;

// What the Search dialog shows and stores; kept by the document for the program's life.
struct SearchCriteria {
    std::string path;
    bool subfolders = false;
    bool quad = false;
    // Single mode: the first holds the chosen channel index (0-15); quad mode: the chosen
    // indexes in ascending order. -1 is none.
    std::array<int32_t, kQuadChannelCount> channels{-1, -1, -1, -1};
    bool byTime = false;  // false: search by date (its midnight), true: by date and time of day
    uint32_t time = uint32_t(std::time(nullptr));  // the moment, seconds since 1970
    std::string dvrName;  // empty: any recorder
};

// A recording that matched: its path and its header's end time.
struct SearchCandidate {
    std::string path;
    uint32_t endTime = 0;
};
using SearchCandidates = std::vector<SearchCandidate>;

// Channel index 0-15 as the header's board and camera numbers packed for comparison: board in the
// low 16 bits, camera in the high 16 bits.
constexpr uint32_t packChannel(uint32_t board, uint32_t camera) { return (board & 0xFFFF) | (camera << 16); }
constexpr uint32_t channelPair(int channelIndex) {
    return packChannel(uint32_t(channelIndex) / 4, uint32_t(channelIndex) % 4);
}

// Appends every recording under `path` (and, with `subfolders`, its folders depth first) whose
// header ends strictly after `moment`, belongs to `pair` and, unless `dvrName` is empty, was
// written by that recorder (exact, case-sensitive). Every file is read by its header, whatever
// its name; files that are not recordings and folders that cannot be read add nothing. Entries
// are taken in name order; a folder reached twice (through a link) is scanned once.
void ScanFolder(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                bool subfolders, SearchCandidates& candidates);

// Removes and returns the path of the candidate that ends first (the earlier one in the list on
// equal end times); empty when there is none.
std::string TakeEarliest(SearchCandidates& candidates);

// Local midnight of the date of `year`-`month`-`day`, or that date at `hour`:`minute`:`second`;
// daylight saving is decided by the date itself. None for a date the calendar does not have.
std::optional<uint32_t> localMoment(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// What "Search" runs: the document's searches. Both return success; the quad search shows its
// own message when it fails.
class SearchTarget {
public:
    virtual ~SearchTarget() = default;
    virtual bool SearchChannel(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                               bool subfolders) = 0;
    virtual bool SearchQuad(const std::string& path, const std::vector<uint32_t>& pairs, uint32_t moment,
                            const std::string& dvrName, bool subfolders) = 0;
};

}  // namespace kx
