// XvidMpeg4Decoder: the library created on the first frame, the decode loop over layer headers
// and the picture, and the colour conversion of the picture that came out.
#include "codec/mpeg4/xvid_mpeg4_decoder.h"

#include <xvid.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "codec/colour/colour_convert.h"
#include "platform/mpeg4_layer_header.h"
#include "recording/record_frame.h"

namespace kx {
namespace {

// The library's bitstream reader fetches whole words beyond the last byte it uses.
constexpr size_t kBitstreamPadding = 64;
// Larger pictures are not decoded: a layer header could otherwise make the library allocate
// pictures of up to 8191 x 8191.
constexpr uint32_t kMaxSide = 4096;

}  // namespace

int XvidCore::global(int operation, void* param1, void* param2) {
    return xvid_global(nullptr, operation, param1, param2);
}

int XvidCore::decore(void* handle, int operation, void* param1, void* param2) {
    return xvid_decore(handle, operation, param1, param2);
}

XvidMpeg4Decoder::XvidMpeg4Decoder(uint32_t width, uint32_t height, std::unique_ptr<XvidCore> core)
    : m_width(width), m_height(height), m_core(core ? std::move(core) : std::make_unique<XvidCore>()),
      m_streamWidth(width), m_streamHeight(height) {}

XvidMpeg4Decoder::~XvidMpeg4Decoder() {
    if (m_initialised && m_handle) m_core->decore(m_handle, XVID_DEC_DESTROY, nullptr, nullptr);
}


bool XvidMpeg4Decoder::initialise() {
    xvid_gbl_init_t init{};
    init.version = kStructureVersion;
    init.cpu_flags = kForcedPlainCpu;
    init.debug = 0;
    m_core->global(XVID_GBL_INIT, &init, nullptr);
    xvid_dec_create_t create{};
    create.version = kStructureVersion;
    create.width = int(m_width);
    create.height = int(m_height);
    if (m_core->decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0 || !create.handle) return false;
    m_handle = create.handle;
    m_initialised = true;
    return true;
}

bool XvidMpeg4Decoder::decodeToRgb(const CRecordFrame& frame, RgbPicture& picture) {
    m_heldBack = false;
    m_decodeCalls = 0;
    const bool dropStale = std::exchange(m_dropStale, false);
    // The picture conversion works on pairs of pixels into a store of the recording's size.
    if (m_width < 2 || m_height == 0 || m_width % 2 || m_width > kMaxSide || m_height > kMaxSide) return false;
    if (!m_initialised && !initialise()) return false;
    if (!m_handle) return false;
    if (picture.width() != m_width || picture.height() != m_height || !picture.pixels()) return false;
    const uint32_t length = std::min<uint32_t>(frame.VideoLength(), uint32_t(frame.VideoCapacity()));
    if (!frame.VideoBuffer() || length == 0) return false;
    const std::span<const uint8_t> bytes(frame.VideoBuffer(), length);
    // A layer header naming a picture larger than the recording's (or none at all) is damage:
    // the frame is not given to the library.
    bool sizeFits = true;
    forEachLayerPictureSize(bytes, [&](const LayerPictureSize& size) {
        sizeFits = size.width > 0 && size.height > 0 && size.width <= m_width && size.height <= m_height;
        return sizeFits;
    });
    if (!sizeFits) return false;

    if (m_picture.empty()) m_picture.assign(size_t(m_width) * m_height * 2, 0);
    if (m_bitstream.size() < length + kBitstreamPadding) m_bitstream.resize(length + kBitstreamPadding);
    std::memcpy(m_bitstream.data(), bytes.data(), length);
    std::memset(m_bitstream.data() + length, 0, kBitstreamPadding);

    // Layer headers come back one call each (frame type -1); the loop goes on until a picture
    // came out, the data is used up (a single byte left is stuffing) or a call took nothing.
    uint8_t* at = m_bitstream.data();
    int remaining = int(length);
    int consumed = 0;
    int type = XVID_TYPE_NOTHING;
    bool produced = false;
    do {
        xvid_dec_frame_t decode{};
        decode.version = kStructureVersion;
        decode.general = 0;
        decode.bitstream = at;
        decode.length = remaining;
        // The library writes its picture at the size of its last layer header: only while that
        // fits the buffer does it get the buffer.
        const bool fits = m_streamWidth <= m_width && m_streamHeight <= m_height;
        decode.output.csp = fits ? XVID_CSP_UYVY : XVID_CSP_NULL;
        decode.output.plane[0] = fits ? m_picture.data() : nullptr;
        decode.output.stride[0] = int(m_width) * 2;
        xvid_dec_stats_t stats{};
        stats.version = kStructureVersion;
        consumed = m_core->decore(m_handle, XVID_DEC_DECODE, &decode, &stats);
        ++m_decodeCalls;
        type = stats.type;
        if (consumed > 0) {
            const int used = std::min(consumed, remaining);
            at += used;
            remaining -= used;
        }
        if (type == XVID_TYPE_VOL) {
            m_streamWidth = uint32_t(std::max(stats.data.vol.width, 0));
            m_streamHeight = uint32_t(std::max(stats.data.vol.height, 0));
        }
        if (type > 0 && fits) produced = true;
    } while (type < 1 && remaining > 1 && consumed > 0);

    if (!produced) {
        m_heldBack = consumed > 0 && type == XVID_TYPE_NOTHING;
        m_everHeldBack = m_everHeldBack || m_heldBack;
        return false;
    }
    if (dropStale) {
        // The picture held from before the jump; this frame's own picture is now held.
        m_heldBack = true;
        return false;
    }
    PackedYuv422ToBgr24(picture.pixels(), m_picture.data(), int(m_width), int(m_height));
    return true;
}

}  // namespace kx
