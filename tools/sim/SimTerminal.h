// SPDX-License-Identifier: MIT
#pragma once

#include "sim/ByteLink.h"
#include "sim/FaultPlan.h"
#include "sim/Scenario.h"

#include <functional>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// The simulated payment terminal: plays a scenario against the register on
/// a ByteLink and reports every frame and control byte it sees and sends.
/// It speaks the terminal's side of the byte order: requests are read most
/// significant byte first, answers written least significant byte first.
class SimTerminal {
public:
    enum class Outcome {
        Completed, ///< every step played
        Ended,     ///< the register aborted or fell silent
        Dropped,   ///< the scenario hung up the line
        Closed,    ///< the register went away
        Stopped,   ///< a stop was requested
    };
    using Sink = std::function<void(const std::string&)>;

    /// `sink` receives one line of text per event; it may be empty.
    explicit SimTerminal(Sink sink);

    /// A frame changed on the line (Corrupt or Length) that the register
    /// acknowledged all the same, with the request of its dialogue.
    struct AcceptedChange {
        FaultPlan::Fault fault = FaultPlan::Fault::None;
        std::vector<RawTag> request;
    };
    /// "the register accepted the changed frame (length); request 2=\"PURCHASE\" 4=u32:7"
    static std::string describe(const AcceptedChange& change);
    /// Called on the playing thread for each AcceptedChange; may be empty.
    void onAcceptedChange(std::function<void(const AcceptedChange&)> observer) { accepted = std::move(observer); }

    /// Faults of a noisy line on every frame and reply from now on.
    void setFaults(const FaultPlan& plan) { faults = plan; }
    const FaultPlan& faultPlan() const { return faults; }

    /// Waits for the register's request (for ever) and plays `scenario`. A
    /// step that fails names its line ("-- FILE:LINE: reason").
    Outcome play(ByteLink& link, const Scenario& scenario);

    /// Waits longer than the register's 6 s reply wait before giving up.
    static constexpr int RequestTimeoutMs = 8000;
    static constexpr int ReplyTimeoutMs = 3000;
    static constexpr int ByteTimeoutMs = 1500;
    static constexpr int SendAttempts = 3;

private:
    using Incoming = wire::FrameParser::Frame;
    enum class Got { Frame, Eot, Timeout, Closed, Stopped };

    Outcome answer(ByteLink& link, const ScenarioStep& step, bool first);
    Outcome keepSilent(ByteLink& link);
    Outcome sendFrame(ByteLink& link, std::uint8_t start, const std::vector<RawTag>& tags);
    Got readFrame(ByteLink& link, int timeoutMs, Incoming& frame);
    Outcome writeOrClose(ByteLink& link, const Bytes& bytes, int gapMs);
    void linger(ByteLink& link);
    std::vector<RawTag> resolve(const std::vector<TagSpec>& specs) const;
    void say(const std::string& text) const;
    /// A step that went wrong, named by its line.
    void fail(const std::string& text) const;

    Sink sink;
    std::function<void(const AcceptedChange&)> accepted;
    std::string at; ///< "SCENARIO:LINE: " of the step playing
    FaultPlan faults;
    std::vector<RawTag> request;
    bool corruptNext = false;
    int gapMs = 0;
};

} // namespace ecrlink::tool
