// The header scan of the search and the choice among its matches.
#include "browse/search.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "recording/record_info.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

struct ScanContext {
    uint32_t pair;
    uint32_t moment;
    const std::string& dvrName;
    bool subfolders;
    SearchCandidates& candidates;
    std::set<std::pair<dev_t, ino_t>> visited;  // folders scanned, so a link loop ends
};

bool firstVisit(ScanContext& context, const fs::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return false;
    return context.visited.emplace(status.st_dev, status.st_ino).second;
}

void scan(ScanContext& context, const fs::path& folder) {
    if (!firstVisit(context, folder)) return;
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    for (const fs::directory_entry& entry : entries) {
        std::error_code typeError;
        if (entry.is_directory(typeError)) {
            if (context.subfolders) scan(context, entry.path());
            continue;  // a folder has no header
        }
        CRecordInfo info;
        if (!info.ReadInfo(entry.path().string())) continue;
        const uint32_t pair = packChannel(info.BoardNumber(), info.CameraNumber());
        if (info.EndTime() > context.moment && pair == context.pair &&
            (context.dvrName.empty() || context.dvrName == info.HostName()))
            context.candidates.push_back({info.Path(), info.EndTime()});
    }
}

}  // namespace

void ScanFolder(const std::string& path, uint32_t pair, uint32_t moment, const std::string& dvrName,
                bool subfolders, SearchCandidates& candidates) {
    if (path.empty()) return;
    ScanContext context{pair, moment, dvrName, subfolders, candidates, {}};
    scan(context, fs::path(path));
}

std::string TakeEarliest(SearchCandidates& candidates) {
    if (candidates.empty()) return {};
    auto earliest = candidates.begin();
    for (auto it = candidates.begin() + 1; it != candidates.end(); ++it)
        if (int32_t(it->endTime) < int32_t(earliest->endTime)) earliest = it;
    std::string path = std::move(earliest->path);
    candidates.erase(earliest);
    return path;
}

std::optional<uint32_t> localMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;  // the zone's rule for that date
    const std::tm asked = parts;
    const std::time_t t = std::mktime(&parts);
    if (t == std::time_t(-1) || t < 0 || t > std::time_t(UINT32_MAX)) return std::nullopt;
    if (parts.tm_year != asked.tm_year || parts.tm_mon != asked.tm_mon || parts.tm_mday != asked.tm_mday)
        return std::nullopt;  // 31 February and the like were moved to another day
    return uint32_t(t);
}

}  // namespace kx
