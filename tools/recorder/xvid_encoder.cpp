// Mpeg4Encoder over XviD's encoder for codec 6: fixed quantiser, picture types as asked, closed
// groups, the layer header with the first picture.
#include <xvid.h>

#include <cmath>

#include "tools/recorder/mpeg4_encoder.h"

namespace kx {
namespace {

class XvidEncoder final : public Mpeg4Encoder {
public:
    explicit XvidEncoder(const Mpeg4EncoderSettings& settings) : m_settings(settings) {}
    ~XvidEncoder() override {
        if (m_handle) xvid_encore(m_handle, XVID_ENC_DESTROY, nullptr, nullptr);
    }

    bool open() {
        xvid_gbl_init_t init{};
        init.version = XVID_VERSION;
        xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
        xvid_enc_create_t create{};
        create.version = XVID_VERSION;
        create.width = m_settings.width;
        create.height = m_settings.height;
        create.num_threads = 1;
        create.max_bframes = m_settings.bFrames;
        create.bquant_ratio = 150;
        create.bquant_offset = 100;
        create.global = XVID_GLOBAL_CLOSED_GOP;
        create.fbase = kTimeResolution;
        create.fincr = int(std::lround(kTimeResolution / m_settings.fps));
        create.max_key_interval = 1 << 20;  // the recorder asks for every I picture
        if (xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr) < 0 || !create.handle) {
            m_error = "XviD's encoder refuses " + std::to_string(m_settings.width) + " x " +
                      std::to_string(m_settings.height);
            return false;
        }
        m_handle = create.handle;
        m_output.resize(size_t(m_settings.width) * size_t(m_settings.height) * 3 + 4096);
        return true;
    }

    bool send(const YuvImage& picture, Mpeg4PictureType type) override {
        xvid_enc_frame_t frame = frameSettings();
        frame.input.csp = XVID_CSP_PLANAR;
        frame.input.plane[0] = const_cast<uint8_t*>(picture.y.data());
        frame.input.plane[1] = const_cast<uint8_t*>(picture.cb.data());
        frame.input.plane[2] = const_cast<uint8_t*>(picture.cr.data());
        frame.input.stride[0] = picture.width;
        frame.input.stride[1] = picture.chromaWidth();
        frame.input.stride[2] = picture.chromaWidth();
        frame.type = type == Mpeg4PictureType::I   ? XVID_TYPE_IVOP
                     : type == Mpeg4PictureType::P ? XVID_TYPE_PVOP
                                                   : XVID_TYPE_BVOP;
        return encode(frame);
    }

    bool finish() override {
        // With no input the encoder gives the pictures it holds back, one per call, and then
        // reports the end.
        for (int held = 0; held <= m_settings.bFrames + 1; ++held) {
            xvid_enc_frame_t frame = frameSettings();
            frame.input.csp = XVID_CSP_NULL;
            xvid_enc_stats_t stats{};
            stats.version = XVID_VERSION;
            const int bytes = xvid_encore(m_handle, XVID_ENC_ENCODE, &frame, &stats);
            if (bytes <= 0) break;
            push(bytes);
        }
        return true;
    }

private:
    xvid_enc_frame_t frameSettings() {
        xvid_enc_frame_t frame{};
        frame.version = XVID_VERSION;
        frame.vol_flags = m_settings.quarterSample ? XVID_VOL_QUARTERPEL : 0;
        frame.vop_flags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
        frame.motion = XVID_ME_HALFPELREFINE16 | XVID_ME_HALFPELREFINE8 |
                       (m_settings.quarterSample ? XVID_ME_QUARTERPELREFINE16 | XVID_ME_QUARTERPELREFINE8 : 0);
        frame.quant = m_settings.quantiser;
        frame.bitstream = m_output.data();
        frame.length = int(m_output.size());
        return frame;
    }

    bool encode(xvid_enc_frame_t& frame) {
        xvid_enc_stats_t stats{};
        stats.version = XVID_VERSION;
        const int bytes = xvid_encore(m_handle, XVID_ENC_ENCODE, &frame, &stats);
        if (bytes < 0) {
            m_error = "XviD's encoder refuses a picture";
            return false;
        }
        if (bytes > 0) push(bytes);
        return true;
    }

    void push(int bytes) {
        Mpeg4Picture out;
        out.bytes.assign(m_output.begin(), m_output.begin() + bytes);
        out.type = typeOf(out.bytes);
        m_ready.push_back(std::move(out));
    }

    Mpeg4EncoderSettings m_settings;
    void* m_handle = nullptr;
    std::vector<uint8_t> m_output;
};

}  // namespace

std::unique_ptr<Mpeg4Encoder> createXvidEncoder(const Mpeg4EncoderSettings& settings, std::string& error) {
    auto encoder = std::make_unique<XvidEncoder>(settings);
    if (!encoder->open()) {
        error = encoder->error();
        return nullptr;
    }
    return encoder;
}

}  // namespace kx
