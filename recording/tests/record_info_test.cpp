// Header recognition, parsing, rejection and writing for every recording kind.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "recording/record_info.h"
#include "recording/resolution.h"
#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

using test::HeaderFields;
using test::headerBytes;

struct RecognitionCase {
    const char* name;
    int layout;  // kind whose header layout the file holds
    bool accepted;
    int kind;
};

TEST(RecordInfoRecognition, ExtensionOrMagicDecidesTheKindBeforeTheContents) {
    const RecognitionCase cases[] = {
        {"a.kx", 0, true, 0},     {"a.KXX", 1, true, 1},  {"a.kxq", 2, true, 2},   {"a.KXZ", 3, true, 3},
        {"a.ckx", 7, true, 7},    {"a.kxz", 8, true, 8},  {"a.dat", 8, true, 8},   {"a.dat", 0, true, 0},
        {"akx", 0, true, 0},      {"a.dat", 3, false, 0}, {"a.kxz", 0, false, 3},  {"a.ckx", 3, false, 7},
        {"a.Kx", 7, false, 0},
    };
    test::TempFolder folder;
    for (const RecognitionCase& c : cases) {
        const std::string path = folder.write(c.name, headerBytes(c.layout, HeaderFields{}));
        CRecordInfo info;
        EXPECT_EQ(info.ReadInfo(path), c.accepted) << c.name << " holding layout " << c.layout;
        EXPECT_EQ(info.Kind(), c.kind) << c.name;
        EXPECT_EQ(info.Path(), c.accepted ? path : "") << c.name;
        if (!c.accepted) {
            EXPECT_EQ(info.LastError().code, RecordError::BadMagic) << c.name;
        }
    }
}

TEST(RecordInfoRecognition, UnknownExtensionKeepsTheRecordsPreviousKind) {
    test::TempFolder folder;
    CRecordInfo info;
    ASSERT_TRUE(info.ReadInfo(folder.write("first.ckx", headerBytes(7, HeaderFields{}))));
    EXPECT_TRUE(info.ReadInfo(folder.write("second.dat", headerBytes(7, HeaderFields{}))));
    EXPECT_EQ(info.Kind(), kKindExtended);
}

// Parses `bytes` named `name` and checks the fields every layout shares.
CRecordInfo parse(const test::TempFolder& folder, const char* name, const std::vector<uint8_t>& bytes,
                  const HeaderFields& h) {
    CRecordInfo info;
    File file;
    EXPECT_TRUE(file.open(folder.write(name, bytes), FileMode::Read));
    EXPECT_EQ(info.ParseHeader(file), bytes.size()) << info.LastError().text;
    EXPECT_EQ(info.Version(), h.version);
    EXPECT_EQ(info.BoardNumber(), h.board);
    EXPECT_EQ(info.CameraNumber(), h.camera);
    EXPECT_EQ(info.StartTime(), h.start);
    EXPECT_EQ(info.EndTime(), h.end);
    EXPECT_EQ(info.FirstFrameTick(), h.firstTick);
    EXPECT_EQ(info.HeaderFlags(), h.flags);
    EXPECT_EQ(info.ReservedWord(), h.reservedWord);
    EXPECT_EQ(info.FirstGroupOffset(), bytes.size());
    EXPECT_EQ(info.HostName(), h.host);
    return info;
}

TEST(RecordInfoParse, LegacyHeaderCarriesTheGmtOffsetFromVersion0x101) {
    test::TempFolder folder;
    HeaderFields h;
    h.resolution = 131;
    for (uint32_t version : {0x100u, 0x101u, 0x1000u}) {
        h.version = version;
        const auto bytes = headerBytes(0, h);
        const CRecordInfo info = parse(folder, "v.kx", bytes, h);
        EXPECT_EQ(bytes.size(), version >= 0x101 ? 36u + 7 + 10 + 4 + 6 + 4 : 36u + 7 + 10 + 4 + 6);
        EXPECT_EQ(info.GmtOffset(), version >= 0x101 ? h.gmt : 0);
        EXPECT_EQ(info.BoardName(), h.board_name);
        EXPECT_EQ(info.CameraName(), h.camera_name);
        EXPECT_EQ(info.LegacyReservedByte(), h.reservedByte);
        EXPECT_EQ(info.LegacyFlagsByte(), h.flags & 0xFF);
        EXPECT_EQ(info.ResolutionCode(), 131);
        // Code 131 is 640 x 240 in a .kx file, 704 x 288 elsewhere.
        EXPECT_EQ(info.Width(), 640);
        EXPECT_EQ(info.Height(), 240);
    }
    const CRecordInfo other = parse(folder, "v.kxq", headerBytes(2, h), h);
    EXPECT_EQ(other.Width(), 704);
    EXPECT_EQ(other.Height(), 288);
}

