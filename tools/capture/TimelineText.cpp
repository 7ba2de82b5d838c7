// SPDX-License-Identifier: MIT
#include "capture/TimelineText.h"

#include "wire/TagTable.h"

#include "ecrlink/ECRProto.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace ecrlink::tool {

namespace TimelineText {

namespace {

using Kind = TimelineEntry::Kind;

std::string what(const TimelineEntry& e) {
    switch (e.kind) {
    case Kind::Open:
    case Kind::Close:
        return std::string(e.kind == Kind::Open ? "open" : "close") + (e.code ? " failed: " + codeText(e.code) : "");
    case Kind::Timeout:
        return "read time-out " + std::to_string(e.value) + " ms" + (e.code ? " not set: " + codeText(e.code) : "");
    case Kind::Failure: return e.operation + ": " + codeText(e.code);
    case Kind::Synced: return e.code == 0 ? "capture synced to disk" : std::string("sync failed: ") + std::strerror(e.code);
    case Kind::Control: return byteName(e.start);
    case Kind::Partial:
        return byteName(e.start) + " frame cut short " +
               (e.announced ? "after " + std::to_string(e.length) + " of " + std::to_string(e.announced) + " data bytes"
                            : std::string("before its length"));
    case Kind::Session: return "session began " + utc(e.wallNs);
    case Kind::Begins: return "transaction " + e.operation + " begins";
    case Kind::Sending: return "transaction " + e.operation + ": request goes out, on disk before its first byte";
    case Kind::Ended:
        return "transaction " + e.operation + " ended: " + codeText(e.code) + ", " + endingText(e.value) +
               (e.requestReached ? "" : ", nothing of the request went out");
    case Kind::Frame:
        return byteName(e.start) + " " + std::to_string(e.length) + " bytes, check " +
               (e.checkGood ? toHex(&e.check, 1) + " good" : "BAD");
    }
    return {};
}

std::string tags(const TimelineEntry& e) {
    switch (e.dump) {
    case TimelineEntry::Dump::Tags: return TagTable::summary(e.tags, e.order, true);
    case TimelineEntry::Dump::Empty: return e.kind == Kind::Frame ? "(no data)" : "";
    case TimelineEntry::Dump::Broken: return e.kind == Kind::Frame ? "not a tag dump (" + e.dumpError + ")" : "";
    case TimelineEntry::Dump::None: break;
    }
    return {};
}

} // namespace

std::string codeText(int code) {
    const char* text = code > 0 ? ecrlinkResultText(static_cast<unsigned int>(code)) : nullptr;
    return std::to_string(code) + (text && *text ? std::string(" ") + text : "");
}

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

std::string seconds(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(ns / 1000000000),
                  static_cast<unsigned long long>(ns / 1000 % 1000000));
    return text;
}

std::string gapText(const TimelineEntry& e) {
    char quiet[32];
    std::snprintf(quiet, sizeof quiet, "%.3f", static_cast<double>(e.gapNs) / 1e9);
    return std::string("quiet ") + quiet + " s, longer than the " + std::to_string(e.gapLimitMs) + " ms read time-out";
}

std::string describe(const TimelineEntry& e) {
    const std::string shown = tags(e);
    return what(e) + (shown.empty() ? "" : ": " + shown);
}

std::string header() {
    return "      time s  dir   event (R register, T terminal)\n";
}

std::string lines(const TimelineEntry& e) {
    std::string out;
    if (e.gapNs) out = "                    ---- " + gapText(e) + " ----\n";
    const std::string time = seconds(e.timeNs);
    out += std::string(time.size() < 12 ? 12 - time.size() : 0, ' ') + time + "  ";
    out += e.onLine() ? (e.fromTerminal ? "T->R  " : "R->T  ") : "      ";
    out += describe(e);
    if (e.repeat > 1) out += " (x" + std::to_string(e.repeat) + ")";
    return out + "\n";
}

} // namespace TimelineText

} // namespace ecrlink::tool
