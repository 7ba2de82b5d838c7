// SPDX-License-Identifier: MIT
#pragma once

#include "capture/Timeline.h"

#include <functional>
#include <vector>

namespace ecrlink::tool {

/// The entries of one transaction of a capture: from its session, its
/// journal record or its request to the next of these, and what a support
/// engineer asks of it first.
struct Transaction {
    std::vector<TimelineEntry> entries;
    std::uint64_t sessionWallNs = 0; ///< when its session began, ns since 1970 UTC; 0 unknown

    const TimelineEntry* request() const;
    /// The terminal's last good data frame that the register acknowledged; null when none.
    const TimelineEntry* answer() const;
    /// The journal's record of how the run ended; null in a plain capture.
    const TimelineEntry* ended() const;
    /// The first failure of a call that was not a read time-out; null when none.
    const TimelineEntry* failure() const;
    std::uint64_t beganNs() const;   ///< time of its first entry on the line (else its first entry)
    std::uint64_t durationNs() const; ///< from beganNs() to its last entry
    /// Broken frames, refusals, failures and quiet stretches, repeats counted.
    unsigned long faults() const;
};

/// Cuts a stream of timeline entries into transactions, handing each over
/// once the next one begins: a session, a journal's intent after bytes on
/// the line, or a request of the register after the terminal has sent a
/// frame. A run without any of these is cut at `MaxEntries` so that memory
/// stays bounded.
class TransactionSplitter {
public:
    using Sink = std::function<void(Transaction&&)>;
    static constexpr std::size_t MaxEntries = 4096;

    explicit TransactionSplitter(Sink sink) : out(std::move(sink)) {}
    void feed(TimelineEntry&& entry);
    void finish();

private:
    void handOver();

    Sink out;
    Transaction current;
    std::uint64_t sessionWallNs = 0;
    bool lineSeen = false, terminalSpoke = false;
};

} // namespace ecrlink::tool
