// SPDX-License-Identifier: MIT
#include "sim/CaptureReplay.h"

#include "capture/TimelineText.h"

#include "wire/CheckByte.h"

#include <chrono>

namespace ecrlink::tool {

namespace {

using Communication::CaptureEvent;
using Clock = std::chrono::steady_clock;

// The register's next frame may come later than in the capture (a person at
// the register); beyond this it has given up.
constexpr int ExtraWaitMs = 8000;
constexpr int ByteTimeoutMs = 1500;

std::string describe(const CaptureEvent& e) {
    return TimelineText::describe(Timeline::entryOf(e));
}

SimTerminal::Outcome outcomeOf(ByteLink::Status status) {
    return status == ByteLink::Status::Stopped ? SimTerminal::Outcome::Stopped : SimTerminal::Outcome::Closed;
}

} // namespace

CaptureReplay::CaptureReplay(const std::vector<CaptureEvent>& events, double replaySpeed, Sink output)
    : speed(replaySpeed), sink(std::move(output)) {
    std::uint64_t previous = 0;
    bool any = false;
    for (const CaptureEvent& e : events) {
        // The register's own unfinished frames are not waited for.
        const bool partial = e.kind == CaptureEvent::Partial;
        if (e.kind != CaptureEvent::Frame && e.kind != CaptureEvent::Control && !(partial && e.fromTerminal)) continue;
        plan.push_back(Step{e.fromTerminal, any && e.timeNs > previous ? e.timeNs - previous : 0, e});
        previous = e.timeNs;
        any = true;
    }
}

void CaptureReplay::say(const std::string& text) const {
    if (sink) sink(text);
}

Bytes CaptureReplay::wireBytes(const CaptureEvent& e) {
    if (e.kind == CaptureEvent::Control) return {e.start};
    const std::size_t length = e.kind == CaptureEvent::Partial ? e.value : e.data.size();
    Bytes bytes{e.start};
    if (length || e.kind == CaptureEvent::Frame) bytes.insert(bytes.end(), {std::uint8_t(length >> 8), std::uint8_t(length)});
    bytes.insert(bytes.end(), e.data.begin(), e.data.end());
    if (e.kind == CaptureEvent::Partial) return bytes;
    const std::uint8_t check = wire::checkByteOf(e.data.data(), static_cast<unsigned int>(e.data.size()));
    bytes.push_back(e.checkOk ? check : static_cast<std::uint8_t>(check ^ 0xFF));
    return bytes;
}

CaptureReplay::Got CaptureReplay::readItem(ByteLink& link, int timeoutMs, CaptureEvent& item) {
    wire::FrameParser parser;
    wire::FrameParser::Got got = wire::FrameParser::Got::Nothing;
    std::uint8_t byte = 0;
    const ByteLink::Status status = link.readFrame(parser, timeoutMs, ByteTimeoutMs, got, byte);
    if (status != ByteLink::Status::Ok) {
        if (status == ByteLink::Status::Timeout && parser.inFrame()) say("<- frame cut short");
        return status == ByteLink::Status::Timeout ? Got::Timeout
               : status == ByteLink::Status::Stopped ? Got::Stopped
                                                     : Got::Closed;
    }
    item = CaptureEvent{};
    if (got == wire::FrameParser::Got::Control) {
        item.kind = CaptureEvent::Control;
        item.start = byte;
        return Got::Item;
    }
    item.kind = CaptureEvent::Frame;
    item.start = parser.frame().start;
    item.data = parser.frame().data;
    item.checkOk = parser.frame().checkOk;
    return Got::Item;
}

SimTerminal::Outcome CaptureReplay::play(ByteLink& link) {
    bool first = true;
    Clock::time_point last = Clock::now();
    for (const Step& step : plan) {
        const auto delay = std::chrono::nanoseconds(static_cast<std::int64_t>(static_cast<double>(step.delayNs) / speed));
        if (step.terminal) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(last + delay - Clock::now()).count();
            if (wait > 0 && link.pause(static_cast<int>(wait)) != ByteLink::Status::Ok) return SimTerminal::Outcome::Stopped;
            say("-> " + describe(step.event));
            const Bytes bytes = wireBytes(step.event);
            const ByteLink::Status status = link.write(bytes.data(), bytes.size());
            if (status != ByteLink::Status::Ok) {
                if (status == ByteLink::Status::Closed) say("-- the register went away");
                return outcomeOf(status);
            }
            last = Clock::now();
            continue;
        }
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
        const int waitMs = first ? -1 : static_cast<int>(waited) + ExtraWaitMs;
        first = false;
        CaptureEvent item;
        switch (readItem(link, waitMs, item)) {
        case Got::Item: break;
        case Got::Timeout: say("-- the register sent nothing more; replay ends"); return SimTerminal::Outcome::Ended;
        case Got::Closed: say("-- the register went away"); return SimTerminal::Outcome::Closed;
        case Got::Stopped: return SimTerminal::Outcome::Stopped;
        }
        last = Clock::now();
        say("<- " + describe(item));
        // Values may be masked in the capture, so only the kind of frame and its size are compared.
        const CaptureEvent& expected = step.event;
        if (item.kind != expected.kind || item.start != expected.start || item.data.size() != expected.data.size())
            say("-- the capture had: " + describe(expected));
    }
    say("-- replay complete");
    return SimTerminal::Outcome::Completed;
}

} // namespace ecrlink::tool
