// kxtool audio against FFmpeg: recordings with G.726 and IMA ADPCM sound written by kxrec,
// their audio blocks joined and decoded by the ffmpeg program, and the WAV files kxtool writes
// compared byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "recording/record_frame.h"
#include "recording/record_reader.h"

namespace kx {
namespace {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// The audio blocks of every frame, in reading order; `blockBytes` is set to the first one's size.
std::vector<uint8_t> audioBlocks(const std::string& path, size_t& blockBytes) {
    CRecordInfo info;
    CRecordReader reader;
    EXPECT_TRUE(info.ReadInfo(path));
    EXPECT_TRUE(reader.Open(&info, kReaderModeRead, -1));
    CRecordFrame frame(720, 576, 1 << 16);
    std::vector<uint8_t> joined;
    blockBytes = 0;
    while (reader.ReadFrame(frame, -1, 0)) {
        if (!frame.HasAudio() || frame.AudioLength() == 0) continue;
        if (blockBytes == 0) blockBytes = frame.AudioLength();
        joined.insert(joined.end(), frame.AudioBuffer(), frame.AudioBuffer() + frame.AudioLength());
    }
    return joined;
}

// An IMA ADPCM WAV file around the blocks, for ffmpeg to read.
std::vector<uint8_t> imaWav(const std::vector<uint8_t>& blocks, size_t blockBytes) {
    std::vector<uint8_t> w = {'R', 'I', 'F', 'F'};
    putLe(w, uint32_t(4 + 28 + 8 + 12 + 8 + blocks.size()), 4);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLe(w, 20, 4);
    putLe(w, 0x11, 2);  // IMA ADPCM
    putLe(w, 1, 2);
    putLe(w, 8000, 4);
    putLe(w, uint32_t(8000 * blockBytes / (2 * blockBytes - 7)), 4);
    putLe(w, uint32_t(blockBytes), 2);
    putLe(w, 4, 2);
    putLe(w, 2, 2);
    putLe(w, uint32_t(2 * blockBytes - 7), 2);
    w.insert(w.end(), {'f', 'a', 'c', 't'});
    putLe(w, 4, 4);
    putLe(w, uint32_t(blocks.size() / blockBytes * (2 * blockBytes - 7)), 4);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    putLe(w, uint32_t(blocks.size()), 4);
    w.insert(w.end(), blocks.begin(), blocks.end());
    return w;
}

TEST(KxtoolAudio, WavFilesAreWhatFfmpegDecodesFromTheSameBlocks) {
    const auto folder = std::filesystem::temp_directory_path() / ("kx_audio_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    struct Case { const char* name; const char* kxrec; const char* kxtool; bool ima; };
    // kxrec writes video of codec 0 or 1, for which the player chooses G.726; its IMA sound is
    // decoded by naming the codec.
    const Case cases[] = {{"speech.ckx", "--audio g726 --sound speech", "", false},
                          {"tone.kxz", "--audio g726 --sound tone --codec 1", "", false},
                          {"ima.ckx", "--audio ima --ima-block 256", "--codec ima", true}};
    for (const Case& c : cases) {
        const std::string recording = (folder / c.name).string();
        const std::string wav = recording + ".wav";
        ASSERT_EQ(run(std::string(KXREC_PATH) + " " + c.kxrec + " --frames 150 " + recording), 0) << c.name;
        ASSERT_EQ(run(std::string(KXTOOL_PATH) + " audio " + c.kxtool + " " + recording + " " + wav), 0) << c.name;
        EXPECT_FALSE(std::filesystem::exists(wav + ".part"));

        size_t blockBytes = 0;
        const std::vector<uint8_t> blocks = audioBlocks(recording, blockBytes);
        ASSERT_FALSE(blocks.empty()) << c.name;
        const std::string coded = recording + (c.ima ? ".ima.wav" : ".g726");
        const std::string reference = recording + ".s16";
        if (c.ima) {
            writeBytes(coded, imaWav(blocks, blockBytes));
            ASSERT_EQ(run("ffmpeg -y -i " + coded + " -f s16le " + reference), 0);
        } else {
            writeBytes(coded, blocks);
            ASSERT_EQ(run("ffmpeg -y -f g726le -code_size 3 -sample_rate 8000 -i " + coded + " -f s16le " + reference), 0);
        }
        const std::vector<uint8_t> expected = readBytes(reference);
        const std::vector<uint8_t> actual = readBytes(wav);
        ASSERT_GT(expected.size(), 8000u) << c.name;
        ASSERT_EQ(actual.size(), 44 + expected.size()) << c.name;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), actual.begin() + 44)) << c.name;
        // RIFF header of 8 kHz mono 16-bit PCM.
        EXPECT_EQ(std::string(actual.begin(), actual.begin() + 4), "RIFF");
        EXPECT_EQ(le32(actual, 4), actual.size() - 8);
        EXPECT_EQ(le32(actual, 20), 0x00010001u);  // PCM, one channel
        EXPECT_EQ(le32(actual, 24), 8000u);
        EXPECT_EQ(le32(actual, 28), 16000u);
        EXPECT_EQ(le32(actual, 32), 0x00100002u);  // 2 bytes per frame, 16 bits
        EXPECT_EQ(le32(actual, 40), expected.size());
    }

    // A recording that cannot be read leaves no file behind.
    const std::string missing = (folder / "missing.wav").string();
    EXPECT_NE(run(std::string(KXTOOL_PATH) + " audio " + (folder / "none.ckx").string() + " " + missing), 0);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(missing + ".part"));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kx
