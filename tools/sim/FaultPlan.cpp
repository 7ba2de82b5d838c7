// SPDX-License-Identifier: MIT
#include "sim/FaultPlan.h"

#include "wire/Frame.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ecrlink::tool {

namespace {

using wire::ACK;
using wire::NAK;
constexpr unsigned int MaxFrameLength = 4096; // what the register accepts
constexpr std::size_t Header = 3;             // start byte and length field

// A plain decimal fraction from 0 to 1: "0", "1", "0.001".
bool parseRate(const std::string& text, double& out) {
    std::size_t digits = 0, point = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') ++digits;
        else if (text[i] == '.' && point == std::string::npos && i > 0) point = i;
        else return false;
    }
    if (digits == 0 || point == text.size() - 1) return false;
    out = std::strtod(text.c_str(), nullptr);
    return out <= 1.0;
}

// Share of the 510 ways of changing one length byte that the register would
// accept: a shorter length whose next byte happens to equal the check of the
// bytes before it.
double acceptedShare(const Bytes& frame) {
    const std::size_t length = frame.size() - Header - 1;
    const unsigned int original = wire::lengthOf(frame[1], frame[2]);
    std::vector<bool> passes(length, false);
    std::uint8_t check = 0;
    for (std::size_t n = 0; n < length; ++n) {
        passes[n] = n > 0 && frame[Header + n] == check;
        check ^= frame[Header + n];
    }
    unsigned int accepted = 0;
    for (unsigned int delta = 1; delta < 256; ++delta)
        for (unsigned int changed : {original ^ (delta << 8), original ^ delta})
            if (changed < length && changed <= MaxFrameLength && passes[changed]) ++accepted;
    return accepted / 510.0;
}

} // namespace

bool FaultPlan::parse(const std::string& text, Rates& out, std::string& error) {
    Rates rates;
    bool seen[4] = {false, false, false, false};
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        static const char* const names[] = {"corrupt", "length", "nak", "silence"};
        double* const fields[] = {&rates.corrupt, &rates.length, &rates.nak, &rates.silence};
        int which = -1;
        for (int i = 0; i < 4; ++i)
            if (name == names[i]) which = i;
        if (which < 0 || eq == std::string::npos) {
            error = "fault '" + item + "': expected corrupt=, length=, nak= or silence= with a rate";
            return false;
        }
        if (seen[which]) {
            error = "fault '" + name + "' given twice";
            return false;
        }
        seen[which] = true;
        if (!parseRate(item.substr(eq + 1), *fields[which])) {
            error = "fault '" + item + "': the rate must be a decimal number from 0 to 1";
            return false;
        }
    }
    if (text.empty() || text.back() == ',') {
        error = "faults '" + text + "': expected NAME=RATE[,NAME=RATE...]";
        return false;
    }
    out = rates;
    return true;
}

FaultPlan::FaultPlan(const Rates& r, std::uint64_t seed) : enabled(true), rates(r), rng(seed) {}

double FaultPlan::draw() {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

FaultPlan::Fault FaultPlan::onFrame(Bytes& frame) {
    if (!enabled || frame.size() <= Header) return Fault::None;
    ++tally.frames;
    double u = draw();
    if (u < rates.silence) {
        ++tally.silentFrames;
        return Fault::Silence;
    }
    u -= rates.silence;
    if (u < rates.corrupt) {
        ++tally.corrupt;
        frame[Header + below(frame.size() - Header)] ^= static_cast<std::uint8_t>(1 + below(255));
        return Fault::Corrupt;
    }
    u -= rates.corrupt;
    if (u < rates.length) {
        ++tally.length;
        tally.lengthExpected += acceptedShare(frame);
        frame[1 + below(2)] ^= static_cast<std::uint8_t>(1 + below(255));
        return Fault::Length;
    }
    return Fault::None;
}

void FaultPlan::frameAnswered(Fault fault, bool acknowledged) {
    if (!acknowledged) return;
    if (fault == Fault::Corrupt) ++tally.corruptAccepted;
    if (fault == Fault::Length) ++tally.lengthAccepted;
}

FaultPlan::Fault FaultPlan::onReply(std::uint8_t& reply) {
    if (!enabled) return Fault::None;
    ++tally.replies;
    const double u = draw();
    if (u < rates.silence) {
        ++tally.silentReplies;
        return Fault::Silence;
    }
    if (reply == ACK && u - rates.silence < rates.nak) {
        ++tally.nak;
        reply = NAK;
        return Fault::Nak;
    }
    return Fault::None;
}

std::string FaultPlan::summary() const {
    const Counts& c = tally;
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.3f", c.lengthExpected);
    return "faults: frames=" + std::to_string(c.frames) + " replies=" + std::to_string(c.replies) +
           " corrupt=" + std::to_string(c.corrupt) + " corrupt_accepted=" + std::to_string(c.corruptAccepted) +
           " length=" + std::to_string(c.length) + " length_accepted=" + std::to_string(c.lengthAccepted) +
           " length_expected=" + expected + " nak=" + std::to_string(c.nak) +
           " silent_frames=" + std::to_string(c.silentFrames) + " silent_replies=" + std::to_string(c.silentReplies);
}

} // namespace ecrlink::tool
