// SPDX-License-Identifier: MIT
#include "ecrlink/CaptureChannel.h"

#include "EventBuilder.h"
#include "RecordReader.h"

namespace Communication {

namespace {

// Streams the events of a capture to `sink`, a block of the file at a time.
int readEvents(const std::string& path, const ecrlink::comm::EventBuilder::Sink& sink, bool& truncated,
               std::string& error) {
    truncated = false;
    ecrlink::comm::RecordReader reader;
    if (const int rc = reader.open(path, error)) return rc;
    ecrlink::comm::EventBuilder events(sink);
    ecrlink::comm::Record record;
    std::uint64_t at = ecrlink::comm::RecordReader::First, after = 0;
    while (reader.next(at, record, after)) {
        events.feed(record);
        at = after;
    }
    if (!reader.readError().empty()) {
        error = path + ": " + reader.readError();
        return CommOpenFailed;
    }
    truncated = at != reader.size() && reader.size() > 0;
    events.finish();
    return CommOk;
}

} // namespace

int readCapture(const std::string& path, std::vector<CaptureEvent>& events, bool& truncated, std::string& error) {
    events.clear();
    return readEvents(path, [&](CaptureEvent&& e) { events.push_back(std::move(e)); }, truncated, error);
}

int streamCapture(const std::string& path, const std::function<void(CaptureEvent&&)>& each, bool& truncated,
                  std::string& error) {
    return readEvents(path, each, truncated, error);
}

int readCaptureMessages(const std::string& path, std::vector<CapturedMessage>& messages, std::string& error) {
    messages.clear();
    bool truncated = false;
    std::size_t waiting = messages.max_size(); // the frame whose answer comes next
    return readEvents(
        path,
        [&](CaptureEvent&& e) {
            if (e.kind == CaptureEvent::Frame) {
                messages.push_back(
                    CapturedMessage{e.fromTerminal, e.timeNs, e.start, std::move(e.data), e.checkOk, -1});
                waiting = messages.size() - 1;
            } else if (e.kind == CaptureEvent::Control && waiting < messages.size() &&
                       e.fromTerminal != messages[waiting].fromTerminal &&
                       (e.code == CommOk || e.code == CommPartialWrite)) {
                messages[waiting].reply = e.start;
                waiting = messages.max_size();
            } else if (e.kind == CaptureEvent::Session) {
                waiting = messages.max_size();
            }
        },
        truncated, error);
}

} // namespace Communication