TEST(RecordInfoParse, ClipAndExtendedHeaders) {
    test::TempFolder folder;
    HeaderFields h;
    h.resolution = 122;
    const CRecordInfo clip = parse(folder, "c.kxz", headerBytes(3, h), h);
    EXPECT_EQ(clip.ResolutionCode(), 122);
    EXPECT_EQ(clip.Width(), 352);
    EXPECT_EQ(clip.Height(), 288);
    EXPECT_EQ(clip.GmtOffset(), h.gmt);
    EXPECT_EQ(clip.ReservedByte(), h.reservedByte);
    EXPECT_EQ(clip.CameraName(), h.camera_name);
    EXPECT_EQ(clip.BoardName(), h.board_name);

    h.resolution = 1;  // picture selector 1: code 7
    const CRecordInfo extended = parse(folder, "e.ckx", headerBytes(7, h), h);
    EXPECT_EQ(extended.ResolutionCode(), 7);
    EXPECT_EQ(extended.Width(), 320);
    EXPECT_EQ(extended.ExtendedReservedWord(), h.extendedReserved);
    EXPECT_EQ(extended.ReservedByte(), h.reservedByte);
    EXPECT_EQ(extended.GmtOffset(), h.gmt);
    EXPECT_EQ(extended.CameraName(), h.camera_name);
}

TEST(RecordInfoParse, FourChannelHeaderNamesEachChannel) {
    test::TempFolder folder;
    HeaderFields h;
    h.host = std::string(32, 'H');  // fills its field: no terminator
    h.channelCameras[2] = std::string(64, 'c');
    h.resolution = 129;
    const CRecordInfo info = parse(folder, "q.kxz", headerBytes(8, h), h);
    EXPECT_EQ(info.Kind(), kKindFourChannel);
    EXPECT_EQ(info.HostName().size(), 32u);
    EXPECT_EQ(info.ResolutionCode(), 145);
    EXPECT_EQ(info.Width(), 704);
    EXPECT_EQ(info.Height(), 240);
    EXPECT_EQ(info.GmtOffset(), h.gmt);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(info.CameraName(c), h.channelCameras[size_t(c)]);
        EXPECT_EQ(info.BoardName(c), h.channelBoards[size_t(c)]);
    }
    EXPECT_EQ(info.CameraName(-1), "");
}

TEST(Resolution, SelectorsMapPerKindAndUnknownCodesKeepTheSize) {
    struct Row { uint8_t selector; uint8_t kind7; uint8_t kind8; };
    const Row rows[] = {{0, 135, 135}, {1, 7, 7},       {2, 131, 131},     {3, 3, 3},
                        {128, 135, 144}, {129, 135, 145}, {144, 135, 144}, {4, 135, 7}, {255, 135, 7}};
    for (const Row& r : rows) {
        EXPECT_EQ(ResolutionCodeOfSelector(7, r.selector), r.kind7) << int(r.selector);
        EXPECT_EQ(ResolutionCodeOfSelector(8, r.selector), r.kind8) << int(r.selector);
    }
    CRecordInfo info;
    info.SetResolutionCode(137);
    info.SetResolutionCode(10);  // not in the table
    EXPECT_EQ(info.ResolutionCode(), 10);
    EXPECT_EQ(info.Width(), 704);
    EXPECT_EQ(info.Height(), 576);
    EXPECT_FALSE(DisplaySizeOf(info).has_value());
    info.SetResolutionCode(7);
    info.SetHeaderFlags(kHeaderFlag352Pixels);
    EXPECT_EQ(DisplaySizeOf(info), (PictureSize{704, 480}));
}

using Bytes = std::vector<uint8_t>;

struct RejectionCase {
    const char* what;
    const char* name;
    int layout;
    void (*fields)(HeaderFields&);  // changes before the header is laid out, or null
    void (*bytes)(Bytes&);          // changes to the laid-out bytes, or null
    RecordError error;
    const char* text;
};

