// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/CaptureChannel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// What a capture shows, one entry per thing that happened, ready to be
/// printed or drawn: frames with their tags read in the byte order of their
/// direction, control bytes, time-outs, failures, syncs, and the quiet
/// stretches on the line that lasted longer than the read time-out in force;
/// the sessions of the file and the transactions of a journal on lines of
/// their own.
class Timeline {
public:
    struct Entry {
        enum class Kind { Open, Close, Timeout, Failure, Frame, Control, Synced, Session, Transaction };
        Kind kind = Kind::Open;
        std::uint64_t timeNs = 0;
        bool fromTerminal = false; ///< direction of a Frame or Control byte
        bool bad = false;          ///< a broken frame, NAK, EOT, an unknown byte, a failure
        std::string what;          ///< "STX 28 bytes, check e7 good", "ACK", "read time-out 250 ms"
        std::string tags;          ///< Frame: its tags in one line
        unsigned int repeat = 1;   ///< the same entry so many times in a row
        /// Quiet time on the line before this Frame or Control byte, when it
        /// exceeded `gapLimitMs`, the read time-out in force; 0 otherwise.
        std::uint64_t gapNs = 0;
        unsigned int gapLimitMs = 0;

        bool onLine() const { return kind == Kind::Frame || kind == Kind::Control; }
    };

    /// A read time-out set again to the value in force shows nothing new, so
    /// the idle polls of a register fold into one entry with a repeat count.
    static Timeline build(const std::vector<Communication::CaptureEvent>& events);

    /// The entry for one event, without gap or repeat.
    static Entry entryOf(const Communication::CaptureEvent& event);

    /// One line per entry: time in seconds, direction (R->T, T->R), event;
    /// a quiet stretch gets a line of its own before its entry.
    std::string text() const;
    static std::string header();
    static std::string line(const Entry& entry);
    static std::string gapLine(const Entry& entry);
    /// "quiet 2.013 s, longer than the 250 ms read time-out"
    static std::string gapText(const Entry& entry);
    /// "0.001099"
    static std::string seconds(std::uint64_t ns);

    std::vector<Entry> entries;
};

} // namespace ecrlink::tool
