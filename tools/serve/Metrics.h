// SPDX-License-Identifier: MIT
#pragma once

#include "serve/TerminalSide.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace ecrlink::tool {

/// Counters of the service for GET /metrics, in Prometheus's text format
/// (version 0.0.4), so that the monitoring a chain already runs watches its
/// registers' terminals too. Any thread.
class Metrics {
public:
    /// A transaction ended with this outcome and result code.
    void ended(const std::string& outcome, unsigned int result);
    /// An HTTP or WebSocket request refused before it reached the API
    /// (401, 403, 421 ...), by status.
    void refused(unsigned int status);

    /// Everything, with the line's state taken from `line`.
    std::string render(const LineHealth& line) const;

private:
    mutable std::mutex mutex;
    std::map<std::string, std::uint64_t> outcomes;
    std::map<unsigned int, std::uint64_t> failures;
    std::map<unsigned int, std::uint64_t> refusals;
};

} // namespace ecrlink::tool
