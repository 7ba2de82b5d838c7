// SPDX-License-Identifier: MIT
#pragma once

#include "sim/ByteLink.h"
#include "sim/SimTerminal.h"

#include "ecrlink/CaptureChannel.h"

#include <functional>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// Plays the terminal's side of a capture back to a register: each frame
/// and control byte the terminal sent goes out as long after the register's
/// preceding one (or the terminal's own) as it did in the capture, divided
/// by `speed`; the register's own frames and bytes are waited for in turn and
/// shown, with a note where they differ from the capture. Masked values go
/// out as they stand in the capture ('*').
class CaptureReplay {
public:
    struct Step {
        bool terminal = false;     ///< true: send it; false: wait for the register's
        std::uint64_t delayNs = 0; ///< after the previous step, at speed 1
        Communication::CaptureEvent event;
    };
    using Sink = std::function<void(const std::string&)>;

    /// `speed` > 0; `sink` receives one line per event and may be empty.
    CaptureReplay(const std::vector<Communication::CaptureEvent>& events, double speed, Sink sink);

    const std::vector<Step>& steps() const { return plan; }

    /// One pass over the capture; waits for ever for the register's first frame.
    SimTerminal::Outcome play(ByteLink& link);

    /// The bytes of a Frame or Control event as they went over the line.
    static Bytes wireBytes(const Communication::CaptureEvent& event);

private:
    enum class Got { Item, Timeout, Closed, Stopped };
    Got readItem(ByteLink& link, int timeoutMs, Communication::CaptureEvent& item);
    void say(const std::string& text) const;

    std::vector<Step> plan;
    double speed;
    Sink sink;
};

} // namespace ecrlink::tool
