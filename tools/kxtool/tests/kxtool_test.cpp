// kxtool as users and scripts see it: the program run on files laid out byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "recording/tests/recording_builder.h"
#include "tools/kxtool/tests/tool_run.h"

namespace kx {
namespace {

using nlohmann::json;

using test::ToolRun;

ToolRun kxtool(const std::string& arguments, const test::TempFolder& folder) {
    return test::runKxtool(arguments, folder.path());
}

std::vector<test::GroupContent> fourChannelGroups() {
    std::vector<test::GroupContent> groups(2);
    uint8_t seed = 3;
    for (uint32_t g = 0; g < 2; ++g) {
        groups[g].tick = 50'000 + 1000 * g;
        for (uint32_t i = 0; i < 2; ++i) {
            test::FourChannelFrame frame;
            frame.tick = groups[g].tick + 40 * i;
            for (auto& channel : frame.channels) {
                channel = test::makeFrame(0, 5 + seed, seed % 2 ? 8 : 0, seed, 2);
                ++seed;
            }
            groups[g].quadFrames.push_back(frame);
        }
    }
    return groups;
}

TEST(KxtoolInfo, JsonReportsEveryHeaderFieldAndTheIndex) {
    test::TempFolder folder;
    test::HeaderFields h;
    h.resolution = 131;
    h.board_name = "Caf\xE9";  // single-byte text becomes UTF-8
    const std::string legacy = folder.write(
        "a.kx", test::recordingBytes(0, h, test::makeGroups(3, 5, h.firstTick, false)));
    h.resolution = 128;  // picture selector: code 144 in a four-channel file
    const std::string quad = folder.write("b.ckx", test::recordingBytes(8, h, fourChannelGroups()));

    const ToolRun run = kxtool("info --json " + legacy + " " + quad, folder);
    ASSERT_EQ(run.status, 0) << run.err;
    const json all = json::parse(run.out);
    ASSERT_EQ(all.size(), 2u);
    const json& a = all[0];
    std::vector<std::string> keys;
    for (auto it = a.begin(); it != a.end(); ++it) keys.push_back(it.key());
    const std::vector<std::string> expectedKeys = {"path",
                                                   "kind",
                                                   "version",
                                                   "resolution_code",
                                                   "coded_width",
                                                   "coded_height",
                                                   "display_width",
                                                   "display_height",
                                                   "board_number",
                                                   "camera_number",
                                                   "board_name",
                                                   "camera_name",
                                                   "host_name",
                                                   "start_time",
                                                   "end_time",
                                                   "first_frame_tick",
                                                   "gmt_offset",
                                                   "header_flags",
                                                   "first_group_offset",
                                                   "file_length",
                                                   "groups",
                                                   "frames"};
    std::vector<std::string> sortedKeys = keys, sortedExpected = expectedKeys;
    std::sort(sortedKeys.begin(), sortedKeys.end());
    std::sort(sortedExpected.begin(), sortedExpected.end());
    EXPECT_EQ(sortedKeys, sortedExpected);
    EXPECT_EQ(a["path"], legacy);
    EXPECT_EQ(a["kind"], 0);
    EXPECT_EQ(a["version"], 0x101);
    EXPECT_EQ(a["resolution_code"], 131);
    EXPECT_EQ(a["coded_width"], 640);
    EXPECT_EQ(a["coded_height"], 240);
    EXPECT_EQ(a["display_width"], 640);
    EXPECT_EQ(a["display_height"], 480);
    EXPECT_EQ(a["board_number"], h.board);
    EXPECT_EQ(a["camera_number"], h.camera);
    EXPECT_EQ(a["board_name"], "Caf\u00e9");
    EXPECT_EQ(a["camera_name"], h.camera_name);
    EXPECT_EQ(a["host_name"], h.host);
    EXPECT_EQ(a["start_time"], h.start);
    EXPECT_EQ(a["end_time"], h.end);
    EXPECT_EQ(a["first_frame_tick"], h.firstTick);
    EXPECT_EQ(a["gmt_offset"], h.gmt);
    EXPECT_EQ(a["header_flags"], h.flags);
    EXPECT_EQ(a["first_group_offset"], 36 + 4 + 10 + 4 + 6 + 4);
    EXPECT_EQ(a["file_length"], std::filesystem::file_size(legacy));
    EXPECT_EQ(a["groups"], 3);
    EXPECT_EQ(a["frames"], 15);

    const json& b = all[1];
    EXPECT_EQ(b["kind"], 8);
    EXPECT_EQ(b["resolution_code"], 144);
    EXPECT_EQ(b["coded_width"], 352);
    EXPECT_EQ(b["display_width"], 704);
    EXPECT_EQ(b["first_group_offset"], 852);
    ASSERT_EQ(b["channels"].size(), 4u);
    EXPECT_EQ(b["channels"][3]["camera_name"], h.channelCameras[3]);
    EXPECT_EQ(b["channels"][0]["board_name"], h.channelBoards[0]);
    EXPECT_EQ(b["frames"], 4);
}

TEST(KxtoolInfo, UnreadableFilesAreNamedWithTheReasonAndExitStatus1) {
    test::TempFolder folder;
    test::HeaderFields h;
    h.camera_name.assign(812, 'c');
    const std::string bad = folder.write("bad.kxz", test::headerBytes(3, h));
    const std::string empty = folder.write("empty.kxz", test::headerBytes(3, test::HeaderFields{}));
    const std::string good = folder.write(
        "good.kxz",
        test::recordingBytes(3, test::HeaderFields{}, test::makeGroups(1, 2, 0, false)));

    const ToolRun run = kxtool(
        "info --json " + bad + " " + good + " " + empty + " " + folder.path() + "/missing.kx",
        folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("kxtool: " + bad + ": camera name length 812 exceeds 500"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("kxtool: " + empty + ": no group"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("missing.kx: No such file"), std::string::npos) << run.err;
    const json all = json::parse(run.out);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], (json{{"path", bad}, {"error", "camera name length 812 exceeds 500"}}));
    EXPECT_EQ(all[1]["frames"], 2);

    const ToolRun text = kxtool("info " + good, folder);
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("1 groups, 2 frames"), std::string::npos) << text.out;
}

TEST(KxtoolFrames, RowsFollowTheRecordsAndTheChosenChannel) {
    test::TempFolder folder;
    test::HeaderFields h;
    h.firstTick = 50'000;
    const auto groups = fourChannelGroups();
    const std::string quad = folder.write("q.dat", test::recordingBytes(8, h, groups));

    const ToolRun run = kxtool("frames --json --channel 2 " + quad, folder);
    ASSERT_EQ(run.status, 0) << run.err;
    const json rows = json::parse(run.out);
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const auto& frame = groups[i / 2].quadFrames[i % 2];
        const auto& channel = frame.channels[2];
        EXPECT_EQ(rows[i], (json{{"group", i / 2},
                                 {"position", i % 2},
                                 {"tick", frame.tick},
                                 {"wall_time", h.start + (frame.tick - h.firstTick) / 1000},
                                 {"kind", channel.kind},
                                 {"flags", channel.flags},
                                 {"codec", 2},
                                 {"video_length", channel.video.size()},
                                 {"audio_length", channel.audio.size()}}));
    }
    EXPECT_NE(kxtool("frames --channel 4 " + quad, folder).status, 0);
    const ToolRun notQuad = kxtool(
        "frames --channel 1 " +
            folder.write("one.kxz", test::recordingBytes(3, h, test::makeGroups(1, 1, 0, false))),
        folder);
    EXPECT_EQ(notQuad.status, 1);
    EXPECT_NE(notQuad.err.find("not a four-channel recording"), std::string::npos);
}

