// Compile-time variable-length code tables. Codes are written as in the standards' tables
// ("0000 0101 11"); a table indexed by the next `IndexBits` bits of the stream gives the symbol
// and the code length of every code of at most IndexBits bits. Entries no code reaches have
// length 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kx {

template <typename Symbol>
struct VlcCode {
    std::string_view bits;  // '0' and '1', spaces ignored
    Symbol symbol;
};

template <typename Symbol>
struct VlcEntry {
    Symbol symbol{};
    uint8_t length = 0;
};

// Value and length of a code written as text.
struct ParsedCode {
    uint32_t value = 0;
    int length = 0;
};

constexpr ParsedCode parseCode(std::string_view bits) {
    ParsedCode code;
    for (char c : bits) {
        if (c == ' ') continue;
        if (c != '0' && c != '1') throw "a code holds only 0, 1 and spaces";
        code.value = (code.value << 1) | uint32_t(c - '0');
        ++code.length;
    }
    return code;
}

// Table of `Entries` entries indexed by the next IndexBits bits; codes longer than IndexBits,
// and the part of a code's range at or past `Entries`, are left out. Two codes sharing an
// entry (a table that is not prefix-free) fail the build.
template <int IndexBits, size_t Entries, typename Symbol, size_t N>
constexpr std::array<VlcEntry<Symbol>, Entries> buildVlcTable(const std::array<VlcCode<Symbol>, N>& codes) {
    std::array<VlcEntry<Symbol>, Entries> table{};
    for (const auto& code : codes) {
        const ParsedCode parsed = parseCode(code.bits);
        if (parsed.length == 0 || parsed.length > IndexBits) continue;
        const int free = IndexBits - parsed.length;
        const size_t first = size_t(parsed.value) << free;
        const size_t count = size_t(1) << free;
        for (size_t i = first; i < first + count && i < Entries; ++i) {
            if (table[i].length != 0) throw "two codes share a prefix";
            table[i] = {code.symbol, uint8_t(parsed.length)};
        }
    }
    return table;
}

}  // namespace kx
