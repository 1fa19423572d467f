// Predictive motion search: candidates, a coarse grid when they all miss, a diamond descent,
// then half-sample refinement with the decoder's interpolation.
#include "tools/recorder/motion_search.h"

#include <algorithm>
#include <cstdlib>

#include "tools/recorder/native_encoder_tables.h"

namespace kx::native_encoding {
namespace {

// Integer vectors (whole samples) whose half-sample neighbours stay inside -32..31.
constexpr int kMinInteger = -16;
constexpr int kMaxInteger = 15;
// Below this SAD per macroblock (plus a share per quantiser step, the size of the coding
// noise of the reference) the zero vector is taken without searching: nothing moved.
constexpr int kStillSad = 256;
constexpr int kStillSadPerQuantiser = 64;
// Another vector must beat the zero vector by this much: small gains are mostly coding noise,
// and following them lets a still picture creep.
constexpr int kZeroVectorBonus = 100;
// A candidate this poor (SAD per macroblock) sends the search to the coarse grid.
constexpr int kPoorSad = 16 * 16 * 6;

struct Search {
    const uint8_t* source;
    ptrdiff_t sourceStride;
    const PaddedPlane& reference;
    int column;
    int row;
    HalfSampleVector predictor;
    int bitCost;

    int sadAt(HalfSampleVector v) const {
        if ((v.x & 1) == 0 && (v.y & 1) == 0)
            return sad16(source, sourceStride,
                         reference.at(column * 16 + (v.x >> 1), row * 16 + (v.y >> 1)),
                         reference.stride());
        uint8_t predicted[256];
        predictBlock(reference, column * 16 + (v.x >> 1), row * 16 + (v.y >> 1), (v.x & 1) != 0,
                     (v.y & 1) != 0, 16, predicted, 16);
        return sad16(source, sourceStride, predicted, 16);
    }
    int cost(HalfSampleVector v, int sad) const { return sad + bitCost * vectorBits(v, predictor); }
};

}  // namespace

int sad16(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride) {
    int sum = 0;
    for (int y = 0; y < 16; ++y, a += aStride, b += bStride)
        for (int x = 0; x < 16; ++x) sum += std::abs(int(a[x]) - int(b[x]));
    return sum;
}

int intraDeviation(const uint8_t* block, ptrdiff_t stride) {
    int sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) sum += block[y * stride + x];
    const int mean = (sum + 128) / 256;
    int deviation = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) deviation += std::abs(block[y * stride + x] - mean);
    return deviation;
}

int wrapDifference(int difference) {
    if (difference > 31) return difference - 64;
    if (difference < -32) return difference + 64;
    return difference;
}

int vectorBits(HalfSampleVector vector, HalfSampleVector predictor) {
    return mvdCode(wrapDifference(vector.x - predictor.x)).length +
           mvdCode(wrapDifference(vector.y - predictor.y)).length;
}

MotionSearchResult searchMotion(const uint8_t* source, ptrdiff_t sourceStride,
                                const PaddedPlane& reference, int column, int row,
                                HalfSampleVector predictor,
                                std::span<const HalfSampleVector> candidates, int quantiser) {
    // One bit of the vector weighs as much as a quantiser step of SAD.
    const Search search{source, sourceStride, reference, column, row, predictor, quantiser};
    MotionSearchResult result;
    result.zeroSad = search.sadAt({0, 0});
    result.sad = result.zeroSad;
    if (result.zeroSad < kStillSad + kStillSadPerQuantiser * quantiser) return result;

    // Integer stage, in whole samples.
    int bestX = 0;
    int bestY = 0;
    int bestCost = search.cost({0, 0}, result.zeroSad) - kZeroVectorBonus;
    int bestSad = result.zeroSad;
    const auto tryInteger = [&](int x, int y) {
        if (x < kMinInteger || x > kMaxInteger || y < kMinInteger || y > kMaxInteger) return false;
        const HalfSampleVector v{2 * x, 2 * y};
        const int sad = search.sadAt(v);
        const int cost = search.cost(v, sad);
        if (cost >= bestCost) return false;
        bestCost = cost;
        bestSad = sad;
        bestX = x;
        bestY = y;
        return true;
    };
    tryInteger(predictor.x >> 1, predictor.y >> 1);
    for (const HalfSampleVector& candidate : candidates)
        tryInteger(candidate.x >> 1, candidate.y >> 1);
    if (bestCost > kPoorSad) {
        // No neighbour explains this macroblock (an object entering, a sudden move): a grid of
        // every second vector over the whole range, refined by the descent below.
        for (int y = kMinInteger; y <= kMaxInteger; y += 2)
            for (int x = kMinInteger; x <= kMaxInteger; x += 2) tryInteger(x, y);
    }
    for (int step = 0; step < 32; ++step) {
        const int x = bestX;
        const int y = bestY;
        bool moved = tryInteger(x - 1, y);
        moved = tryInteger(x + 1, y) || moved;
        moved = tryInteger(x, y - 1) || moved;
        moved = tryInteger(x, y + 1) || moved;
        if (!moved) break;
    }

    // Half-sample stage around the best integer vector.
    HalfSampleVector best{2 * bestX, 2 * bestY};
    const HalfSampleVector centre = best;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const HalfSampleVector v{centre.x + dx, centre.y + dy};
            if ((dx == 0 && dy == 0) || v.x < -32 || v.x > 31 || v.y < -32 || v.y > 31) continue;
            const int sad = search.sadAt(v);
            const int cost = search.cost(v, sad);
            if (cost < bestCost) {
                bestCost = cost;
                bestSad = sad;
                best = v;
            }
        }
    }
    result.vector = best;
    result.sad = bestSad;
    return result;
}

}  // namespace kx::native_encoding
