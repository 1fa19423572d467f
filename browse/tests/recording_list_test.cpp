// The recording list's rows without a window: rows of every kind from files written here by the
// recorder, PictureFile and the face-file writer; unreadable files; cell formats; the heading
// sort; and the folder reader's batches, order and cancellation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "browse/recording_list.h"
#include "codec/picture/picture_file.h"
#include "tools/recorder/face_file_writer.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kStart = 1793606400;  // 2026-11-02 08:00:00 UTC
using Cells = std::array<std::string, kListColumnCount>;

class RecordingListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        m_folder = fs::temp_directory_path() / ("kx_recording_list_" + std::to_string(::getpid()) + "_" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }
    std::string folder() const { return m_folder.string() + "/"; }

    void record(RecordingJob job) {
        job.path = path(job.path);
        job.frames = 3;
        job.fps = 1;  // ticks 0, 1000 and 2000 ms: the end time is 2 s after the start
        job.startTime = kStart;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;
    }
    void writeText(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }
    // All rows of the folder by name, read as the list reads them.
    std::map<std::string, ListRow> rowsByName(int32_t gmt = 9) const {
        std::map<std::string, ListRow> rows;
        std::string error;
        EXPECT_TRUE(readFolderRows(
            folder(), gmt, [&](std::vector<ListRow>&& batch) {
                for (ListRow& row : batch) rows[row.record.name] = std::move(row);
            },
            {}, error));
        return rows;
    }

    fs::path m_folder;
};

PictureFile smallPicture(uint32_t width = 32, uint32_t height = 16) {
    PictureFile picture;
    picture.setPixels(width, height, std::vector<uint8_t>(size_t(width) * height * 3, 90));
    return picture;
}

TEST(RowKind, TakesTheLastThreeCharactersInAnyCase) {
    const std::pair<const char*, RowKind> cases[] = {
        {"/a/cam1.kx", kRowRecording}, {"/a/x.jpeg", kRowRecording}, {"/a/footbmp", kRowBitmap},
        {"/a/SNAP.BMP", kRowBitmap},   {"/a/f.Fac", kRowFaceFile},   {"/a/p.jpg", kRowJpeg},
        {"/a/P.JPG", kRowJpeg},        {"jpg", kRowJpeg},            {"pg", kRowRecording},
        {"", kRowRecording},           {"/a/clip.kxz", kRowRecording},
    };
    for (const auto& [path, kind] : cases) EXPECT_EQ(rowKindOf(path), kind) << path;
}

