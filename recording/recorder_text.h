// Names in recordings (host, board, camera) are single-byte text of the recorder's Western code
// page (cp1252); everything that shows them converts them to UTF-8 here.
#pragma once

#include <string>
#include <string_view>

namespace kx {

// `text` in cp1252 as UTF-8; the bytes cp1252 leaves undefined become U+FFFD.
std::string recorderTextToUtf8(std::string_view text);

}  // namespace kx
