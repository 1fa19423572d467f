// Positional file access for the recording code: open, seek, read, write, length, close.
// Reads go through a small window buffer, so reading a frame record's header and then its
// payload costs one system call in the common case. One File is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx {

enum class FileMode {
    Read,         // existing file, reading only; other programs may read and write it meanwhile
    CreateWrite,  // created or truncated, reading and writing
    ReadWrite,    // existing file, reading and writing
};

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens `path`; on failure returns false and errorText() says why (the system's message).
    bool open(const std::string& path, FileMode mode);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // The path as given to open().
    const std::string& path() const { return m_path; }
    const std::string& errorText() const { return m_error; }

    // Reads up to `count` bytes at the current position and advances past them; returns how
    // many were read (fewer only at the end of the file or on an error).
    size_t read(void* destination, size_t count);
    // Writes `count` bytes at the current position and advances; returns how many were written.
    size_t write(const void* source, size_t count);

    // Moves the position; positions past the end are allowed (a read there returns 0).
    void seek(uint64_t position) { m_position = position; }
    uint64_t position() const { return m_position; }
    // Current length, including what this object wrote.
    uint64_t length() const { return m_length; }

private:
    static constexpr size_t kWindowBytes = 64 * 1024;
    // The first window after opening is small: many opens only read a header (a folder of
    // thousands of recordings is listed header by header).
    static constexpr size_t kFirstWindowBytes = 4 * 1024;

    int m_fd = -1;
    std::string m_path;
    std::string m_error;
    uint64_t m_position = 0;
    uint64_t m_length = 0;
    std::vector<uint8_t> m_window;  // bytes of the file from m_windowStart, valid m_windowBytes
    uint64_t m_windowStart = 0;
    size_t m_windowBytes = 0;
    bool m_windowFilled = false;  // a window has been read since the file was opened
};

}  // namespace kx
