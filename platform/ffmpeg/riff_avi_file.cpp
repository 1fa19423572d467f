// The RIFF writer of AVI files: headers rewritten in place when the file closes, chunks appended
// as they come (so the streams interleave as the caller writes them), idx1 for the first part
// and OpenDML indexes once there is more than one part.
#include "platform/ffmpeg/riff_avi_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kx {
namespace {

constexpr uint32_t kSuperIndexEntries = 256;  // parts of up to the RIFF limit each
constexpr uint32_t kSuperIndexBytes = 24 + 16 * kSuperIndexEntries;
constexpr uint32_t kMainHeaderBytes = 56;
constexpr uint32_t kStreamHeaderBytes = 56;
constexpr uint32_t kOdmlHeaderBytes = 248;
constexpr size_t kMaxFormatBytes = 1 << 16;
constexpr size_t kMaxChunkBytes = size_t(1) << 28;
constexpr int64_t kMaxGapSamples = int64_t(1) << 24;
constexpr size_t kWriteBufferBytes = size_t(1) << 20;
constexpr uint32_t kIndexKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr uint32_t kAviHasIndex = 0x10;
constexpr uint32_t kAviIsInterleaved = 0x100;
constexpr uint32_t kAviTrustChunkType = 0x800;

void storeLe32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

class Bytes {
public:
    explicit Bytes(std::vector<uint8_t>& out) : m_out(out) {}
    Bytes& u8(uint32_t v) {
        m_out.push_back(uint8_t(v));
        return *this;
    }
    Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    Bytes& u64(uint64_t v) { return u32(uint32_t(v)).u32(uint32_t(v >> 32)); }
    Bytes& code(const char* c) { return u8(c[0]).u8(c[1]).u8(c[2]).u8(c[3]); }
    Bytes& zeros(size_t n) {
        m_out.insert(m_out.end(), n, 0);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& b) {
        m_out.insert(m_out.end(), b.begin(), b.end());
        return *this;
    }
    size_t size() const { return m_out.size(); }
    // Patches a 32-bit little-endian size at `at`.
    void patch(size_t at, uint32_t v) { storeLe32(m_out.data() + at, v); }

private:
    std::vector<uint8_t>& m_out;
};

const char* typeCode(AviStreamType type) {
    switch (type) {
        case AviStreamType::Video:
            return "vids";
        case AviStreamType::Audio:
            return "auds";
        case AviStreamType::Text:
            return "txts";
    }
    return "vids";
}

}  // namespace

std::vector<uint8_t> aviBitmapFormat(int32_t width, int32_t height) {
    std::vector<uint8_t> out;
    Bytes(out)
        .u32(40)
        .u32(uint32_t(width))
        .u32(uint32_t(height))
        .u16(1)
        .u16(24)
        .u32(0)
        .u32(aviBitmapStride(uint32_t(width)) * uint32_t(height))
        .zeros(16);
    return out;
}

std::vector<uint8_t> aviPcmFormat(uint16_t channels, uint32_t samplesPerSecond,
                                  uint16_t bitsPerSample) {
    std::vector<uint8_t> out;
    const uint32_t blockAlign = uint32_t(channels) * bitsPerSample / 8;
    Bytes(out)
        .u16(1)
        .u16(channels)
        .u32(samplesPerSecond)
        .u32(samplesPerSecond * blockAlign)
        .u16(blockAlign)
        .u16(bitsPerSample)
        .u16(0);
    return out;
}

uint32_t RiffAviStream::chunkId() const {
    const char* suffix = m_info.type == AviStreamType::Video   ? "dc"
                         : m_info.type == AviStreamType::Audio ? "wb"
                                                               : "tx";
    return aviFourCc(char('0' + m_number / 10), char('0' + m_number % 10), suffix[0], suffix[1]);
}

bool RiffAviStream::setFormat(const void* format, size_t bytes) {
    if (m_file.headerWritten())
        return m_file.refuse("a format cannot change after the first sample");
    if (format == nullptr || bytes == 0 || bytes > kMaxFormatBytes)
        return m_file.refuse("invalid stream format");
    const auto* b = static_cast<const uint8_t*>(format);
    m_format.assign(b, b + bytes);
    return true;
}

