// NativeDecoder: picture syntax (start code, intra and inter headers, the macroblock loops) and
// macroblock syntax (CBPY, coefficients, dequantisation, reconstruction) of codec 0.
#include "codec/native/native_decoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "codec/colour/colour_convert.h"
#include "codec/native/deblock.h"
#include "codec/native/h263_tables.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

constexpr uint32_t kStartCode = 16;  // sixteen 0 bits, a 1, four 0 bits
constexpr int kStartCodeBits = 21;
constexpr int kDcEndsMacroblock = 128;
constexpr int kDcStandsFor128 = 255;
constexpr size_t kInitialInputBytes = size_t(256) << 10;

}  // namespace

const char* describe(DecodeFailure failure) {
    switch (failure) {
        case DecodeFailure::None: return "no failure";
        case DecodeFailure::NoStartCode: return "no picture start code in the frame";
        case DecodeFailure::NoReference: return "inter picture without a previous intra picture";
        case DecodeFailure::BadSize: return "picture size out of range";
        case DecodeFailure::ZeroQuantiser: return "quantiser 0";
        case DecodeFailure::TruncatedHeader: return "the frame ends inside the picture header";
    }
    return "unknown failure";
}

NativeDecoder::NativeDecoder() { setQuantiser(8); }

bool NativeDecoder::decode(const CRecordFrame& frame) {
    if (frame.VideoBuffer() == nullptr) return fail(DecodeFailure::NoStartCode);
    return decodeBytes(frame.VideoBuffer(), frame.VideoLength(), frame.Flags());
}

bool NativeDecoder::decodeBytes(const uint8_t* data, size_t size, uint16_t frameFlags) {
    m_failure = DecodeFailure::None;
    m_damaged = false;
    selectTransform(frameFlags);
    // The input buffer grows by doubling from a size most pictures fit, so steady playback
    // does not allocate when a larger key picture comes along.
    if (m_input.size() < size + BitReader::kPadding)
        m_input.resize(std::max({size + BitReader::kPadding, 2 * m_input.size(), kInitialInputBytes}));
    if (size > 0) std::memcpy(m_input.data(), data, size);
    std::memset(m_input.data() + size, 0, BitReader::kPadding);
    PictureType type;
    if (!findPicture(m_input.data(), size, type)) return false;
    return type == PictureType::Intra ? decodeIntraPicture() : decodeInterPicture();
}

bool NativeDecoder::convert(uint8_t* destination) {
    if (destination == nullptr || m_output.empty()) return false;
    MacroblockToPlanarRgb(destination, m_output.mbColumns() * 16, m_output.mbRows() * 16, m_output);
    return true;
}

bool NativeDecoder::decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) {
    if (!decode(frame)) return false;
    MacroblockToPlanarRgb(picture.pixels(), picture.width(), picture.height(), m_output);
    return true;
}

bool NativeDecoder::findPicture(const uint8_t* data, size_t size, PictureType& type) {
    m_bits.reset(data, size);
    // Bit by bit in effect, but leading-zero counts skip every position that cannot start a
    // code: a start code needs exactly sixteen 0 bits before its 1.
    const size_t end = m_bits.endBit();
    size_t position = 0;
    for (;;) {
        if (position >= end) return fail(DecodeFailure::NoStartCode);
        m_bits.seek(position);
        const uint32_t word = m_bits.peek(32);
        if ((word >> (32 - kStartCodeBits)) == kStartCode) break;
        const int zeros = std::countl_zero(word);
        if (zeros < 16)
            position += size_t(zeros) + 1;
        else if (zeros == 32)
            position += 16;
        else if (zeros == 16)
            position += 17;
        else
            position += size_t(zeros) - 16;
    }
    m_bits.skip(kStartCodeBits);
    type = m_bits.get(2) < 2 ? PictureType::Intra : PictureType::Inter;
    return true;
}

void NativeDecoder::setQuantiser(int quantiser) {
    m_dequant[0] = 0;
    for (int level = 1; level < int(m_dequant.size()); ++level)
        m_dequant[level] = int16_t(std::min((2 * level + 1) * quantiser - 1, 32767));
}

