// SHA-256 of a file, as lower-case hexadecimal (the export's proof that a file is unchanged).
#pragma once

#include <optional>
#include <string>

namespace kx {

// Nothing when the file cannot be read to its end.
std::optional<std::string> sha256OfFile(const std::string& path);

}  // namespace kx
