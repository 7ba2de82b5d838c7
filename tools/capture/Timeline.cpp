// SPDX-License-Identifier: MIT
#include "capture/Timeline.h"

#include "wire/CheckByte.h"
#include "wire/TagTable.h"

#include "ecrlink/ECRProto.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace ecrlink::tool {

namespace {

using Communication::CaptureEvent;
using Kind = Timeline::Entry::Kind;

// The longest wait of the protocol, for captures that recorded no time-out
// (the terminal's side).
constexpr unsigned int LongestWaitMs = 6000;

std::string codeText(int code) {
    const char* text = code > 0 ? ecrlinkResultText(static_cast<unsigned int>(code)) : nullptr;
    return std::to_string(code) + (text && *text ? std::string(" ") + text : "");
}

// "2024-05-01 12:00:00 UTC"
std::string utc(std::uint64_t ns) {
    const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
    std::tm parts{};
    char text[32] = "?";
    if (gmtime_r(&seconds, &parts)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

const char* endingText(std::uint32_t ending) {
    switch (ending) {
    case 0: return "no final answer";
    case 1: return "answered";
    case 2: return "answered, ACK not delivered";
    default: return "ending unknown";
    }
}

bool same(const Timeline::Entry& a, const Timeline::Entry& b) {
    return a.kind == b.kind && a.fromTerminal == b.fromTerminal && a.what == b.what && a.tags == b.tags &&
           a.bad == b.bad;
}

} // namespace

std::string Timeline::seconds(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(ns / 1000000000),
                  static_cast<unsigned long long>(ns / 1000 % 1000000));
    return text;
}

std::string Timeline::gapText(const Entry& entry) {
    char quiet[32];
    std::snprintf(quiet, sizeof quiet, "%.3f", static_cast<double>(entry.gapNs) / 1e9);
    return std::string("quiet ") + quiet + " s, longer than the " + std::to_string(entry.gapLimitMs) +
           " ms read time-out";
}

Timeline::Entry Timeline::entryOf(const CaptureEvent& e) {
    Entry entry;
    entry.timeNs = e.timeNs;
    entry.fromTerminal = e.fromTerminal;
    switch (e.kind) {
    case CaptureEvent::Open:
    case CaptureEvent::Close:
        entry.kind = e.kind == CaptureEvent::Open ? Kind::Open : Kind::Close;
        entry.what = e.kind == CaptureEvent::Open ? "open" : "close";
        if (e.code != 0) entry.what += " failed: " + codeText(e.code);
        entry.bad = e.code != 0;
        break;
    case CaptureEvent::Timeout:
        entry.kind = Kind::Timeout;
        entry.what = "read time-out " + std::to_string(e.value) + " ms";
        if (e.code != 0) entry.what += " not set: " + codeText(e.code);
        entry.bad = e.code != 0;
        break;
    case CaptureEvent::Failure:
        entry.kind = Kind::Failure;
        entry.what = e.operation + ": " + codeText(e.code);
        // A read that times out is how a register waits; anything else went wrong.
        entry.bad = e.code != Communication::CommTimeout;
        break;
    case CaptureEvent::Synced:
        entry.kind = Kind::Synced;
        entry.what = e.code == 0 ? "capture synced to disk" : std::string("sync failed: ") + std::strerror(e.code);
        entry.bad = e.code != 0;
        break;
    case CaptureEvent::Control:
        entry.kind = Kind::Control;
        entry.what = byteName(e.start);
        entry.bad = e.start != CECRProto::ACK;
        break;
    case CaptureEvent::Partial:
        entry.kind = Kind::Frame;
        entry.what = byteName(e.start) + " frame cut short " +
                     (e.value ? "after " + std::to_string(e.data.size()) + " of " + std::to_string(e.value) + " data bytes"
                              : std::string("before its length"));
        entry.bad = true;
        break;
    case CaptureEvent::Session:
        entry.kind = Kind::Session;
        entry.timeNs = 0; // the times after it count from here
        entry.what = "session began " + utc(e.timeNs);
        break;
    case CaptureEvent::Intent: {
        entry.kind = Kind::Transaction;
        entry.what = "transaction " + e.operation + " begins";
        std::vector<RawTag> tags;
        std::string why;
        if (WireDump::decode(e.data, ByteOrder::MsbFirst, tags, why)) entry.tags = TagTable::summary(tags, ByteOrder::MsbFirst, true);
        break;
    }
    case CaptureEvent::Sending:
        entry.kind = Kind::Transaction;
        entry.what = "transaction " + e.operation + ": request goes out, on disk before its first byte";
        break;
    case CaptureEvent::Outcome:
        entry.kind = Kind::Transaction;
        entry.what = "transaction " + e.operation + " ended: " + codeText(e.code) + ", " + endingText(e.value) +
                     (e.checkOk ? "" : ", nothing of the request went out");
        entry.bad = e.value != 1;
        break;
    case CaptureEvent::Frame: {
        entry.kind = Kind::Frame;
        const std::uint8_t check = wire::checkByteOf(e.data.data(), static_cast<unsigned int>(e.data.size()));
        entry.what = byteName(e.start) + " " + std::to_string(e.data.size()) + " bytes, check " +
                     (e.checkOk ? toHex(&check, 1) + " good" : "BAD");
        entry.bad = !e.checkOk;
        // The register writes dump headers most significant byte first and reads them the other way round.
        const ByteOrder order = e.fromTerminal ? ByteOrder::LsbFirst : ByteOrder::MsbFirst;
        std::vector<RawTag> tags;
        std::string why;
        if (e.data.empty()) entry.tags = "(no data)";
        else if (WireDump::decode(e.data, order, tags, why)) entry.tags = TagTable::summary(tags, order, true);
        else entry.tags = "not a tag dump (" + why + ")";
        break;
    }
    }
    return entry;
}

Timeline Timeline::build(const std::vector<CaptureEvent>& events) {
    Timeline timeline;
    unsigned int inForce = 0, shortestSince = 0;
    bool lineSeen = false;
    std::uint64_t lastOnLine = 0;
    for (const CaptureEvent& e : events) {
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
            if (again) continue;
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
        if (!timeline.entries.empty() && entry.gapNs == 0 && same(timeline.entries.back(), entry)) {
            ++timeline.entries.back().repeat;
            continue;
        }
        timeline.entries.push_back(std::move(entry));
    }
    return timeline;
}

std::string Timeline::header() {
    return "      time s  dir   event (R register, T terminal)";
}

std::string Timeline::gapLine(const Entry& e) {
    return "                    ---- " + gapText(e) + " ----";
}

std::string Timeline::line(const Entry& e) {
    const std::string time = seconds(e.timeNs);
    std::string out = std::string(time.size() < 12 ? 12 - time.size() : 0, ' ') + time + "  ";
    out += e.onLine() ? (e.fromTerminal ? "T->R  " : "R->T  ") : "      ";
    out += e.what;
    if (!e.tags.empty()) out += ": " + e.tags;
    if (e.repeat > 1) out += " (x" + std::to_string(e.repeat) + ")";
    return out;
}

std::string Timeline::text() const {
    std::string out = header() + "\n";
    for (const Entry& e : entries) {
        if (e.gapNs) out += gapLine(e) + "\n";
        out += line(e) + "\n";
    }
    return out;
}

} // namespace ecrlink::tool