bool RiffAviStream::write(int64_t start, int32_t count, const void* buffer, size_t bytes,
                          AviSampleFlags flags) {
    if (count <= 0 || start < m_length || (buffer == nullptr && bytes > 0) ||
        bytes > kMaxChunkBytes)
        return m_file.refuse("invalid sample write");
    if (m_info.sampleSize != 0 ? (start != m_length || bytes != size_t(count) * m_info.sampleSize)
                               : (count != 1 || start - m_length > kMaxGapSamples))
        return m_file.refuse("invalid sample write");
    while (m_length < start) {
        if (!m_file.writeChunk(*this, nullptr, 0, false)) return false;
        ++m_length;
    }
    if (!m_file.writeChunk(*this, buffer, bytes, flags == AviSampleFlags::KeyFrame)) return false;
    m_length += count;
    return true;
}

RiffAviFile::RiffAviFile(std::string path, AviFileLimits limits)
    : m_path(std::move(path)), m_temporaryPath(m_path + ".part"), m_limits(limits) {
    m_buffer.reserve(kWriteBufferBytes);
}

RiffAviFile::~RiffAviFile() {
    if (!m_closed && m_file.isOpen()) {
        m_file.close();
        std::remove(m_temporaryPath.c_str());
    }
}

bool RiffAviFile::open(std::string& error) {
    if (!m_file.open(m_temporaryPath, FileMode::CreateWrite)) {
        error = m_temporaryPath + ": " + m_file.errorText();
        return false;
    }
    return true;
}

bool RiffAviFile::fail(std::string text) {
    if (!m_failed) m_error = std::move(text);
    m_failed = true;
    return false;
}

bool RiffAviFile::refuse(std::string text) {
    if (!m_failed) m_error = std::move(text);
    return false;
}

AviStream* RiffAviFile::createStream(const AviStreamInfo& info) {
    if (m_headerWritten || m_closed || info.scale == 0 || info.rate == 0 ||
        m_streams.size() >= 100) {
        refuse("a stream cannot be created now or without a rate");
        return nullptr;
    }
    m_streams.push_back(std::make_unique<RiffAviStream>(*this, uint32_t(m_streams.size()), info));
    return m_streams.back().get();
}

bool RiffAviFile::put(const void* data, size_t bytes) {
    if (m_failed) return false;
    const auto* b = static_cast<const uint8_t*>(data);
    if (m_buffer.size() + bytes > kWriteBufferBytes && !flush()) return false;
    if (bytes >= kWriteBufferBytes) {
        if (m_file.write(b, bytes) != bytes) return fail(m_temporaryPath + ": cannot be written");
        return true;
    }
    m_buffer.insert(m_buffer.end(), b, b + bytes);
    return true;
}

bool RiffAviFile::flush() {
    if (m_buffer.empty()) return !m_failed;
    const bool ok = m_file.write(m_buffer.data(), m_buffer.size()) == m_buffer.size();
    m_buffer.clear();
    return ok || fail(m_temporaryPath + ": cannot be written");
}

bool RiffAviFile::putAt(uint64_t position, const std::vector<uint8_t>& bytes) {
    if (!flush()) return false;
    const uint64_t end = m_file.position();
    m_file.seek(position);
    const bool ok = m_file.write(bytes.data(), bytes.size()) == bytes.size();
    m_file.seek(end);
    return ok || fail(m_temporaryPath + ": cannot be written");
}

bool RiffAviFile::putSizeAt(uint64_t position, uint64_t size) {
    if (size > 0xFFFFFFFFull) return fail(m_temporaryPath + ": a RIFF list grew past 4 GiB");
    std::vector<uint8_t> b;
    Bytes(b).u32(uint32_t(size));
    return putAt(position, b);
}

