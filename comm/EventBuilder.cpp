// SPDX-License-Identifier: MIT
#include "EventBuilder.h"

#include <algorithm>

namespace ecrlink::comm {

using namespace Communication;

namespace {

const char* operationOf(Type type) {
    switch (type) {
    case Read: return "read";
    case Write: return "write";
    default: return "flush";
    }
}

std::string text(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

} // namespace

EventBuilder::EventBuilder(Sink s) : sink(std::move(s)) {}

// A frame that the line left unfinished is shown with what came of it, at the time of its last byte.
void EventBuilder::cut(bool terminal) {
    FrameTracker& tracker = terminal ? fromTerminal : toTerminal;
    FrameTracker::Frame f;
    std::uint32_t announced = 0;
    if (tracker.unfinished(f, announced)) {
        CaptureEvent e;
        e.kind = CaptureEvent::Partial;
        e.fromTerminal = terminal;
        e.timeNs = lastFed[terminal];
        e.start = f.start;
        e.data = std::move(f.data);
        e.value = announced;
        emit(std::move(e));
    }
    tracker.reset();
}

void EventBuilder::finish() {
    cut(true);
    cut(false);
}

void EventBuilder::feed(const Record& r) {
    CaptureEvent base;
    base.timeNs = r.timeNs;
    base.code = r.value;
    switch (r.type) {
    case Open:
    case Close:
    case Sync:
        base.kind = r.type == Open ? CaptureEvent::Open : r.type == Close ? CaptureEvent::Close : CaptureEvent::Synced;
        emit(std::move(base));
        break;
    case Timeout:
        base.kind = CaptureEvent::Timeout;
        base.value = r.arg;
        emit(std::move(base));
        break;
    case Read:
    case Write: {
        const bool terminal = r.type == Read;
        // Only what the line took counts as sent: the count, not the bytes handed in.
        const std::size_t n = terminal ? r.payload.size() : std::min<std::size_t>(r.arg, r.payload.size());
        // Bytes from one side end what the other side had begun (an abort after a refused length).
        if (n) cut(!terminal);
        FrameTracker& tracker = terminal ? fromTerminal : toTerminal;
        std::vector<unsigned char> bytes(r.payload.begin(), r.payload.begin() + static_cast<std::ptrdiff_t>(n));
        tracker.feed(
            bytes.data(), n,
            [&](const FrameTracker::Frame& f) {
                CaptureEvent e = base;
                e.kind = CaptureEvent::Frame;
                e.fromTerminal = terminal;
                e.start = f.start;
                e.data = f.data;
                e.checkOk = f.checkOk;
                emit(std::move(e));
            },
            [&](unsigned char byte) {
                CaptureEvent e = base;
                e.kind = CaptureEvent::Control;
                e.fromTerminal = terminal;
                e.start = byte;
                emit(std::move(e));
            });
        if (n) lastFed[terminal] = r.timeNs;
        if (r.value != CommOk && r.value != CommPartialWrite) cut(terminal);
        if (r.value != CommOk && r.value != CommPartialWrite) {
            base.kind = CaptureEvent::Failure;
            base.operation = operationOf(r.type);
            emit(std::move(base));
        }
        break;
    }
    case Flush:
        cut(true);
        cut(false);
        if (r.value != CommOk) {
            base.kind = CaptureEvent::Failure;
            base.operation = operationOf(r.type);
            emit(std::move(base));
        }
        break;
    case Session:
        // A new session starts on a fresh line.
        finish();
        base.kind = CaptureEvent::Session;
        base.code = 0;
        base.timeNs = r.payload.size() >= 8 ? getLE(r.payload.data(), 8) : 0;
        emit(std::move(base));
        break;
    case Intent: {
        std::uint64_t wall = 0;
        base.kind = CaptureEvent::Intent;
        if (!splitIntent(r, wall, base.operation, base.data)) break;
        emit(std::move(base));
        break;
    }
    case Sending:
        base.kind = CaptureEvent::Sending;
        base.operation = text(r.payload);
        emit(std::move(base));
        break;
    case Outcome:
        base.kind = CaptureEvent::Outcome;
        base.operation = text(r.payload);
        base.value = r.arg & 0xFF;
        base.checkOk = (r.arg & RequestOut) != 0;
        emit(std::move(base));
        break;
    default: // record types of later versions
        break;
    }
}

} // namespace ecrlink::comm
