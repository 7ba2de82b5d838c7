// SPDX-License-Identifier: MIT
#pragma once

// A dump is tag records back to back: tag number (4 bytes), value length
// (4 bytes), value. The header numbers are in the order of the direction.

#include "wire/ByteOrder.h"

#include <cstddef>
#include <cstdint>

namespace ecrlink::wire {

constexpr std::size_t RecordHeader = 8;

struct DumpRecord {
    std::uint32_t number;
    std::uint32_t length; ///< as the header says; may run past the dump's end
    std::size_t value;    ///< offset of the value in the dump
    /// Bytes of the value inside the dump (less than `length` when it runs past the end).
    std::size_t present(std::size_t size) const {
        return size - value < length ? size - value : length;
    }
};

struct DumpEnd {
    std::size_t at; ///< where the walk stopped: the dump's size when the records fill it
    bool overrun;   ///< the last record visited runs past the end
    bool whole(std::size_t size) const { return at == size && !overrun; }
};

/// Calls `visit(const DumpRecord&)` for each record whose header lies inside
/// the dump, the one running past the end included (it is the last); stops
/// before a remainder shorter than a header. Reads nothing outside the dump.
template <class Visit>
DumpEnd walkDump(const unsigned char* dump, std::size_t size, ByteOrder order, Visit&& visit) {
    std::size_t at = 0;
    while (size - at >= RecordHeader) {
        const DumpRecord record{getU32(dump + at, order), getU32(dump + at + 4, order), at + RecordHeader};
        visit(record);
        if (record.length > size - record.value) return {at, true};
        at = record.value + record.length;
    }
    return {at, false};
}

} // namespace ecrlink::wire
