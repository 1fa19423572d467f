// The decoder interface every codec implements, and the two picture stores decoders fill:
// RgbPicture (what the drawing code reads) and MacroblockPicture (the native codecs' YCbCr
// picture before colour conversion). Decoders are used by one thread at a time (the play
// engine, the AVI export, kxtool); they never talk to the user, they return false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kx {

class CRecordFrame;

// The decoded picture of a frame. Its layout depends on the codec that wrote it: planar R, G, B
// planes of width x height bytes (codecs 0 and 1), packed B, G, R rows of 3 x width bytes
// (codecs 2, 3, 4 and 6), or the camera component's bytes (codecs 7 and 8). The store holds
// 3 x width x height bytes, enough for each of them.
class RgbPicture {
public:
    RgbPicture() = default;
    RgbPicture(uint32_t width, uint32_t height) { resize(width, height); }

    // Allocates a zero-filled store for the size; keeps the store when the size is unchanged.
    void resize(uint32_t width, uint32_t height);

    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    uint8_t* pixels() { return m_pixels.empty() ? nullptr : m_pixels.data(); }
    const uint8_t* pixels() const { return m_pixels.empty() ? nullptr : m_pixels.data(); }
    size_t byteCount() const { return m_pixels.size(); }

private:
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    std::vector<uint8_t> m_pixels;
};

// A picture in macroblock order: per macroblock six 8x8 blocks of signed 16-bit samples, Y0
// (top left), Y1 (top right), Y2 (bottom left), Y3 (bottom right), Cb, Cr; rows top first.
class MacroblockPicture {
public:
    static constexpr size_t kBlockSamples = 64;
    static constexpr size_t kMacroblockSamples = 6 * kBlockSamples;

    // Macroblocks needed to cover `pixels` pixels: ((pixels - 1) >> 4) + 1; 0 for 0 pixels.
    static constexpr uint32_t macroblocksOf(uint32_t pixels) { return pixels == 0 ? 0 : ((pixels - 1) >> 4) + 1; }

    // Zero-filled store for the dimensions; allocated again only when they change.
    void resize(uint32_t mbColumns, uint32_t mbRows);

    uint32_t mbColumns() const { return m_mbColumns; }
    uint32_t mbRows() const { return m_mbRows; }
    uint32_t macroblockCount() const { return m_mbColumns * m_mbRows; }
    bool empty() const { return m_samples.empty(); }
    int16_t* samples() { return m_samples.data(); }
    const int16_t* samples() const { return m_samples.data(); }
    int16_t* macroblock(uint32_t index) { return m_samples.data() + size_t(index) * kMacroblockSamples; }
    const int16_t* macroblock(uint32_t index) const {
        return m_samples.data() + size_t(index) * kMacroblockSamples;
    }

private:
    uint32_t m_mbColumns = 0;
    uint32_t m_mbRows = 0;
    std::vector<int16_t> m_samples;
};

// Whether decodeInto filters the picture (normal playback) or not (the other playback paths).
enum class Deblocking { Off, On };
// The kind of a native macroblock.
enum class MacroblockMode { Intra = 0, Inter = 1 };

// One decoder object per played recording, created by createDecoder from the codec identifier
// of the first frame and kept while that recording plays: it holds the reference pictures, so
// an inter picture is only right after the intra picture before it went through the same
// object. The base implementation of every operation is "no picture".
class VideoDecoder {
public:
    VideoDecoder() = default;
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;
    virtual ~VideoDecoder() = default;

    // Decodes into `picture` through the codec's own engine (codec 4); `status` is a word owned
    // by the caller. True when a picture was written.
    virtual bool decodeInto(const CRecordFrame& frame, RgbPicture& picture, uint32_t* status,
                            Deblocking deblocking);
    // Decodes the frame into the decoder's own picture; true when that picture was updated.
    virtual bool decode(const CRecordFrame& frame);
    // Writes the last decoded picture as planar RGB of (mb columns x 16) x (mb rows x 16)
    // pixels into `destination`; false when no picture was decoded yet or it is null.
    virtual bool convert(uint8_t* destination);
    // Decodes the frame and writes the picture into `picture` in the codec's layout. On false
    // the previous picture stays.
    virtual bool decodeToRgb(const CRecordFrame& frame, RgbPicture& picture);
    // Decodes into packed B, G, R rows of `destinationWidth` pixels (built-in MPEG-4 only).
    virtual bool decodeToBuffer(const CRecordFrame& frame, uint8_t* destination, uint32_t destinationWidth);
    // Native codecs: decodes one macroblock of the stream into `output` (with `reference` the
    // prediction for inter mode); `pattern` bit 5 is Y0 down to bit 0 for Cr. Returns the
    // number of bits read.
    virtual uint32_t decodeMacroblock(const int16_t* reference, int16_t* output, unsigned pattern,
                                      MacroblockMode mode);
    // True when the last successful decode wrote a picture whose data ended early or broke off
    // part way, so that part of it shows what the decoding rules give for missing data.
    virtual bool lastPictureDamaged() const { return false; }
    // After a decode that wrote no picture: true when the codec holds the picture back for
    // display order (or skips a picture it has no references for), which is no fault.
    virtual bool lastPictureHeldBack() const { return false; }
    // After a decode that wrote no picture: why, for the tools and the integrity check.
    virtual std::string failureText() const { return "the picture does not decode"; }
    // A message about the environment (a camera component's error) for the application layer to
    // show the user once; empty when there is none or it was taken.
    virtual std::string takeMessage() { return {}; }
    // Playback jumped (a seek): the pictures a reordering codec holds for display order
    // belong to another place of the recording. They are forgotten, so the key frame decoded
    // next starts display order afresh instead of handing out a stale picture.
    virtual void restart() {}
    // True when the codec shows a picture only with a later frame (its display order differs
    // from the coded order), as far as the stream has shown so far.
    virtual bool holdsPictures() const { return false; }
};

}  // namespace kx
