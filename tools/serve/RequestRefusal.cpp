// SPDX-License-Identifier: MIT
#include "serve/RequestRefusal.h"

#include "ecrlink/ECRProto.h"

namespace ecrlink::tool {
namespace RequestRefusal {

bool refused(const std::vector<Communication::CaptureEvent>& events, const std::string& reference) {
    using Event = Communication::CaptureEvent;
    std::size_t from = events.size();
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i].kind == Event::Intent && events[i].operation == reference) from = i;
    if (from == events.size()) return false;
    std::string replies; // every byte the terminal sent, in order
    unsigned int frames = 0;
    int result = -1;
    for (std::size_t i = from + 1; i < events.size() && result < 0; ++i) {
        const Event& event = events[i];
        if (event.kind == Event::Intent || event.kind == Event::Session) break;
        if (event.kind == Event::Outcome && event.operation == reference) result = event.code;
        if ((event.kind == Event::Frame || event.kind == Event::Partial) && event.fromTerminal) return false;
        if ((event.kind == Event::Frame || event.kind == Event::Partial) && !event.fromTerminal) ++frames;
        if (event.kind == Event::Control && event.fromTerminal) replies += static_cast<char>(event.start);
    }
    const std::string nak(1, static_cast<char>(CECRProto::NAK));
    if (result == static_cast<int>(ECRPResult::NoAttempts)) return frames == 3 && replies == nak + nak + nak;
    if (result != static_cast<int>(ECRPResult::EotReceived) || frames == 0 || replies.size() != frames) return false;
    return replies.back() == static_cast<char>(CECRProto::EOT) &&
           replies.find_first_not_of(nak) == replies.size() - 1;
}

bool refusedIn(const std::string& file, const std::string& reference) {
    std::vector<Communication::CaptureEvent> events;
    bool truncated = false;
    std::string error;
    return Communication::readCapture(file, events, truncated, error) == Communication::CommOk &&
           refused(events, reference);
}

} // namespace RequestRefusal
} // namespace ecrlink::tool
