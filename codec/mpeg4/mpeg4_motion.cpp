// Mpeg4VideoEngine: motion-compensated prediction of a macroblock from a reference picture --
// one vector or four, half or quarter sample, the chroma vector derived from the luma ones,
// put or averaged into the picture (B pictures' interpolated and direct modes).
//
// Vectors may point far outside the picture (unrestricted motion). The reference stores have
// a border of repeated edge samples (32 luma, 16 chroma); a block of S samples reads S + 1 per
// direction, so moving its position into [-(S + 1), plane size] changes no sample it reads:
// beyond that every sample it would read is the same edge sample. No read leaves the store.
#include <algorithm>

#include "codec/mpeg4/mpeg4_engine.h"
#include "codec/mpeg4/mpeg4_state.h"
#include "codec/mpeg4/mpeg4_tables.h"

namespace kx {

using namespace mpeg4;

namespace {

struct Target {
    uint8_t* y;
    uint8_t* cb;
    uint8_t* cr;
    ptrdiff_t lumaStride, chromaStride;
};

// The block at (x, y) of a plane of width x height samples, `size` samples square, moved into
// the range where the reference's border stands for the infinite edge repetition.
const uint8_t* blockSource(const uint8_t* plane, ptrdiff_t stride, int x, int y, int size, int width, int height) {
    x = std::clamp(x, -(size + 1), width);
    y = std::clamp(y, -(size + 1), height);
    return plane + y * stride + x;
}

}  // namespace

void Mpeg4VideoEngine::predictMacroblock(const Frame& reference, int mbX, int mbY, const int (*mv)[2],
                                         bool fourVectors, bool average) {
    const DecoderState& s = *m_state;
    const bool quarter = s.vol.quarterSample;
    const int rounding = s.pic.type == kPictureP ? s.pic.rounding : 0;
    const int w = s.storeWidth, h = s.storeHeight, cw = w / 2, ch = h / 2;
    Target t;
    if (average) {
        t = {m_tables->averageY, m_tables->averageCb, m_tables->averageCr, 16, 8};
    } else {
        t.lumaStride = m_current.lumaStride;
        t.chromaStride = m_current.chromaStride;
        t.y = m_current.y + mbY * 16 * t.lumaStride + mbX * 16;
        t.cb = m_current.cb + mbY * 8 * t.chromaStride + mbX * 8;
        t.cr = m_current.cr + mbY * 8 * t.chromaStride + mbX * 8;
    }
    int chromaX, chromaY, chromaFx, chromaFy;
    if (!fourVectors) {
        const int mx = mv[0][0], my = mv[0][1];
        if (quarter) {
            const uint8_t* src = blockSource(reference.y, reference.lumaStride, mbX * 16 + (mx >> 2),
                                             mbY * 16 + (my >> 2), 16, w, h);
            predictQuarter(t.y, t.lumaStride, src, reference.lumaStride, 16, mx & 3, my & 3, rounding);
            int cx = mx / 2, cy = my / 2;
            cx = (cx >> 1) | (cx & 1);
            cy = (cy >> 1) | (cy & 1);
            chromaFx = cx & 1;
            chromaFy = cy & 1;
            chromaX = mbX * 8 + (cx >> 1);
            chromaY = mbY * 8 + (cy >> 1);
        } else {
            const int x = mbX * 16 + (mx >> 1), y = mbY * 16 + (my >> 1);
            const uint8_t* src = blockSource(reference.y, reference.lumaStride, x, y, 16, w, h);
            predictHalf(t.y, t.lumaStride, src, reference.lumaStride, 16, 16, mx & 1, my & 1, rounding);
            chromaX = x >> 1;
            chromaY = y >> 1;
            chromaFx = (mx & 3) != 0;
            chromaFy = (my & 3) != 0;
        }
    } else {
        // Each 8x8 block's position is held to [-16, width] first, as the reference decoder
        // does (dropping the fraction at the right and bottom limits).
        const int width = s.vol.width, height = s.vol.height;
        int sumX = 0, sumY = 0;
        for (int i = 0; i < 4; ++i) {
            const int mx = mv[i][0], my = mv[i][1];
            uint8_t* dst = t.y + (i >> 1) * 8 * t.lumaStride + (i & 1) * 8;
            const int bx = mbX * 16 + (i & 1) * 8, by = mbY * 16 + (i >> 1) * 8;
            if (quarter) {
                int x = std::clamp(bx + (mx >> 2), -16, width), y = std::clamp(by + (my >> 2), -16, height);
                const int qx = x == width ? 0 : mx & 3, qy = y == height ? 0 : my & 3;
                predictQuarter(dst, t.lumaStride, blockSource(reference.y, reference.lumaStride, x, y, 8, w, h),
                               reference.lumaStride, 8, qx, qy, rounding);
                sumX += mx / 2;
                sumY += my / 2;
            } else {
                int x = std::clamp(bx + (mx >> 1), -16, width), y = std::clamp(by + (my >> 1), -16, height);
                const int fx = x == width ? 0 : mx & 1, fy = y == height ? 0 : my & 1;
                predictHalf(dst, t.lumaStride, blockSource(reference.y, reference.lumaStride, x, y, 8, w, h),
                            reference.lumaStride, 8, 8, fx, fy, rounding);
                sumX += mx;
                sumY += my;
            }
        }
        const int cx = kChromaRound[sumX & 15] + ((sumX >> 3) & ~1), cy = kChromaRound[sumY & 15] + ((sumY >> 3) & ~1);
        chromaFx = cx & 1;
        chromaFy = cy & 1;
        chromaX = std::clamp(mbX * 8 + (cx >> 1), -8, width >> 1);
        chromaY = std::clamp(mbY * 8 + (cy >> 1), -8, height >> 1);
        if (chromaX == (width >> 1)) chromaFx = 0;
        if (chromaY == (height >> 1)) chromaFy = 0;
    }
    predictHalf(t.cb, t.chromaStride, blockSource(reference.cb, reference.chromaStride, chromaX, chromaY, 8, cw, ch),
                reference.chromaStride, 8, 8, chromaFx, chromaFy, rounding);
    predictHalf(t.cr, t.chromaStride, blockSource(reference.cr, reference.chromaStride, chromaX, chromaY, 8, cw, ch),
                reference.chromaStride, 8, 8, chromaFx, chromaFy, rounding);
    if (average) {
        const ptrdiff_t ls = m_current.lumaStride, cs = m_current.chromaStride;
        averageInto(m_current.y + mbY * 16 * ls + mbX * 16, ls, t.y, 16, 16, 16);
        averageInto(m_current.cb + mbY * 8 * cs + mbX * 8, cs, t.cb, 8, 8, 8);
        averageInto(m_current.cr + mbY * 8 * cs + mbX * 8, cs, t.cr, 8, 8, 8);
    }
}

}  // namespace kx
