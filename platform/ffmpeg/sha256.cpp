// SHA-256 of a file through libavutil's hash.
#include "platform/sha256.h"

#include <cstdio>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

namespace kx {

std::optional<std::string> sha256OfFile(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return std::nullopt;
    std::unique_ptr<AVSHA, void (*)(void*)> sha(av_sha_alloc(), av_free);
    if (!sha || av_sha_init(sha.get(), 256) < 0) return std::nullopt;
    std::vector<uint8_t> buffer(1 << 16);
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        av_sha_update(sha.get(), buffer.data(), got);
    if (std::ferror(file.get())) return std::nullopt;
    uint8_t digest[32];
    av_sha_final(sha.get(), digest);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

}  // namespace kx
