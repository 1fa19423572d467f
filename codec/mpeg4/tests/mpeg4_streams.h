// MPEG-4 test streams: elementary streams coded by the ffmpeg program (its mpeg4 encoder or
// XviD through libxvid) from moving synthetic content, split into the frames a recorder
// stores, and FFmpeg's own decoding of them (libavcodec in this process, converted to packed
// B, G, R with our colour tables) to compare the engine with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx::test {

struct Mpeg4StreamRecipe {
    std::string encoder = "mpeg4";  // "mpeg4" or "libxvid"
    int width = 176;
    int height = 144;
    int pictures = 12;
    std::string options;  // further ffmpeg output options, e.g. "-bf 2 -flags +qpel"
    std::string source = "testsrc2";  // lavfi source name
};

struct Mpeg4Stream {
    std::vector<uint8_t> elementary;
    std::vector<std::vector<uint8_t>> frames;  // in coded order; headers go with the picture after them
    std::vector<bool> key;                     // the frame's picture is an I picture
    int width = 0, height = 0;
};

// Codes the stream with the ffmpeg program; empty frames when it failed (`error` says why).
Mpeg4Stream encodeMpeg4Stream(const Mpeg4StreamRecipe& recipe, std::string& error);

// Splits an elementary stream at its picture start codes (0x000001B6); the header start codes
// before a picture stay with it.
std::vector<std::vector<uint8_t>> splitMpeg4Frames(const std::vector<uint8_t>& elementary);

// Which inverse DCT libavcodec uses: the one the stream asks for (XviD's for XviD streams, as
// FFmpeg chooses by itself), or a named one.
enum class ReferenceIdct { Auto, Simple, Xvid };

// libavcodec's pictures of the frames in display order, each as packed B, G, R of
// width x height, converted with PlanarRowsToBgr. One thread.
std::vector<std::vector<uint8_t>> referenceMpeg4Pictures(const std::vector<std::vector<uint8_t>>& frames, int width,
                                                         int height, ReferenceIdct idct = ReferenceIdct::Auto);

// PSNR in dB of two pictures of the same size (99 when identical).
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace kx::test
