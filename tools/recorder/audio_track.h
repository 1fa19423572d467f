// The sound of a synthetic recording: 8 kHz mono 16-bit source sound, coded as the recorders
// store it (G.726 at 24 kbit/s or IMA ADPCM blocks) by libavcodec's encoders, and handed out
// as the audio block of each frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kx {

enum class AudioFormat { None, G726, Ima };
enum class SoundKind { Speech, Tone };

constexpr int kAudioSampleRate = 8000;

// Deterministic source sound: voiced bursts with pauses like speech, or a steady tone.
std::vector<int16_t> synthesiseSound(SoundKind kind, size_t samples, uint32_t seed);

class AudioTrack {
public:
    // Encodes `pcm`; IMA blocks hold `imaBlockBytes` bytes (a power of two from 32 to 256; the player takes
    // blocks of at most 508 bytes).
    // On failure error() says why and the track is empty.
    AudioTrack(AudioFormat format, const std::vector<int16_t>& pcm, int imaBlockBytes = 256);

    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }
    AudioFormat format() const { return m_format; }
    // Samples that one IMA block decodes to (2 x bytes - 7), or 8 per 3 bytes of G.726.
    size_t samplesPerBlock() const { return m_samplesPerBlock; }
    const std::vector<uint8_t>& bytes() const { return m_bytes; }

    // The coded bytes of the sound from sample `begin` up to `end`: G.726 codes in whole 3-byte
    // groups (consecutive calls cover the stream without gaps), or the IMA blocks that start in
    // that stretch. Empty when nothing starts there.
    std::span<const uint8_t> block(uint64_t begin, uint64_t end) const;

private:
    bool encode(const std::vector<int16_t>& pcm, int imaBlockBytes);

    AudioFormat m_format;
    std::vector<uint8_t> m_bytes;
    size_t m_blockBytes = 3;
    size_t m_samplesPerBlock = 8;
    std::string m_error;
};

}  // namespace kx
