// FrameDecoder: decoder choice, decoding with the whole / damaged / failed verdict, and the
// upright copy.
#include "codec/frame_decoder.h"

#include <cstring>

#include "codec/create_decoder.h"
#include "codec/picture_layout.h"
#include "recording/record_frame.h"
#include "recording/record_info.h"

namespace kx {
namespace {

constexpr int kAvcCodec = 4;

}  // namespace

FrameDecoder::FrameDecoder() = default;
FrameDecoder::~FrameDecoder() = default;

void FrameDecoder::reset() {
    m_decoder.reset();
    m_legacy.reset();
    m_failure.clear();
}

bool FrameDecoder::setup(int fileKind, uint32_t version, int codec, std::string& reason, uint32_t width,
                         uint32_t height) {
    reset();
    m_fileKind = fileKind;
    if (isLegacyKind(fileKind)) {
        // The older kinds go to the legacy decoder whatever codec their frames name.
        auto legacy = std::make_unique<LegacyDecoder>();
        if (!legacy->Setup(LegacyDecoder::VariantOfVersion(version))) {
            reason = "the legacy decoder cannot be set up";
            return false;
        }
        m_legacyOutput.resize(LegacyDecoder::kMaxOutputBytes);
        m_legacy = std::move(legacy);
        return true;
    }
    m_decoder = createDecoder(codec, width, height);
    if (!m_decoder) {
        reason = "codec " + std::to_string(codec) + " has no decoder";
        return false;
    }
    return true;
}

FrameDecode FrameDecoder::decode(const CRecordFrame& frame, RgbPicture& picture, Deblocking deblocking) {
    m_failure.clear();
    if (frame.Flags() & kFrameFlagNoPicture) return FrameDecode::Whole;
    if (m_decoder) {
        const bool decoded = frame.Codec() == kAvcCodec
                                 ? m_decoder->decodeInto(frame, picture, nullptr, deblocking)
                                 : m_decoder->decodeToRgb(frame, picture);
        if (!decoded) {
            if (m_decoder->lastPictureHeldBack()) return FrameDecode::NotYet;
            m_failure = m_decoder->failureText();
            return FrameDecode::Failed;
        }
        if (m_decoder->lastPictureDamaged()) {
            m_failure = "the picture's data ends early or breaks off";
            return FrameDecode::Damaged;
        }
        return FrameDecode::Whole;
    }
    if (!m_legacy) {
        m_failure = "no decoder";
        return FrameDecode::Failed;
    }
    m_legacy->Decode(m_legacyResult, frame.VideoBuffer(), frame.VideoLength(), m_legacyOutput.data(),
                     m_legacyOutput.size(), 0);
    const LegacyFailure failure = m_legacy->LastFailure();
    const bool partial = failure == LegacyFailure::BadMacroblock || failure == LegacyFailure::DataEndsEarly;
    if (m_legacyResult.error && !partial) {
        m_failure = describe(failure);
        return FrameDecode::Failed;
    }
    if (m_legacyResult.width == 0 || m_legacyResult.height == 0) {
        m_failure = "an inter picture before any intra picture";
        return FrameDecode::Failed;
    }
    // Written as far as it decoded (a picture that breaks off part way, or whose data ends
    // early, is damaged rather than missing), as the player shows it.
    picture.resize(m_legacyResult.width, m_legacyResult.height);
    std::memcpy(picture.pixels(), m_legacyOutput.data(), picture.byteCount());
    if (!m_legacyResult.error) return FrameDecode::Whole;
    m_failure = describe(failure);
    return FrameDecode::Damaged;
}

bool uprightBgr(const RgbPicture& picture, int fileKind, uint16_t frameFlags, uint8_t* bgr) {
    const PixelFormat format = pictureFormatOf(fileKind, frameFlags);
    if (format.layout == PictureLayout::None || picture.pixels() == nullptr) return false;
    const size_t row = size_t(picture.width()) * 3;
    for (uint32_t y = 0; y < picture.height(); ++y)
        if (!readUprightRow(picture, format, y, bgr + y * row)) return false;
    return true;
}

}  // namespace kx