TEST(RecordInfoParse, DamagedHeadersAreRejectedWithAReason) {
    const RejectionCase cases[] = {
        {"version", "a.kx", 0, [](HeaderFields& h) { h.version = 0x1001; }, nullptr, RecordError::BadVersion,
         "version 0x1001 exceeds 0x1000"},
        {"board name", "a.kxx", 1, [](HeaderFields& h) { h.board_name.assign(501, 'b'); }, nullptr,
         RecordError::NameTooLong, "board name length 501 exceeds 500"},
        {"camera length", "a.kx", 0, nullptr, [](Bytes& b) { b[22] = 0x2C, b[23] = 3; }, RecordError::NameTooLong,
         "camera name length 812 exceeds 500"},
        {"host name", "a.kxq", 2, [](HeaderFields& h) { h.host.assign(600, 'h'); }, nullptr,
         RecordError::NameTooLong, "host name length 600 exceeds 500"},
        {"clip camera", "a.kxz", 3, [](HeaderFields& h) { h.camera_name.assign(501, 'c'); }, nullptr,
         RecordError::NameTooLong, "camera name length 501 exceeds 500"},
        {"extended board", "a.ckx", 7, [](HeaderFields& h) { h.board_name.assign(1000, 'c'); }, nullptr,
         RecordError::NameTooLong, "board name length 1000 exceeds 500"},
        {"short four-channel", "a.4ch", 8, nullptr, [](Bytes& b) { b.resize(851); }, RecordError::Truncated,
         "four-channel header is 851 bytes, expected 852"},
        {"cut host", "a.kx", 0, nullptr, [](Bytes& b) { b.resize(b.size() - 6); }, RecordError::Truncated,
         "file ends"},
        {"cut clip", "a.kxz", 3, nullptr, [](Bytes& b) { b.resize(20); }, RecordError::Truncated,
         "file ends inside the header"},
        {"empty", "a.kx", 0, nullptr, [](Bytes& b) { b.clear(); }, RecordError::BadMagic, "KX"},
    };
    test::TempFolder folder;
    for (const RejectionCase& c : cases) {
        HeaderFields h;
        if (c.fields) c.fields(h);
        Bytes bytes = headerBytes(c.layout, h);
        if (c.bytes) c.bytes(bytes);
        CRecordInfo info;
        EXPECT_FALSE(info.ReadInfo(folder.write(c.name, bytes))) << c.what;
        EXPECT_EQ(info.LastError().code, c.error) << c.what;
        EXPECT_NE(info.LastError().text.find(c.text), std::string::npos) << c.what << ": " << info.LastError().text;
    }
}

TEST(RecordInfoParse, NamesOfExactly500BytesAreAccepted) {
    test::TempFolder folder;
    HeaderFields h;
    h.board_name.assign(500, 'b');
    h.camera_name.assign(500, 'c');
    h.host.assign(500, 'h');
    const std::pair<const char*, int> files[] = {{"a.kx", 0}, {"a.kxz", 3}, {"a.ckx", 7}};
    for (const auto& [name, kind] : files) {
        CRecordInfo info;
        EXPECT_TRUE(info.ReadInfo(folder.write(name, headerBytes(kind, h)))) << name << info.LastError().text;
        EXPECT_EQ(info.HostName().size(), 500u);
    }
}

// A record holding the same fields as `h`, built through the setters.
CRecordInfo recordOf(int kind, const HeaderFields& h) {
    CRecordInfo info;
    info.SetKind(kind);
    info.SetVersion(h.version);
    info.SetResolutionCode(kind == 7 || kind == 8 ? ResolutionCodeOfSelector(kind, h.resolution) : h.resolution);
    info.SetBoardNumber(h.board);
    info.SetCameraNumber(h.camera);
    info.SetStartTime(h.start);
    info.SetEndTime(h.end);
    info.SetFirstFrameTick(h.firstTick);
    info.SetGmtOffset(h.gmt);
    info.SetHeaderFlags(h.flags);
    info.SetBoardName(h.board_name);
    info.SetCameraName(h.camera_name);
    info.SetHostName(h.host);
    for (int c = 0; c < 4; ++c) {
        info.SetCameraName(h.channelCameras[size_t(c)], c);
        info.SetBoardName(h.channelBoards[size_t(c)], c);
    }
    return info;
}

