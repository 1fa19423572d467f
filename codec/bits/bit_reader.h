// BitReader: most-significant-bit-first reading over input that is followed by kPadding zero
// bytes. The position saturates at the end of the data, so a damaged stream reads zeros past
// its end and never leaves its buffer; overrun() tells that a read went past the end.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace kx {

class BitReader {
public:
    static constexpr size_t kPadding = 8;

    // `data` must hold `size` bytes followed by kPadding zero bytes.
    void reset(const uint8_t* data, size_t size) {
        m_data = data;
        m_endBit = size * 8;
        m_position = 0;
        m_overrun = false;
    }

    // The next n bits (1 to 32) without consuming them; bits past the end read as 0.
    uint32_t peek(int n) const {
        assert(n >= 1 && n <= 32);
        const uint8_t* p = m_data + (m_position >> 3);
        const uint64_t word = (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
                              (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
                              (uint64_t(p[6]) << 8) | uint64_t(p[7]);
        return uint32_t((word << (m_position & 7)) >> (64 - n));
    }

    void skip(size_t n) {
        if (n > m_endBit - m_position) {
            m_position = m_endBit;
            m_overrun = true;
            return;
        }
        m_position += n;
    }

    uint32_t get(int n) {
        const uint32_t value = peek(n);
        skip(size_t(n));
        return value;
    }

    // Moves to a bit position (at most the end) without touching the overrun flag.
    void seek(size_t bit) { m_position = bit < m_endBit ? bit : m_endBit; }

    // Moves to the start of the next byte whose offset from the start of the data is even;
    // does not move when the reader already stands at the start of such a byte.
    void alignToEvenByte() {
        size_t byte = (m_position + 7) >> 3;
        byte += byte & 1;
        const size_t target = byte * 8;
        if (target > m_endBit) {
            m_position = m_endBit;
            m_overrun = true;
            return;
        }
        m_position = target;
    }

    // True once the reader stands at or past the end of the data.
    bool atEnd() const { return m_position >= m_endBit; }
    // True when some read or skip asked for bits past the end of the data.
    bool overrun() const { return m_overrun; }
    size_t position() const { return m_position; }
    size_t endBit() const { return m_endBit; }

private:
    const uint8_t* m_data = kZeros;
    size_t m_endBit = 0;
    size_t m_position = 0;
    bool m_overrun = false;
    static constexpr uint8_t kZeros[kPadding] = {};
};

}  // namespace kx
