// SPDX-License-Identifier: MIT
#pragma once

#include "wire/ByteOrder.h"
#include "wire/DumpWalk.h"

#include <cstdint>

namespace ecrlink::wire {

/// Follows a dump byte by byte, as it passes on the line, and tells for each
/// byte whether it belongs to a value and to which tag.
class DumpCursor {
public:
    explicit DumpCursor(ByteOrder order) : order(order) {}
    /// Back to the first byte of a dump.
    void restart();
    /// Takes the next byte; true when it is a byte of a value, whose tag is then number().
    bool next(unsigned char byte);
    std::uint32_t number() const { return tag; }

private:
    ByteOrder order;
    unsigned char header[RecordHeader] = {};
    unsigned int headerFill = 0;
    std::uint32_t valueLeft = 0;
    std::uint32_t tag = 0;
};

} // namespace ecrlink::wire
