// POSIX implementation of File: pread/pwrite at a tracked position, with a read window.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kx {

File::~File() { close(); }

bool File::open(const std::string& path, FileMode mode) {
    close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case FileMode::Read: flags |= O_RDONLY; break;
        case FileMode::CreateWrite: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case FileMode::ReadWrite: flags |= O_RDWR; break;
    }
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        m_error = S_ISDIR(status.st_mode) ? "is a directory" : std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_error.clear();
    m_position = 0;
    m_length = static_cast<uint64_t>(status.st_size);
    m_windowBytes = 0;
    m_windowFilled = false;
    return true;
}

void File::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_position = 0;
    m_length = 0;
    m_windowBytes = 0;
}

static size_t preadFully(int fd, uint8_t* destination, size_t count, uint64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, destination + done, count - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

size_t File::read(void* destination, size_t count) {
    if (m_fd < 0 || count == 0 || m_position >= m_length) return 0;
    auto* out = static_cast<uint8_t*>(destination);
    count = static_cast<size_t>(std::min<uint64_t>(count, m_length - m_position));
    size_t done = 0;
    // Serve what the window holds, then either refill it or, for large reads, bypass it.
    while (done < count) {
        const uint64_t at = m_position + done;
        if (at >= m_windowStart && at < m_windowStart + m_windowBytes) {
            const size_t offset = static_cast<size_t>(at - m_windowStart);
            const size_t piece = std::min(count - done, m_windowBytes - offset);
            std::memcpy(out + done, m_window.data() + offset, piece);
            done += piece;
            continue;
        }
        const size_t rest = count - done;
        if (rest >= kWindowBytes) {
            const size_t got = preadFully(m_fd, out + done, rest, at);
            done += got;
            if (got < rest) break;
            continue;
        }
        const size_t windowBytes = m_windowFilled ? kWindowBytes : kFirstWindowBytes;
        m_windowFilled = true;
        if (m_window.size() < windowBytes) m_window.resize(windowBytes);
        m_windowStart = at;
        m_windowBytes = preadFully(m_fd, m_window.data(), windowBytes, at);
        if (m_windowBytes == 0) break;
    }
    m_position += done;
    return done;
}

size_t File::write(const void* source, size_t count) {
    if (m_fd < 0) return 0;
    m_windowBytes = 0;  // the window may hold bytes this write replaces
    const auto* in = static_cast<const uint8_t*>(source);
    size_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(m_fd, in + done, count - done,
                                     static_cast<off_t>(m_position + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            m_error = std::strerror(errno);
            break;
        }
        done += static_cast<size_t>(put);
    }
    m_position += done;
    m_length = std::max(m_length, m_position);
    return done;
}

}  // namespace kx
