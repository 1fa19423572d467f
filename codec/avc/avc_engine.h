// AvcEngine: the avc codec's decoding engine (codec 4). It reads a frame's picture (I, P or B,
// bitstream versions 3 and 4), keeps the two reference slots, and reorders pictures so that
// the display picture trails the last decoded reference while B pictures come between. Its
// operations answer with the engine's result codes and print the engine's diagnostics on
// standard output. Used by one thread at a time (the decoder that owns it).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "codec/avc/avc_reconstruction.h"
#include "codec/bits/bit_reader.h"

namespace kx {

// Result codes of the engine's operations.
enum AvcResult : int {
    kAvcOk = 0,
    kAvcFailed = -1,    // no start code, frame too long or short, no picture
    kAvcInvalid = 100,  // picture type 3, quantiser, size, invalid macroblock syntax
    kAvcNullArgument = 101,
    kAvcOverrun = 102,     // the picture reads past the end of the data
    kAvcBadVersion = 104,  // version below 3
    kAvcNoEngine = 105,
};

// Frame kinds with no picture data of their own: the last picture repeated.
constexpr uint16_t kAvcRepeatKind = 4;
constexpr uint16_t kAvcRepeatKeepKind = 5;

class AvcEngine {
public:
    static constexpr size_t kBufferBytes = 0x40000;

    AvcEngine();

    // I pictures larger than this are refused as an unusable size (fuzzing keeps pictures small).
    void setSizeLimit(int maxWidth, int maxHeight) {
        m_maxWidth = maxWidth;
        m_maxHeight = maxHeight;
    }

    // Where the diagnostic lines go: standard output unless a tool wants its output clean.
    void setDiagnostics(std::FILE* stream) { m_diagnostics = stream; }

    // Decodes one frame of `length` bytes with its kind and presentation time; `deblock`
    // switches the in-loop filter. 0 on success, else a result code; after a failed picture
    // every picture is forgotten until the next I picture.
    int Decode(const uint8_t* data, size_t length, uint16_t kind, uint32_t time, bool deblock);
    // The display picture: 4:2:0 planar, width x height luma then the two chroma planes.
    int GetPicture(const uint8_t** picture) const;
    int GetSize(int* width, int* height) const;
    // The presentation time of the next reference minus that of the display picture, 0 when
    // negative.
    int GetStatus(uint32_t* status) const;

    // Forgets every picture, as after a failed picture: the next I picture starts again and
    // its frame shows nothing, since the picture due before it is not known.
    void Restart() { forgetPictures(); }

    // The store the last I, P or B picture was decoded into (4:2:0 planar), or null.
    const uint8_t* lastDecoded() const { return m_lastDecoded; }

    // The last header read.
    int version() const { return m_version; }
    int pictureType() const { return m_pictureType; }
    int quantiser() const { return m_quantiser; }

private:
    struct Picture {
        std::vector<uint8_t> samples;
        uint32_t time = 0;
    };

    int initBitStream(const uint8_t* data, size_t length);
    int decodeHeader();
    int decodePicture();
    int decodeRepeat(uint16_t kind, uint32_t time);
    int readIntra(int column, int row);
    int readInter(int column, int row, int slot);
    int readCodedBlockPattern(const uint8_t* table);
    int readResidual(int column, int row);
    bool readVector(int& value);
    int freePicture() const;
    void forgetPictures();

    std::FILE* m_diagnostics = stdout;
    int m_maxWidth = 1023, m_maxHeight = 1023;
    std::vector<uint8_t> m_buffer;  // the frame as a most-significant-bit-first byte stream
    BitReader m_bits;

    int m_version = 0, m_pictureType = 0, m_quantiser = 0, m_width = 0, m_height = 0,
        m_bParameter = 0;
    bool m_deblock = false;
    uint32_t m_time = 0;

    std::array<Picture, 4> m_pictures;
    bool m_havePictures = false;
    int m_display = -1, m_next = -1, m_current = -1;
    const uint8_t* m_lastDecoded = nullptr;

    avc::AvcReconstruction m_reconstruction;
    avc::AvcMacroblock m_mb;
};

// The engine's operations as the decoder calls them; a null engine answers 105.
int avcDecode(AvcEngine* engine, const uint8_t* data, size_t length, uint16_t kind, uint32_t time,
              bool deblock);
int avcGetPicture(const AvcEngine* engine, const uint8_t** picture);
int avcGetSize(const AvcEngine* engine, int* width, int* height);
int avcGetStatus(const AvcEngine* engine, uint32_t* status);

}  // namespace kx
