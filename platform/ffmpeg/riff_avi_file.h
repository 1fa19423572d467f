// Our own RIFF writer of AVI files: 'hdrl' (avih, one strl per stream, odml), 'movi' and
// 'idx1', and past the first RIFF's limit further 'RIFF AVIX' parts with OpenDML indexes
// ('ix##' per part, 'indx' per stream), so files past 2 GiB stay readable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/avi_file.h"
#include "platform/file.h"

namespace kx {

class RiffAviFile;

class RiffAviStream : public AviStream {
public:
    RiffAviStream(RiffAviFile& file, uint32_t number, const AviStreamInfo& info)
        : m_file(file), m_number(number), m_info(info) {}

    const AviStreamInfo& info() const override { return m_info; }
    bool setFormat(const void* format, size_t bytes) override;
    bool write(int64_t start, int32_t count, const void* buffer, size_t bytes,
               AviSampleFlags flags) override;
    int64_t length() const override { return m_length; }
    bool release() override { return true; }

    // The compressed stream names its compressor in the stream header.
    void setHandler(uint32_t handler) { m_info.handler = handler; }

private:
    friend class RiffAviFile;
    uint32_t chunkId() const;

    RiffAviFile& m_file;
    uint32_t m_number;
    AviStreamInfo m_info;
    std::vector<uint8_t> m_format;
    int64_t m_length = 0;   // samples
    uint64_t m_chunks = 0;  // chunks written, all parts
    uint64_t m_chunksInFirstPart = 0;
    uint32_t m_largestChunk = 0;
    struct SuperIndexEntry {
        uint64_t offset;  // of the ix## chunk
        uint32_t bytes;   // of the ix## chunk with its header
        uint32_t duration;
    };
    std::vector<SuperIndexEntry> m_superIndex;
};

class RiffAviFile : public AviFile {
public:
    RiffAviFile(std::string path, AviFileLimits limits);
    ~RiffAviFile() override;

    bool open(std::string& error);
    AviStream* createStream(const AviStreamInfo& info) override;
    bool close() override;
    const std::string& errorText() const override { return m_error; }

    // For the streams.
    bool headerWritten() const { return m_headerWritten; }
    bool writeChunk(RiffAviStream& stream, const void* data, size_t bytes, bool keyFrame);
    // A failure of the file (sticky: close() then fails) and a refused call (the file goes on).
    bool fail(std::string text);
    bool refuse(std::string text);

private:
    struct IndexEntry {
        uint32_t stream;
        uint32_t offset;  // of the chunk header, from the 'movi' code of its part
        uint32_t bytes;
        bool keyFrame;
    };

    bool writeHeader();
    std::vector<uint8_t> header() const;
    bool closePart(bool last);
    bool startPart();
    // Appends through the write buffer; position() counts what the buffer holds.
    bool put(const void* data, size_t bytes);
    bool flush();
    bool putAt(uint64_t position, const std::vector<uint8_t>& bytes);
    bool putSizeAt(uint64_t position, uint64_t size);
    uint64_t position() const;

    std::string m_path;
    std::string m_temporaryPath;
    AviFileLimits m_limits;
    File m_file;
    std::string m_error;
    bool m_failed = false;
    bool m_closed = false;
    bool m_headerWritten = false;
    std::vector<std::unique_ptr<RiffAviStream>> m_streams;
    uint64_t m_partStart = 0;  // position of the part's 'RIFF' code
    uint64_t m_moviList = 0;   // position of the part's 'movi' code
    uint32_t m_parts = 0;
    std::vector<IndexEntry> m_partIndex;  // chunks of the current part, in file order
    uint32_t m_firstRiffBytes = 0;        // sizes of the first part, known when it ends
    uint32_t m_firstMoviBytes = 0;
    std::vector<uint8_t> m_buffer;
};

}  // namespace kx
