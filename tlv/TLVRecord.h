// SPDX-License-Identifier: MIT
#pragma once

// The tag record of the outgoing dump, shared by CTLVTag::getBinData and
// CTLVMessage::buildDump so that a dump is written without a call per field.

#include "wire/ByteOrder.h"
#include "wire/DumpWalk.h"

#include <cstdint>
#include <cstring>

namespace ecrlink::tlv {

using wire::getLittleEndian;
using wire::putBigEndian;

/// Bytes in front of every value: the tag number and the value length.
constexpr unsigned int RecordHeader = wire::RecordHeader;

/// Copies `n` bytes; values up to 64 bytes, the common case, in two or four
/// overlapping moves instead of a call.
inline void copyBytes(unsigned char* out, const unsigned char* in, unsigned int n) {
    if (n > 64) {
        std::memcpy(out, in, n);
    } else if (n > 32) {
        std::memcpy(out, in, 32);
        std::memcpy(out + n - 32, in + n - 32, 32);
    } else if (n >= 16) {
        std::memcpy(out, in, 16);
        std::memcpy(out + n - 16, in + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(out, in, 8);
        std::memcpy(out + n - 8, in + n - 8, 8);
    } else {
        for (unsigned int i = 0; i < n; ++i) out[i] = in[i];
    }
}

/// Writes one record (number, length, value) of RecordHeader + `length` bytes at `out`.
inline void writeRecord(unsigned char* out, unsigned int type, unsigned int length, const unsigned char* value) {
    std::uint64_t header = std::uint64_t{type} << 32 | length;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    header = __builtin_bswap64(header); // both numbers in one store
#endif
    std::memcpy(out, &header, sizeof header);
    copyBytes(out + RecordHeader, value, length);
}

} // namespace ecrlink::tlv
