// The MPEG-4 engine's bit reader (it lives in the engine's block 5): most significant bit
// first over data followed by kPadding zero bytes, with a 64-bit look-ahead window refilled 8
// bytes at a time, so peek is a shift and most skips a shift too. The position saturates at the end of
// the data: a damaged stream reads zeros past its end and never leaves its buffer; overrun()
// tells that a read went past the end.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kx::mpeg4 {

class Mpeg4BitReader {
public:
    static constexpr size_t kPadding = 8;

    // `data` must hold `size` bytes followed by kPadding zero bytes.
    void reset(const uint8_t* data, size_t size) {
        m_data = data;
        m_endBit = size * 8;
        m_position = 0;
        m_overrun = false;
        refill();
    }

    // The next n bits (1 to 32) without consuming them; bits past the end read as 0.
    uint32_t peek(int n) const {
        assert(n >= 1 && n <= 32);
        return uint32_t(m_window >> (64 - n));
    }

    void skip(size_t n) {
        if (n > m_endBit - m_position) {
            m_position = m_endBit;
            m_overrun = true;
            refill();
            return;
        }
        m_position += n;
        if (n < size_t(m_valid) && m_valid - int(n) >= 32) {
            m_window <<= n;
            m_valid -= int(n);
        } else {
            refill();
        }
    }

    uint32_t get(int n) {
        const uint32_t value = peek(n);
        skip(size_t(n));
        return value;
    }

    // Moves to a bit position (at most the end) without touching the overrun flag.
    void seek(size_t bit) {
        m_position = bit < m_endBit ? bit : m_endBit;
        refill();
    }

    bool atEnd() const { return m_position >= m_endBit; }
    bool overrun() const { return m_overrun; }
    size_t position() const { return m_position; }
    size_t endBit() const { return m_endBit; }

private:
    // The 8 bytes at the position's byte, big-endian, moved up by the bit offset: at least 57
    // valid bits, enough for any peek.
    void refill() {
        uint64_t word;
        std::memcpy(&word, m_data + (m_position >> 3), 8);
        m_window = __builtin_bswap64(word) << (m_position & 7);
        m_valid = 64 - int(m_position & 7);
    }

    static constexpr uint8_t kZeros[kPadding] = {};
    const uint8_t* m_data = kZeros;
    size_t m_endBit = 0;
    size_t m_position = 0;
    uint64_t m_window = 0;
    int m_valid = 0;  // bits of the window that are the stream's (the rest are zeros)
    bool m_overrun = false;
};

}  // namespace kx::mpeg4
