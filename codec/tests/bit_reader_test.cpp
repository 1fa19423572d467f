// BitReader: bit order, the saturating end, the overrun flag and the even-byte alignment.
#include "codec/bits/bit_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace kx {
namespace {

std::vector<uint8_t> padded(std::vector<uint8_t> bytes) {
    bytes.resize(bytes.size() + BitReader::kPadding, 0);
    return bytes;
}

TEST(BitReader, ReadsMostSignificantBitFirstAcrossBytes) {
    const auto data = padded({0xA5, 0x3C, 0xFF});
    BitReader bits;
    bits.reset(data.data(), 3);
    EXPECT_EQ(bits.peek(4), 0xAu);
    EXPECT_EQ(bits.get(3), 0x5u);  // 101
    EXPECT_EQ(bits.get(7), 0x14u); // 0 0101 00
    EXPECT_EQ(bits.peek(14), 0x3CFFu & 0x3FFF);
    EXPECT_EQ(bits.get(14), 0x3CFFu & 0x3FFF);
    EXPECT_TRUE(bits.atEnd());
    EXPECT_FALSE(bits.overrun());
}

TEST(BitReader, PastTheEndReadsZerosAndFlagsTheOverrun) {
    const auto data = padded({0xFF});
    BitReader bits;
    bits.reset(data.data(), 1);
    EXPECT_EQ(bits.peek(12), 0xFF0u);  // bytes past the end count as zero
    EXPECT_EQ(bits.get(6), 0x3Fu);
    EXPECT_EQ(bits.get(8), 0xC0u);     // two data bits, then zeros
    EXPECT_TRUE(bits.overrun());
    EXPECT_EQ(bits.position(), 8u);    // saturated at the end
    EXPECT_EQ(bits.get(24), 0u);
    bits.skip(1000);
    EXPECT_EQ(bits.position(), 8u);
}

TEST(BitReader, AlignsToTheNextEvenByte) {
    const auto data = padded(std::vector<uint8_t>(8, 0));
    struct Case {
        size_t from, to;
    };
    for (const Case c : {Case{0, 0}, Case{1, 16}, Case{8, 16}, Case{15, 16}, Case{16, 16}, Case{17, 32},
                         Case{24, 32}}) {
        BitReader bits;
        bits.reset(data.data(), 8);
        bits.skip(c.from);
        bits.alignToEvenByte();
        EXPECT_EQ(bits.position(), c.to) << "from " << c.from;
        EXPECT_FALSE(bits.overrun());
    }
    BitReader bits;
    bits.reset(data.data(), 3);
    bits.skip(17);
    bits.alignToEvenByte();  // byte 4 lies past the 3-byte end
    EXPECT_TRUE(bits.overrun());
    EXPECT_EQ(bits.position(), 24u);
}

}  // namespace
}  // namespace kx
