#pragma once

// The tag record of the outgoing dump, shared by CTLVTag::getBinData and
// CTLVMessage::buildDump so that a dump is written without a call per field.

#include <cstring>

namespace ecrlink_detail {

/// Bytes in front of every value: the tag number and the value length.
constexpr unsigned int RecordHeader = 8;

/// Writes `n` most significant byte first.
inline void putBigEndian(unsigned char* out, unsigned int n) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    n = __builtin_bswap32(n); // one store instead of four shifted bytes
#endif
    std::memcpy(out, &n, sizeof n);
}

/// Writes one record (number, length, value) of RecordHeader + `length` bytes at `out`.
inline void writeRecord(unsigned char* out, unsigned int type, unsigned int length, const unsigned char* value) {
    putBigEndian(out, type);
    putBigEndian(out + 4, length);
    std::memcpy(out + RecordHeader, value, length);
}

} // namespace ecrlink_detail
