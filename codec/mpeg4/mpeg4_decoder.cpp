// Mpeg4VideoDecoder: engine creation on the first frame and the decode calls.
#include "codec/mpeg4/mpeg4_decoder.h"

#include <new>

#include "recording/record_frame.h"

namespace kx {

Mpeg4VideoDecoder::Mpeg4VideoDecoder() = default;
Mpeg4VideoDecoder::~Mpeg4VideoDecoder() = default;

void Mpeg4VideoDecoder::releaseEngine() {
    m_engine.reset();
    for (auto& block : m_blocks) std::vector<uint8_t>().swap(block);
}

bool Mpeg4VideoDecoder::createEngine(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > m_maxWidth || height > m_maxHeight) return false;
    m_engine.reset(new (std::nothrow) Mpeg4VideoEngine());
    if (!m_engine) return false;
    Mpeg4Size size{int32_t(width), int32_t(height)};
    Mpeg4BlockSizes sizes;
    if (m_engine->control(1, kMpeg4QuerySizes, &size, &sizes) != kMpeg4Ok) {
        releaseEngine();
        return false;
    }
    Mpeg4InitParams init;
    init.width = int32_t(width);
    init.height = int32_t(height);
    try {
        for (int i = 0; i < kMpeg4BlockCount; ++i) {
            // Blocks 3 and 4 start cleared; the engine fills the others itself.
            m_blocks[i].assign(sizes.bytes[i], 0);
            init.blocks[i] = m_blocks[i].data();
        }
    } catch (const std::bad_alloc&) {
        releaseEngine();
        return false;
    }
    Mpeg4PostParams post{0};
    if (m_engine->control(1, kMpeg4Initialise, &init, nullptr) != kMpeg4Ok ||
        m_engine->control(1, kMpeg4PostProcessing, &post, nullptr) != kMpeg4Ok) {
        releaseEngine();
        return false;
    }
    m_width = width;
    m_height = height;
    return true;
}

bool Mpeg4VideoDecoder::decode(const CRecordFrame& frame, uint8_t* destination, uint32_t destinationWidth,
                               uint32_t width, uint32_t height) {
    m_info = {};
    m_shown = false;
    m_skippedFirst = false;
    m_result = kMpeg4NoPicture;
    if (!m_engine) {
        // Tried again with every frame until it succeeds.
        if (!createEngine(width, height)) return false;
        if (m_firstFrame && frame.Kind() != 0) {
            m_firstFrame = false;
            m_skippedFirst = true;
            return false;
        }
    }
    m_firstFrame = false;
    if (destination == nullptr || destinationWidth == 0) return false;
    Mpeg4DecodeParams params;
    params.destination = destination;
    params.data = frame.VideoBuffer();
    params.length = frame.VideoLength();
    params.destinationWidth = destinationWidth;
    m_result = m_engine->control(1, kMpeg4Decode, &params, &m_info);
    m_shown = m_result == kMpeg4Ok && m_info.outcome == Mpeg4Outcome::Shown;
    return m_shown;
}

bool Mpeg4VideoDecoder::decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) {
    if (m_engine && (picture.width() > m_width || picture.height() > m_height)) return false;
    return decode(frame, picture.pixels(), picture.width(), picture.width(), picture.height());
}

bool Mpeg4VideoDecoder::decodeToBuffer(const CRecordFrame& frame, uint8_t* destination, uint32_t destinationWidth) {
    if (!m_engine) return false;  // the engine's size comes from an RgbPicture
    return decode(frame, destination, destinationWidth, m_width, m_height);
}

bool Mpeg4VideoDecoder::flushHeld(RgbPicture& picture) {
    return m_engine && picture.pixels() && m_engine->flushHeld(picture.pixels(), picture.width());
}

std::string Mpeg4VideoDecoder::failureText() const {
    if (!m_engine) return "the MPEG-4 engine could not be made for the picture size";
    switch (m_info.outcome) {
        case Mpeg4Outcome::NoPicture: return "no MPEG-4 picture in the frame";
        case Mpeg4Outcome::Unsupported:
            return "the MPEG-4 stream uses a tool the engine does not decode (global motion, interlace, shapes, "
                   "scalability, other sample depths)";
        case Mpeg4Outcome::Damaged:
            return "the MPEG-4 picture's headers are damaged, or an inter picture came before any intra picture";
        default: return "MPEG-4 engine result " + std::to_string(m_result);
    }
}

bool Mpeg4VideoDecoder::lastPictureHeldBack() const {
    return m_skippedFirst || (m_result == kMpeg4Ok && (m_info.outcome == Mpeg4Outcome::HeldBack ||
                                                        m_info.outcome == Mpeg4Outcome::SkippedB ||
                                                        m_info.outcome == Mpeg4Outcome::NotCoded));
}

}  // namespace kx
