// Y4mReader: the stream header's W, H, F and C tags, then FRAME records of planar 4:2:0.
#include "tools/recorder/y4m_reader.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace kx {
namespace {

constexpr int kMaxDimension = 8192;

bool readLine(std::FILE* file, std::string& line) {
    line.clear();
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '\n') return true;
        if (line.size() > 4096) return false;
        line += char(c);
    }
    return false;
}

}  // namespace

Y4mReader::~Y4mReader() {
    if (m_file) std::fclose(m_file);
}

bool Y4mReader::fail(const std::string& text) {
    m_error = m_path + ": " + text;
    return false;
}

bool Y4mReader::open(const std::string& path) {
    m_path = path;
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) return fail(std::strerror(errno));
    std::string header;
    if (!readLine(m_file, header) || header.rfind("YUV4MPEG2 ", 0) != 0) return fail("not a YUV4MPEG2 stream");
    std::istringstream tags(header.substr(10));
    for (std::string tag; tags >> tag;) {
        const std::string value = tag.substr(1);
        switch (tag[0]) {
            case 'W': m_width = std::atoi(value.c_str()); break;
            case 'H': m_height = std::atoi(value.c_str()); break;
            case 'F': {
                const size_t colon = value.find(':');
                const double num = std::atof(value.substr(0, colon).c_str());
                const double den = colon == std::string::npos ? 1 : std::atof(value.substr(colon + 1).c_str());
                if (num > 0 && den > 0) m_fps = num / den;
                break;
            }
            case 'C':
                if (value.rfind("420", 0) != 0) return fail("colour space C" + value + " is not 4:2:0");
                break;
            default: break;
        }
    }
    if (m_width <= 0 || m_height <= 0 || m_width > kMaxDimension || m_height > kMaxDimension || m_width % 2 ||
        m_height % 2)
        return fail("picture size " + std::to_string(m_width) + " x " + std::to_string(m_height) + " is not usable");
    return true;
}

bool Y4mReader::read(YuvImage& picture) {
    m_error.clear();
    std::string frame;
    if (!m_file || !readLine(m_file, frame)) return false;
    if (frame.rfind("FRAME", 0) != 0) return fail("damaged stream: a picture does not begin with FRAME");
    if (picture.width != m_width || picture.height != m_height) picture.resize(m_width, m_height);
    const bool complete = std::fread(picture.y.data(), 1, picture.y.size(), m_file) == picture.y.size() &&
                          std::fread(picture.cb.data(), 1, picture.cb.size(), m_file) == picture.cb.size() &&
                          std::fread(picture.cr.data(), 1, picture.cr.size(), m_file) == picture.cr.size();
    return complete || fail("the stream ends inside a picture");
}

}  // namespace kx
