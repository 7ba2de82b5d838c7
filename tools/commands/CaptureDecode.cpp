// SPDX-License-Identifier: MIT
#include "commands/CaptureDecode.h"

#include "base/Console.h"
#include "capture/HtmlTimeline.h"
#include "capture/TimelineText.h"

#include <fstream>

namespace ecrlink::tool {

namespace {

// Streams the capture's entries through `each`; a day of trading passes in
// the memory of one record. Returns the reader's result.
int walk(const std::string& path, const Timeline::Sink& each, bool& truncated, unsigned long& events, std::string& error) {
    Timeline timeline(each);
    events = 0;
    const int rc = Communication::streamCapture(
        path,
        [&](Communication::CaptureEvent&& e) {
            ++events;
            timeline.feed(e);
        },
        truncated, error);
    timeline.finish();
    return rc;
}

// The same, cut into transactions.
int walkTransactions(const std::string& path, const TransactionSplitter::Sink& each, bool& truncated,
                     std::string& error) {
    TransactionSplitter splitter(each);
    unsigned long events = 0;
    const int rc = walk(path, [&](TimelineEntry&& e) { splitter.feed(std::move(e)); }, truncated, events, error);
    splitter.finish();
    return rc;
}

} // namespace

int CaptureDecode::run(const std::string& path, const std::string& htmlPath) {
    bool truncated = false;
    std::string error;
    // The first pass counts what the head of the output tells, the second writes the rest.
    if (htmlPath.empty()) {
        unsigned long events = 0;
        if (walk(path, [](TimelineEntry&&) {}, truncated, events, error) != Communication::CommOk) {
            Console::err("ecrlink: decode: " + error + "\n");
            return 2;
        }
        std::string text = "capture " + path + ": " + std::to_string(events) + " events" +
                           (truncated ? ", cut short inside a record" : "") + "\n" + TimelineText::header();
        walk(
            path,
            [&](TimelineEntry&& e) {
                text += TimelineText::lines(e);
                if (text.size() < 65536) return;
                Console::out(text);
                text.clear();
            },
            truncated, events, error);
        Console::out(text);
        return 0;
    }
    HtmlTimeline::Totals totals;
    if (walkTransactions(path, [&](Transaction&& t) { totals.count(t); }, totals.truncated, error) != Communication::CommOk) {
        Console::err("ecrlink: decode: " + error + "\n");
        return 2;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::ofstream page(htmlPath, std::ios::binary | std::ios::trunc);
    HtmlTimeline html(page, name, totals);
    walkTransactions(path, [&](Transaction&& t) { html.add(t); }, truncated, error);
    html.finish();
    if (!page.flush()) {
        Console::err("ecrlink: decode: cannot write " + htmlPath + "\n");
        return 1;
    }
    Console::out("wrote " + htmlPath + " (" + std::to_string(totals.transactions) +
                 (totals.transactions == 1 ? " transaction)\n" : " transactions)\n"));
    return 0;
}

} // namespace ecrlink::tool
