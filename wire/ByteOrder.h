// SPDX-License-Identifier: MIT
#pragma once

// Numbers on the line and in files. Dump headers go out most significant byte
// first and come back least significant byte first; files are little-endian.

#include <cstdint>
#include <cstring>
#include <vector>

namespace ecrlink::wire {

/// Order of the 4-byte numbers of a dump header.
enum class ByteOrder { LsbFirst, MsbFirst };

/// Writes `n` most significant byte first.
inline void putBigEndian(unsigned char* out, std::uint32_t n) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    n = __builtin_bswap32(n); // one store instead of four shifted bytes
#endif
    std::memcpy(out, &n, sizeof n);
}

/// Reads 4 bytes in the given order: one load, turned round when the
/// processor's order differs.
inline std::uint32_t getU32(const unsigned char* in, ByteOrder order) {
    std::uint32_t n;
    std::memcpy(&n, in, sizeof n);
    constexpr bool littleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
    return (order == ByteOrder::MsbFirst) == littleEndian ? __builtin_bswap32(n) : n;
}

inline std::uint32_t getLittleEndian(const unsigned char* in) { return getU32(in, ByteOrder::LsbFirst); }
inline std::uint32_t getBigEndian(const unsigned char* in) { return getU32(in, ByteOrder::MsbFirst); }

/// Appends a 4-byte number in the given order.
inline void putU32(std::vector<unsigned char>& out, std::uint32_t value, ByteOrder order) {
    for (int i = 0; i < 4; ++i) {
        const int shift = order == ByteOrder::MsbFirst ? 24 - 8 * i : 8 * i;
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

/// Reads `bytes` (at most 8) least significant byte first.
inline std::uint64_t getLE(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

/// Appends the low `bytes` bytes of `value`, least significant first.
inline void putLE(std::vector<unsigned char>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

} // namespace ecrlink::wire
