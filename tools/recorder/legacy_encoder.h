// LegacyEncoder: writes the legacy codec of the older recording kinds (.kx, .kxx, .kxq): intra
// pictures, and inter pictures whose macroblocks are not coded, coded with a residual on the
// same macroblock of the previous picture, or coded intra; the last macroblocks of a picture in
// re-aligned runs of ten; the "unchanged" picture when nothing changed. It keeps the three
// planes the decoder will hold, reconstructed with the decoder's exact arithmetic, so every
// inter picture codes the difference from what the player shows. One object per stream, used
// on one thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tools/recorder/bit_writer.h"
#include "tools/recorder/macroblock_levels.h"
#include "tools/recorder/native_encoder.h"

namespace kx {

// The legacy header version that marks a recording whose pictures the player doubles
// horizontally: they are coded at half the width of the recording's resolution code. The
// version is the only field of that header that can hold the value.
constexpr uint32_t kLegacyDoubledVersion = 0x1000;

struct LegacyEncoderSettings {
    static constexpr int kAllGroups = -1;

    int quantiser = 6;        // 1..31, for intra and inter pictures alike
    int groups = kAllGroups;  // runs of ten macroblocks re-aligned at the end of each
                              // picture; kAllGroups: as many as the picture holds
};

struct LegacyPictureStatistics {
    bool intra = false;
    bool unchanged = false;  // written as the "picture unchanged" inter picture
    int intraMacroblocks = 0;
    int interMacroblocks = 0;
    int notCodedMacroblocks = 0;
    int codedBlocks = 0;  // blocks with coefficients beyond an intra DC
};

class LegacyEncoder {
public:
    // Width and height are whole macroblocks (multiples of 16, at least 16), at most 640 x 480
    // samples together (what the decoder's planes hold) and at most 1023 each.
    static bool sizeFits(int width, int height);

    LegacyEncoder(int width, int height, LegacyEncoderSettings settings = {});

    // Encodes one picture (planes of width x height and width / 2 x height / 2, each with its
    // stride). A predicted picture before any key picture is encoded as a key picture. The
    // frame flags are 0: the older kinds carry no codec identifier. No allocation happens here.
    EncodedPicture encode(const YuvPictureView& picture, PictureChoice choice);

    // The planes the decoder holds after the last picture: Y, Cb, Cr, rows of width and
    // width / 2 samples.
    PlaneView<uint8_t> plane(int index) const;

    const LegacyPictureStatistics& statistics() const { return m_statistics; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // The group count every picture carries.
    int groups() const { return m_groups; }

private:
    using MacroblockLevels = native_encoding::MacroblockLevels;

    void copySource(const YuvPictureView& picture);
    void nextMacroblock(int index);
    void encodeIntraPicture();
    bool encodeInterPicture();  // false when nothing changed
    void writeUnchangedPicture();

    void reconstructIntra(int column, int row, const MacroblockLevels& levels);
    void reconstructInter(int column, int row, const MacroblockLevels& levels);

    // Macroblock (column, row) of the planes.
    YuvPictureView macroblockOf(const std::vector<uint8_t>& planes, int column, int row) const;
    // Sample (x, y) of a plane: 0 luma, 1 Cb, 2 Cr.
    uint8_t* planeAt(std::vector<uint8_t>& planes, int plane, int x, int y) const;
    const uint8_t* planeAt(const std::vector<uint8_t>& planes, int plane, int x, int y) const;

    int m_width;
    int m_height;
    int m_mbColumns;
    int m_mbRows;
    int m_groups;
    LegacyEncoderSettings m_settings;
    bool m_hasReference = false;
    int m_groupsLeft = 0;

    BitWriter m_bits;
    std::vector<uint8_t> m_source;  // Y, Cb, Cr of the picture being encoded
    std::vector<uint8_t> m_planes;  // Y, Cb, Cr as the decoder holds them
    LegacyPictureStatistics m_statistics;
};

}  // namespace kx
