// Mpeg4VideoEngine: the start-code level of a frame (visual object sequence and object, video
// object layer, user data, group of pictures), the picture header and the video packet header.
#include <algorithm>
#include <cstring>

#include "codec/mpeg4/mpeg4_engine.h"
#include "codec/mpeg4/mpeg4_state.h"
#include "codec/mpeg4/mpeg4_tables.h"

namespace kx {

using namespace mpeg4;

namespace {

constexpr uint32_t kVideoObjectLast = 0x11F;
constexpr uint32_t kLayerFirst = 0x120, kLayerLast = 0x12F;
constexpr uint32_t kSequenceStart = 0x1B0;
constexpr uint32_t kUserData = 0x1B2;
constexpr uint32_t kGroupStart = 0x1B3;
constexpr uint32_t kVisualObject = 0x1B5;
constexpr uint32_t kPictureStart = 0x1B6;

// Moves to the next byte boundary.
void alignToByte(Mpeg4BitReader& r) { r.skip((8 - (r.position() & 7)) & 7); }

int bitsFor(int values) {
    int bits = 0;
    while ((1 << bits) < values) ++bits;
    return std::max(bits, 1);
}

}  // namespace

bool Mpeg4VideoEngine::parseVisualObjectHeaders() {
    Mpeg4BitReader& r = *m_reader;
    // Start codes lie on byte boundaries; anything between them that is not a header we read
    // is passed over byte by byte.
    alignToByte(r);
    while (!r.atEnd()) {
        if (r.peek(24) != 1) {
            r.skip(8);
            continue;
        }
        const uint32_t code = r.get(32);
        if (code == kPictureStart) return true;
        if (code >= kLayerFirst && code <= kLayerLast) {
            parseVideoObjectLayer();
        } else if (code == kUserData) {
            parseUserData();
        } else if (code == kGroupStart) {
            parseGroupOfPictures();
        } else if (code == kSequenceStart) {
            r.skip(8);  // profile and level indication
        } else if (code == kVisualObject) {
            r.skip(8);  // identifier flag with version and priority, or the object type
        } else if (code <= kVideoObjectLast) {
            // video object start code: nothing follows but the layer
        }
        alignToByte(r);
    }
    return false;
}

bool Mpeg4VideoEngine::parseVideoObjectLayer() {
    Mpeg4BitReader& r = *m_reader;
    VideoObjectLayer& vol = m_state->vol;
    VideoObjectLayer v;
    v.lowDelay = vol.lowDelay;
    r.skip(1);  // random accessible
    v.objectType = int(r.get(8));
    if (r.get(1)) {
        v.verId = int(r.get(4));
        r.skip(3);  // priority
    }
    if (r.get(4) == 15) r.skip(16);  // extended aspect ratio: par width and height
    v.controlParameters = r.get(1) != 0;
    if (v.controlParameters) {
        r.skip(2);  // chroma format
        v.lowDelay = r.get(1) != 0;
        if (r.get(1)) r.skip(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);  // VBV parameters
    } else if (!m_state->sawHeaders) {
        // No control parameters: simple and advanced simple layers have no B pictures.
        v.lowDelay = v.objectType == 1 || v.objectType == 17 || v.objectType == 0;
    }
    v.shape = int(r.get(2));
    if (v.shape == 3 && v.verId != 1) r.skip(4);
    r.skip(1);
    v.timeResolution = int(r.get(16));
    if (v.timeResolution == 0) return false;
    v.timeIncrementBits = bitsFor(v.timeResolution);
    r.skip(1);
    if (r.get(1)) r.skip(size_t(v.timeIncrementBits));  // fixed increment
    if (v.shape != 2) {
        if (v.shape == 0) {
            r.skip(1);
            v.width = int(r.get(13));
            r.skip(1);
            v.height = int(r.get(13));
            r.skip(1);
        }
        v.interlaced = r.get(1) != 0;
        r.skip(1);  // OBMC disable
        v.spriteUsage = int(r.get(v.verId == 1 ? 1 : 2));
        if (v.spriteUsage == 1 || v.spriteUsage == 2) {
            if (v.spriteUsage == 1) r.skip(4 * 14);  // sprite width, height, left, top with markers
            r.skip(6 + 2 + 1);                       // warping points, accuracy, brightness change
            if (v.spriteUsage == 1) r.skip(1);       // low latency
        }
        if (r.get(1)) {  // not 8 bit
            v.quantPrecision = int(r.get(4));
            if (r.get(4) != 8) v.quantPrecision = 0;
        }
        v.mpegQuant = r.get(1) != 0;
        std::copy(kDefaultIntraMatrix.begin(), kDefaultIntraMatrix.end(), v.intraMatrix);
        std::copy(kDefaultInterMatrix.begin(), kDefaultInterMatrix.end(), v.interMatrix);
        if (v.mpegQuant) {
            for (uint8_t* matrix : {v.intraMatrix, v.interMatrix}) {
                if (!r.get(1)) continue;
                // Up to 64 values in zigzag order; a zero ends the list and the last value
                // fills the rest.
                int last = 0, i = 0;
                for (; i < 64; ++i) {
                    const int value = int(r.get(8));
                    if (value == 0) break;
                    last = value;
                    matrix[kZigzag[i]] = uint8_t(value);
                }
                if (last == 0) return false;
                for (; i < 64; ++i) matrix[kZigzag[i]] = uint8_t(last);
            }
        }
        v.quarterSample = v.verId != 1 && r.get(1) != 0;
        v.complexityEstimation = r.get(1) == 0;
        if (!v.complexityEstimation) {
            v.resyncMarkers = r.get(1) == 0;
            v.dataPartitioned = r.get(1) != 0;
            if (v.dataPartitioned) v.reversibleVlc = r.get(1) != 0;
            if (v.verId != 1) {
                v.newPred = r.get(1) != 0;
                if (v.newPred) r.skip(3);
                v.reducedResolution = r.get(1) != 0;
            }
            v.scalability = r.get(1) != 0;
        }
    }
    if (r.overrun() || v.width < 1 || v.height < 1 || v.width > kMaxDimension || v.height > kMaxDimension)
        return false;
    v.mbWidth = (v.width + 15) / 16;
    v.mbHeight = (v.height + 15) / 16;
    // A layer larger than the engine was made for would not fit its stores or the caller's
    // picture: it is kept as invalid, so no picture of it is decoded or shown.
    v.valid = v.width <= m_state->pictureWidth && v.height <= m_state->pictureHeight;
    vol = v;
    m_state->lowDelayMode = v.lowDelay;
    m_state->sawHeaders = true;
    return true;
}

void Mpeg4VideoEngine::parseUserData() {
    Mpeg4BitReader& r = *m_reader;
    char text[256];
    int n = 0;
    while (n < 255 && !r.atEnd() && r.peek(23) != 0) text[n++] = char(r.get(8));
    text[n] = 0;
    // An XviD build number: the stream was coded against XviD's inverse DCT.
    if (std::strncmp(text, "XviD", 4) == 0) {
        int build = 0, digits = 0;
        for (const char* p = text + 4; *p >= '0' && *p <= '9' && digits < 9; ++p, ++digits) build = build * 10 + (*p - '0');
        if (digits > 0) m_state->xvidBuild = build;
    }
}

void Mpeg4VideoEngine::parseGroupOfPictures() {
    Mpeg4BitReader& r = *m_reader;
    m_state->gopTimeCode = r.get(18);
    m_state->gopClosed = r.get(1) != 0;
    m_state->gopBrokenLink = r.get(1) != 0;
    // hours, minutes, marker, seconds
    const uint32_t t = m_state->gopTimeCode;
    m_state->timeBase = int64_t(t >> 13) * 3600 + int64_t((t >> 7) & 63) * 60 + (t & 63);
}

bool Mpeg4VideoEngine::parsePictureHeader() {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    PictureHeader p;
    p.type = int(r.get(2));
    int moduloTime = 0;
    while (r.get(1) != 0 && !r.atEnd()) ++moduloTime;
    r.skip(1);
    const int increment = int(r.get(s.vol.timeIncrementBits));
    r.skip(1);
    p.coded = r.get(1) != 0;
    if (p.type == kPictureB) {
        const int64_t time = (s.lastTimeBase + moduloTime) * s.vol.timeResolution + increment;
        s.pbTime = int(s.ppTime - (s.lastAnchorTime - time));
    } else {
        s.lastTimeBase = s.timeBase;
        s.timeBase += moduloTime;
        const int64_t time = s.timeBase * s.vol.timeResolution + increment;
        s.ppTime = int(time - s.lastAnchorTime);
        s.lastAnchorTime = time;
    }
    if (!p.coded) {
        s.pic = p;
        return !r.overrun();
    }
    if (p.type == kPictureP || (p.type == kPictureS && s.vol.spriteUsage == 2)) p.rounding = int(r.get(1));
    if (s.vol.reducedResolution && p.type != kPictureB && r.get(1)) return false;
    p.intraDcThreshold = kIntraDcThreshold[r.get(3)];
    if (s.vol.interlaced) r.skip(2);
    if (p.type == kPictureS) {
        s.pic = p;
        return !r.overrun();  // sprites are not decoded
    }
    p.quant = int(r.get(5));
    if (p.type != kPictureI) p.fcodeForward = int(r.get(3));
    if (p.type == kPictureB) p.fcodeBackward = int(r.get(3));
    s.pic = p;
    if (r.overrun() || p.quant == 0 || p.fcodeForward == 0 || p.fcodeBackward == 0) return false;
    return true;
}

int Mpeg4VideoEngine::resyncPrefixLength() const {
    const PictureHeader& p = m_state->pic;
    switch (p.type) {
        case kPictureI: return 16;
        case kPictureB: return std::max({p.fcodeForward, p.fcodeBackward, 2}) + 15;
        default: return p.fcodeForward + 15;
    }
}

bool Mpeg4VideoEngine::parseVideoPacketHeader(int& firstMacroblock) {
    Mpeg4BitReader& r = *m_reader;
    DecoderState& s = *m_state;
    int zeros = 0;
    while (zeros < 32 && r.get(1) == 0 && !r.atEnd()) ++zeros;
    if (zeros != resyncPrefixLength()) return false;
    const int count = s.vol.mbWidth * s.vol.mbHeight;
    const int number = int(r.get(bitsFor(count)));
    if (number >= count) return false;
    const int quant = int(r.get(5));
    if (quant) s.quant = quant;
    if (r.get(1)) {  // header extension
        while (r.get(1) != 0 && !r.atEnd()) {
        }
        r.skip(1);
        r.skip(size_t(s.vol.timeIncrementBits));
        r.skip(1);
        r.skip(2);  // coding type
        r.skip(3);  // intra DC threshold
        if (s.pic.type != kPictureI) r.skip(3);
        if (s.pic.type == kPictureB) r.skip(3);
    }
    firstMacroblock = number;
    return !r.overrun();
}

}  // namespace kx