TEST(RecordInfoWrite, WrittenHeadersMatchTheLayoutsAndParseBack) {
    struct Case { const char* name; int kind; uint32_t version; };
    const Case cases[] = {{"w.kx", 0, 0x100}, {"w.kx", 0, 0x101}, {"w.kxx", 1, 0x101}, {"w.kxq", 2, 0x1000},
                          {"w.kxz", 3, 7},     {"w.ckx", 7, 2},     {"w.4ch", 8, 1}};
    test::TempFolder folder;
    for (const Case& c : cases) {
        HeaderFields h;
        h.version = c.version;
        h.resolution = 2;  // code 2, or selector 2 (code 131) for kinds 7 and 8
        h.reservedByte = 0;
        h.reservedWord = 0;
        h.extendedReserved = 0;
        h.extendedHighByte = 0;
        h.fourChannelSpare = 0;
        CRecordInfo written = recordOf(c.kind, h);
        const std::string path = folder.path() + "/" + c.name;
        {
            File file;
            ASSERT_TRUE(file.open(path, FileMode::CreateWrite));
            ASSERT_TRUE(written.WriteHeader(file));
            EXPECT_EQ(file.length(), written.HeaderSize()) << c.name;
        }
        const std::vector<uint8_t> expected = headerBytes(c.kind, h);
        EXPECT_EQ(written.FirstGroupOffset(), expected.size()) << c.name << " " << c.version;
        File file;
        ASSERT_TRUE(file.open(path, FileMode::Read));
        std::vector<uint8_t> actual(file.length());
        file.read(actual.data(), actual.size());
        EXPECT_EQ(actual, expected) << c.name << " version " << c.version;

        CRecordInfo read;
        EXPECT_EQ(read.ParseHeader(file), expected.size()) << c.name;
        EXPECT_EQ(read.Kind(), c.kind);
        EXPECT_EQ(read.Version(), written.Version());
        EXPECT_EQ(read.ResolutionCode(), written.ResolutionCode());
        EXPECT_EQ(read.Width(), written.Width());
        EXPECT_EQ(read.StartTime(), h.start);
        EXPECT_EQ(read.EndTime(), h.end);
        EXPECT_EQ(read.FirstFrameTick(), h.firstTick);
        EXPECT_EQ(read.GmtOffset(), c.version == 0x100 ? 0 : h.gmt);
        EXPECT_EQ(read.HeaderFlags(), h.flags);
        EXPECT_EQ(read.HostName(), h.host);
        EXPECT_EQ(read.CameraName(c.kind == 8 ? 1 : -1), c.kind == 8 ? h.channelCameras[1] : h.camera_name);
    }
}

TEST(RecordInfoWrite, LongNamesAreCutTo500AndTheClipFlagSurvivesTheLegacyFlagsByte) {
    test::TempFolder folder;
    HeaderFields h;
    h.flags = 0x0400;
    CRecordInfo written = recordOf(0, h);
    written.SetHostName(std::string(700, 'h'));
    written.SetClipFlag(true);
    const std::string path = folder.path() + "/long.kx";
    {
        File file;
        ASSERT_TRUE(file.open(path, FileMode::CreateWrite));
        ASSERT_TRUE(written.WriteHeader(file));
    }
    CRecordInfo read;
    ASSERT_TRUE(read.ReadInfo(path)) << read.LastError().text;
    EXPECT_EQ(read.HostName(), std::string(500, 'h'));
    EXPECT_EQ(read.FirstGroupOffset(), written.HeaderSize());
    EXPECT_EQ(read.HeaderFlags(), 0x0400u | kHeaderFlagClip);
}

TEST(RecordInfoTimes, WallTimesWrapWithTheTickClock) {
    CRecordInfo info;
    info.SetStartTime(1'000'000);
    info.SetFirstFrameTick(0xFFFFFC18);  // 1 s before the tick counter wraps
    EXPECT_EQ(info.WallTimeOfTick(0xFFFFFC18), 1'000'000u);
    EXPECT_EQ(info.WallTimeOfTick(999), 1'000'001u);  // 1.999 s later, remainder discarded
    EXPECT_EQ(info.WallTimeOfTick(1000), 1'000'002u);
    // A tick before the first one is a huge forward distance, as on the recorder.
    EXPECT_EQ(info.WallTimeOfTick(0xFFFFFC17), 1'000'000u + 4'294'967u);
}

TEST(RecordInfoTimes, SettingTheStartTimeStampsTheCurrentGmtOffset) {
    setCurrentGmtOffsetHours(5);
    CRecordInfo info;
    info.SetGmtOffset(-3);
    info.SetStartTime(42);
    EXPECT_EQ(info.StartTime(), 42u);
    EXPECT_EQ(info.GmtOffset(), 5);
}

}  // namespace
}  // namespace kx