TEST(ListCells, LengthGmtAndTimeFormats) {
    const std::pair<uint32_t, const char*> lengths[] = {
        {0, "0Bytes"},       {1023, "1023Bytes"}, {1024, "1KB"},           {1048575, "1023KB"},
        {1048576, "1MB"},    {5767168, "5MB"},    {4294967295u, "4095MB"},
    };
    for (const auto& [bytes, text] : lengths) EXPECT_EQ(formatListLength(bytes), text) << bytes;
    EXPECT_EQ(formatListGmt(9), "(GMT+09:00)");
    EXPECT_EQ(formatListGmt(0), "(GMT+00:00)");
    EXPECT_EQ(formatListGmt(-5), "(GMT-05:00)");
    EXPECT_EQ(formatListGmt(-12), "(GMT-12:00)");

    ::setenv("TZ", "Asia/Tokyo", 1);  // times are shown in the computer's zone
    ::tzset();
    EXPECT_EQ(formatListTime(kStart), "26/11/02,17:00:00");
    EXPECT_EQ(formatListTime(kStart, true), "2026/11/02,17:00:00");
    EXPECT_EQ(formatListTime(0), "70/01/01,09:00:00");
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

TEST(ListCells, RecorderTextBecomesUtf8) {
    EXPECT_EQ(recorderTextToUtf8("Gate A"), "Gate A");
    EXPECT_EQ(recorderTextToUtf8("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(ListColumns, WidenOnlyForTextsWithin10PixelsOfTheWidth) {
    EXPECT_EQ(widenedColumnWidth(100, 90), 105);  // exactly 10 narrower: widens
    EXPECT_EQ(widenedColumnWidth(100, 89), 100);  // 11 narrower: stays
    EXPECT_EQ(widenedColumnWidth(100, 300), 315);
    EXPECT_EQ(widenedColumnWidth(100, 70000), 65535);  // kept to 16 bits without wrapping
}

TEST_F(RecordingListTest, RecordingRowsShowTheHeader) {
    RecordingJob extended;
    extended.path = "Gate-Cam.ckx";  // capitals stay: Linux names are case-sensitive
    extended.kind = kKindExtended;
    extended.resolutionCode = 131;
    extended.boardNumber = 1;
    extended.cameraNumber = 2;
    extended.boardName = "Lobby";
    extended.cameraName = "Caf\xE9";
    extended.hostName = "KX-DVR-01";
    record(extended);
    RecordingJob legacy;
    legacy.path = "old.kx";
    legacy.kind = kKindLegacyKx;
    legacy.resolutionCode = 131;  // a .kx file shows code 131 as 640 x 480
    record(legacy);
    RecordingJob quad;
    quad.path = "quad.ckx";
    quad.kind = kKindFourChannel;
    quad.resolutionCode = 7;
    quad.channelBoardNames = {"B1", "B2", "B3", "B4"};
    quad.channelCameraNames = {"C1", "", "C3", "C4"};
    record(quad);

    const std::map<std::string, ListRow> rows = rowsByName();
    ASSERT_EQ(rows.size(), 3u);
    const ListRow& row = rows.at("Gate-Cam.ckx");
    EXPECT_EQ(row.kind, kRowRecording);
    const uint32_t length = uint32_t(fs::file_size(path("Gate-Cam.ckx")));
    EXPECT_EQ(row.cells, (Cells{"Gate-Cam.ckx", "26/11/02,08:00:00", "26/11/02,08:00:02", "Lobby(2)", "Caf\xE9(3)",
                                "704X576(HQ)", formatListLength(length), "KX-DVR-01(GMT+09:00)"}));
    EXPECT_EQ(row.record.start, kStart);
    EXPECT_EQ(row.record.end, kStart + 2);
    EXPECT_EQ(row.record.board, "Lobby");
    EXPECT_EQ(row.record.camera, "Caf\xE9");
    EXPECT_EQ(row.record.width, 704u);
    EXPECT_EQ(row.height, 576u);
    EXPECT_EQ(row.record.length, length);
    EXPECT_EQ(row.record.host, "KX-DVR-01");

    EXPECT_EQ(rows.at("old.kx").cells[5], "640X480(HQ)");
    EXPECT_EQ(rows.at("old.kx").cells[3], "Board 1(1)");

    const ListRow& four = rows.at("quad.ckx");
    EXPECT_EQ(four.record.board, "B1,B2,B3,B4");
    EXPECT_EQ(four.record.camera, "C1,,C3,C4");
    EXPECT_EQ(four.cells[3], "B1,B2,B3,B4(1)");
    EXPECT_EQ(four.cells[4], "C1,,C3,C4(1)");
    EXPECT_EQ(four.cells[5], "640X480");
}

TEST_F(RecordingListTest, UnreadableFilesGetTheInitialValuesAndTheirTrueLength) {
    writeText("notes.txt", "hello");
    writeText(".hidden", std::string(1024, 'x'));
    writeText("damaged.kxz", " XXK");  // clip magic, then nothing
    PictureFile jpeg = smallPicture();
    jpeg.setCameraName("Gate");
    ASSERT_TRUE(jpeg.save(PictureFormat::Jpeg, path("x.jpeg.jpg")));
    fs::rename(path("x.jpeg.jpg"), path("x.jpeg"));  // "peg": a recording
    fs::create_directory(m_folder / "sub.kx");        // folders are not listed

    const std::map<std::string, ListRow> rows = rowsByName(-5);
    ASSERT_EQ(rows.size(), 4u);
    const auto initial = [](const std::string& name, const std::string& length) {
        return Cells{name, "70/01/01,00:00:00", "70/01/01,00:00:00", "(1)", "(160)", "160X112", length, "(GMT-05:00)"};
    };
    EXPECT_EQ(rows.at("notes.txt").cells, initial("notes.txt", "5Bytes"));
    EXPECT_EQ(rows.at(".hidden").cells, initial(".hidden", "1KB"));
    EXPECT_EQ(rows.at("damaged.kxz").cells, initial("damaged.kxz", "4Bytes"));
    const ListRow& x = rows.at("x.jpeg");
    EXPECT_EQ(x.kind, kRowRecording);
    EXPECT_EQ(x.cells, initial("x.jpeg", formatListLength(uint32_t(fs::file_size(path("x.jpeg"))))));
    EXPECT_EQ(x.record.camera, "");
    EXPECT_EQ(x.record.width, 160u);
    EXPECT_EQ(x.record.start, 0u);
}

TEST_F(RecordingListTest, PictureRowsNeedACameraName) {
    PictureFile full = smallPicture(32, 16);
    full.setTime(kStart);
    full.setBoardName("Lobby");
    full.setCameraName("Gate");
    full.setHostName("KX-DVR");
    full.setGmtOffset(3);  // the file's zone is not shown: the computer's is
    ASSERT_TRUE(full.save(PictureFormat::Jpeg, path("full.JPG")));
    ASSERT_TRUE(full.save(PictureFormat::Bmp, path("footbmp.bmp")));
    fs::rename(path("footbmp.bmp"), path("footbmp"));
    PictureFile cameraOnly = smallPicture(16, 8);
    cameraOnly.setCameraName("Yard");
    ASSERT_TRUE(cameraOnly.save(PictureFormat::Bmp, path("yard.bmp")));
    PictureFile noCamera = smallPicture();
    noCamera.setBoardName("Lobby");
    noCamera.setHostName("KX-DVR");
    ASSERT_TRUE(noCamera.save(PictureFormat::Jpeg, path("nocamera.jpg")));
    writeText("broken.jpg", "not a picture");

    const std::map<std::string, ListRow> rows = rowsByName(9);
    ASSERT_EQ(rows.size(), 3u);  // no rows for nocamera.jpg and broken.jpg
    const ListRow& jpeg = rows.at("full.JPG");
    EXPECT_EQ(jpeg.kind, kRowJpeg);
    const std::string jpegLength = formatListLength(uint32_t(fs::file_size(path("full.JPG"))));
    EXPECT_EQ(jpeg.cells,
              (Cells{"full.JPG", "26/11/02,08:00:00", "", "Lobby", "Gate", "32X16", jpegLength, "KX-DVR(GMT+09:00)"}));
    EXPECT_EQ(jpeg.record.end, 0u);
    EXPECT_EQ(jpeg.record.length, fs::file_size(path("full.JPG")));

    const ListRow& bitmap = rows.at("footbmp");
    EXPECT_EQ(bitmap.kind, kRowBitmap);
    EXPECT_EQ(bitmap.cells[4], "Gate");
    EXPECT_EQ(bitmap.cells[5], "32X16");

    const std::string yardLength = formatListLength(uint32_t(fs::file_size(path("yard.bmp"))));
    EXPECT_EQ(rows.at("yard.bmp").cells, (Cells{"yard.bmp", "", "", "", "Yard", "16X8", yardLength, ""}));
}

TEST_F(RecordingListTest, FaceFileRowsShowFirstAndLastTimesWithoutLength) {
    for (int version : {0, 1}) {
        FaceFileJob job;
        job.path = path("faces" + std::to_string(version) + ".fac");
        job.version = version;
        job.width = 32;
        job.height = 48;
        job.hostName = "KX-DVR";
        job.boardName = "Lobby";
        job.cameraName = "Gate";
        job.picturesPerGroup = 2;
        std::vector<FacePicture> pictures;
        for (uint32_t i = 0; i < 5; ++i)
            pictures.push_back({kStart + 60 * i, std::vector<uint8_t>(32 * 48, uint8_t(40 * i))});
        std::string error;
        ASSERT_TRUE(writeFaceFile(job, pictures, error)) << error;
    }
    writeText("damaged.FAC", "FACE\x07");

    const std::map<std::string, ListRow> rows = rowsByName();
    ASSERT_EQ(rows.size(), 2u);  // the damaged face file gets no row
    for (const char* name : {"faces0.fac", "faces1.fac"}) {
        const ListRow& row = rows.at(name);
        EXPECT_EQ(row.kind, kRowFaceFile);
        EXPECT_EQ(row.cells,
                  (Cells{name, "2026/11/02,08:00:00", "2026/11/02,08:04:00", "Lobby", "Gate", "32X48", "", "KX-DVR"}))
            << name;
        EXPECT_EQ(row.record.length, 0u);
        EXPECT_EQ(row.record.width, 32u);
    }
}

// Rows a to e as a sort sees them: names, times, sizes, with ties in the later keys.
std::vector<ListRow> sortRows() {
    const auto make = [](const char* name, uint32_t start, uint32_t width, uint32_t length, const char* host) {
        ListRow row;
        row.record = {name, start, start + 10, "Board", "Cam", width, length, host};
        return row;
    };
    return {make("b.kx", 300, 704, 5000, "h"), make("a.kx", 100, 352, 5000, "h"),
            make("D.kx", 300, 704, 100, "H"), make("c.kx", 200, 160, 70000, "h")};
}

std::vector<std::string> namesOf(const std::vector<ListRow>& rows) {
    std::vector<std::string> names;
    for (const ListRow& row : rows) names.push_back(row.record.name);
    return names;
}

TEST(ListSort, HeadingClicksAndTheirDirections) {
    ListSortState state;
    std::vector<ListRow> rows = sortRows();
    using Names = std::vector<std::string>;
    const struct {
        int click;
        ListSortState after;
        Names order;
    } steps[] = {
        // The first click on "File Name" sorts upwards; bytes compare, so capitals come first.
        {0, {0, true}, {"D.kx", "a.kx", "b.kx", "c.kx"}},
        {0, {0, false}, {"c.kx", "b.kx", "a.kx", "D.kx"}},
        // Another heading: the greatest first. Equal start times fall back on the name, in the
        // same direction.
        {1, {1, false}, {"b.kx", "D.kx", "c.kx", "a.kx"}},
        {1, {1, true}, {"a.kx", "c.kx", "D.kx", "b.kx"}},
        {5, {5, false}, {"b.kx", "D.kx", "a.kx", "c.kx"}},
        {6, {6, false}, {"c.kx", "b.kx", "a.kx", "D.kx"}},
        {7, {7, false}, {"c.kx", "b.kx", "a.kx", "D.kx"}},
        {7, {7, true}, {"D.kx", "a.kx", "b.kx", "c.kx"}},
    };
    for (const auto& step : steps) {
        state.click(step.click);
        EXPECT_EQ(state, step.after) << "click on " << step.click;
        sortListRows(rows, state);
        EXPECT_EQ(namesOf(rows), step.order) << "click on " << step.click;
    }
    EXPECT_EQ(compareListRows(rows[0].record, rows[0].record, state), 0);
}

TEST(ListSort, TiesGoThroughTheWholeChain) {
    RecordingRow a{"same", 1, 2, "b", "c", 10, 20, "h1"};
    RecordingRow b = a;
    b.host = "h2";  // only the last key differs
    EXPECT_EQ(compareListRows(a, b, {3, false}), 1);
    EXPECT_EQ(compareListRows(a, b, {3, true}), -1);
    b = a;
    b.end = 1;  // start equal, end decides before the names of board and camera
    b.board = "z";
    EXPECT_EQ(compareListRows(a, b, {1, false}), -1);
}

TEST_F(RecordingListTest, FolderThatCannotBeReadFails) {
    std::string error;
    int batches = 0;
    EXPECT_FALSE(readFolderRows(path("missing"), 0, [&](std::vector<ListRow>&&) { ++batches; }, {}, error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(batches, 0);
    writeText("file", "x");
    EXPECT_FALSE(readFolderRows(path("file"), 0, [&](std::vector<ListRow>&&) { ++batches; }, {}, error));
    EXPECT_EQ(error, "Not a directory");
}

// The worker hands over the rows in the order of the folder, the first batch small; a new
// folder stops the old one after the file being read, and nothing more of it arrives.
TEST_F(RecordingListTest, WorkerBatchesInOrderAndANewFolderCancelsTheOld) {
    const fs::path big = m_folder / "big";
    const fs::path small = m_folder / "small";
    fs::create_directories(big);
    fs::create_directories(small);
    constexpr int kBigFiles = 400;
    for (int i = 0; i < kBigFiles; ++i) std::ofstream(big / ("f" + std::to_string(i) + ".kx")) << "not a header";
    for (int i = 0; i < 3; ++i) std::ofstream(small / ("s" + std::to_string(i) + ".kx")) << "x";

    std::vector<std::string> expectedOrder;
    std::string error;
    ASSERT_TRUE(readFolderRows(
        big.string(), 0, [&](std::vector<ListRow>&& rows) {
            for (const ListRow& row : rows) expectedOrder.push_back(row.record.name);
        },
        {}, error));
    ASSERT_EQ(expectedOrder.size(), size_t(kBigFiles));

    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    std::map<uint64_t, std::vector<std::string>> names;
    std::map<uint64_t, std::vector<size_t>> batchSizes;
    std::map<uint64_t, bool> completed;
    RecordingFolderReader reader(
        [&](uint64_t job, std::vector<ListRow>&& rows) {
            std::unique_lock lock(mutex);
            batchSizes[job].push_back(rows.size());
            for (const ListRow& row : rows) names[job].push_back(row.record.name);
            changed.notify_all();
            changed.wait(lock, [&] { return released; });  // hold the worker inside the first batch
        },
        [&](uint64_t job, bool done, const std::string&) {
            std::lock_guard lock(mutex);
            completed[job] = done;
        });

    const uint64_t first = reader.start(big.string(), 0);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !names[first].empty(); });
    }
    const uint64_t second = reader.start(small.string() + "/", 0);
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    reader.wait();

    EXPECT_NE(first, second);
    // One batch: at most kFirstBatchRows (fewer only when the first ones took over kBatchMs).
    ASSERT_EQ(batchSizes[first].size(), 1u);
    const size_t firstBatch = batchSizes[first][0];
    EXPECT_LE(firstBatch, kFirstBatchRows);
    EXPECT_EQ(names[first], std::vector<std::string>(expectedOrder.begin(), expectedOrder.begin() + long(firstBatch)));
    EXPECT_FALSE(completed[first]);
    EXPECT_EQ(names[second].size(), 3u);
    EXPECT_TRUE(completed[second]);

    // Reading the big folder again to its end gives every row once, in the folder's order.
    released = true;
    const uint64_t third = reader.start(big.string(), 0);
    reader.wait();
    EXPECT_EQ(names[third], expectedOrder);
    EXPECT_TRUE(completed[third]);
    EXPECT_GT(batchSizes[third].size(), 1u);
    EXPECT_LE(batchSizes[third].front(), kFirstBatchRows);
}

}  // namespace
}  // namespace kx
