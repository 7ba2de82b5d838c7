// SPDX-License-Identifier: MIT
#pragma once

// Turns the records of a capture into events: frames put together again from
// the bytes of each direction, control bytes, failures, and the records of
// sessions and transactions. Internal to libecrcomm.

#include "CaptureFormat.h"

#include "ecrlink/CaptureChannel.h"

#include <functional>

namespace ecrlink::comm {

using namespace Communication;

class EventBuilder {
public:
    using Sink = std::function<void(CaptureEvent&&)>;
    explicit EventBuilder(Sink sink);

    void feed(const Record& record);
    /// The end of the records: frames left unfinished are handed out.
    void finish();

private:
    void emit(CaptureEvent&& event) { sink(std::move(event)); }
    void cut(bool fromTerminal);

    Sink sink;
    // The register writes dump headers most significant byte first and reads
    // the terminal's least significant byte first.
    FrameTracker toTerminal{true, nullptr}, fromTerminal{false, nullptr};
    std::uint64_t lastFed[2] = {0, 0};
};

} // namespace ecrlink::comm
