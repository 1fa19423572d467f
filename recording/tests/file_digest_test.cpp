// SHA-256 against the published test vectors and against coreutils' sha256sum on a file.
#include "recording/file_digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "recording/tests/recording_builder.h"

namespace kx {
namespace {

std::string hex(const std::array<uint8_t, 32>& digest) {
    std::string text;
    char two[3];
    for (const uint8_t b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

TEST(Sha256, PublishedVectorsInOneAndInManyPieces) {
    struct Case { std::string message; const char* digest; };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.message.data());
        Sha256 whole;
        whole.update(bytes, c.message.size());
        EXPECT_EQ(hex(whole.finish()), c.digest) << c.message.size();
        Sha256 pieces;
        for (size_t at = 0, step = 1; at < c.message.size(); at += step, step = step % 97 + 1)
            pieces.update(bytes + at, std::min(step, c.message.size() - at));
        EXPECT_EQ(hex(pieces.finish()), c.digest) << c.message.size();
    }
}

TEST(Sha256, FileDigestIsWhatSha256sumSays) {
    test::TempFolder folder;
    std::vector<uint8_t> bytes(3 * 1024 * 1024 + 77);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 2654435761u >> 13);
    const std::string path = folder.write("f.bin", bytes);
    FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    ::pclose(pipe);
    EXPECT_EQ(sha256OfFile(path), std::string(line, 64));
    EXPECT_EQ(sha256OfFile(folder.path() + "/missing"), "");
}

}  // namespace
}  // namespace kx
