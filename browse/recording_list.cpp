// The recording list's rows: reading each file's header, the cell texts, the heading sort and
// the folder reader with its worker thread.
#include "browse/recording_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "codec/picture/picture_file.h"
#include "platform/file.h"
#include "recording/face_picture_file.h"
#include "recording/record_info.h"
#include "recording/resolution.h"

namespace kx {
namespace {

constexpr int kMaxColumnWidth = 0xFFFF;

uint32_t clampLength(uint64_t bytes) { return uint32_t(std::min<uint64_t>(bytes, 0xFFFFFFFFu)); }

std::string numbered(const std::string& name, unsigned zeroBasedNumber) {
    return name + '(' + std::to_string(zeroBasedNumber + 1) + ')';
}

std::string sizeText(uint32_t width, uint32_t height) {
    return std::to_string(width) + 'X' + std::to_string(height);
}

// Display sizes by resolution code; kind 0 shows code 131 as 640 x 480. Codes outside the
// table keep the size the header reader set.
void recordingRow(File& file, const std::string& path, const std::string& gmt, ListRow& row) {
    CRecordInfo info;
    uint32_t length = 0;
    // ReadInfo, with one File kept for the whole folder so that its read window is not
    // allocated afresh per file. The row is made whether or not the header could be read.
    if (file.open(path, FileMode::Read)) {
        length = clampLength(file.length());
        info.ParseHeader(file);
        file.close();
    }
    RecordingRow& record = row.record;
    record.start = info.StartTime();
    record.end = info.EndTime();
    record.host = info.HostName();
    record.length = length;
    if (info.Kind() == kKindFourChannel) {
        for (int channel = 0; channel < kChannelCount; ++channel) {
            if (channel > 0) {
                record.board += ',';
                record.camera += ',';
            }
            record.board += info.BoardName(channel);
            record.camera += info.CameraName(channel);
        }
    } else {
        record.board = info.BoardName();
        record.camera = info.CameraName();
    }
    uint32_t width = uint32_t(info.Width());
    uint32_t height = uint32_t(info.Height());
    if (const std::optional<PictureSize> size = DisplaySizeOfCode(info.ResolutionCode())) {
        width = uint32_t(size->width);
        height = uint32_t(size->height);
    }
    if (info.Kind() == kKindLegacyKx && info.ResolutionCode() == 131) {
        width = 640;
        height = 480;
    }
    record.width = width;
    row.height = height;

    const uint8_t code = info.ResolutionCode();
    row.cells[1] = formatListTime(record.start);
    row.cells[2] = formatListTime(record.end);
    row.cells[3] = numbered(record.board, info.BoardNumber());
    row.cells[4] = numbered(record.camera, info.CameraNumber());
    row.cells[5] = sizeText(width, height) + (code == 3 || code == 131 ? "(HQ)" : "");
    row.cells[6] = formatListLength(length);
    row.cells[7] = record.host + gmt;
}

bool pictureRow(const std::string& path, const std::string& gmt, ListRow& row) {
    PictureFile picture;
    picture.load(row.kind == kRowBitmap ? PictureFormat::Bmp : PictureFormat::Jpeg, path);
    if (picture.cameraName().empty()) return false;
    struct stat status {};
    const uint32_t length = ::stat(path.c_str(), &status) == 0 ? clampLength(uint64_t(status.st_size)) : 0;
    RecordingRow& record = row.record;
    record.start = picture.time();
    record.board = picture.boardName();
    record.camera = picture.cameraName();
    record.width = picture.width();
    record.length = length;
    record.host = picture.hostName();
    row.height = picture.height();
    if (record.start != 0) row.cells[1] = formatListTime(record.start);
    row.cells[3] = record.board;
    row.cells[4] = record.camera;
    if (record.width != 0 && row.height != 0) row.cells[5] = sizeText(record.width, row.height);
    row.cells[6] = formatListLength(length);
    if (!record.host.empty()) row.cells[7] = record.host + gmt;
    return true;
}

bool faceRow(const std::string& path, ListRow& row) {
    CFacePictureFile faces;
    if (!faces.Open(path)) return false;
    uint32_t firstTime = 0;
    if (faces.PictureCount() > 0) {
        std::vector<uint8_t> pixels;
        uint32_t time = 0, width = 0, height = 0;
        if (faces.ReadPicture(pixels, time, width, height, 0)) firstTime = time;
    }
    uint32_t width = 0, height = 0;
    faces.PictureSize(width, height);
    RecordingRow& record = row.record;
    record.start = firstTime;
    record.end = faces.LastPictureTime();
    record.board = faces.BoardName();
    record.camera = faces.CameraName();
    record.width = width;
    record.host = faces.HostName();
    row.height = height;
    if (record.start != 0) row.cells[1] = formatListTime(record.start, true);
    if (record.end != 0) row.cells[2] = formatListTime(record.end, true);
    row.cells[3] = record.board;
    row.cells[4] = record.camera;
    if (width != 0 && height != 0) row.cells[5] = sizeText(width, height);
    row.cells[7] = record.host;
    return true;
}

// `gmt` is the GMT text shown after host names, the same for every row.
std::optional<ListRow> buildRow(File& file, const std::string& folder, const std::string& name,
                                const std::string& gmt) {
    const std::string path = folder + name;
    ListRow row;
    row.kind = rowKindOf(path);
    row.record.name = name;
    row.cells[0] = name;
    switch (row.kind) {
        case kRowRecording: recordingRow(file, path, gmt, row); break;
        case kRowBitmap:
        case kRowJpeg:
            if (!pictureRow(path, gmt, row)) return std::nullopt;
            break;
        case kRowFaceFile:
            if (!faceRow(path, row)) return std::nullopt;
            break;
    }
    return row;
}

template <class T>
int compareKeys(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// -1, 0 or 1 as a's key of `column` is less than, equal to or greater than b's.
int compareColumn(const RecordingRow& a, const RecordingRow& b, int column) {
    switch (column) {
        case 0: return compareKeys(a.name, b.name);
        case 1: return compareKeys(a.start, b.start);
        case 2: return compareKeys(a.end, b.end);
        case 3: return compareKeys(a.board, b.board);
        case 4: return compareKeys(a.camera, b.camera);
        case 5: return compareKeys(a.width, b.width);
        case 6: return compareKeys(a.length, b.length);
        case 7: return compareKeys(a.host, b.host);
        default: return 0;
    }
}

bool isDirectoryEntry(int folderFd, const dirent& entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return false;
    struct stat status {};
    // A link is what it points to; a dangling one is listed (and gets the unreadable row).
    return ::fstatat(folderFd, entry.d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

RowKind rowKindOf(std::string_view path) {
    if (path.size() < 3) return kRowRecording;
    char last[3];
    for (size_t i = 0; i < 3; ++i) {
        const char c = path[path.size() - 3 + i];
        last[i] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    const std::string_view tail(last, 3);
    if (tail == "bmp") return kRowBitmap;
    if (tail == "fac") return kRowFaceFile;
    if (tail == "jpg") return kRowJpeg;
    return kRowRecording;
}

std::string formatListLength(uint32_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + "Bytes";
    if (bytes < 1048576) return std::to_string(bytes / 1024) + "KB";
    return std::to_string(bytes / 1048576) + "MB";
}

std::string formatListGmt(int32_t hours) {
    char text[32];
    if (hours >= 0)
        std::snprintf(text, sizeof text, "(GMT+%02d:00)", hours);
    else
        std::snprintf(text, sizeof text, "(GMT-%02lld:00)", -static_cast<long long>(hours));
    return text;
}

// "%y/%m/%d,%H:%M:%S" (or "%Y/...") written digit by digit: two of these per row, and strftime
// costs as much as the rest of the row.
std::string formatListTime(uint32_t seconds, bool fourDigitYear) {
    const std::time_t t = seconds;
    std::tm parts{};
    if (localtime_r(&t, &parts) == nullptr) return {};
    char text[24];
    char* out = text;
    const auto two = [&out](int value) {
        *out++ = char('0' + value / 10 % 10);
        *out++ = char('0' + value % 10);
    };
    const int year = parts.tm_year + 1900;
    if (fourDigitYear) two(year / 100);
    two(year % 100);
    *out++ = '/';
    two(parts.tm_mon + 1);
    *out++ = '/';
    two(parts.tm_mday);
    *out++ = ',';
    two(parts.tm_hour);
    *out++ = ':';
    two(parts.tm_min);
    *out++ = ':';
    two(parts.tm_sec);
    return std::string(text, size_t(out - text));
}

int widenedColumnWidth(int columnWidth, int textWidth) {
    if (textWidth < columnWidth - 10) return columnWidth;
    return std::min(textWidth + 15, kMaxColumnWidth);
}

void ListSortState::click(int clickedColumn) {
    if (clickedColumn == column) {
        flag = !flag;
    } else {
        column = clickedColumn;
        flag = false;
    }
}

int compareListRows(const RecordingRow& a, const RecordingRow& b, const ListSortState& state) {
    int order = compareColumn(a, b, state.column);
    for (int column : {0, 1, 2, 3, 4, 5, 6, 7}) {
        if (order != 0) break;
        order = compareColumn(a, b, column);
    }
    if (order == 0) return 0;
    // A smaller key goes after with the flag clear, before with it set.
    return (order < 0) != state.flag ? 1 : -1;
}

void sortListRows(std::vector<ListRow>& rows, const ListSortState& state) {
    std::stable_sort(rows.begin(), rows.end(), [&state](const ListRow& a, const ListRow& b) {
        return compareListRows(a.record, b.record, state) < 0;
    });
}

std::optional<ListRow> makeListRow(const std::string& folder, const std::string& name, int32_t gmtOffsetHours) {
    File file;
    return buildRow(file, withTrailingSlash(folder), name, formatListGmt(gmtOffsetHours));
}

std::string withTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

bool readFolderRows(const std::string& folderPath, int32_t gmtOffsetHours, const RowBatchHandler& onBatch,
                    const std::function<bool()>& cancelled, std::string& error) {
    const std::string folder = withTrailingSlash(folderPath);
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), &::closedir);
    if (!directory) {
        error = std::strerror(errno);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    File file;
    const std::string gmt = formatListGmt(gmtOffsetHours);
    std::vector<ListRow> batch;
    bool first = true;
    Clock::time_point lastHandOver = Clock::now();
    const auto handOver = [&] {
        if (batch.empty()) return;
        onBatch(std::move(batch));
        batch = {};
        first = false;
        lastHandOver = Clock::now();
    };
    while (!(cancelled && cancelled())) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (entry == nullptr) {
            if (errno != 0) error = std::strerror(errno);  // the rows read so far stand
            break;
        }
        if (isDirectoryEntry(::dirfd(directory.get()), *entry)) continue;
        if (std::optional<ListRow> row = buildRow(file, folder, entry->d_name, gmt))
            batch.push_back(std::move(*row));
        if (batch.size() >= (first ? kFirstBatchRows : kBatchRows) ||
            (!batch.empty() && Clock::now() - lastHandOver >= std::chrono::milliseconds(kBatchMs)))
            handOver();
    }
    if (!(cancelled && cancelled())) handOver();
    return true;
}

RecordingFolderReader::RecordingFolderReader(BatchHandler onBatch, DoneHandler onDone)
    : m_onBatch(std::move(onBatch)), m_onDone(std::move(onDone)) {
    m_worker = std::thread([this] { run(); });
}

RecordingFolderReader::~RecordingFolderReader() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_pending = 0;
        m_latest.fetch_add(1);
    }
    m_wake.notify_all();
    m_worker.join();
}

uint64_t RecordingFolderReader::start(const std::string& folder, int32_t gmtOffsetHours) {
    uint64_t job = 0;
    {
        std::lock_guard lock(m_mutex);
        job = m_latest.fetch_add(1) + 1;
        m_pending = job;
        m_pendingFolder = folder;
        m_pendingGmt = gmtOffsetHours;
    }
    m_wake.notify_all();
    return job;
}

void RecordingFolderReader::cancel() {
    std::lock_guard lock(m_mutex);
    m_pending = 0;
    m_latest.fetch_add(1);
}

void RecordingFolderReader::wait() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_pending == 0 && !m_busy; });
}

void RecordingFolderReader::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || m_pending != 0; });
        if (m_stopping) break;
        const uint64_t job = m_pending;
        const std::string folder = std::move(m_pendingFolder);
        const int32_t gmt = m_pendingGmt;
        m_pending = 0;
        m_busy = true;
        lock.unlock();

        const auto isCancelled = [this, job] { return m_latest.load() != job; };
        std::string error;
        readFolderRows(
            folder, gmt, [this, job](std::vector<ListRow>&& rows) { m_onBatch(job, std::move(rows)); }, isCancelled,
            error);
        if (m_onDone) m_onDone(job, !isCancelled(), error);

        lock.lock();
        m_busy = false;
        if (m_pending == 0) m_idle.notify_all();
    }
    m_busy = false;
    m_idle.notify_all();
}

}  // namespace kx
