// kxtool search: the Search dialog's search on the command line. For each channel asked for it
// scans the folder's headers, takes the recording whose end comes first after the moment and
// positions the play engine there, printing the recording and the frame playback starts at.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "browse/search.h"
#include "platform/manual/manual_event_loop.h"
#include "playback/play_wnd.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/text_format.h"

namespace kx {
namespace {

constexpr const char* kNotFound = "Can not find video files !";

struct ChannelResult {
    int channel = 0;  // 1 to 16
    std::string path;
    int32_t group = 0;
    int32_t position = 0;
    uint32_t wallTime = 0;
    bool found = false;
};

// Opens the earliest-ending match and lands on the moment as the player does; the matches
// that cannot be opened are not tried further, as the player's search gives up on them too.
ChannelResult searchChannel(const SearchOptions& options, int channel, uint32_t moment) {
    ChannelResult result;
    result.channel = channel;
    SearchCandidates candidates;
    ScanFolder(options.path, channelPair(channel - 1), moment, options.dvrName, options.subfolders, candidates);
    result.path = TakeEarliest(candidates);
    if (result.path.empty()) return result;
    ManualEventLoop loop;
    CPlayWnd player(loop, nullptr);
    player.Create(nullptr);
    if (!player.Open(result.path, 0, false) || !player.GoToTime(moment) || !player.Frame()) return result;
    const CPlayFrame& frame = *player.Frame();
    result.group = int32_t(frame.Group());
    result.position = int32_t(frame.PositionInGroup());
    result.wallTime = player.Reader()->WallTimeOfTick(frame.Tick());
    result.found = true;
    return result;
}

}  // namespace

std::optional<uint32_t> parseSearchMoment(const std::string& date, const std::string& time) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    if (!date.empty()) {
        if (std::sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) != 3) return std::nullopt;
    } else if (std::sscanf(time.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6 ||
               h > 23 || mi > 59 || s > 59) {
        return std::nullopt;
    }
    return localMoment(y, mo, d, h, mi, s);
}

int runSearch(const SearchOptions& options) {
    const std::optional<uint32_t> moment = parseSearchMoment(options.date, options.time);
    if (!moment) {
        reportError(options.date.empty() ? options.time : options.date,
                    options.date.empty() ? "not a time (YYYY-MM-DD HH:MM:SS)" : "not a date (YYYY-MM-DD)");
        return 1;
    }
    // The dialog searches its ticked channels in ascending order.
    std::vector<int> channels = options.channels;
    std::sort(channels.begin(), channels.end());
    channels.erase(std::unique(channels.begin(), channels.end()), channels.end());

    bool anyFound = false;
    nlohmann::json list = nlohmann::json::array();
    for (const int channel : channels) {
        const ChannelResult result = searchChannel(options, channel, *moment);
        anyFound = anyFound || result.found;
        if (options.json) {
            nlohmann::json entry{{"channel", channel}};
            if (result.found) {
                entry["path"] = result.path;
                entry["group"] = result.group;
                entry["position"] = result.position;
                entry["wall_time"] = result.wallTime;
            } else {
                entry["error"] = kNotFound;
            }
            list.push_back(std::move(entry));
        } else if (result.found) {
            std::printf("channel %d: %s %d:%d %s\n", channel, result.path.c_str(), result.group, result.position,
                        formatLocalTime(result.wallTime).c_str());
        } else {
            std::printf("channel %d: %s\n", channel, kNotFound);
        }
    }
    if (options.json) std::printf("%s\n", list.dump(2).c_str());
    return anyFound ? 0 : 1;
}

}  // namespace kx
