// SPDX-License-Identifier: MIT
#include "sim/SimTerminal.h"

#include "wire/TagTable.h"

#include "wire/CheckByte.h"
#include "wire/Frame.h"

namespace ecrlink::tool {

namespace {

using wire::ACK;
using wire::DC2;
using wire::EOT;
using wire::NAK;
using wire::STX;
constexpr int LingerMs = 200;

std::string hex1(std::uint8_t b) {
    return toHex(&b, 1);
}

std::string faultNote(FaultPlan::Fault fault, const Bytes& wire) {
    switch (fault) {
    case FaultPlan::Fault::Corrupt: return " (one byte changed: " + toHex(wire) + ")";
    case FaultPlan::Fault::Length: return " (length changed to " + toHex(&wire[1], 2) + ")";
    case FaultPlan::Fault::Silence: return " (left out)";
    default: return "";
    }
}

SimTerminal::Outcome outcomeOf(ByteLink::Status status) {
    return status == ByteLink::Status::Stopped ? SimTerminal::Outcome::Stopped : SimTerminal::Outcome::Closed;
}

} // namespace

SimTerminal::SimTerminal(Sink output) : sink(std::move(output)) {}

void SimTerminal::say(const std::string& text) const {
    if (sink) sink(text);
}

void SimTerminal::fail(const std::string& text) const {
    say("-- " + at + text);
}

SimTerminal::Outcome SimTerminal::play(ByteLink& link, const Scenario& scenario) {
    corruptNext = false;
    gapMs = 0;
    bool first = true;
    for (const ScenarioStep& step : scenario.steps) {
        at = scenario.name + ":" + std::to_string(step.line) + ": ";
        Outcome outcome = Outcome::Completed;
        switch (step.kind) {
        case ScenarioStep::Kind::Answer:
            outcome = answer(link, step, first);
            first = false;
            break;
        case ScenarioStep::Kind::Frame:
            outcome = sendFrame(link, step.start, resolve(step.tags));
            break;
        case ScenarioStep::Kind::Receipt: {
            const std::size_t size = step.text.size();
            for (unsigned int i = 0; i < step.pieces && outcome == Outcome::Completed; ++i) {
                const std::size_t from = size * i / step.pieces;
                const std::size_t to = size * (i + 1) / step.pieces;
                RawTag piece{step.tagNumber, {}};
                putU32(piece.value, i + 1, ByteOrder::LsbFirst);
                putU32(piece.value, step.pieces, ByteOrder::LsbFirst);
                piece.value.insert(piece.value.end(), step.text.begin() + static_cast<long>(from),
                                   step.text.begin() + static_cast<long>(to));
                outcome = sendFrame(link, STX, {piece});
            }
            break;
        }
        case ScenarioStep::Kind::Raw:
            say("-> raw " + toHex(step.bytes));
            outcome = writeOrClose(link, step.bytes, gapMs);
            break;
        case ScenarioStep::Kind::Sleep:
            if (link.pause(step.ms) != ByteLink::Status::Ok) return Outcome::Stopped;
            break;
        case ScenarioStep::Kind::Slow:
            gapMs = step.ms;
            break;
        case ScenarioStep::Kind::Corrupt:
            corruptNext = true;
            break;
        case ScenarioStep::Kind::Drop:
            // A pseudo-terminal discards unread input when it hangs up: let the last bytes be read first.
            if (link.pause(LingerMs) != ByteLink::Status::Ok) return Outcome::Stopped;
            say("-- hanging up");
            return Outcome::Dropped;
        }
        if (outcome != Outcome::Completed) return outcome;
    }
    linger(link);
    say("-- dialogue complete");
    return Outcome::Completed;
}

SimTerminal::Outcome SimTerminal::answer(ByteLink& link, const ScenarioStep& step, bool first) {
    for (;;) {
        Incoming frame;
        switch (readFrame(link, first ? -1 : RequestTimeoutMs, frame)) {
        case Got::Frame: break;
        case Got::Eot: fail("the register aborted"); return Outcome::Ended;
        case Got::Timeout: fail("no frame from the register; dialogue ends"); return Outcome::Ended;
        case Got::Closed: fail("the register went away"); return Outcome::Closed;
        case Got::Stopped: return Outcome::Stopped;
        }
        first = false;
        const bool good = frame.checkOk;
        const std::uint8_t expected = wire::checkByteOf(frame.data.data(), static_cast<unsigned int>(frame.data.size()));
        std::string line = "<- " + byteName(frame.start) + " " + std::to_string(frame.data.size()) +
                           " bytes, check " + hex1(frame.check) + (good ? " ok" : " BAD (expected " + hex1(expected) + ")");
        std::vector<RawTag> tags;
        std::string why;
        if (WireDump::decode(frame.data, ByteOrder::MsbFirst, tags, why))
            line += ": " + TagTable::summary(tags, ByteOrder::MsbFirst, false);
        else
            line += ": not a tag dump (" + why + ")";
        say(line);
        if (good) request = tags;

        std::uint8_t reply = 0;
        switch (step.reply) {
        case ScenarioStep::Reply::Ack: reply = good ? ACK : NAK; break;
        case ScenarioStep::Reply::Nak: reply = NAK; break;
        case ScenarioStep::Reply::Eot: reply = EOT; break;
        case ScenarioStep::Reply::None: say("-- (no reply)"); return keepSilent(link);
        }
        const FaultPlan::Fault fault = faults.onReply(reply);
        if (fault == FaultPlan::Fault::Silence) {
            // The register hears nothing and gives up; its next frame begins a new dialogue.
            say("-- " + byteName(reply) + " left out");
            return Outcome::Ended;
        }
        say("-> " + byteName(reply) + (fault == FaultPlan::Fault::Nak ? " (refused on purpose)" : ""));
        const Outcome written = writeOrClose(link, {reply}, 0);
        if (written != Outcome::Completed) return written;
        // A refused frame comes again; an ack step waits for the repetition.
        if (step.reply == ScenarioStep::Reply::Ack && reply == NAK) continue;
        return Outcome::Completed;
    }
}

SimTerminal::Outcome SimTerminal::keepSilent(ByteLink& link) {
    // Silence lasts until the register stops trying, so that it sees no reply at all.
    for (;;) {
        Incoming frame;
        switch (readFrame(link, RequestTimeoutMs, frame)) {
        case Got::Frame: say("<- " + byteName(frame.start) + " " + std::to_string(frame.data.size()) + " bytes (no reply)"); break;
        case Got::Eot: return Outcome::Ended;
        case Got::Timeout: return Outcome::Completed;
        case Got::Closed: fail("the register went away"); return Outcome::Closed;
        case Got::Stopped: return Outcome::Stopped;
        }
    }
}

std::string SimTerminal::describe(const AcceptedChange& change) {
    return std::string("the register accepted the changed frame (") +
           (change.fault == FaultPlan::Fault::Length ? "length" : "data or check byte") + "); request " +
           TagTable::summary(change.request, ByteOrder::MsbFirst, false);
}

SimTerminal::Outcome SimTerminal::sendFrame(ByteLink& link, std::uint8_t start, const std::vector<RawTag>& tags) {
    const Bytes data = WireDump::encode(tags, ByteOrder::LsbFirst);
    if (data.size() > WireDump::MaxFramed) {
        fail("a frame of " + std::to_string(data.size()) + " data bytes cannot be sent");
        return Outcome::Ended;
    }
    const std::uint8_t check = wire::checkByteOf(data.data(), static_cast<unsigned int>(data.size()));
    Bytes frame{start, static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(check);
    const std::string what = byteName(start) + " " + std::to_string(data.size()) + " bytes, check ";
    const std::string shown = TagTable::summary(tags, ByteOrder::LsbFirst, true);

    for (int attempt = 1; attempt <= SendAttempts; ++attempt) {
        const bool corrupt = corruptNext;
        corruptNext = false;
        frame.back() = corrupt ? static_cast<std::uint8_t>(check ^ 0xFF) : check;
        Bytes wire = frame;
        const FaultPlan::Fault fault = faults.onFrame(wire);
        say("-> " + what + hex1(frame.back()) + (corrupt ? " (corrupted)" : "") + faultNote(fault, wire) + ": " + shown);
        if (fault != FaultPlan::Fault::Silence) {
            const Outcome written = writeOrClose(link, wire, gapMs);
            if (written != Outcome::Completed) return written;
        }

        std::uint8_t reply = 0;
        const ByteLink::Status status = link.readByte(reply, ReplyTimeoutMs);
        if (status == ByteLink::Status::Ok) faults.frameAnswered(fault, reply == ACK);
        if (reply == ACK && (fault == FaultPlan::Fault::Corrupt || fault == FaultPlan::Fault::Length)) {
            const AcceptedChange change{fault, request};
            say("-- " + describe(change));
            if (accepted) accepted(change);
        }
        if (status == ByteLink::Status::Timeout) {
            fail("no reply from the register; dialogue ends");
            return Outcome::Ended;
        }
        if (status != ByteLink::Status::Ok) {
            if (status == ByteLink::Status::Closed) fail("the register went away");
            return outcomeOf(status);
        }
        say("<- " + byteName(reply));
        if (reply == ACK) return Outcome::Completed;
        if (reply == STX || reply == DC2) {
            // The register gave up on this dialogue and begins its next request.
            link.unreadByte();
            fail("the register began its next request; dialogue ends");
            return Outcome::Ended;
        }
        if (reply != NAK) {
            fail(byteName(reply) + " instead of ACK or NAK; dialogue ends");
            return Outcome::Ended;
        }
    }
    fail("frame refused " + std::to_string(SendAttempts) + " times; dialogue ends");
    return Outcome::Ended;
}

SimTerminal::Got SimTerminal::readFrame(ByteLink& link, int timeoutMs, Incoming& frame) {
    for (;;) {
        wire::FrameParser parser;
        wire::FrameParser::Got got = wire::FrameParser::Got::Nothing;
        std::uint8_t byte = 0;
        const ByteLink::Status status = link.readFrame(parser, timeoutMs, ByteTimeoutMs, got, byte);
        if (status != ByteLink::Status::Ok) {
            if (status == ByteLink::Status::Timeout && parser.inFrame())
                fail(byteName(parser.frame().start) + " frame cut short");
            return status == ByteLink::Status::Timeout ? Got::Timeout
                   : status == ByteLink::Status::Stopped ? Got::Stopped
                                                         : Got::Closed;
        }
        if (got == wire::FrameParser::Got::Frame) {
            frame = parser.frame();
            return Got::Frame;
        }
        if (byte == EOT) {
            say("<- EOT");
            return Got::Eot;
        }
        say("<- " + byteName(byte) + " (ignored)");
    }
}

SimTerminal::Outcome SimTerminal::writeOrClose(ByteLink& link, const Bytes& bytes, int gap) {
    const ByteLink::Status status = link.write(bytes.data(), bytes.size(), gap);
    if (status == ByteLink::Status::Ok) return Outcome::Completed;
    if (status == ByteLink::Status::Closed) fail("the register went away");
    return outcomeOf(status);
}

void SimTerminal::linger(ByteLink& link) {
    // Whatever the register still says (an EOT after a refused frame) is shown;
    // the start of its next request is left for the next dialogue.
    std::uint8_t byte = 0;
    while (link.readByte(byte, LingerMs) == ByteLink::Status::Ok) {
        if (byte == STX || byte == DC2) {
            link.unreadByte();
            return;
        }
        say("<- " + byteName(byte));
    }
}

std::vector<RawTag> SimTerminal::resolve(const std::vector<TagSpec>& specs) const {
    std::vector<RawTag> tags;
    for (const TagSpec& spec : specs) {
        if (!spec.echo) {
            tags.push_back(spec.tag);
            continue;
        }
        const std::size_t before = tags.size();
        for (const RawTag& asked : request) {
            if (asked.number != spec.tag.number) continue;
            RawTag echoed = asked;
            // The register stores numbers most significant byte first and reads them the other way round.
            if (spec.echoNumber && asked.value.size() == 4) {
                echoed.value.clear();
                putU32(echoed.value, getU32(asked.value.data(), ByteOrder::MsbFirst), ByteOrder::LsbFirst);
            }
            tags.push_back(std::move(echoed));
        }
        if (tags.size() == before) fail("tag " + std::to_string(spec.tag.number) + " to echo is not in the request");
    }
    return tags;
}

} // namespace ecrlink::tool
