// DmoMpeg4Decoder: setting up the media object on the first frame, and per frame lock, input,
// output, unlock and the colour conversion.
#include "codec/mpeg4/dmo_mpeg4_decoder.h"

#include <cstring>

#include "codec/colour/colour_convert.h"
#include "recording/record_frame.h"

namespace kx {

DmoMpeg4Decoder::DmoMpeg4Decoder(MediaObjectFactory factory) : m_factory(std::move(factory)) {}

DmoMpeg4Decoder::~DmoMpeg4Decoder() { release(); }

void DmoMpeg4Decoder::release() {
    m_input = MediaBufferRef();
    m_output = MediaBufferRef();
    m_object.reset();
    m_initialised = false;
}

MediaType DmoMpeg4Decoder::inputType(uint32_t width, uint32_t height) {
    MediaType type;
    type.subtype = fourCcOf("M4S2");
    type.fixedSizeSamples = false;
    type.temporalCompression = true;
    type.sampleSize = 0;
    type.width = width;
    type.height = height;
    type.bitCount = 24;
    type.imageSize = width * height * 3;
    type.bitRate = kBitRate;
    type.decoderConfiguration.assign(kDecoderConfiguration.begin(), kDecoderConfiguration.end());
    return type;
}

MediaType DmoMpeg4Decoder::outputType(uint32_t width, uint32_t height) {
    MediaType type;
    type.subtype = fourCcOf("UYVY");
    type.fixedSizeSamples = true;
    type.temporalCompression = false;
    type.sampleSize = width * height * 2;
    type.width = width;
    type.height = height;
    type.bitCount = 16;
    type.imageSize = width * height * 3;
    type.bitRate = kBitRate;
    return type;
}

bool DmoMpeg4Decoder::create(uint32_t width, uint32_t height) {
    m_object = m_factory ? m_factory() : nullptr;
    if (!m_object || m_object->SetInputType(0, inputType(width, height)) != MediaResult::Ok ||
        m_object->SetOutputType(0, outputType(width, height)) != MediaResult::Ok) {
        release();
        return false;
    }
    m_input = MediaBufferRef(MediaBuffer::create(kInputBufferBytes));
    m_output = MediaBufferRef(MediaBuffer::create(size_t(width) * height * 3));
    m_picture.assign(size_t(width) * height * 2, 0);
    m_width = width;
    m_height = height;
    m_initialised = true;
    return true;
}

bool DmoMpeg4Decoder::decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) {
    const uint8_t* data = frame.VideoBuffer();
    const uint32_t length = frame.VideoLength();
    // The conversion works on pairs of pixels; a picture with no store has nowhere to go.
    if (!picture.pixels() || picture.width() < 2 || picture.height() == 0 || picture.width() % 2) return false;
    if (!m_initialised && !create(picture.width(), picture.height())) return false;
    // The object was set up for one size: a picture of another size would not hold its output.
    if (picture.width() != m_width || picture.height() != m_height) return false;
    // A frame longer than the input buffer is refused rather than cut: its end would be lost
    // and the picture decoded from part of it.
    if (!data || length == 0 || length > m_input->GetMaxLength() || length > frame.VideoCapacity()) return false;

    m_object->Lock(true);
    uint8_t* input = nullptr;
    m_input->GetBufferAndLength(&input, nullptr);
    std::memcpy(input, data, length);
    m_input->SetLength(length);
    m_object->ProcessInput(0, *m_input.get(), kMediaInputSyncPoint);
    MediaOutputRecord record{m_output.get(), 0};
    m_object->ProcessOutput(kMediaOutputDiscardWhenNoBuffer, record);
    uint8_t* output = nullptr;
    size_t produced = 0;
    m_output->GetBufferAndLength(&output, &produced);
    // Only a whole picture replaces the last one; no output keeps it.
    const bool picturePresent = produced == m_picture.size();
    if (picturePresent) std::memcpy(m_picture.data(), output, produced);
    m_output->SetLength(0);
    m_object->Lock(false);

    if (!picturePresent) return false;
    PackedYuv422ToBgr24(picture.pixels(), m_picture.data(), int(m_width), int(m_height));
    return true;
}

}  // namespace kx
