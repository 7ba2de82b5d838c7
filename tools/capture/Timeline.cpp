// SPDX-License-Identifier: MIT
#include "capture/Timeline.h"

#include "wire/CheckByte.h"
#include "wire/WireDump.h"

#include "ecrlink/ECRProto.h"

#include <algorithm>

namespace ecrlink::tool {

namespace {

using Communication::CaptureEvent;
using Kind = TimelineEntry::Kind;

// The longest wait of the protocol, for captures that recorded no time-out
// (the terminal's side).
constexpr unsigned int LongestWaitMs = 6000;

void readDump(const Bytes& data, ByteOrder order, TimelineEntry& entry) {
    entry.order = order;
    if (data.empty()) entry.dump = TimelineEntry::Dump::Empty;
    else if (WireDump::decode(data, order, entry.tags, entry.dumpError)) entry.dump = TimelineEntry::Dump::Tags;
    else entry.dump = TimelineEntry::Dump::Broken;
}

bool sameTags(const std::vector<RawTag>& a, const std::vector<RawTag>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const RawTag& x, const RawTag& y) { return x.number == y.number && x.value == y.value; });
}

} // namespace

bool TimelineEntry::isRequest() const {
    return kind == Kind::Frame && !fromTerminal && start == CECRProto::STX;
}

bool TimelineEntry::isStatus() const {
    return kind == Kind::Frame && start == CECRProto::DC2;
}

bool TimelineEntry::sameAs(const TimelineEntry& o) const {
    return kind == o.kind && wallNs == o.wallNs && fromTerminal == o.fromTerminal && start == o.start &&
           length == o.length && announced == o.announced && checkGood == o.checkGood && check == o.check &&
           dump == o.dump && order == o.order && dumpError == o.dumpError && code == o.code && value == o.value &&
           operation == o.operation && requestReached == o.requestReached && bad == o.bad && sameTags(tags, o.tags);
}

TimelineEntry Timeline::entryOf(const CaptureEvent& e) {
    Entry entry;
    entry.timeNs = e.timeNs;
    entry.fromTerminal = e.fromTerminal;
    entry.code = e.code;
    entry.value = e.value;
    entry.operation = e.operation;
    entry.start = e.start;
    switch (e.kind) {
    case CaptureEvent::Open:
    case CaptureEvent::Close:
        entry.kind = e.kind == CaptureEvent::Open ? Kind::Open : Kind::Close;
        entry.bad = e.code != 0;
        break;
    case CaptureEvent::Timeout:
        entry.kind = Kind::Timeout;
        entry.bad = e.code != 0;
        break;
    case CaptureEvent::Failure:
        entry.kind = Kind::Failure;
        // A read that times out is how a register waits; anything else went wrong.
        entry.bad = e.code != Communication::CommTimeout;
        break;
    case CaptureEvent::Synced:
        entry.kind = Kind::Synced;
        entry.bad = e.code != 0;
        break;
    case CaptureEvent::Control:
        entry.kind = Kind::Control;
        entry.bad = e.start != CECRProto::ACK;
        break;
    case CaptureEvent::Partial:
        entry.kind = Kind::Partial;
        entry.length = e.data.size();
        entry.announced = e.value;
        entry.bad = true;
        break;
    case CaptureEvent::Session:
        entry.kind = Kind::Session;
        entry.timeNs = 0; // the times after it count from here
        entry.wallNs = e.timeNs;
        break;
    case CaptureEvent::Intent:
        entry.kind = Kind::Begins;
        readDump(e.data, ByteOrder::MsbFirst, entry);
        break;
    case CaptureEvent::Sending:
        entry.kind = Kind::Sending;
        break;
    case CaptureEvent::Outcome:
        entry.kind = Kind::Ended;
        entry.requestReached = e.checkOk;
        entry.bad = e.value != 1;
        break;
    case CaptureEvent::Frame:
        entry.kind = Kind::Frame;
        entry.length = e.data.size();
        entry.check = wire::checkByteOf(e.data.data(), static_cast<unsigned int>(e.data.size()));
        entry.checkGood = e.checkOk;
        entry.bad = !e.checkOk;
        // The register writes dump headers most significant byte first and reads them the other way round.
        readDump(e.data, e.fromTerminal ? ByteOrder::LsbFirst : ByteOrder::MsbFirst, entry);
        break;
    }
    return entry;
}

void Timeline::feed(const CaptureEvent& e) {
    Entry entry = entryOf(e);
    if (e.kind == CaptureEvent::Session) {
        // Another run of the register: its clock and its line start afresh.
        inForce = shortestSince = 0;
        lineSeen = false;
    }
    if (e.kind == CaptureEvent::Timeout) {
        shortestSince = shortestSince ? std::min(shortestSince, e.value) : e.value;
        const bool again = e.value == inForce && e.code == 0;
        if (e.code == 0) inForce = e.value;
        if (again) return;
    }
    if (entry.onLine()) {
        // The quiet time is measured against the shortest wait the register began in it.
        const unsigned int limit = shortestSince ? shortestSince : inForce ? inForce : LongestWaitMs;
        if (lineSeen && e.timeNs - lastOnLine > std::uint64_t(limit) * 1000000) {
            entry.gapNs = e.timeNs - lastOnLine;
            entry.gapLimitMs = limit;
        }
        lineSeen = true;
        lastOnLine = e.timeNs;
        shortestSince = 0;
    }
    if (holding && entry.gapNs == 0 && held.sameAs(entry)) {
        ++held.repeat;
        return;
    }
    if (holding) out(std::move(held));
    held = std::move(entry);
    holding = true;
}

void Timeline::finish() {
    if (holding) out(std::move(held));
    holding = false;
}

} // namespace ecrlink::tool
