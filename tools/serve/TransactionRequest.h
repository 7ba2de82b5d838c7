// SPDX-License-Identifier: MIT
#pragma once

#include "wire/WireDump.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// What a register asks for with POST /v1/transactions:
///   {"reference": "R-1042", "tags": {"2": "PURCHASE", "4": "u32:1250"},
///    "idle_timeout_ms": 90000, "timeout_ms": 300000}
/// The two time-outs are optional. Anything else in the body, a value of the
/// wrong type or out of range, is refused with a one-line reason.
struct TransactionRequest {
    static constexpr std::size_t MaxReference = 64;
    static constexpr std::size_t MaxTags = 64;

    std::string reference;
    std::vector<RawTag> tags;    ///< ascending by number, values as the terminal gets them
    unsigned int idleMs = 0;     ///< 0: the service's default
    unsigned int overallMs = 0;  ///< 0: the service's default

    /// True with `out` filled when `body` is a valid request; false with a
    /// one-line `error` otherwise (`out` then means nothing). Any thread.
    static bool parse(const std::string& body, TransactionRequest& out, std::string& error);

    /// 1 to 64 of A-Z a-z 0-9 . _ ~ - : a reference goes into URLs as it is.
    static bool validReference(const std::string& reference);
};

} // namespace ecrlink::tool