TEST(KxtoolFrames, DamagedFrameIsReportedAndTheListingGoesOn) {
    test::TempFolder folder;
    std::vector<test::GroupContent> groups = test::makeGroups(3, 3, 0, true);
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> bytes = test::recordingBytes(1, test::HeaderFields{}, groups, &offsets);
    // Record 1:1 claims a video length beyond the file.
    const size_t record = offsets[1] + 16 + test::frameBytes(1, groups[1].frames[0]).size();
    for (int i = 0; i < 4; ++i) bytes[record + 8 + size_t(i)] = uint8_t(900'000'000u >> (8 * i));
    const std::string path = folder.write("d.kxx", bytes);

    const ToolRun run = kxtool("frames --json " + path, folder);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("group 1 frame 1: video length 900000000 exceeds"), std::string::npos)
        << run.err;
    const json rows = json::parse(run.out);
    ASSERT_EQ(rows.size(), 7u);  // group 0, the first frame of group 1, group 2
    EXPECT_EQ(rows[3]["group"], 1);
    EXPECT_EQ(rows[3]["position"], 0);
    EXPECT_EQ(rows[4]["group"], 2);
    EXPECT_EQ(rows[4]["position"], 0);
    EXPECT_EQ(rows[6]["audio_length"], 24);
}

TEST(KxtoolClip, CutsByGroupsOrByTimesAndRefusesANameThatWouldNotOpen) {
    test::TempFolder folder;
    test::HeaderFields h;
    h.firstTick = 10'000;
    const std::string source =
        folder.write("s.kxx", test::recordingBytes(1, h, test::makeGroups(6, 25, 10'000, true)));

    const ToolRun byGroups =
        kxtool("clip " + source + " " + folder.path() + "/a.kxx --from 1 --to 3:5", folder);
    EXPECT_EQ(byGroups.status, 0) << byGroups.err;
    EXPECT_NE(byGroups.out.find("4 groups, 55 frames"), std::string::npos) << byGroups.out;

    // Group g covers second g: 00:00:02 to 00:00:04 is groups 2, 3 and 4 (wall times are whole
    // seconds, so all of group 4 lies within 00:00:04).
    const std::string from = std::to_string(h.start + 2);
    const std::string to = std::to_string(h.start + 4);
    const ToolRun byTimes = kxtool(
        "clip " + source + " " + folder.path() + "/b.kxx --from-time " + from + " --to-time " + to,
        folder);
    EXPECT_EQ(byTimes.status, 0) << byTimes.err;
    EXPECT_NE(byTimes.out.find("4 groups, 75 frames"), std::string::npos) << byTimes.out;

    const ToolRun wrongName =
        kxtool("clip " + source + " " + folder.path() + "/c.kxz --from 1 --to 2", folder);
    EXPECT_EQ(wrongName.status, 2);
    EXPECT_NE(wrongName.err.find("must be named *.kxx"), std::string::npos) << wrongName.err;
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/c.kxz"));
}

}  // namespace
}  // namespace kx
