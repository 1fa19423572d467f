// The rows of the recording list, without a toolkit: one row per file of a folder (recording,
// bitmap, JPEG or face file) with its record and eight cell texts, the column headings, the
// heading-click sort, and a folder reader that makes the rows on a worker thread. The Open
// window's list and `kxtool list` both show exactly these rows.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "recording/recorder_text.h"

namespace kx {

// What a file is taken for, from the last three characters of its name (in any case).
enum RowKind : int {
    kRowRecording = 0,
    kRowBitmap = 4,
    kRowFaceFile = 5,
    kRowJpeg = 6,
};
RowKind rowKindOf(std::string_view path);

constexpr int kListColumnCount = 8;
inline constexpr std::array<const char*, kListColumnCount> kListColumnHeadings = {
    "File Name", "Start Time", "End Time", "Board Name", "Camera Name", "Video Size", "File Length", "Host Name"};

// The record of one row: what the sort compares. Names are the recorder's single-byte text;
// `name` is the file name as it is on disk. A four-channel recording's board and camera hold
// the four channels' names joined by ",".
struct RecordingRow {
    std::string name;
    uint32_t start = 0;  // seconds since 1970, UTC; 0 when the file gives none
    uint32_t end = 0;
    std::string board;
    std::string camera;
    uint32_t width = 0;
    uint32_t length = 0;  // bytes; 0 for a face file
    std::string host;
};

struct ListRow {
    RowKind kind = kRowRecording;
    RecordingRow record;
    uint32_t height = 0;  // shown in the size column beside the record's width
    std::array<std::string, kListColumnCount> cells;
};

// Makes the row of the file `name` in `folder` (which ends in '/'). None for a picture without
// a camera name (or that cannot be loaded) and for a face file that cannot be read; a recording
// always gets a row, built from the header's initial values where it could not be read.
// `gmtOffsetHours` is the computer's zone, shown after the host name.
std::optional<ListRow> makeListRow(const std::string& folder, const std::string& name, int32_t gmtOffsetHours);

// Cell texts.
std::string formatListLength(uint32_t bytes);     // "1023Bytes", "1KB", "1MB"
std::string formatListGmt(int32_t hours);         // "(GMT+09:00)", "(GMT-05:00)"
// "%y/%m/%d,%H:%M:%S" (or with the four-digit year) in the computer's zone.
std::string formatListTime(uint32_t seconds, bool fourDigitYear = false);


// The column a click on a heading widens: a cell text at least as wide as the column less 10
// pixels makes the column 15 pixels wider than the text (at most 65535); otherwise it stays.
int widenedColumnWidth(int columnWidth, int textWidth);

// The sort: a column and a direction flag, changed by a click on a heading.
struct ListSortState {
    int column = 0;
    bool flag = false;

    // The first click on another heading selects it with the flag clear; a click on the same
    // heading toggles the flag.
    void click(int clickedColumn);
    bool operator==(const ListSortState&) const = default;
};

// Negative: `a` goes before `b`. The chosen column's key first, then name, start, end, board,
// camera, width, length, host; with the flag clear the greater key comes first.
int compareListRows(const RecordingRow& a, const RecordingRow& b, const ListSortState& state);
// Sorts rows as a click on a heading leaves them (stable: only identical records stay in order).
void sortListRows(std::vector<ListRow>& rows, const ListSortState& state);

// Rows are handed over in batches: the first after kFirstBatchRows rows, the following ones
// every kBatchMs milliseconds or kBatchRows rows, whichever comes first.
constexpr size_t kFirstBatchRows = 32;
constexpr size_t kBatchRows = 512;
constexpr int kBatchMs = 40;

// Reads `folder` (a trailing '/' is added when missing) and hands its rows, in enumeration
// order, to `onBatch` in batches (above). Directories are skipped; hidden files are listed. Stops between files once
// `cancelled` returns true. False with `error` set when the folder cannot be read.
using RowBatchHandler = std::function<void(std::vector<ListRow>&& rows)>;
bool readFolderRows(const std::string& folder, int32_t gmtOffsetHours, const RowBatchHandler& onBatch,
                    const std::function<bool()>& cancelled, std::string& error);
// "/x/y" becomes "/x/y/"; an empty path stays empty.
std::string withTrailingSlash(std::string folder);

// Reads folders on its own worker thread, one at a time: start() cancels the folder being read
// and begins the new one. The handlers are called on the worker thread, each with the number
// start() returned, so that a receiver can drop what belongs to a folder it no longer shows.
// The handlers must not call start(), cancel() or wait().
class RecordingFolderReader {
public:
    using BatchHandler = std::function<void(uint64_t job, std::vector<ListRow>&& rows)>;
    // `completed` is false when the reading was cancelled; `error` is set when the folder could
    // not be read.
    using DoneHandler = std::function<void(uint64_t job, bool completed, const std::string& error)>;

    RecordingFolderReader(BatchHandler onBatch, DoneHandler onDone = {});
    ~RecordingFolderReader();  // cancels and joins the worker
    RecordingFolderReader(const RecordingFolderReader&) = delete;
    RecordingFolderReader& operator=(const RecordingFolderReader&) = delete;

    uint64_t start(const std::string& folder, int32_t gmtOffsetHours);
    // Stops the reading in progress (its batches already handed over stay handed over).
    void cancel();
    // Blocks until the worker has nothing to do (tests, benchmarks, tools).
    void wait();

private:
    void run();

    BatchHandler m_onBatch;
    DoneHandler m_onDone;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::atomic<uint64_t> m_latest{0};  // the newest job; older ones stop at the next file
    uint64_t m_pending = 0;             // a job waiting to start, 0 for none
    std::string m_pendingFolder;
    int32_t m_pendingGmt = 0;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_worker;
};

}  // namespace kx
