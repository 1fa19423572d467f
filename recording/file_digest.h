// SHA-256 (FIPS 180-4) of bytes and of whole files, so that a checked recording can be named
// beyond doubt in a case report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kx {

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    // The digest of everything updated so far; the object must not be updated afterwards.
    std::array<uint8_t, 32> finish();

private:
    void block(const uint8_t* data);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_bytes = 0;
};

// Lower-case hexadecimal SHA-256 of the file at `path`; empty when it cannot be read whole.
std::string sha256OfFile(const std::string& path);

}  // namespace kx
