// PictureFile: BMP and JPEG writing and reading with the caption trailer. libjpeg is called
// through the C layer of jpeg_layer.c, which keeps its error exit away from C++ frames.
#include "codec/picture/picture_file.h"

#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/picture/jpeg_layer.h"
#include "platform/file.h"
#include "recording/byte_order.h"

namespace kx {
namespace {

constexpr uint32_t kBmpFileHeaderBytes = 14;
constexpr uint32_t kBmpInfoHeaderBytes = 40;
constexpr uint32_t kBmpHeaderBytes = kBmpFileHeaderBytes + kBmpInfoHeaderBytes;
// The longest trailer: flags, time, three names of 65535 bytes with their lengths, GMT offset.
constexpr size_t kMaxCaptionBytes = 1 + 4 + 3 * (2 + 65535) + 4;
// Width, height and flags; the JPEG trailer ends with its own length.
constexpr uint32_t kJpegTrailerMinBytes = 9;

bool endsWithNoCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - ptrdiff_t(suffix.size()), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

std::string savedName(const std::string& fileName, const char* extension) {
    std::string name = fileName.empty() ? "capture" : fileName;
    if (!endsWithNoCase(name, extension)) name += extension;
    return name;
}

void putLe32(std::vector<uint8_t>& out, uint32_t value) {
    const size_t at = out.size();
    out.resize(at + 4);
    storeLe32(out.data() + at, value);
}

void putName(std::vector<uint8_t>& out, const std::string& name) {
    const size_t length = std::min(name.size(), kPictureNameMax);
    const size_t at = out.size();
    out.resize(at + 2);
    storeLe16(out.data() + at, uint16_t(length));
    out.insert(out.end(), name.begin(), name.begin() + ptrdiff_t(length));
}

// A file written under a temporary name beside its target and renamed into place by commit();
// dropped unfinished, the temporary file is removed.
class TemporaryOutput {
public:
    explicit TemporaryOutput(std::string target)
        : m_target(std::move(target)), m_temporary(m_target + ".part" + std::to_string(::getpid())) {
        m_file = std::fopen(m_temporary.c_str(), "wb");
    }
    ~TemporaryOutput() {
        if (m_file != nullptr) std::fclose(m_file);
        if (!m_committed) std::remove(m_temporary.c_str());
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    FILE* file() const { return m_file; }
    bool write(const void* data, size_t size) { return size == 0 || std::fwrite(data, 1, size, m_file) == size; }
    // Closes the file and renames it into place; false when any write or the rename failed.
    bool commit() {
        const bool written = std::fflush(m_file) == 0 && std::ferror(m_file) == 0;
        const bool closed = std::fclose(m_file) == 0;
        m_file = nullptr;
        if (!written || !closed) return false;
        m_committed = std::rename(m_temporary.c_str(), m_target.c_str()) == 0;
        return m_committed;
    }

private:
    std::string m_target;
    std::string m_temporary;
    FILE* m_file = nullptr;
    bool m_committed = false;
};

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

// The caption fields of a trailer.
struct PictureFile::Caption {
    uint8_t flags = 0;
    uint32_t time = 0;
    std::string boardName;
    std::string cameraName;
    std::string hostName;
    int32_t gmtOffset = 0;

