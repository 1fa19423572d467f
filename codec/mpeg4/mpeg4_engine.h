// Mpeg4VideoEngine: the MPEG-4 Part 2 (ISO/IEC 14496-2) video decoder of codec 2, driven like a
// codec driver through one control entry with operation codes. The caller asks for the sizes
// of six memory blocks, allocates them and hands them over; the engine keeps its reference
// pictures, its state and its bit reader there and allocates nothing per frame. One thread at a
// time; never throws; every read is bounded by the frame's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/mpeg4/mpeg4_bit_reader.h"
#include "codec/mpeg4/dsp/mpeg4_dsp.h"

namespace kx {

// Results of the control entry.
constexpr int kMpeg4Ok = 0;
constexpr int kMpeg4Refused = 2;    // engine disabled, or a parameter out of range
constexpr int kMpeg4NoPicture = 3;  // the frame gave no picture

// Operation codes; any other code decodes one frame.
constexpr uint32_t kMpeg4QuerySizes = 0x4000;
constexpr uint32_t kMpeg4Initialise = 0x8000;
constexpr uint32_t kMpeg4Nothing = 0x10000;
constexpr uint32_t kMpeg4PostProcessing = 0x20000;
constexpr uint32_t kMpeg4StoreValue = 0x40000;
constexpr uint32_t kMpeg4Decode = 0;

constexpr int kMpeg4BlockCount = 6;
constexpr uint32_t kMpeg4StateBytes = 703488;  // block 3 for pictures up to 720 x 576
constexpr uint32_t kMpeg4TablesBytes = 11332;  // block 4
constexpr uint32_t kMpeg4ReaderBytes = 2216;   // block 5

struct Mpeg4Size {
    int32_t width = 0;
    int32_t height = 0;
};
struct Mpeg4BlockSizes {
    uint32_t bytes[kMpeg4BlockCount] = {};
};
struct Mpeg4InitParams {
    int32_t width = 0;
    int32_t height = 0;
    void* blocks[kMpeg4BlockCount] = {};
};
struct Mpeg4PostParams {
    int32_t level = 0;
};
struct Mpeg4ValueParams {
    int32_t unused[2] = {};
    int32_t value = 0;
};
struct Mpeg4DecodeParams {
    uint8_t* destination = nullptr;  // packed B, G, R rows of 3 x destinationWidth bytes
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint32_t flag = 0;
    uint32_t destinationWidth = 0;
};

// What one decode call did (the optional output of the decode operation).
enum class Mpeg4Outcome {
    Shown,        // a picture was written to the destination
    HeldBack,     // an anchor picture waits for the next anchor (display order): nothing written
    NotCoded,     // a not-coded picture: nothing changes, nothing written
    SkippedB,     // a B picture without both of its references: nothing written
    NoPicture,    // no picture start code (headers only, or none at all)
    Unsupported,  // a tool the engine does not decode (sprites, interlace, shapes, scalability)
    Damaged,      // the picture's headers are invalid, or the engine is not set up
};
struct Mpeg4DecodeInfo {
    Mpeg4Outcome outcome = Mpeg4Outcome::NoPicture;
    int pictureType = -1;       // 0 I, 1 P, 2 B, 3 S of the decoded picture
    bool dataBrokeOff = false;  // the macroblock data ended early or broke off part way
    int width = 0, height = 0;  // size of the written picture
};

namespace mpeg4 {
struct DecoderState;
struct WorkingTables;
struct Frame {
    uint8_t* y = nullptr;
    uint8_t* cb = nullptr;
    uint8_t* cr = nullptr;
    ptrdiff_t lumaStride = 0;
    ptrdiff_t chromaStride = 0;
};
struct MacroblockMotion;
}  // namespace mpeg4

class Mpeg4VideoEngine {
public:
    static constexpr int kLumaBorder = 32;
    static constexpr int kChromaBorder = 16;
    static constexpr int kMaxDimension = 4096;

    // The control entry. enable 0 returns kMpeg4Refused. For the decode operation `input` is
    // an Mpeg4DecodeParams and `output`, when not null, an Mpeg4DecodeInfo.
    int control(int enable, uint32_t operation, const void* input, void* output);

