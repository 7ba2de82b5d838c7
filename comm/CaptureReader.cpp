// SPDX-License-Identifier: MIT
#include "ecrlink/CaptureChannel.h"

#include "CaptureFormat.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace Communication {

namespace {

const char* operationOf(capture::Type type) {
    switch (type) {
    case capture::Read: return "read";
    case capture::Write: return "write";
    default: return "flush";
    }
}

} // namespace

int readCapture(const std::string& path, std::vector<CaptureEvent>& events, bool& truncated, std::string& error) {
    events.clear();
    truncated = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return CommOpenFailed;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() < sizeof capture::Magic || std::memcmp(bytes.data(), capture::Magic, sizeof capture::Magic) != 0) {
        error = path + ": not a capture file of this version";
        return CommBadArgument;
    }

    // The trackers put the frames together again, in the byte order of each direction.
    capture::FrameTracker toTerminal(true, nullptr), fromTerminal(false, nullptr);
    CaptureEvent base;
    const auto frameOf = [&](bool terminal) {
        return [&, terminal](const capture::FrameTracker::Frame& f) {
            CaptureEvent e = base;
            e.kind = CaptureEvent::Frame;
            e.fromTerminal = terminal;
            e.start = f.start;
            e.data = f.data;
            e.checkOk = f.checkOk;
            events.push_back(std::move(e));
        };
    };
    const auto controlOf = [&](bool terminal) {
        return [&, terminal](unsigned char byte) {
            CaptureEvent e = base;
            e.kind = CaptureEvent::Control;
            e.fromTerminal = terminal;
            e.start = byte;
            events.push_back(std::move(e));
        };
    };

    // A frame that the line left unfinished is shown with what came of it, at the time of its last byte.
    std::uint64_t lastFed[2] = {0, 0};
    const auto cut = [&](bool terminal) {
        capture::FrameTracker& tracker = terminal ? fromTerminal : toTerminal;
        capture::FrameTracker::Frame f;
        std::uint32_t announced = 0;
        if (tracker.unfinished(f, announced)) {
            CaptureEvent e;
            e.kind = CaptureEvent::Partial;
            e.fromTerminal = terminal;
            e.timeNs = lastFed[terminal];
            e.start = f.start;
            e.data = std::move(f.data);
            e.value = announced;
            events.push_back(std::move(e));
        }
        tracker.reset();
    };

    const unsigned char* at = bytes.data() + sizeof capture::Magic;
    const unsigned char* end = bytes.data() + bytes.size();
    capture::Record r;
    while (at < end) {
        if (!capture::decode(at, end, r)) {
            truncated = true;
            break;
        }
        base = CaptureEvent{};
        base.timeNs = r.timeNs;
        base.code = r.value;
        switch (r.type) {
        case capture::Open:
        case capture::Close:
        case capture::Sync:
            base.kind = r.type == capture::Open ? CaptureEvent::Open
                        : r.type == capture::Close ? CaptureEvent::Close
                                                   : CaptureEvent::Synced;
            events.push_back(base);
            break;
        case capture::Timeout:
            base.kind = CaptureEvent::Timeout;
            base.value = r.arg;
            events.push_back(base);
            break;
        case capture::Read:
        case capture::Write: {
            const bool terminal = r.type == capture::Read;
            // Bytes from one side end what the other side had begun (an abort after a refused length).
            if (!r.payload.empty()) cut(!terminal);
            capture::FrameTracker& tracker = terminal ? fromTerminal : toTerminal;
            tracker.feed(r.payload.data(), r.payload.size(), frameOf(terminal), controlOf(terminal));
            if (!r.payload.empty()) lastFed[terminal] = r.timeNs;
            if (r.value != CommOk && r.value != CommPartialWrite) cut(terminal);
            [[fallthrough]];
        }
        case capture::Flush:
            if (r.type == capture::Flush) cut(true), cut(false);
            if (r.value != CommOk && r.value != CommPartialWrite) {
                base.kind = CaptureEvent::Failure;
                base.operation = operationOf(r.type);
                events.push_back(base);
            }
            break;
        default: // Start, and record types of later versions
            break;
        }
    }
    cut(true);
    cut(false);
    return CommOk;
}

int readCaptureMessages(const std::string& path, std::vector<CapturedMessage>& messages, std::string& error) {
    messages.clear();
    std::vector<CaptureEvent> events;
    bool truncated = false;
    if (const int rc = readCapture(path, events, truncated, error)) return rc;
    CapturedMessage* waiting = nullptr; // the frame whose answer comes next
    for (const CaptureEvent& e : events) {
        if (e.kind == CaptureEvent::Frame) {
            messages.push_back(CapturedMessage{e.fromTerminal, e.timeNs, e.start, e.data, e.checkOk, -1});
            waiting = &messages.back();
        } else if (e.kind == CaptureEvent::Control && waiting && e.fromTerminal != waiting->fromTerminal) {
            waiting->reply = e.start;
            waiting = nullptr;
        }
    }
    return CommOk;
}

} // namespace Communication
