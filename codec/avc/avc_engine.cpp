// AvcEngine: bitstream set-up, header, macroblock layer, picture stores and their rotation.
#include "codec/avc/avc_engine.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "codec/avc/avc_residual.h"
#include "codec/avc/avc_tables.h"
#include "codec/native/h263_tables.h"

namespace kx {
namespace {

using avc::MbType;

constexpr uint32_t kStartCode = 16;
constexpr int kStartCodeBits = 21;
constexpr size_t kStartCodeSearchBits = 160;
constexpr uint8_t kRasterScan[4] = {0, 1, 2, 3};

}  // namespace

AvcEngine::AvcEngine() : m_buffer(kBufferBytes + BitReader::kPadding, 0) {}

int AvcEngine::initBitStream(const uint8_t* data, size_t length) {
    if (data == nullptr || length < 4 || length >= kBufferBytes) return kAvcFailed;
    const uint32_t first = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                           uint32_t(data[3]) << 24;
    size_t bytes = length;
    if (first >= 0x8000 && first <= 0xFFFF) {
        // Stored as little-endian 32-bit words: each word is read from its high byte down; a
        // last partial word has its bytes at the low end.
        bytes = (length + 3) & ~size_t(3);
        for (size_t i = 0; i < bytes; i += 4)
            for (size_t j = 0; j < 4; ++j)
                m_buffer[i + j] = i + 3 - j < length ? data[i + 3 - j] : 0;
    } else {
        std::memcpy(m_buffer.data(), data, length);
    }
    std::memset(m_buffer.data() + bytes, 0, BitReader::kPadding);
    // Reads are bounded by the data, not by the buffer.
    m_bits.reset(m_buffer.data(), bytes);
    for (size_t position = 0; position < kStartCodeSearchBits; ++position) {
        if (position + kStartCodeBits > m_bits.endBit()) return kAvcOverrun;
        m_bits.seek(position);
        if (m_bits.peek(kStartCodeBits) == kStartCode) {
            m_bits.skip(kStartCodeBits);
            return kAvcOk;
        }
    }
    return kAvcFailed;
}

int AvcEngine::decodeHeader() {
    m_version = int(m_bits.get(4));
    if (m_version < 3) {
        std::fprintf(m_diagnostics, "Bitstream version error: %d\n", m_version);
        return kAvcBadVersion;
    }
    m_pictureType = int(m_bits.get(2));
    switch (m_pictureType) {
        case 0:
            m_width = int(m_bits.get(10));
            m_height = int(m_bits.get(10));
            m_quantiser = int(m_bits.get(8));
            break;
        case 1:
            m_quantiser = int(m_bits.get(8));
            break;
        case 2:
            m_quantiser = int(m_bits.get(8));
            m_bParameter = int(m_bits.get(2));
            break;
        default:
            return kAvcInvalid;
    }
    m_bits.seek((m_bits.position() + 15) & ~size_t(15));
    // A header cut short reads zeros; the data's end is checked before each macroblock, so a
    // zero quantiser or size is refused here as such.
    if (m_quantiser < 10 || m_quantiser > 59) return kAvcInvalid;
    return kAvcOk;
}

int AvcEngine::readCodedBlockPattern(const uint8_t* table) {
    // Exp-Golomb of 1 to 11 bits; a longer code or a number past the table is no pattern.
    const uint32_t ahead = m_bits.peek(32);
    const int zeros = ahead == 0 ? 32 : std::countl_zero(ahead);
    if (zeros > 5) return -1;
    const uint32_t codeNumber = m_bits.get(2 * zeros + 1) - 1;
    if (codeNumber >= 48) return -1;
    return table[codeNumber];
}

int AvcEngine::readResidual(int column, int row) {
    avc::AvcMacroblock& mb = m_mb;
    uint8_t* counts = m_reconstruction.counts(column, row);
    std::memset(counts, 0, 24);
    for (int k = 0; k < 16; ++k) {
        if (!(mb.cbp & (1 << (k >> 2)))) continue;
        const int x = avc::kBlockX[k] >> 2, y = avc::kBlockY[k] >> 2;
        const int n = avc::readCavlcBlock(m_bits, m_reconstruction.lumaNc(column, row, x, y),
                                          mb.luma[k], avc::kZigzag4x4, 0, 16);
        if (n < 0) return kAvcInvalid;
        mb.lumaCount[k] = uint8_t(n);
        counts[y * 4 + x] = uint8_t(n);
    }
    const int chroma = mb.cbp >> 4;
    if (chroma >= 1)
        for (int plane = 0; plane < 2; ++plane) {
            const int n = avc::readCavlcBlock(m_bits, -1, mb.chromaDc[plane], kRasterScan, 0, 4);
            if (n < 0) return kAvcInvalid;
            mb.chromaDcCount[plane] = uint8_t(n);
        }
    if (chroma >= 2)
        for (int plane = 0; plane < 2; ++plane)
            for (int b = 0; b < 4; ++b) {
                const int n = avc::readCavlcBlock(
                    m_bits, m_reconstruction.chromaNc(column, row, plane, b & 1, b >> 1),
                    mb.chromaAc[plane][b], avc::kZigzag4x4, 1, 15);
                if (n < 0) return kAvcInvalid;
                mb.chromaAcCount[plane][b] = uint8_t(n);
                counts[16 + plane * 4 + b] = uint8_t(n);
            }
    return kAvcOk;
}

int AvcEngine::readIntra(int column, int row) {
    avc::AvcMacroblock& mb = m_mb;
    mb.type = MbType::Intra;
    // Four groups of 13 bits, each four base-9 digits, the first block's mode the highest.
    for (int group = 0; group < 4; ++group) {
        uint32_t value = m_bits.get(13);
        for (int i = 3; i >= 0; --i) {
            mb.lumaModes[group * 4 + i] = uint8_t(value % 9);
            value /= 9;
        }
        if (value != 0) return kAvcInvalid;  // above 6560: a digit past 8
    }
    mb.chromaMode = uint8_t(m_bits.get(2));
    const int cbp = readCodedBlockPattern(avc::kIntraCbp);
    if (cbp < 0) return kAvcInvalid;
    mb.cbp = uint8_t(cbp);
    return readResidual(column, row);
}

bool AvcEngine::readVector(int& value) {
    const VlcEntry<int8_t> entry = h263::lookupMvd(m_bits.peek(13));
    if (entry.length == 0) return false;
    m_bits.skip(entry.length);
    // The decoded value is the index of the H.263 code (0 to 63, index 32 the difference 0);
    // minus 32 it is the vector in half samples, -32..31, which the wrap into -32..31 leaves
    // as it is. The shared table holds that difference directly.
    value = entry.symbol;
    return true;
}

int AvcEngine::readInter(int column, int row, int slot) {
    avc::AvcMacroblock& mb = m_mb;
    mb.type = MbType::Inter;
    mb.refSlot = uint8_t(slot);
    if (!readVector(mb.mvx) || !readVector(mb.mvy)) return kAvcInvalid;
    const int cbp = readCodedBlockPattern(avc::kInterCbp);
    if (cbp < 0) return kAvcInvalid;
    mb.cbp = uint8_t(cbp);
    return readResidual(column, row);
}

int AvcEngine::decodePicture() {
    avc::AvcReconstruction& r = m_reconstruction;
    const bool intraPicture = m_pictureType == 0;
    const bool oldB = m_pictureType == 2 && m_version < 4;
    for (int row = 0; row < r.mbRows(); ++row) {
        for (int column = 0; column < r.mbColumns(); ++column) {
            if (m_bits.overrun()) return kAvcOverrun;
            m_mb.cbp = 0;
            std::memset(m_mb.lumaCount, 0, sizeof m_mb.lumaCount);
            std::memset(m_mb.chromaAcCount, 0, sizeof m_mb.chromaAcCount);
            int result = kAvcOk;
            if (intraPicture) {
                if (const uint32_t type = m_bits.get(1); type != 0) {
                    std::fprintf(m_diagnostics, "avcDecodeIFrame error: invalid mb type(%d)\n",
                                 int(type));
                    return kAvcInvalid;
                }
                result = readIntra(column, row);
            } else if (oldB) {
                switch (m_bits.get(2)) {
                    case 0:
                        result = readIntra(column, row);
                        break;
                    case 1:
                        result = readInter(column, row, 0);
                        break;
                    case 2:
                        result = readInter(column, row, 1);
                        break;
                    default:
                        m_mb.type = MbType::Direct;
                        std::memset(r.counts(column, row), 0, 24);
                }
            } else if (m_bits.get(1)) {
                result = readInter(column, row, 0);
            } else if (m_version >= 4 && m_bits.get(1)) {
                m_mb.type = MbType::Skip;
                std::memset(r.counts(column, row), 0, 24);
            } else {
                result = readIntra(column, row);
            }
            if (result != kAvcOk) {
                m_mb = avc::AvcMacroblock{};
                // Zeros read past the end make no code: the data ran out.
                return m_bits.overrun() ? kAvcOverrun : result;
            }
            r.reconstruct(column, row, m_mb);
        }
    }
    // The data's end is checked before each macroblock only: a last macroblock whose final
    // codes lie in the zeros after the data is decoded.
    return kAvcOk;
}

int AvcEngine::freePicture() const {
    for (int i = 0; i < int(m_pictures.size()); ++i)
        if (i != m_display && i != m_next && i != m_current) return i;
    return -1;  // cannot happen: at most three of the four are held
}

void AvcEngine::forgetPictures() {
    m_havePictures = false;
    m_lastDecoded = nullptr;
    m_display = m_next = m_current = -1;
    m_reconstruction.forgetReferences();
}

int AvcEngine::decodeRepeat(uint16_t kind, uint32_t time) {
    if (!m_havePictures || m_current < 0) return kAvcFailed;
    // The references move as named, even where two of them name one store: the old display
    // picture becomes the spare and the display moves on to the next reference. After one
    // repeat the display and the next reference are the same store, so a second repeat writes
    // into the picture on display (the same samples) and gives it a new time. Before anything
    // has been displayed there is no old display picture; a free store serves as the spare.
    const int spare = m_display >= 0 ? m_display : freePicture();
    m_display = m_next;
    Picture& current = m_pictures[size_t(m_current)];
    Picture& copy = m_pictures[size_t(spare)];
    if (&copy != &current)
        std::memcpy(copy.samples.data(), current.samples.data(), current.samples.size());
    if (kind == kAvcRepeatKeepKind && m_version < 4) {
        // The older versions' kind 5: the copy, with the current picture's time, becomes the
        // next reference; the current picture takes the frame's time.
        m_next = spare;
        copy.time = current.time;
        current.time = time;
    } else {
        m_next = m_current;
        m_current = spare;
        copy.time = time;
    }
    return kAvcOk;
}

int AvcEngine::Decode(const uint8_t* data, size_t length, uint16_t kind, uint32_t time,
                      bool deblock) {
    if (kind == kAvcRepeatKind || kind == kAvcRepeatKeepKind) return decodeRepeat(kind, time);
    m_deblock = deblock;
    m_time = time;
    // A frame with picture data that fails anywhere (bitstream, header, size or macroblocks)
    // is a failed picture: every picture is forgotten until the next I picture.
    const auto fail = [this](int result) {
        forgetPictures();
        return result;
    };
    if (const int result = initBitStream(data, length); result != kAvcOk) {
        std::fprintf(m_diagnostics, "avcInitBitStream error = %d\n", result);
        return fail(result);
    }
    if (const int result = decodeHeader(); result != kAvcOk) {
        std::fprintf(m_diagnostics, "avcDecodeHeader error = %d\n", result);
        return fail(result);
    }
    avc::AvcReconstruction& r = m_reconstruction;
    std::fprintf(m_diagnostics,
                 "version = %d, frametype = %d, pixels = %d, lines = %d, quant = %d\n", m_version,
                 m_pictureType, m_pictureType == 0 ? m_width : r.width(),
                 m_pictureType == 0 ? m_height : r.height(), m_quantiser);
    if (m_pictureType == 0) {
        const bool sizeChanged = m_width != r.width() || m_height != r.height();
        if (m_width > m_maxWidth || m_height > m_maxHeight || !r.resize(m_width, m_height)) {
            std::fprintf(m_diagnostics, "avcCreateRes error: %d\n", int(kAvcInvalid));
            return fail(kAvcInvalid);
        }
        if (sizeChanged || !m_havePictures) {
            for (Picture& picture : m_pictures) {
                picture.samples.assign(r.pictureBytes(), 0);
                picture.time = 0;
            }
            m_display = m_next = m_current = -1;
            m_havePictures = true;
        }
    } else if (!m_havePictures || !r.hasReference()) {
        // An inter picture needs the pictures an I picture made; its memory is not touched.
        return kAvcFailed;
    }
    const int target = freePicture();
    r.beginPicture(m_quantiser, m_bParameter, deblock);
    r.setTarget(m_pictures[size_t(target)].samples.data());
    if (const int result = decodePicture(); result != kAvcOk) return fail(result);
    m_pictures[size_t(target)].time = time;
    m_lastDecoded = m_pictures[size_t(target)].samples.data();
    if (m_pictureType == 2) {
        // B pictures are shown at once and are no reference.
        m_display = target;
    } else {
        r.storeReference();
        m_display = m_current;
        m_next = m_current = target;
    }
    return kAvcOk;
}

int AvcEngine::GetPicture(const uint8_t** picture) const {
    if (picture == nullptr) return kAvcNullArgument;
    if (!m_havePictures || m_display < 0 || m_pictures[size_t(m_display)].time == 0)
        return kAvcFailed;
    *picture = m_pictures[size_t(m_display)].samples.data();
    return kAvcOk;
}

int AvcEngine::GetSize(int* width, int* height) const {
    if (width == nullptr || height == nullptr) return kAvcNullArgument;
    if (!m_havePictures) return kAvcFailed;
    *width = m_reconstruction.width();
    *height = m_reconstruction.height();
    return kAvcOk;
}

int AvcEngine::GetStatus(uint32_t* status) const {
    // This operation answers only 0, 105 or -1: a missing status word is -1.
    if (status == nullptr) return kAvcFailed;
    if (!m_havePictures || m_display < 0 || m_next < 0) return kAvcFailed;
    const int64_t difference =
        int64_t(m_pictures[size_t(m_next)].time) - int64_t(m_pictures[size_t(m_display)].time);
    *status = difference < 0 ? 0 : uint32_t(difference);
    return kAvcOk;
}

int avcDecode(AvcEngine* engine, const uint8_t* data, size_t length, uint16_t kind, uint32_t time,
              bool deblock) {
    return engine ? engine->Decode(data, length, kind, time, deblock) : kAvcNoEngine;
}
int avcGetPicture(const AvcEngine* engine, const uint8_t** picture) {
    return engine ? engine->GetPicture(picture) : kAvcNoEngine;
}
int avcGetSize(const AvcEngine* engine, int* width, int* height) {
    return engine ? engine->GetSize(width, height) : kAvcNoEngine;
}
int avcGetStatus(const AvcEngine* engine, uint32_t* status) {
    return engine ? engine->GetStatus(status) : kAvcNoEngine;
}

}  // namespace kx
