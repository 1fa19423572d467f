// kxtool verify on a recorder-written recording and on copies damaged here in every way the
// check can find: the findings with their frames, the JSON object, the HTML report (its
// SHA-256 against sha256sum), and an intact recording passing with no finding.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "recording/record_reader.h"
#include "recording/tests/recording_builder.h"
#include "tools/kxtool/tests/tool_run.h"
#include "tools/recorder/recording_job.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using test::FrameContent;
using test::GroupContent;

void put(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

class VerifyCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = fs::temp_directory_path() / ("kxtool_verify_" + std::to_string(::getpid()));
        fs::create_directories(s_folder);
        // 30 frames at 25 per second in 6 groups of 5, codec 1.
        RecordingJob job;
        job.path = (s_folder / "rec.kxz").string();
        job.kind = 3;
        job.resolutionCode = 0;
        job.frames = 30;
        job.groupMs = 200;
        std::string error;
        ASSERT_TRUE(writeRecording(job, error)) << error;
        s_path = job.path;
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    static nlohmann::json verifyJson(const std::string& path, int expectedStatus) {
        const test::ToolRun run = test::runKxtool("verify --json '" + path + "'", s_folder);
        EXPECT_EQ(run.status, expectedStatus) << run.err;
        return nlohmann::json::parse(run.out);
    }

    static inline fs::path s_folder;
    static inline std::string s_path;
};

TEST_F(VerifyCommand, AnIntactRecordingPassesWithNoFinding) {
    const test::ToolRun text = test::runKxtool("verify " + s_path, s_folder);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "30 of 30 frames checked\nThis file has passed the authentication!\n");
    const nlohmann::json json = verifyJson(s_path, 0);
    EXPECT_EQ(json["verdict"], "passed");
    EXPECT_EQ(json["frames_checked"], 30);
    EXPECT_TRUE(json["findings"].empty());
    EXPECT_EQ(json["sha256"].get<std::string>().size(), 64u);

    const test::ToolRun missing = test::runKxtool("verify " + (s_folder / "missing.kxz").string(), s_folder);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("missing.kxz"), std::string::npos);
}