    // The sizes of the six blocks for a picture of width x height (both rounded up to whole
    // macroblocks); false for a size outside 1..kMaxDimension.
    static bool blockSizes(int width, int height, Mpeg4BlockSizes& sizes);

    // Writes the held anchor picture (streams with B pictures) to `destination`; false when
    // none is held. The held picture is then counted as shown.
    bool flushHeld(uint8_t* destination, uint32_t destinationWidth);
    // Forgets the anchors (playback jumped): no held picture is handed out, and pictures are
    // inter coded again only after the next intra picture.
    void restart();
    // True once the stream's layer announces B pictures (its pictures are not shown as decoded).
    bool reordersPictures() const;

    bool initialised() const { return m_state != nullptr; }
    int postProcessingMask() const;
    bool postProcessingOn() const;
    int32_t storedValue() const;
    uint32_t pictureCount() const;
    mpeg4::IdctKind idctKind() const;

private:
    int initialise(const Mpeg4InitParams& params);
    int setPostProcessing(int level);
    int decodeFrame(const Mpeg4DecodeParams& params, Mpeg4DecodeInfo& info);

    // Headers (mpeg4_headers.cpp).
    bool parseVisualObjectHeaders();
    bool parseVideoObjectLayer();
    void parseUserData();
    void parseGroupOfPictures();
    bool parsePictureHeader();
    bool parseVideoPacketHeader(int& firstMacroblock);
    int resyncPrefixLength() const;

    // Picture data (mpeg4_picture.cpp).
    void decodePictureData();
    bool decodePacket(int firstMacroblock);
    bool decodePartitionedPacket(int firstMacroblock);
    int endOfPacket();
    bool seekResyncMarker();
    void startPacket(int firstMacroblock);

    // Macroblock syntax (mpeg4_macroblock.cpp).
    bool decodeIntraOrPMacroblock(int mbX, int mbY);
    bool decodeBMacroblock(int mbX, int mbY);
    bool decodeIntraBlocks(int mbX, int mbY, int cbp, bool partitioned);
    bool decodeInterBlocks(int cbp);
    bool decodeBlockCoefficients(int16_t* block, bool intra, int first, const uint8_t* scan, int qmul, int qadd);
    bool decodeDc(int block, int& level);
    int predictDc(int mbX, int mbY, int block, int level, bool& fromTop);
    void predictAc(int mbX, int mbY, int block, int16_t* coefficients, bool fromTop);
    void predictMotion(int mbX, int mbY, int block, int& px, int& py);
    bool decodeMotion(int prediction, int fcode, int& value);
    void clearIntraEntries(int mbX, int mbY);
    void reconstructIntra(int mbX, int mbY);
    void addResidual(int mbX, int mbY, int cbp);
    uint8_t* blockTarget(int n, int mbX, int mbY, ptrdiff_t& stride) const;
    void decodeInterMacroblockMotion(int mbX, int mbY, bool fourVectors, bool& ok);
    bool partitionA(int mbX, int mbY, bool& marker);
    bool partitionB(int mbX, int mbY);
    bool partitionC(int mbX, int mbY);

    // Motion compensation (mpeg4_motion.cpp).
    void predictMacroblock(const mpeg4::Frame& reference, int mbX, int mbY, const int (*mv)[2], bool fourVectors,
                           bool average);

    // Output (mpeg4_engine.cpp).
    void showPicture(const mpeg4::Frame& picture, uint8_t* destination, uint32_t destinationWidth);
    mpeg4::Frame anchorFrame(int index) const;
    mpeg4::Frame bFrame() const;

    // The pictures of the picture being decoded: where it goes and its references.
    mpeg4::Frame m_current, m_forward, m_backward;
    mpeg4::IdctKind m_idct = mpeg4::IdctKind::Simple;

    mpeg4::DecoderState* m_state = nullptr;
    mpeg4::WorkingTables* m_tables = nullptr;
    mpeg4::Mpeg4BitReader* m_reader = nullptr;
    uint8_t* m_blocks[kMpeg4BlockCount] = {};
    std::vector<uint8_t> m_input;        // the frame's data with the reader's zero padding
    std::vector<uint8_t> m_postScratch;  // post-processed B pictures (allocated once, when needed)
};

}  // namespace kx