bool NativeDecoder::readIntraPicture() {
    const uint32_t width = m_bits.get(10);
    const uint32_t height = m_bits.get(10);
    const int quantiser = int(m_bits.get(8));
    m_bits.skip(1);
    m_bits.alignToEvenByte();
    m_bits.skip(16);
    if (m_bits.overrun()) return fail(DecodeFailure::TruncatedHeader);
    const uint32_t columns = MacroblockPicture::macroblocksOf(width);
    const uint32_t rows = MacroblockPicture::macroblocksOf(height);
    if (columns == 0 || rows == 0 || columns * rows > m_macroblockLimit) return fail(DecodeFailure::BadSize);
    if (quantiser == 0) return fail(DecodeFailure::ZeroQuantiser);

    m_current.resize(columns, rows);
    m_coded.assign(m_current.macroblockCount(), 1);
    m_intraQuantiser = quantiser;
    setQuantiser(quantiser);
    // Data that ends early is decoded on as the bit reader gives it (zeros), so the macroblocks
    // it lacks show as such instead of keeping the previous picture; the picture is damaged.
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < columns; ++c) readIntraMacroblock(r * columns + c);
    m_damaged = m_bits.overrun();
    return true;
}

bool NativeDecoder::readInterHeader(bool& unchanged) {
    unchanged = m_bits.get(1) == 0;
    if (m_bits.overrun()) return fail(DecodeFailure::TruncatedHeader);
    if (unchanged) return true;
    const int quantiser = int(m_bits.get(8));
    m_bits.alignToEvenByte();
    m_bits.skip(16);
    if (m_bits.overrun()) return fail(DecodeFailure::TruncatedHeader);
    if (quantiser == 0) return fail(DecodeFailure::ZeroQuantiser);
    m_coded.assign(m_current.macroblockCount(), 0);
    m_interQuantiser = quantiser;
    setQuantiser(quantiser);
    return true;
}

bool NativeDecoder::decodeIntraPicture() {
    if (!readIntraPicture()) return false;
    finishPicture(m_intraQuantiser);
    return true;
}

bool NativeDecoder::decodeInterPicture() {
    if (m_current.empty()) return fail(DecodeFailure::NoReference);
    bool unchanged = false;
    if (!readInterHeader(unchanged)) return false;
    if (unchanged) return true;
    const uint32_t columns = m_current.mbColumns();
    for (uint32_t r = 0; r < m_current.mbRows(); ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t index = r * columns + c;
            if (m_bits.get(1)) continue;  // not coded: the previous samples stay
            if (m_bits.get(1) == 0)
                readIntraMacroblock(index);
            else
                readInterMacroblock(m_current.macroblock(index), index);
            m_coded[index] = 1;
        }
    }
    m_damaged = m_bits.overrun();
    finishPicture(m_interQuantiser, m_coded.data());
    return true;
}

void NativeDecoder::finishPicture(int quantiser, const uint8_t* written) {
    constexpr size_t kBytes = MacroblockPicture::kMacroblockSamples * sizeof(int16_t);
    const uint32_t columns = m_current.mbColumns();
    const uint32_t rows = m_current.mbRows();
    const uint32_t count = m_current.macroblockCount();
    const bool sameStore =
        m_output.mbColumns() == columns && m_output.mbRows() == rows && m_touched.size() == count;
    m_output.resize(columns, rows);
    if (written == nullptr || !sameStore) {
        std::memcpy(m_output.samples(), m_current.samples(), size_t(count) * kBytes);
    } else {
        // The output holds the current picture except where this picture wrote and where the
        // last deblocking changed it: only those macroblocks are copied.
        for (uint32_t i = 0; i < count; ++i)
            if (written[i] | m_touched[i])
                std::memcpy(m_output.macroblock(i), m_current.macroblock(i), kBytes);
    }
    // The macroblocks deblocking may change: those with an edge beside a coded macroblock.
    m_touched.resize(count);
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t i = r * columns + c;
            m_touched[i] = m_coded[i] | (r > 0 ? m_coded[i - columns] : 0) |
                           (r + 1 < rows ? m_coded[i + columns] : 0) | (c > 0 ? m_coded[i - 1] : 0) |
                           (c + 1 < columns ? m_coded[i + 1] : 0);
        }
    }
    deblockPicture(m_output, m_coded.data(), quantiser);
}

