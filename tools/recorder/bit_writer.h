// MSB-first bit writer over a buffer sized once by its owner. A value of up to 32 bits goes in
// with one call; whole 32-bit words go out to memory, so no loop runs per bit.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kx {

class BitWriter {
public:
    // Room for `capacityBytes` bytes of output; writing more is a programmer error.
    explicit BitWriter(size_t capacityBytes) : m_bytes(capacityBytes + 8) {}

    // Starts a new stream at the beginning of the buffer (no allocation).
    void reset() {
        m_pending = 0;
        m_pendingBits = 0;
        m_size = 0;
    }

    // Appends the low `bits` bits of `value`, most significant first; `bits` is 0 to 32.
    void put(uint32_t value, int bits) {
        assert(bits >= 0 && bits <= 32);
        assert(bits == 32 || (uint64_t(value) >> bits) == 0);
        // m_pendingBits < 32 holds between calls, so the shift keeps every pending bit.
        m_pending = (m_pending << bits) | value;
        m_pendingBits += bits;
        if (m_pendingBits >= 32) {
            m_pendingBits -= 32;
            storeWord(uint32_t(m_pending >> m_pendingBits));
        }
    }

    // Pads with 0 bits up to the next byte boundary (nothing when already on one).
    void padToByte() {
        put(0, (8 - m_pendingBits % 8) % 8);
        while (m_pendingBits >= 8) {
            m_pendingBits -= 8;
            assert(m_size < m_bytes.size());
            m_bytes[m_size++] = uint8_t(m_pending >> m_pendingBits);
        }
    }

    // Pads to a byte whose offset from the start is even, as the native picture header needs.
    void padToEvenByte() {
        padToByte();
        if (m_size % 2 != 0) m_bytes[m_size++] = 0;
    }

    size_t bitCount() const { return m_size * 8 + size_t(m_pendingBits); }

    // The bytes written; call padToByte first so that no bit is left pending.
    std::span<const uint8_t> bytes() const {
        assert(m_pendingBits == 0);
        return {m_bytes.data(), m_size};
    }

private:
    void storeWord(uint32_t word) {
        assert(m_size + 4 <= m_bytes.size());
        m_bytes[m_size] = uint8_t(word >> 24);
        m_bytes[m_size + 1] = uint8_t(word >> 16);
        m_bytes[m_size + 2] = uint8_t(word >> 8);
        m_bytes[m_size + 3] = uint8_t(word);
        m_size += 4;
    }

    std::vector<uint8_t> m_bytes;
    uint64_t m_pending = 0;  // the last m_pendingBits bits are not yet in m_bytes
    int m_pendingBits = 0;
    size_t m_size = 0;
};

}  // namespace kx