    // Reads the flags and the fields they name from `size` bytes; returns the bytes used. A
    // field cut off by the end of the data is dropped with the fields after it (its flag is
    // cleared), so `complete` tells whether everything the flags name was there.
    size_t parse(const uint8_t* data, size_t size, bool& complete) {
        complete = false;
        if (size < 1) return 0;
        const uint8_t named = data[0];
        size_t at = 1;
        flags = 0;
        const auto readName = [&](std::string& name) {
            if (size - at < 2) return false;
            const size_t length = loadLe16(data + at);
            if (size - at - 2 < length) return false;
            name.assign(reinterpret_cast<const char*>(data + at + 2), std::min(length, kPictureNameMax));
            at += 2 + length;
            return true;
        };
        if (named & kPictureHasTime) {
            if (size - at < 4) return at;
            time = loadLe32(data + at);
            at += 4;
            flags |= kPictureHasTime;
        }
        if (named & kPictureHasBoardName) {
            if (!readName(boardName)) return at;
            flags |= kPictureHasBoardName;
        }
        if (named & kPictureHasCameraName) {
            if (!readName(cameraName)) return at;
            flags |= kPictureHasCameraName;
        }
        if (named & kPictureHasHostName) {
            const size_t before = at;
            if (!readName(hostName)) return at;
            if (size - at < 4) return before;
            gmtOffset = int32_t(loadLe32(data + at));
            at += 4;
            flags |= kPictureHasHostName;
        }
        complete = true;
        return at;
    }
};

bool PictureFile::fail(std::string reason) {
    m_error = std::move(reason);
    return false;
}

void PictureFile::reportJpegError(const char* message) {
    if (m_jpegErrorHandler) m_jpegErrorHandler(message);
}

void PictureFile::takeCaption(const Caption& caption) {
    m_flags = caption.flags & 0x0F;
    m_time = caption.time;
    m_boardName = caption.boardName;
    m_cameraName = caption.cameraName;
    m_hostName = caption.hostName;
    m_gmtOffset = caption.gmtOffset;
}

const uint8_t* PictureFile::getPixels(uint32_t& width, uint32_t& height) const {
    width = m_width;
    height = m_height;
    return m_pixels.empty() ? nullptr : m_pixels.data();
}

bool PictureFile::setPixels(uint32_t width, uint32_t height, std::vector<uint8_t> pixels) {
    if (pixels.size() != size_t(width) * height * 3)
        return fail(std::to_string(pixels.size()) + " pixel bytes for a picture of " + std::to_string(width) + " x " +
                    std::to_string(height));
    m_width = width;
    m_height = height;
    m_pixels = std::move(pixels);
    return true;
}

void PictureFile::setTime(uint32_t secondsSince1970) {
    m_time = secondsSince1970;
    m_flags |= kPictureHasTime;
}
void PictureFile::setBoardName(const std::string& name) {
    m_boardName = name;
    m_flags |= kPictureHasBoardName;
}
void PictureFile::setCameraName(const std::string& name) {
    m_cameraName = name;
    m_flags |= kPictureHasCameraName;
}
void PictureFile::setHostName(const std::string& name) {
    m_hostName = name;
    m_flags |= kPictureHasHostName;
}
void PictureFile::setGmtOffset(int32_t hours) {
    m_gmtOffset = hours;
    m_flags |= kPictureHasHostName;
}

std::vector<uint8_t> PictureFile::captionTrailer() const {
    std::vector<uint8_t> out;
    out.push_back(m_flags);
    if (m_flags & kPictureHasTime) putLe32(out, m_time);
    if (m_flags & kPictureHasBoardName) putName(out, m_boardName);
    if (m_flags & kPictureHasCameraName) putName(out, m_cameraName);
    if (m_flags & kPictureHasHostName) {
        putName(out, m_hostName);
        putLe32(out, uint32_t(m_gmtOffset));
    }
    return out;
}

bool PictureFile::save(PictureFormat format, const std::string& fileName) {
    if (m_pixels.empty()) return fail("no picture to save");
    switch (format) {
        case PictureFormat::Bmp: return saveBmp(savedName(fileName, ".bmp"));
        case PictureFormat::Jpeg: return saveJpeg(savedName(fileName, ".jpg"));
        case PictureFormat::None: return true;
    }
    return fail("unknown picture format");
}

bool PictureFile::load(PictureFormat format, const std::string& fileName) {
    switch (format) {
        case PictureFormat::Bmp: return loadBmp(fileName);
        case PictureFormat::Jpeg: return loadJpeg(fileName);
        case PictureFormat::None: return hasPixels();
    }
    return fail("unknown picture format");
}

bool PictureFile::saveBmp(const std::string& path) {
    // Rows are padded to 4 bytes as the format requires; for widths that are a multiple of 4
    // there is no padding and the pixel bytes are exactly the held ones.
    const size_t rowBytes = size_t(m_width) * 3;
    const size_t stride = (rowBytes + 3) & ~size_t(3);
    const uint64_t imageBytes = uint64_t(stride) * m_height;
    const std::vector<uint8_t> trailer = (m_flags & 0x0F) != 0 ? captionTrailer() : std::vector<uint8_t>();
    // The file-size field counts the whole file, trailer included, as the format defines it;
    // readers that check it (ImageMagick) then take the file as it is.
    const uint64_t fileBytes = kBmpHeaderBytes + imageBytes + trailer.size();
    if (fileBytes > 0xFFFFFFFFu) return fail("the picture is too large for a BMP file");
    uint8_t header[kBmpHeaderBytes] = {'B', 'M'};
    storeLe32(header + 2, uint32_t(fileBytes));
    storeLe32(header + 10, kBmpHeaderBytes);
    storeLe32(header + 14, kBmpInfoHeaderBytes);
    storeLe32(header + 18, m_width);
    storeLe32(header + 22, m_height);
    storeLe16(header + 26, 1);
    storeLe16(header + 28, 24);
    storeLe32(header + 34, uint32_t(imageBytes));

    TemporaryOutput out(path);
    if (out.file() == nullptr) return fail("cannot create " + path + ": " + std::strerror(errno));
    bool written = out.write(header, sizeof header);
    const uint8_t padding[3] = {};
    for (uint32_t y = 0; written && y < m_height; ++y)
        written = out.write(m_pixels.data() + y * rowBytes, rowBytes) && out.write(padding, stride - rowBytes);
    if (written) written = out.write(trailer.data(), trailer.size());
    if (!written || !out.commit()) return fail("cannot write " + path);
    m_fileName = path;
    m_error.clear();
    return true;
}

bool PictureFile::saveJpeg(const std::string& path) {
    TemporaryOutput out(path);
    if (out.file() == nullptr) return fail("cannot create " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> row(size_t(m_width) * 3);
    char message[KX_JPEG_MESSAGE_BYTES];
    if (kx_jpeg_write_bgr(out.file(), m_pixels.data(), m_width, m_height, kJpegQuality, row.data(), message) !=
        KX_JPEG_OK) {
        reportJpegError(message);
        return fail(std::string("libjpeg: ") + message);
    }
    std::vector<uint8_t> trailer;
    putLe32(trailer, m_width);
    putLe32(trailer, m_height);
    const std::vector<uint8_t> caption = captionTrailer();
    trailer.insert(trailer.end(), caption.begin(), caption.end());
    putLe32(trailer, uint32_t(trailer.size()));
    if (!out.write(trailer.data(), trailer.size()) || !out.commit()) return fail("cannot write " + path);
    m_fileName = path;
    m_error.clear();
    return true;
}

bool PictureFile::loadBmp(const std::string& path) {
    File file;
    if (!file.open(path, FileMode::Read)) return fail("cannot open: " + file.errorText());
    const uint64_t length = file.length();
    uint8_t header[kBmpHeaderBytes];
    if (file.read(header, sizeof header) != sizeof header) return fail("the file ends inside the BMP headers");
    if (header[0] != 'B' || header[1] != 'M') return fail("not a BMP file");
    const uint32_t declaredSize = loadLe32(header + 2);
    const uint32_t pixelOffset = loadLe32(header + 10);
    const uint32_t infoBytes = loadLe32(header + 14);
    const int32_t width = int32_t(loadLe32(header + 18));
    const int32_t signedHeight = int32_t(loadLe32(header + 22));
    const uint16_t bitsPerPixel = loadLe16(header + 28);
    const uint32_t compression = loadLe32(header + 30);
    if (infoBytes < kBmpInfoHeaderBytes) return fail("not a Windows BMP information header");
    if (bitsPerPixel != 24 || compression != 0)
        return fail("only uncompressed 24-bit BMP files are read (this one has " + std::to_string(bitsPerPixel) +
                    " bits per pixel" + (compression != 0 ? ", compressed)" : ")"));
    if (width <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) return fail("BMP picture size out of range");
    const uint32_t height = uint32_t(signedHeight < 0 ? -signedHeight : signedHeight);
    if (uint64_t(width) * height > kPictureMaxPixels) return fail("BMP picture too large");
    if (pixelOffset < kBmpFileHeaderBytes + infoBytes) return fail("BMP pixel offset inside the headers");

    // Rows padded to 4 bytes, as the format has them, unless the file-size field counts
    // unpadded rows and the headers only (files written without the padding, whose trailer
    // is not counted).
    const size_t rowBytes = size_t(width) * 3;
    const size_t paddedRow = (rowBytes + 3) & ~size_t(3);
    const bool unpadded = paddedRow != rowBytes && uint64_t(declaredSize) == pixelOffset + uint64_t(rowBytes) * height;
    const size_t stride = unpadded ? rowBytes : paddedRow;
    const uint64_t pixelEnd = pixelOffset + uint64_t(stride) * height;
    if (pixelEnd > length) return fail("the file ends inside the BMP pixels");

    std::vector<uint8_t> pixels(stride * height);
    file.seek(pixelOffset);
    if (file.read(pixels.data(), pixels.size()) != pixels.size()) return fail("cannot read the BMP pixels");
    if (stride != rowBytes)
        for (uint32_t y = 1; y < height; ++y) std::memmove(&pixels[y * rowBytes], &pixels[y * stride], rowBytes);
    pixels.resize(rowBytes * height);
    if (signedHeight < 0) {  // top row first: held pictures are bottom row first
        for (uint32_t y = 0; y < height / 2; ++y)
            std::swap_ranges(pixels.begin() + ptrdiff_t(y * rowBytes), pixels.begin() + ptrdiff_t((y + 1) * rowBytes),
                             pixels.begin() + ptrdiff_t((height - 1 - y) * rowBytes));
    }

    // The caption trailer, when the file goes on after the pixels. Bytes that do not begin
    // with valid flags are someone else's and are ignored; a cut-off trailer keeps the fields
    // that are complete.
    Caption caption;
    const size_t trailerBytes = size_t(std::min<uint64_t>(length - pixelEnd, kMaxCaptionBytes));
    if (trailerBytes > 0) {
        std::vector<uint8_t> trailer(trailerBytes);
        if (file.read(trailer.data(), trailer.size()) != trailer.size()) return fail("cannot read the BMP trailer");
        bool complete = false;
        if ((trailer[0] & 0xF0) == 0) caption.parse(trailer.data(), trailer.size(), complete);
    }
    setPixels(uint32_t(width), height, std::move(pixels));
    takeCaption(caption);
    m_fileName = path;
    m_error.clear();
    return true;
}

bool PictureFile::loadJpeg(const std::string& path) {
    // The trailer first: its last 4 bytes count the trailer bytes before them. A file whose
    // tail does not parse as a trailer exactly (a JPEG from another program) has no caption.
    Caption caption;
    {
        File file;
        if (!file.open(path, FileMode::Read)) return fail("cannot open: " + file.errorText());
        const uint64_t length = file.length();
        uint8_t tail[4];
        file.seek(length >= 4 ? length - 4 : 0);
        if (length >= 4 && file.read(tail, 4) == 4) {
            const uint32_t trailerBytes = loadLe32(tail);
            if (trailerBytes >= kJpegTrailerMinBytes && trailerBytes <= kMaxCaptionBytes + 8 &&
                uint64_t(trailerBytes) + 4 <= length) {
                std::vector<uint8_t> trailer(trailerBytes);
                file.seek(length - 4 - trailerBytes);
                bool complete = false;
                Caption parsed;
                if (file.read(trailer.data(), trailer.size()) == trailer.size() && (trailer[8] & 0xF0) == 0 &&
                    parsed.parse(trailer.data() + 8, trailer.size() - 8, complete) + 8 == trailer.size() && complete)
                    caption = parsed;
            }
        }
    }

    const std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return fail("cannot open: " + std::string(std::strerror(errno)));
    KxJpegPicture picture{};
    char message[KX_JPEG_MESSAGE_BYTES];
    const int result = kx_jpeg_read_rgb(file.get(), kPictureMaxPixels, &picture, message);
    const std::unique_ptr<uint8_t, decltype(&std::free)> decoded(picture.pixels, &std::free);
    switch (result) {
        case KX_JPEG_OK: break;
        case KX_JPEG_LIBRARY_ERROR: reportJpegError(message); return fail(std::string("libjpeg: ") + message);
        case KX_JPEG_TOO_LARGE: return fail("JPEG picture too large");
        case KX_JPEG_UNSUPPORTED: return fail("JPEG colour space other than grey, YCbCr or RGB");
        default: return fail("out of memory");
    }
    // The stream's own size is the picture's: a trailer that names another size cannot make
    // the copy leave the pixels. Top row first R, G, B becomes bottom row first B, G, R.
    const size_t rowBytes = size_t(picture.width) * 3;
    std::vector<uint8_t> pixels(rowBytes * picture.height);
    for (uint32_t y = 0; y < picture.height; ++y) {
        const uint8_t* in = decoded.get() + size_t(picture.height - 1 - y) * rowBytes;
        uint8_t* out = pixels.data() + size_t(y) * rowBytes;
        for (size_t x = 0; x < rowBytes; x += 3) {
            out[x] = in[x + 2];
            out[x + 1] = in[x + 1];
            out[x + 2] = in[x];
        }
    }
    setPixels(picture.width, picture.height, std::move(pixels));
    takeCaption(caption);
    m_fileName = path;
    m_error.clear();
    return true;
}

}  // namespace kx
