// SPDX-License-Identifier: MIT
#include "capture/Transaction.h"

#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ECRProto.h"

namespace ecrlink::tool {

using Kind = TimelineEntry::Kind;

const TimelineEntry* Transaction::request() const {
    for (const TimelineEntry& e : entries)
        if (e.isRequest()) return &e;
    return nullptr;
}

const TimelineEntry* Transaction::answer() const {
    const TimelineEntry* answer = nullptr;
    const TimelineEntry* frame = nullptr; // the terminal's good data frame waiting for its reply
    for (const TimelineEntry& e : entries) {
        if (e.kind == Kind::Synced) continue; // a journal syncs between a frame and its ACK
        if (frame && e.kind == Kind::Control && !e.fromTerminal && e.start == CECRProto::ACK) answer = frame;
        frame = e.kind == Kind::Frame && e.fromTerminal && e.start == CECRProto::STX && e.checkGood ? &e : nullptr;
    }
    return answer;
}

const TimelineEntry* Transaction::ended() const {
    for (const TimelineEntry& e : entries)
        if (e.kind == Kind::Ended) return &e;
    return nullptr;
}

const TimelineEntry* Transaction::failure() const {
    for (const TimelineEntry& e : entries)
        if (e.kind == Kind::Failure && e.bad) return &e;
    return nullptr;
}

std::uint64_t Transaction::beganNs() const {
    for (const TimelineEntry& e : entries)
        if (e.onLine()) return e.timeNs;
    return entries.empty() ? 0 : entries.front().timeNs;
}

std::uint64_t Transaction::durationNs() const {
    const std::uint64_t began = beganNs();
    return entries.empty() || entries.back().timeNs < began ? 0 : entries.back().timeNs - began;
}

unsigned long Transaction::faults() const {
    unsigned long n = 0;
    for (const TimelineEntry& e : entries) n += (e.bad ? e.repeat : 0) + (e.gapNs ? 1 : 0);
    return n;
}

void TransactionSplitter::handOver() {
    if (!current.entries.empty()) out(std::move(current));
    current = Transaction{};
    current.sessionWallNs = sessionWallNs;
    lineSeen = terminalSpoke = false;
}

void TransactionSplitter::feed(TimelineEntry&& entry) {
    const bool next = entry.kind == Kind::Session || (entry.kind == Kind::Begins && lineSeen) ||
                      (entry.isRequest() && terminalSpoke) || current.entries.size() >= MaxEntries;
    if (entry.kind == Kind::Session) sessionWallNs = entry.wallNs;
    if (next) handOver();
    if (entry.kind == Kind::Session) current.sessionWallNs = sessionWallNs;
    lineSeen = lineSeen || entry.onLine();
    terminalSpoke = terminalSpoke || entry.kind == Kind::Ended ||
                    (entry.fromTerminal && (entry.kind == Kind::Frame || entry.kind == Kind::Partial));
    current.entries.push_back(std::move(entry));
}

void TransactionSplitter::finish() {
    handOver();
}

} // namespace ecrlink::tool
