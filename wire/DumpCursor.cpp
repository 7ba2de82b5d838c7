// SPDX-License-Identifier: MIT
#include "wire/DumpCursor.h"

namespace ecrlink::wire {

void DumpCursor::restart() {
    headerFill = 0;
    valueLeft = 0;
}

bool DumpCursor::next(unsigned char byte) {
    if (valueLeft > 0) {
        --valueLeft;
        return true;
    }
    header[headerFill++] = byte;
    if (headerFill == RecordHeader) {
        headerFill = 0;
        tag = getU32(header, order);
        valueLeft = getU32(header + 4, order);
    }
    return false;
}

} // namespace ecrlink::wire
