// SPDX-License-Identifier: MIT
#pragma once

#include "wire/Bytes.h"

namespace ecrlink::tool {

/// One record of a dump as it stands on the wire.
struct RawTag {
    std::uint32_t number = 0;
    Bytes value;
};

} // namespace ecrlink::tool
