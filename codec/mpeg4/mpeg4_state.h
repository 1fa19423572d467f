// The engine's state as it lies in its memory blocks: the header values, the picture and packet
// positions (block 3, followed by the per-macroblock prediction arrays) and the working tables
// (block 4). Internal to the engine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/mpeg4/dsp/mpeg4_dsp.h"

namespace kx::mpeg4 {

enum PictureType { kPictureI = 0, kPictureP = 1, kPictureB = 2, kPictureS = 3 };

// Macroblock kinds kept per macroblock of the last anchor picture (read by B pictures).
enum MacroblockFlags : uint8_t {
    kMbIntra = 1,
    kMbAcPred = 2,
    kMbSkipped = 4,    // not coded in a P picture: B pictures skip it too
    kMbFourVectors = 8,
};

struct VideoObjectLayer {
    bool valid = false;
    int width = 0, height = 0;
    int mbWidth = 0, mbHeight = 0;
    int verId = 1;
    int objectType = 0;
    bool controlParameters = false;
    bool lowDelay = false;
    int shape = 0;
    int timeResolution = 1;
    int timeIncrementBits = 4;
    bool interlaced = false;
    int spriteUsage = 0;
    int quantPrecision = 5;
    bool mpegQuant = false;
    uint8_t intraMatrix[64] = {};  // natural order
    uint8_t interMatrix[64] = {};
    bool quarterSample = false;
    bool resyncMarkers = false;
    bool dataPartitioned = false;
    bool reversibleVlc = false;
    bool newPred = false;
    bool reducedResolution = false;
    bool scalability = false;
    bool complexityEstimation = false;
};

struct PictureHeader {
    int type = kPictureI;
    bool coded = true;
    int rounding = 0;
    int intraDcThreshold = 0;
    int quant = 1;
    int fcodeForward = 1;
    int fcodeBackward = 1;
};

// Where the per-macroblock arrays of block 3 lie (offsets from the start of the block), for
// a picture of mbWidth x mbHeight macroblocks. The block grids have one padding column on the
// left and one padding row on top, so every neighbour of a block in the picture has an index.
struct ArrayLayout {
    int mbWidth = 0, mbHeight = 0;
    int lumaStride = 0, chromaStride = 0;  // block grid strides
    size_t lumaEntries = 0, chromaEntries = 0;
    size_t dcLuma = 0, dcCb = 0, dcCr = 0;        // int16 per block
    size_t acLuma = 0, acCb = 0, acCr = 0;        // 16 x int16 per block
    size_t motion = 0;                            // 2 x int16 per luma block
    size_t mbFlags = 0, quant = 0, cbp = 0, dir = 0, dirty = 0;  // uint8 per macroblock
    size_t end = 0;
};

struct DecoderState {
    VideoObjectLayer vol;
    PictureHeader pic;
    ArrayLayout layout;
    int storeWidth = 0, storeHeight = 0;  // the macroblock-aligned size the blocks were made for
    int pictureWidth = 0, pictureHeight = 0;  // the size the engine was initialised for

    // Group of pictures.
    uint32_t gopTimeCode = 0;
    bool gopClosed = false;
    bool gopBrokenLink = false;

    bool postProcessing = false;
    int postMask = 0;
    int32_t storedValue = 0;
    uint32_t pictureCount = 0;
    int xvidBuild = -1;
    bool sawHeaders = false;

    // Time of anchors and B pictures, for direct-mode scaling.
    int64_t timeBase = 0, lastTimeBase = 0, lastAnchorTime = 0;
    int ppTime = 0, pbTime = 0;

    // Anchors: the index (0 or 1) of the newest, how many exist, whether one waits to be shown.
    int newest = 1;
    int anchors = 0;
    bool holding = false;
    bool lowDelayMode = true;  // pictures are shown as decoded

    // Macroblock loop.
    int quant = 1;
    int resyncX = 0, resyncY = 0;
    bool firstSliceLine = true;
    bool acPred = false;
    bool useIntraDcVlc = true;
    bool brokeOff = false;
    int macroblocksDone = 0;
    int lastMv[2][2] = {};  // B pictures: forward and backward predictors
};

struct WorkingTables {
    int16_t blocks[6][64];
    alignas(16) uint8_t averageY[16 * 16];
    alignas(16) uint8_t averageCb[8 * 8];
    alignas(16) uint8_t averageCr[8 * 8];
    int8_t blockDirections[6];  // DC prediction from the top (1) or the left (0)
    bool blockCoded[6];
};

static_assert(sizeof(WorkingTables) <= 11332, "the working tables fit block 4");

}  // namespace kx::mpeg4
