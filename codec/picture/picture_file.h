// PictureFile: a 24-bit picture in memory with its caption fields (time, board, camera and host
// names, GMT offset), saved and loaded as BMP or baseline JPEG with a small trailer of ours
// after the picture data. Snapshots, printing and the face window fill and use it. It never
// talks to the user: failures return false with a reason in lastError(), and libjpeg's own
// error message goes to the JPEG error handler, whose caller shows it (kJpegErrorCaption).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kx {

enum class PictureFormat : int {
    Bmp = 0,
    Jpeg = 1,
    None = 2,  // save and load do nothing
};

// Which optional fields the trailer carries.
enum PictureFlag : uint8_t {
    kPictureHasTime = 0x01,
    kPictureHasBoardName = 0x02,
    kPictureHasCameraName = 0x04,
    kPictureHasHostName = 0x08,  // with the GMT offset
};

inline constexpr const char* kJpegErrorCaption = "JPEG Fatal Error";
inline constexpr int kJpegQuality = 80;
// Names read back keep at most this many bytes; longer names are written cut to it.
inline constexpr size_t kPictureNameMax = 255;
// Larger pictures are refused when loading (a header could ask for any size).
inline constexpr uint64_t kPictureMaxPixels = uint64_t(1) << 25;

class PictureFile {
public:
    using JpegErrorHandler = std::function<void(const std::string& message)>;

    // Writes the picture as BMP or JPEG. An empty name becomes "capture"; ".bmp" or ".jpg" is
    // appended unless the name already ends so (in any case). The file is written under a
    // temporary name beside it and renamed into place when complete. False when no pixels are
    // held or the file could not be written; PictureFormat::None writes nothing.
    bool save(PictureFormat format, const std::string& fileName);
    // Reads a BMP (24 bits, uncompressed) or a JPEG with or without our trailer. On failure the
    // held picture and fields are unchanged. PictureFormat::None returns whether pixels are held.
    bool load(PictureFormat format, const std::string& fileName);

    // B, G, R per pixel, bottom row first, rows of 3 x width bytes without padding; null when
    // no pixels are held.
    const uint8_t* getPixels(uint32_t& width, uint32_t& height) const;
    // Takes the pixels (3 x width x height bytes in the order above) in place of the previous.
    // A vector of another size is refused (false, the held picture unchanged), as save would
    // read width x height pixels from it.
    bool setPixels(uint32_t width, uint32_t height, std::vector<uint8_t> pixels);
    bool hasPixels() const { return !m_pixels.empty(); }
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }

    // Each setter stores the value and sets the field's flag.
    void setTime(uint32_t secondsSince1970);
    void setBoardName(const std::string& name);
    void setCameraName(const std::string& name);
    void setHostName(const std::string& name);
    void setGmtOffset(int32_t hours);

    uint8_t flags() const { return m_flags; }
    uint32_t time() const { return m_time; }
    const std::string& boardName() const { return m_boardName; }
    const std::string& cameraName() const { return m_cameraName; }
    const std::string& hostName() const { return m_hostName; }
    int32_t gmtOffset() const { return m_gmtOffset; }
    // The name of the last file saved or loaded, with the extension save appended.
    const std::string& fileName() const { return m_fileName; }
    const std::string& lastError() const { return m_error; }

    void setJpegErrorHandler(JpegErrorHandler handler) { m_jpegErrorHandler = std::move(handler); }

    // The trailer fields 3 to 7 (flags and the fields it names), as BMP and JPEG files carry them.
    std::vector<uint8_t> captionTrailer() const;

private:
    struct Caption;

    bool saveBmp(const std::string& path);
    bool saveJpeg(const std::string& path);
    bool loadBmp(const std::string& path);
    bool loadJpeg(const std::string& path);
    bool fail(std::string reason);
    void reportJpegError(const char* message);
    void takeCaption(const Caption& caption);

    uint32_t m_width = 0;
    uint32_t m_height = 0;
    std::vector<uint8_t> m_pixels;
    uint8_t m_flags = 0;
    uint32_t m_time = 0;
    std::string m_boardName;
    std::string m_cameraName;
    std::string m_hostName;
    int32_t m_gmtOffset = 0;
    std::string m_fileName;
    std::string m_error;
    JpegErrorHandler m_jpegErrorHandler;
};

}  // namespace kx