std::vector<uint8_t> RiffAviFile::header() const {
    std::vector<uint8_t> out;
    Bytes h(out);
    const RiffAviStream* video = nullptr;
    uint32_t largest = 0;
    for (const auto& s : m_streams) {
        if (!video && s->m_info.type == AviStreamType::Video) video = s.get();
        largest = std::max(largest, s->m_largestChunk);
    }
    h.code("RIFF").u32(m_firstRiffBytes).code("AVI ");
    h.code("LIST");
    const size_t hdrlSize = h.size();
    h.u32(0).code("hdrl");
    h.code("avih").u32(kMainHeaderBytes);
    const uint64_t microseconds =
        video ? uint64_t(video->m_info.scale) * 1000000 / video->m_info.rate : 0;
    h.u32(uint32_t(std::min<uint64_t>(microseconds, 0xFFFFFFFF))).u32(0).u32(0);
    h.u32(kAviHasIndex | kAviIsInterleaved | kAviTrustChunkType);
    h.u32(video ? uint32_t(video->m_chunksInFirstPart) : 0).u32(0).u32(uint32_t(m_streams.size()));
    h.u32(largest);
    h.u32(video ? uint32_t(video->m_info.frame.right - video->m_info.frame.left) : 0);
    h.u32(video ? uint32_t(video->m_info.frame.bottom - video->m_info.frame.top) : 0);
    h.zeros(16);
    const bool openDml = m_parts > 1;
    for (const auto& s : m_streams) {
        const AviStreamInfo& i = s->m_info;
        h.code("LIST");
        const size_t strlSize = h.size();
        h.u32(0).code("strl");
        h.code("strh").u32(kStreamHeaderBytes).code(typeCode(i.type)).u32(i.handler);
        h.u32(0).u16(0).u16(0).u32(i.initialFrames).u32(i.scale).u32(i.rate).u32(0);
        h.u32(uint32_t(std::min<int64_t>(s->m_length, 0xFFFFFFFF)));
        h.u32(std::max(i.suggestedBufferSize, s->m_largestChunk)).u32(0xFFFFFFFF);
        h.u32(i.sampleSize);
        h.u16(uint32_t(i.frame.left)).u16(uint32_t(i.frame.top));
        h.u16(uint32_t(i.frame.right)).u16(uint32_t(i.frame.bottom));
        h.code("strf").u32(uint32_t(s->m_format.size())).raw(s->m_format);
        if (s->m_format.size() % 2) h.u8(0);
        // The super index, kept as JUNK while the file has one part (readers then use idx1).
        h.code(openDml ? "indx" : "JUNK").u32(kSuperIndexBytes);
        const size_t indexStart = h.size();
        if (openDml) {
            h.u16(4).u8(0).u8(0).u32(uint32_t(s->m_superIndex.size())).u32(s->chunkId()).zeros(12);
            for (const auto& e : s->m_superIndex) h.u64(e.offset).u32(e.bytes).u32(e.duration);
        }
        h.zeros(kSuperIndexBytes - (h.size() - indexStart));
        h.patch(strlSize, uint32_t(h.size() - strlSize - 4));
    }
    h.code("LIST").u32(4 + 8 + kOdmlHeaderBytes).code("odml");
    h.code("dmlh").u32(kOdmlHeaderBytes).u32(video ? uint32_t(video->m_chunks) : 0);
    h.zeros(kOdmlHeaderBytes - 4);
    h.patch(hdrlSize, uint32_t(h.size() - hdrlSize - 4));
    h.code("LIST").u32(m_firstMoviBytes).code("movi");
    return out;
}

bool RiffAviFile::writeHeader() {
    for (const auto& s : m_streams)
        if (s->m_format.empty())
            return fail("stream " + std::to_string(s->m_number) + " has no format");
    m_headerWritten = true;
    const std::vector<uint8_t> h = header();
    m_partStart = 0;
    m_moviList = h.size() - 4;
    m_parts = 1;
    return put(h.data(), h.size());
}

uint64_t RiffAviFile::position() const {
    return m_file.position() + m_buffer.size();
}