unsigned NativeDecoder::readCbpy() {
    const uint32_t bits = m_bits.peek(6);
    if (bits < 2 || bits >= 48) {  // 11 (inter pattern 0), or no code
        m_bits.skip(2);
        return 0;
    }
    const auto& entry = h263::kCbpyTable[bits];
    m_bits.skip(entry.length);
    return 15u - entry.symbol;
}

void NativeDecoder::readIntraMacroblock(uint32_t index) {
    const unsigned cbpy = readCbpy();
    const unsigned cbpc = m_bits.get(2);
    int16_t* mb = m_current.macroblock(index);
    decodeMacroblock(mb, mb, (cbpc & 3) | ((15 - cbpy) << 2), MacroblockMode::Intra);
}

void NativeDecoder::readInterMacroblock(const int16_t* reference, uint32_t index) {
    const unsigned cbpy = readCbpy();
    const unsigned cbpc = m_bits.get(2);
    decodeMacroblock(reference, m_current.macroblock(index), (cbpc & 3) | (cbpy << 2), MacroblockMode::Inter);
}

void NativeDecoder::readCoefficients(int16_t* block, int start) {
    int position = start - 1;
    for (;;) {
        // The code and the sign bit after it in one look (no code is longer than 12 bits); bits
        // past the end read as 0, as the sign read on its own would.
        const uint32_t bits = m_bits.peek(13);
        const VlcEntry<h263::Tcoef> entry = h263::lookupTcoef(bits >> 1);
        if (entry.length == 0) return;  // no such code: the block ends
        int last, run, level;
        if (entry.symbol.level == 0) {  // escape
            m_bits.skip(entry.length);
            last = int(m_bits.get(1));
            run = int(m_bits.get(6));
            level = int8_t(uint8_t(m_bits.get(8)));
        } else {
            last = entry.symbol.last;
            run = entry.symbol.run;
            const bool negative = ((bits >> (12 - entry.length)) & 1) != 0;
            m_bits.skip(size_t(entry.length) + 1);
            level = negative ? -entry.symbol.level : entry.symbol.level;
        }
        position += 1 + run;
        if (position >= 64) return;
        const int16_t magnitude = m_dequant[std::abs(level)];
        block[h263::kZigzag[position]] = level < 0 ? int16_t(-magnitude) : magnitude;
        if (last) return;
    }
}

uint32_t NativeDecoder::decodeMacroblock(const int16_t* reference, int16_t* output, unsigned pattern,
                                         MacroblockMode mode) {
    constexpr size_t kBlock = MacroblockPicture::kBlockSamples;
    constexpr size_t kSamples = MacroblockPicture::kMacroblockSamples;
    const size_t startBit = m_bits.position();
    if (mode == MacroblockMode::Intra) {
        for (int b = 0; b < 6; ++b) {
            int16_t* block = output + b * kBlock;
            std::memset(block, 0, kBlock * sizeof(int16_t));
            int dc = int(m_bits.get(8));
            // A DC of 128 ends the macroblock: this block stays zero, the later blocks keep
            // their samples and nothing is clamped.
            if (dc == kDcEndsMacroblock) return uint32_t(m_bits.position() - startBit);
            if (dc == kDcStandsFor128) dc = 128;
            if (pattern & (32u >> b)) readCoefficients(block, 1);
            block[0] = int16_t(dc * 8);
            inverseDct(block, m_idct);
        }
        for (size_t i = 0; i < kSamples; ++i) output[i] = std::clamp<int16_t>(output[i], 0, 255);
    } else {
        // Block by block: a block without coefficients has no residual, so it is the clamped
        // reference (the reference may hold unclamped samples after a macroblock cut short).
        for (int b = 0; b < 6; ++b) {
            const int16_t* from = reference + b * kBlock;
            int16_t* to = output + b * kBlock;
            if (!(pattern & (32u >> b))) {
                for (size_t i = 0; i < kBlock; ++i) to[i] = std::clamp<int16_t>(from[i], 0, 255);
                continue;
            }
            int16_t* residual = m_scratch.data();
            std::memset(residual, 0, kBlock * sizeof(int16_t));
            readCoefficients(residual, 0);
            inverseDct(residual, m_idct);
            for (size_t i = 0; i < kBlock; ++i)
                to[i] = int16_t(std::clamp(int(from[i]) + int(residual[i]), 0, 255));
        }
    }
    return uint32_t(m_bits.position() - startBit);
}

}  // namespace kx
