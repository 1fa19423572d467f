// Mpeg4VideoEngine: the control entry, the memory blocks, the frame loop (headers, picture
// data, border extension, display order, conversion to packed BGR, swap and count).
#include "codec/mpeg4/mpeg4_engine.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/colour/colour_convert.h"
#include "codec/mpeg4/mpeg4_state.h"

namespace kx {

using namespace mpeg4;

namespace {

constexpr size_t align16(size_t n) { return (n + 15) & ~size_t(15); }

int macroblocksOf(int pixels) { return (pixels + 15) / 16; }

// The per-macroblock arrays that follow the state in block 3.
ArrayLayout layoutFor(int mbWidth, int mbHeight) {
    ArrayLayout l;
    l.mbWidth = mbWidth;
    l.mbHeight = mbHeight;
    l.lumaStride = 2 * mbWidth + 1;
    l.chromaStride = mbWidth + 1;
    l.lumaEntries = size_t(l.lumaStride) * (2 * mbHeight + 2);
    l.chromaEntries = size_t(l.chromaStride) * (mbHeight + 2);
    const size_t mbs = size_t(mbWidth) * mbHeight;
    size_t at = align16(sizeof(DecoderState));
    const auto take = [&](size_t bytes) {
        const size_t start = at;
        at = align16(at + bytes);
        return start;
    };
    l.dcLuma = take(l.lumaEntries * 2);
    l.dcCb = take(l.chromaEntries * 2);
    l.dcCr = take(l.chromaEntries * 2);
    l.acLuma = take(l.lumaEntries * 32);
    l.acCb = take(l.chromaEntries * 32);
    l.acCr = take(l.chromaEntries * 32);
    l.motion = take(l.lumaEntries * 4);
    l.mbFlags = take(mbs);
    l.quant = take(mbs);
    l.cbp = take(mbs);
    l.dir = take(mbs);
    l.dirty = take(mbs);
    l.end = at;
    return l;
}

size_t anchorBytes(int w, int h) {
    return size_t(h + 64) * (w + 64) + 2 * size_t(h / 2 + 64) * (w / 2 + 64);
}

}  // namespace

bool Mpeg4VideoEngine::blockSizes(int width, int height, Mpeg4BlockSizes& sizes) {
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return false;
    const int w = macroblocksOf(width) * 16, h = macroblocksOf(height) * 16;
    sizes.bytes[0] = sizes.bytes[1] = uint32_t(anchorBytes(w, h));
    sizes.bytes[2] = uint32_t(size_t(h) * w + 2 * (size_t(h) * w / 4));
    // The state holds the prediction arrays of every macroblock: pictures larger than
    // 720 x 576 need more than the usual 703488 bytes.
    sizes.bytes[3] = uint32_t(std::max<size_t>(kMpeg4StateBytes, layoutFor(w / 16, h / 16).end));
    sizes.bytes[4] = kMpeg4TablesBytes;
    sizes.bytes[5] = kMpeg4ReaderBytes;
    return true;
}

int Mpeg4VideoEngine::control(int enable, uint32_t operation, const void* input, void* output) {
    if (enable == 0) return kMpeg4Refused;
    switch (operation) {
        case kMpeg4QuerySizes: {
            if (input == nullptr || output == nullptr) return kMpeg4Refused;
            const auto* size = static_cast<const Mpeg4Size*>(input);
            return blockSizes(size->width, size->height, *static_cast<Mpeg4BlockSizes*>(output)) ? kMpeg4Ok
                                                                                                  : kMpeg4Refused;
        }
        case kMpeg4Initialise:
            if (input == nullptr) return kMpeg4Refused;
            return initialise(*static_cast<const Mpeg4InitParams*>(input));
        case kMpeg4Nothing: return kMpeg4Ok;
        case kMpeg4PostProcessing:
            if (input == nullptr) return kMpeg4Refused;
            return setPostProcessing(static_cast<const Mpeg4PostParams*>(input)->level);
        case kMpeg4StoreValue:
            if (input == nullptr || m_state == nullptr) return kMpeg4Refused;
            m_state->storedValue = static_cast<const Mpeg4ValueParams*>(input)->value;
            return kMpeg4Ok;
        default: {
            Mpeg4DecodeInfo local;
            Mpeg4DecodeInfo& info = output ? *static_cast<Mpeg4DecodeInfo*>(output) : local;
            info = {};
            if (input == nullptr || m_state == nullptr) {
                info.outcome = Mpeg4Outcome::Damaged;
                return kMpeg4NoPicture;
            }
            return decodeFrame(*static_cast<const Mpeg4DecodeParams*>(input), info);
        }
    }
}

int Mpeg4VideoEngine::initialise(const Mpeg4InitParams& params) {
    Mpeg4BlockSizes sizes;
    if (!blockSizes(params.width, params.height, sizes)) return kMpeg4Refused;
    for (void* block : params.blocks)
        if (block == nullptr) return kMpeg4Refused;
    for (int i = 0; i < kMpeg4BlockCount; ++i) m_blocks[i] = static_cast<uint8_t*>(params.blocks[i]);
    const int w = macroblocksOf(params.width) * 16, h = macroblocksOf(params.height) * 16;
    m_state = new (m_blocks[3]) DecoderState();
    m_state->storeWidth = w;
    m_state->storeHeight = h;
    m_state->pictureWidth = params.width;
    m_state->pictureHeight = params.height;
    m_state->layout = layoutFor(w / 16, h / 16);
    m_tables = new (m_blocks[4]) WorkingTables();
    static_assert(sizeof(Mpeg4BitReader) <= kMpeg4ReaderBytes, "the bit reader fits block 5");
    m_reader = new (m_blocks[5]) Mpeg4BitReader();
    // Grey reference pictures: an inter picture before any intra picture shows grey, not
    // whatever the memory held.
    std::memset(m_blocks[0], 128, sizes.bytes[0]);
    std::memset(m_blocks[1], 128, sizes.bytes[1]);
    std::memset(m_blocks[2], 128, sizes.bytes[2]);
    std::memset(m_blocks[3] + sizeof(DecoderState), 0, m_state->layout.end - sizeof(DecoderState));
    // DC predictors outside the picture (and of blocks never intra coded) stand at 1024.
    const ArrayLayout& l = m_state->layout;
    std::fill_n(reinterpret_cast<int16_t*>(m_blocks[3] + l.dcLuma), l.lumaEntries, int16_t(1024));
    std::fill_n(reinterpret_cast<int16_t*>(m_blocks[3] + l.dcCb), l.chromaEntries, int16_t(1024));
    std::fill_n(reinterpret_cast<int16_t*>(m_blocks[3] + l.dcCr), l.chromaEntries, int16_t(1024));
    return kMpeg4Ok;
}

int Mpeg4VideoEngine::setPostProcessing(int level) {
    if (level < 0 || level > 100 || m_state == nullptr) return kMpeg4Refused;
    m_state->postProcessing = level != 0;
    m_state->postMask = level == 0   ? 0
                        : level < 10 ? 1
                        : level < 20 ? 3
                        : level < 30 ? 19
                        : level < 40 ? 23
                        : level < 50 ? 31
                                     : 63;
    return kMpeg4Ok;
}

int Mpeg4VideoEngine::postProcessingMask() const { return m_state ? m_state->postMask : 0; }
bool Mpeg4VideoEngine::postProcessingOn() const { return m_state && m_state->postProcessing; }
int32_t Mpeg4VideoEngine::storedValue() const { return m_state ? m_state->storedValue : 0; }
uint32_t Mpeg4VideoEngine::pictureCount() const { return m_state ? m_state->pictureCount : 0; }
mpeg4::IdctKind Mpeg4VideoEngine::idctKind() const {
    return m_state && m_state->xvidBuild >= 0 ? IdctKind::Xvid : IdctKind::Simple;
}

Frame Mpeg4VideoEngine::anchorFrame(int index) const {
    const int w = m_state->storeWidth, h = m_state->storeHeight;
    Frame f;
    f.lumaStride = w + 2 * kLumaBorder;
    f.chromaStride = w / 2 + 2 * kLumaBorder;
    uint8_t* base = m_blocks[index];
    f.y = base + kLumaBorder * f.lumaStride + kLumaBorder;
    uint8_t* chroma = base + size_t(h + 2 * kLumaBorder) * f.lumaStride;
    const size_t chromaPlane = size_t(h / 2 + 2 * kLumaBorder) * f.chromaStride;
    f.cb = chroma + kLumaBorder * f.chromaStride + kLumaBorder;
    f.cr = f.cb + chromaPlane;
    return f;
}

Frame Mpeg4VideoEngine::bFrame() const {
    const int w = m_state->storeWidth, h = m_state->storeHeight;
    Frame f;
    f.lumaStride = w;
    f.chromaStride = w / 2;
    f.y = m_blocks[2];
    f.cb = f.y + size_t(w) * h;
    f.cr = f.cb + size_t(w / 2) * (h / 2);
    return f;
}

void Mpeg4VideoEngine::showPicture(const Frame& picture, uint8_t* destination, uint32_t destinationWidth) {
    if (destination == nullptr) return;
    if (!m_state->vol.valid) return;
    const int width = std::min({m_state->vol.width, int(destinationWidth), m_state->pictureWidth});
    const int height = std::min(m_state->vol.height, m_state->pictureHeight);
    if (width < 1 || height < 1) return;
    Frame source = picture;
    if (m_state->postProcessing) {
        // Filtered into block 2 (or, for a B picture that already lies there, into a scratch
        // store made once) with the mask, and converted from there.
        Frame out = bFrame();
        if (picture.y == out.y) {
            const size_t bytes = size_t(m_state->storeWidth) * m_state->storeHeight * 3 / 2;
            if (m_postScratch.size() < bytes) m_postScratch.resize(bytes);
            out.y = m_postScratch.data();
            out.cb = out.y + size_t(m_state->storeWidth) * m_state->storeHeight;
            out.cr = out.cb + size_t(m_state->storeWidth / 2) * (m_state->storeHeight / 2);
        }
        const int cw = (m_state->vol.width + 1) / 2, ch = (m_state->vol.height + 1) / 2;
        const Plane in[3] = {{picture.y, picture.lumaStride, m_state->vol.width, m_state->vol.height},
                             {picture.cb, picture.chromaStride, cw, ch},
                             {picture.cr, picture.chromaStride, cw, ch}};
        const Plane outPlanes[3] = {{out.y, out.lumaStride, m_state->vol.width, m_state->vol.height},
                                    {out.cb, out.chromaStride, cw, ch},
                                    {out.cr, out.chromaStride, cw, ch}};
        postProcess(in, outPlanes, m_blocks[3] + m_state->layout.quant, m_state->layout.mbWidth,
                    m_state->postMask);
        source = out;
    }
    const ptrdiff_t rowBytes = ptrdiff_t(3) * destinationWidth;
    for (int y = 0; y < height; y += 2) {
        const bool pair = y + 1 < height;
        PlanarRowsToBgr(source.y + y * source.lumaStride, destination + y * rowBytes,
                        pair ? source.y + (y + 1) * source.lumaStride : nullptr,
                        pair ? destination + (y + 1) * rowBytes : nullptr, source.cb + (y / 2) * source.chromaStride,
                        source.cr + (y / 2) * source.chromaStride, width);
    }
}

bool Mpeg4VideoEngine::flushHeld(uint8_t* destination, uint32_t destinationWidth) {
    if (m_state == nullptr || !m_state->holding) return false;
    m_state->holding = false;
    showPicture(anchorFrame(m_state->newest), destination, destinationWidth);
    return true;
}

void Mpeg4VideoEngine::restart() {
    if (m_state == nullptr) return;
    m_state->holding = false;
    m_state->anchors = 0;
}

bool Mpeg4VideoEngine::reordersPictures() const { return m_state != nullptr && !m_state->lowDelayMode; }

int Mpeg4VideoEngine::decodeFrame(const Mpeg4DecodeParams& params, Mpeg4DecodeInfo& info) {
    DecoderState& s = *m_state;
    const size_t length = params.data ? params.length : 0;
    if (m_input.size() < length + Mpeg4BitReader::kPadding) m_input.resize(length + Mpeg4BitReader::kPadding);
    if (length) std::memcpy(m_input.data(), params.data, length);
    std::memset(m_input.data() + length, 0, Mpeg4BitReader::kPadding);
    m_reader->reset(m_input.data(), length);

    if (!parseVisualObjectHeaders()) {
        info.outcome = Mpeg4Outcome::NoPicture;
        return kMpeg4NoPicture;
    }
    const VideoObjectLayer& vol = s.vol;
    // A layer larger than the engine was made for would not fit its stores or the destination.
    if (!vol.valid || vol.width > s.pictureWidth || vol.height > s.pictureHeight) {
        info.outcome = Mpeg4Outcome::Damaged;
        return kMpeg4NoPicture;
    }
    const bool known = parsePictureHeader();
    info.pictureType = s.pic.type;
    if (!known) {
        info.outcome = Mpeg4Outcome::Damaged;
        return kMpeg4NoPicture;
    }
    if (vol.shape != 0 || vol.interlaced || vol.scalability || vol.reversibleVlc || vol.newPred ||
        vol.complexityEstimation || vol.quantPrecision != 5 || s.pic.type == kPictureS) {
        // A refused anchor leaves no reference for the pictures after it until the next
        // intra picture.
        if (s.pic.type != kPictureB) {
            s.anchors = 0;
            s.holding = false;
        }
        info.outcome = Mpeg4Outcome::Unsupported;
        return kMpeg4NoPicture;
    }
    info.width = std::min<int>(vol.width, int(params.destinationWidth));
    info.height = vol.height;
    const bool isB = s.pic.type == kPictureB;
    if (isB) s.lowDelayMode = false;
    if (!s.pic.coded) {
        // A not-coded picture (XviD writes them as placeholders beside B pictures): nothing
        // changes and nothing is shown; the last picture stays where it was written.
        info.outcome = Mpeg4Outcome::NotCoded;
        return kMpeg4Ok;
    }
    if (isB && (s.anchors < 2 || s.ppTime <= s.pbTime || s.pbTime <= 0)) {
        info.outcome = Mpeg4Outcome::SkippedB;
        return kMpeg4Ok;
    }
    if (s.pic.type == kPictureP && s.anchors == 0) {
        // An inter picture before any intra picture has no reference.
        info.outcome = Mpeg4Outcome::Damaged;
        return kMpeg4NoPicture;
    }

    s.brokeOff = false;
    decodePictureData();
    info.dataBrokeOff = s.brokeOff;

    if (isB) {
        showPicture(bFrame(), params.destination, params.destinationWidth);
        info.outcome = Mpeg4Outcome::Shown;
    } else {
        const int current = 1 - s.newest;
        const Frame f = anchorFrame(current);
        const int w = s.storeWidth, h = s.storeHeight;
        extendBorders(f.y, f.lumaStride, w, h, kLumaBorder);
        extendBorders(f.cb, f.chromaStride, w / 2, h / 2, kChromaBorder);
        extendBorders(f.cr, f.chromaStride, w / 2, h / 2, kChromaBorder);
        if (s.lowDelayMode) {
            showPicture(f, params.destination, params.destinationWidth);
            info.outcome = Mpeg4Outcome::Shown;
        } else if (s.holding) {
            showPicture(anchorFrame(s.newest), params.destination, params.destinationWidth);
            info.outcome = Mpeg4Outcome::Shown;
        } else {
            info.outcome = Mpeg4Outcome::HeldBack;
        }
        s.holding = !s.lowDelayMode;
        s.newest = current;
        if (s.anchors < 2) ++s.anchors;
    }
    ++s.pictureCount;
    return kMpeg4Ok;
}

}  // namespace kx
