// SPDX-License-Identifier: MIT
#pragma once

#include "wire/RawTag.h"

#include "ecrlink/CaptureChannel.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// One thing that happened in a capture, as fields for a renderer to word or
/// draw: frames with their tags read in the byte order of their direction,
/// control bytes, time-outs, failures, syncs, sessions and the records of a
/// journal's transactions.
struct TimelineEntry {
    enum class Kind { Open, Close, Timeout, Failure, Frame, Partial, Control, Synced, Session, Begins, Sending, Ended };
    /// What the data of a Frame (or the request of Begins) turned out to be.
    enum class Dump { None, Tags, Empty, Broken };

    Kind kind = Kind::Open;
    std::uint64_t timeNs = 0;  ///< since the session began
    std::uint64_t wallNs = 0;  ///< Session: when it began, ns since 1970 UTC
    bool fromTerminal = false; ///< direction of a Frame, Partial or Control byte
    std::uint8_t start = 0;    ///< start byte of a Frame or Partial; the Control byte
    std::size_t length = 0;    ///< data bytes of a Frame; those that came of a Partial
    std::uint32_t announced = 0; ///< Partial: the length its header announced, 0 when none came
    bool checkGood = false;    ///< Frame
    std::uint8_t check = 0;    ///< Frame: the check byte of its data
    Dump dump = Dump::None;
    std::vector<RawTag> tags;  ///< Dump::Tags
    ByteOrder order = ByteOrder::MsbFirst; ///< how the reader of the tags takes a number
    std::string dumpError;     ///< Dump::Broken
    int code = 0;              ///< the result of the call or the run; Synced: errno
    std::uint32_t value = 0;   ///< Timeout: milliseconds; Ended: how the run ended
    std::string operation;     ///< Failure: "read", "write", "flush"; Begins, Sending, Ended: the reference
    bool requestReached = false; ///< Ended: a byte of the request reached the line
    bool bad = false;          ///< a broken frame, NAK, EOT, an unknown byte, a failure
    unsigned int repeat = 1;   ///< the same entry so many times in a row
    /// Quiet time on the line before this Frame or Control byte, when it
    /// exceeded `gapLimitMs`, the read time-out in force; 0 otherwise.
    std::uint64_t gapNs = 0;
    unsigned int gapLimitMs = 0;

    bool onLine() const { return kind == Kind::Frame || kind == Kind::Partial || kind == Kind::Control; }
    /// A data frame of the register: a request, or its repetition.
    bool isRequest() const;
    bool isStatus() const;
    bool isTransaction() const { return kind == Kind::Begins || kind == Kind::Sending || kind == Kind::Ended; }
    /// Everything but the time, the repeat count and the gap is equal.
    bool sameAs(const TimelineEntry& other) const;
};

/// Turns a capture's events into entries one at a time, so that a file of
/// any size passes through in the memory of one entry. A read time-out set
/// again to the value in force shows nothing new, so the idle polls of a
/// register fold into one entry with a repeat count; a quiet stretch on the
/// line longer than the read time-out in force is noted on the entry after it.
class Timeline {
public:
    using Entry = TimelineEntry;
    using Sink = std::function<void(Entry&&)>;

    explicit Timeline(Sink sink) : out(std::move(sink)) {}

    void feed(const Communication::CaptureEvent& event);
    /// Hands over the entry still held back for folding.
    void finish();

    /// The entry for one event, without gap or repeat.
    static Entry entryOf(const Communication::CaptureEvent& event);

private:
    Sink out;
    Entry held;
    bool holding = false;
    unsigned int inForce = 0, shortestSince = 0;
    bool lineSeen = false;
    std::uint64_t lastOnLine = 0;
};

} // namespace ecrlink::tool