bool RiffAviFile::writeChunk(RiffAviStream& stream, const void* data, size_t bytes, bool keyFrame) {
    if (m_closed) return fail("the file is closed");
    if (!m_headerWritten && !writeHeader()) return false;
    if (m_failed) return false;
    if (!m_partIndex.empty() && position() + 8 + bytes - m_partStart > m_limits.riffBytes) {
        if (!closePart(false) || !startPart()) return false;
    }
    uint8_t head[8];
    storeLe32(head, stream.chunkId());
    storeLe32(head + 4, uint32_t(bytes));
    const uint64_t at = position();
    static const uint8_t kPad = 0;
    if (!put(head, sizeof head) || (bytes > 0 && !put(data, bytes)) ||
        (bytes % 2 && !put(&kPad, 1)))
        return false;
    m_partIndex.push_back({stream.m_number, uint32_t(at - m_moviList), uint32_t(bytes), keyFrame});
    ++stream.m_chunks;
    if (m_parts == 1) ++stream.m_chunksInFirstPart;
    stream.m_largestChunk = std::max(stream.m_largestChunk, uint32_t(bytes));
    return true;
}

bool RiffAviFile::closePart(bool last) {
    if (m_parts > 1 || !last) {
        for (const auto& s : m_streams) {
            if (s->m_superIndex.size() >= kSuperIndexEntries)
                return fail(m_temporaryPath + ": the file grew past what its index can hold");
            std::vector<uint8_t> ix;
            Bytes b(ix);
            const uint32_t id = s->chunkId();
            b.u8('i').u8('x').u8(id).u8(id >> 8).u32(0);
            b.u16(2).u8(0).u8(1).u32(0).u32(id).u64(m_moviList).u32(0);
            uint32_t entries = 0;
            uint64_t samples = 0;
            for (const IndexEntry& e : m_partIndex) {
                if (e.stream != s->m_number) continue;
                b.u32(e.offset + 8).u32(e.bytes | (e.keyFrame ? 0 : 0x80000000u));
                ++entries;
                samples += s->m_info.sampleSize ? e.bytes / s->m_info.sampleSize : 1;
            }
            b.patch(4, uint32_t(ix.size() - 8));
            b.patch(12, entries);
            s->m_superIndex.push_back({position(), uint32_t(ix.size()),
                                       uint32_t(std::min<uint64_t>(samples, 0xFFFFFFFF))});
            if (!put(ix.data(), ix.size())) return false;
        }
    }
    const uint64_t moviBytes = position() - m_moviList;
    if (m_parts == 1) {
        std::vector<uint8_t> idx;
        Bytes b(idx);
        b.code("idx1").u32(uint32_t(16 * m_partIndex.size()));
        for (const IndexEntry& e : m_partIndex)
            b.u32(m_streams[e.stream]->chunkId())
                .u32(e.keyFrame ? kIndexKeyFrame : 0)
                .u32(e.offset)
                .u32(e.bytes);
        if (!put(idx.data(), idx.size())) return false;
    }
    const uint64_t riffBytes = position() - m_partStart - 8;
    if (m_parts == 1) {
        if (moviBytes > 0xFFFFFFFF || riffBytes > 0xFFFFFFFF)
            return fail(m_temporaryPath + ": the first RIFF part grew past 4 GiB");
        m_firstMoviBytes = uint32_t(moviBytes);
        m_firstRiffBytes = uint32_t(riffBytes);
        return true;  // the header is rewritten with both sizes on close
    }
    return putSizeAt(m_moviList - 4, moviBytes) && putSizeAt(m_partStart + 4, riffBytes);
}

bool RiffAviFile::startPart() {
    m_partIndex.clear();
    m_partStart = position();
    ++m_parts;
    std::vector<uint8_t> head;
    Bytes(head).code("RIFF").u32(0).code("AVIX").code("LIST").u32(0).code("movi");
    m_moviList = m_partStart + head.size() - 4;
    return put(head.data(), head.size());
}

bool RiffAviFile::close() {
    if (m_closed) return !m_failed;
    if (!m_headerWritten) writeHeader();
    if (!m_failed) closePart(true);
    if (!m_failed) putAt(0, header());
    m_closed = true;
    m_file.close();
    if (m_failed) {
        std::remove(m_temporaryPath.c_str());
        return false;
    }
    if (std::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
        std::remove(m_temporaryPath.c_str());
        return fail("cannot rename " + m_temporaryPath + " to " + m_path);
    }
    return true;
}

std::unique_ptr<AviFile> openAviFile(const std::string& path, std::string& error,
                                     AviFileLimits limits) {
    auto file = std::make_unique<RiffAviFile>(path, limits);
    if (!file->open(error)) return nullptr;
    return file;
}

}  // namespace kx
