// SPDX-License-Identifier: MIT
#pragma once

#include "wire/Bytes.h"

#include <cstdint>
#include <random>
#include <string>

namespace ecrlink::tool {

/// The faults of a noisy line, drawn one frame or reply at a time from a
/// seeded generator so that a run can be repeated exactly. It also counts
/// what it did and what the register accepted in spite of it.
class FaultPlan {
public:
    struct Rates {
        double corrupt = 0; ///< one data or check byte of a frame changed
        double length = 0;  ///< one byte of a frame's length field changed
        double nak = 0;     ///< a good frame of the register refused
        double silence = 0; ///< a frame or a reply left out
    };
    enum class Fault { None, Corrupt, Length, Nak, Silence };
    struct Counts {
        unsigned long frames = 0, replies = 0;
        unsigned long corrupt = 0, corruptAccepted = 0;
        unsigned long length = 0, lengthAccepted = 0;
        double lengthExpected = 0; ///< acceptances to expect from a one-byte check
        unsigned long nak = 0, silentFrames = 0, silentReplies = 0;
    };

    /// "corrupt=0.01,length=0.001,nak=0.01,silence=0.001": any of the four
    /// names, each once, with a rate from 0 to 1. False with `error` set.
    static bool parse(const std::string& text, Rates& out, std::string& error);

    FaultPlan() = default;
    FaultPlan(const Rates& rates, std::uint64_t seed);

    bool active() const { return enabled; }

    /// Decides the fate of one transmission of `frame` (start byte, length
    /// field, data, check byte) and changes it in place for Corrupt and
    /// Length; Silence means that it must not be written.
    Fault onFrame(Bytes& frame);
    /// The register's answer to a frame that onFrame() changed.
    void frameAnswered(Fault fault, bool acknowledged);
    /// Decides the fate of a reply to the register: an ACK may become NAK
    /// (Nak), and any reply may be left out (Silence).
    Fault onReply(std::uint8_t& reply);

    const Counts& counts() const { return tally; }
    /// One line of name=value pairs, the way `ecrlink soak` reads it back.
    std::string summary() const;

private:
    double draw();
    std::uint64_t below(std::uint64_t n) { return rng() % n; }

    bool enabled = false;
    Rates rates;
    std::mt19937_64 rng;
    Counts tally;
};

} // namespace ecrlink::tool
