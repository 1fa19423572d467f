// MD5 digest (RFC 1321) of a byte range, as 32 lowercase hexadecimal digits: picture
// fingerprints for `kxtool decode --md5`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx {

std::string md5Hex(const uint8_t* data, size_t size);

}  // namespace kx
