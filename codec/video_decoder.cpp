// Picture stores and the "no picture" behaviour of the decoder interface.
#include "codec/video_decoder.h"

namespace kx {

void RgbPicture::resize(uint32_t width, uint32_t height) {
    if (width == m_width && height == m_height && !m_pixels.empty()) return;
    m_width = width;
    m_height = height;
    m_pixels.assign(size_t(width) * height * 3, 0);
}

void MacroblockPicture::resize(uint32_t mbColumns, uint32_t mbRows) {
    if (mbColumns == m_mbColumns && mbRows == m_mbRows && !m_samples.empty()) return;
    m_mbColumns = mbColumns;
    m_mbRows = mbRows;
    m_samples.assign(size_t(mbColumns) * mbRows * kMacroblockSamples, 0);
}

bool VideoDecoder::decodeInto(const CRecordFrame&, RgbPicture&, uint32_t*, Deblocking) { return false; }
bool VideoDecoder::decode(const CRecordFrame&) { return false; }
bool VideoDecoder::convert(uint8_t*) { return false; }
bool VideoDecoder::decodeToRgb(const CRecordFrame&, RgbPicture&) { return false; }
bool VideoDecoder::decodeToBuffer(const CRecordFrame&, uint8_t*, uint32_t) { return false; }
uint32_t VideoDecoder::decodeMacroblock(const int16_t*, int16_t*, unsigned, MacroblockMode) { return 0; }

}  // namespace kx
