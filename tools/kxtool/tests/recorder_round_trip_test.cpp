// The whole road of a picture: a Y4M source recorded by kxrec, decoded by kxtool, compared
// with FFmpeg's own conversion of the same source. A picture upside down, shifted or in the
// wrong colours would fall far below the bar.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace kx {
namespace {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double psnrDb(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double squared = 0;
    for (size_t i = 0; i < a.size(); ++i) squared += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / std::max(squared, 1.0));
}

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

TEST(RecorderRoundTrip, DecodedPicturesMatchFfmpegsConversionOfTheSource) {
    const auto folder = std::filesystem::temp_directory_path() / ("kx_round_trip_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    // Two sources: 352 x 288, and 704 x 288 for the legacy kind coded at half the width.
    struct Source { const char* size; std::string y4m; std::vector<uint8_t> expected; };
    Source sources[] = {{"352x288", {}, {}}, {"704x288", {}, {}}};
    for (Source& source : sources) {
        source.y4m = (folder / (std::string("in") + source.size + ".y4m")).string();
        const std::string reference = (folder / (std::string("reference") + source.size + ".bgr")).string();
        ASSERT_EQ(run(std::string("ffmpeg -y -f lavfi -i testsrc=size=") + source.size +
                      ":rate=25 -frames:v 20 -pix_fmt yuv420p -f yuv4mpegpipe " + source.y4m),
                  0);
        // The cameras' samples are full-range, and the player converts them so.
        ASSERT_EQ(run("ffmpeg -y -i " + source.y4m + " -vf scale=in_range=full -pix_fmt bgr24 -f rawvideo " + reference),
                  0);
        source.expected = readBytes(reference);
    }
    ASSERT_EQ(sources[0].expected.size(), 20u * 352 * 288 * 3);

    // The native kinds, and the older kinds with the legacy codec (kinds 0 and 1 stored
    // bottom-up, kind 2 top-down, the doubled kind at half the width).
    struct Case { const char* name; const char* options; int source; double minimumDb; };
    // Measured at quantiser 2: 38.7 dB through the native codecs, 38.6 through the legacy codec,
    // 25.3 for the doubled kind (the test pattern's sharp edges lose every second column). Codec
    // loss plus two slightly different conversions; a picture upside down, mirrored or in the
    // wrong colours falls far below.
    const Case cases[] = {{"a.kxz", "--codec 0 --resolution 122", 0, 32.0},
                          {"b.ckx", "--codec 1 --resolution 135", 0, 32.0},
                          {"c.ckx", "--codec 1 --resolution 135 --idct-b", 0, 32.0},
                          {"d.kx", "--resolution 122", 0, 32.0},
                          {"e.kxx", "--resolution 122 --version 0x100 --groups 0", 0, 32.0},
                          {"f.kxq", "--resolution 122 --groups 3", 0, 32.0},
                          {"g.kxq", "--resolution 131 --version 0x1000", 1, 22.0}};
    for (const Case& c : cases) {
        const Source& source = sources[c.source];
        const std::string recording = (folder / c.name).string();
        const std::string decoded = recording + ".bgr";
        ASSERT_EQ(run(std::string(KXREC_PATH) + " " + c.options + " --quantiser 2 --group-ms 400 --input " +
                      source.y4m + " " + recording),
                  0)
            << c.name;
        ASSERT_EQ(run(std::string(KXTOOL_PATH) + " decode --raw " + decoded + " " + recording), 0) << c.name;
        const std::vector<uint8_t> actual = readBytes(decoded);
        ASSERT_EQ(actual.size(), source.expected.size()) << c.name;
        EXPECT_GT(psnrDb(actual, source.expected), c.minimumDb) << c.name;
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kx