TEST_F(VerifyCommand, EveryKindOfDamageIsFoundAtItsFrame) {
    test::HeaderFields header;
    std::vector<GroupContent> groups = test::groupsOfRecording(s_path, header);
    ASSERT_EQ(groups.size(), 6u);
    const auto largest = [&](uint32_t g) {
        uint32_t best = 0;
        for (uint32_t p = 0; p < groups[g].frames.size(); ++p)
            if (groups[g].frames[p].video.size() > groups[g].frames[best].video.size()) best = p;
        return best;
    };
    // Group 2: a record above the frame size cap (it carries no picture).
    groups[2].frames[2].video.assign(size_t(8 << 20) + 1, 0);
    groups[2].frames[2].flags |= kFrameFlagNoPicture;
    // Group 3: a picture cut short, and one that holds no picture at all.
    const uint32_t cut = largest(3);
    ASSERT_GT(groups[3].frames[cut].video.size(), 100u);
    groups[3].frames[cut].video.resize(groups[3].frames[cut].video.size() / 2);
    const uint32_t garbage = cut == 4 ? 3 : 4;
    groups[3].frames[garbage].video.assign(64, 0xFF);
    // Group 4: frame 1 of a codec without decoder, frame 3's tick set back.
    groups[4].frames[1].flags = uint16_t((groups[4].frames[1].flags & ~0xF0) | 9 << 4);
    groups[4].frames[3].tick = groups[4].frames[2].tick - 100;
    // Group 5: two seconds missing before frame 2; its group tick before group 4's.
    for (uint32_t p = 2; p < 5; ++p) groups[5].frames[p].tick += 2000;
    groups[5].tick = groups[4].tick - 1000;

    std::vector<uint32_t> offsets;
    std::vector<uint8_t> bytes = test::recordingBytes(kKindClip, header, groups, &offsets);
    // Group 0's header counts 4 of its 5 records.
    put(bytes, offsets[0] + 8, 4, 2);
    // Record 1:3 claims more bytes than the file holds.
    size_t record = offsets[1] + kShortGroupHeaderBytes;
    for (uint32_t p = 0; p < 3; ++p) record += test::frameBytes(kKindClip, groups[1].frames[p]).size();
    put(bytes, record + 8, 0x7FFFFFF0u, 4);
    const std::string path = test::writeFile(s_folder.string(), "damaged.kxz", bytes);

    const std::string report = (s_folder / "report.html").string();
    const test::ToolRun run = test::runKxtool("verify --json --report '" + report + "' '" + path + "'", s_folder);
    ASSERT_EQ(run.status, 1) << run.err;
    const nlohmann::json json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["verdict"], "failed");
    // The index holds 29 frames (group 0 counts 4); all are checked but the unreadable 1:3 and
    // the rest of its group (1:4), and the oversized 2:2.
    EXPECT_EQ(json["frames_checked"], 29 - 2 - 1);
    std::map<std::string, std::set<std::string>> found;
    for (const nlohmann::json& f : json["findings"]) {
        for (const char* key : {"kind", "group", "position", "tick", "wall_time", "detail"})
            EXPECT_TRUE(f.contains(key)) << key;
        found[f["kind"]].insert(std::to_string(f["group"].get<int>()) + ":" + std::to_string(f["position"].get<int>()));
    }
    const auto at = [](uint32_t g, uint32_t p) { return std::to_string(g) + ":" + std::to_string(p); };
    EXPECT_TRUE(found["group_count_mismatch"].contains(at(0, 3))) << run.out;
    EXPECT_EQ(found["unreadable_record"], std::set<std::string>{at(1, 3)});
    EXPECT_EQ(found["oversized_record"], std::set<std::string>{at(2, 2)});
    EXPECT_EQ(found["picture_damaged"], std::set<std::string>{at(3, cut)}) << run.out;
    EXPECT_EQ(found["picture_undecodable"], std::set<std::string>{at(3, garbage)});
    EXPECT_EQ(found["unknown_codec"], std::set<std::string>{at(4, 1)});
    EXPECT_EQ(found["codec_change"], (std::set<std::string>{at(4, 1), at(4, 2)}));
    EXPECT_EQ(found["tick_backwards"], std::set<std::string>{at(4, 3)});
    EXPECT_TRUE(found["tick_gap"].contains(at(5, 2))) << run.out;
    EXPECT_EQ(found["group_time_order"], std::set<std::string>{at(5, 0)});

    // The report names the file by the digest sha256sum gives, shows the header, the timeline
    // and the damaged picture.
    std::ifstream in(report);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const test::ToolRun sum = test::runCommand("sha256sum '" + path + "'", s_folder);
    ASSERT_EQ(sum.status, 0);
    EXPECT_EQ(json["sha256"], sum.out.substr(0, 64));
    EXPECT_NE(html.find(sum.out.substr(0, 64)), std::string::npos);
    EXPECT_NE(html.find("This file has failed the authentication!"), std::string::npos);
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_NE(html.find("data:image/bmp;base64,"), std::string::npos);
    for (const char* kind : {"unreadable_record", "oversized_record", "picture_damaged", "picture_undecodable",
                             "unknown_codec", "codec_change", "tick_backwards", "tick_gap", "group_time_order",
                             "group_count_mismatch"})
        EXPECT_NE(html.find(std::string("<td>") + kind + "</td>"), std::string::npos) << kind;
    EXPECT_EQ(html.rfind("</html>\n"), html.size() - 8);

    // The text form: one line per finding, then the count and the verdict with the first time.
    const test::ToolRun text = test::runKxtool("verify '" + path + "'", s_folder);
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.out.rfind("frame 0:3 at ", 0), 0u) << text.out;
    EXPECT_NE(text.out.find("26 of 29 frames checked\nThis file has failed the authentication! "), std::string::npos);
}

}  // namespace
}  // namespace kx
