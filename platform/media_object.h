// The media-object seam of codec 3: a decoder object that takes compressed samples in media
// buffers and gives decoded pictures back, set up by an input and an output media type, and the
// program's own reference-counted media buffer. The decoder of codec 3 is the only caller; one
// thread at a time uses an object, between Lock(true) and Lock(false).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace kx {

constexpr uint32_t fourCcOf(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

// The fields of a video media type that a decoder object looks at: the FourCC of the subtype
// (which also names the bitmap compression), the picture size, the sample layout and the
// decoder configuration that follows the bitmap header (the codec's own header bytes).
struct MediaType {
    uint32_t majorType = fourCcOf("vids");
    uint32_t subtype = 0;
    bool fixedSizeSamples = false;
    bool temporalCompression = false;
    uint32_t sampleSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t imageSize = 0;
    uint32_t bitRate = 0;
    std::vector<uint8_t> decoderConfiguration;
};

// Results of the media-object operations, in the sense of their COM counterparts.
enum class MediaResult {
    Ok,            // done
    NoOutput,      // ProcessOutput: no picture is ready (the component holds nothing to give)
    NotAccepting,  // ProcessInput: the object still holds output that must be taken first
    InvalidType,   // SetInputType / SetOutputType: the type is not one the object takes
    TypeNotSet,    // a processing call before both types were set
    Failed,        // anything else: bad argument, damaged sample, out of memory
};

// The program's own media buffer: a byte store of fixed capacity and the length of its valid
// part, counted by references. Create it with create(); it deletes itself when the last
// reference is released. Thread-safe counting, single-user contents.
class MediaBuffer {
public:
    // A buffer with one reference. Allocation failure throws std::bad_alloc.
    static MediaBuffer* create(size_t capacity) { return new MediaBuffer(capacity); }

    uint32_t AddRef() { return ++m_references; }
    uint32_t Release() {
        const uint32_t left = --m_references;
        if (left == 0) delete this;
        return left;
    }

    // False, length unchanged, when `length` exceeds the capacity.
    bool SetLength(size_t length) {
        if (length > m_store.size()) return false;
        m_length = length;
        return true;
    }
    size_t GetMaxLength() const { return m_store.size(); }
    void GetBufferAndLength(uint8_t** buffer, size_t* length) {
        if (buffer) *buffer = m_store.data();
        if (length) *length = m_length;
    }

    MediaBuffer(const MediaBuffer&) = delete;
    MediaBuffer& operator=(const MediaBuffer&) = delete;

private:
    explicit MediaBuffer(size_t capacity) : m_store(capacity) {}
    ~MediaBuffer() = default;

    std::atomic<uint32_t> m_references{1};
    std::vector<uint8_t> m_store;
    size_t m_length = 0;
};

// Holds one reference to a media buffer and releases it when it goes.
class MediaBufferRef {
public:
    MediaBufferRef() = default;
    explicit MediaBufferRef(MediaBuffer* adopted) : m_buffer(adopted) {}
    MediaBufferRef(const MediaBufferRef& other) : m_buffer(other.m_buffer) {
        if (m_buffer) m_buffer->AddRef();
    }
    MediaBufferRef& operator=(MediaBufferRef other) {
        std::swap(m_buffer, other.m_buffer);
        return *this;
    }
    ~MediaBufferRef() {
        if (m_buffer) m_buffer->Release();
    }
    MediaBuffer* get() const { return m_buffer; }
    MediaBuffer* operator->() const { return m_buffer; }
    explicit operator bool() const { return m_buffer != nullptr; }

private:
    MediaBuffer* m_buffer = nullptr;
};

// ProcessInput flag: the sample starts at a point the decoder can start from.
inline constexpr uint32_t kMediaInputSyncPoint = 1;
// ProcessOutput flag: the object may drop output for which no buffer is given.
inline constexpr uint32_t kMediaOutputDiscardWhenNoBuffer = 1;

// One output buffer record of ProcessOutput: the caller's buffer, and the status the object
// sets (bit 0: a picture was written; bit 24: more output is waiting).
struct MediaOutputRecord {
    MediaBuffer* buffer = nullptr;
    uint32_t status = 0;
};
inline constexpr uint32_t kMediaOutputSyncPoint = 1;
inline constexpr uint32_t kMediaOutputIncomplete = 1u << 24;

// A media object with one input and one output stream (index 0).
class MediaObject {
public:
    virtual ~MediaObject() = default;
    virtual MediaResult SetInputType(uint32_t stream, const MediaType& type) = 0;
    virtual MediaResult SetOutputType(uint32_t stream, const MediaType& type) = 0;
    // Takes the buffer's valid bytes (its length) as one sample; the object keeps what it needs
    // and does not hold the buffer after the call.
    virtual MediaResult ProcessInput(uint32_t stream, MediaBuffer& buffer, uint32_t flags) = 0;
    // Writes the next decoded picture into the record's buffer and sets the buffer's length;
    // NoOutput when there is none. A picture larger than the buffer's capacity is not written.
    virtual MediaResult ProcessOutput(uint32_t flags, MediaOutputRecord& output) = 0;
    virtual MediaResult Lock(bool locked) = 0;
};

// The MPEG-4 decoder object for the "M4S2" subtype, giving "UYVY" pictures (U, Y0, V, Y1).
// Null when the component cannot be created.
std::unique_ptr<MediaObject> createMpeg4DecoderObject();

}  // namespace kx
