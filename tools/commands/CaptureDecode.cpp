// SPDX-License-Identifier: MIT
#include "commands/CaptureDecode.h"

#include "base/Console.h"
#include "capture/HtmlTimeline.h"
#include "capture/Timeline.h"

#include <fstream>

namespace ecrlink::tool {

int CaptureDecode::run(const std::string& path, const std::string& htmlPath) {
    std::vector<Communication::CaptureEvent> events;
    bool truncated = false;
    std::string error;
    if (Communication::readCapture(path, events, truncated, error) != Communication::CommOk) {
        Console::err("ecrlink: decode: " + error + "\n");
        return 2;
    }
    const Timeline timeline = Timeline::build(events);
    if (htmlPath.empty()) {
        Console::out("capture " + path + ": " + std::to_string(events.size()) + " events" +
                     (truncated ? ", cut short inside a record" : "") + "\n" + timeline.text());
        return 0;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::ofstream page(htmlPath, std::ios::binary | std::ios::trunc);
    page << HtmlTimeline::page(timeline, name, truncated);
    if (!page.flush()) {
        Console::err("ecrlink: decode: cannot write " + htmlPath + "\n");
        return 1;
    }
    Console::out("wrote " + htmlPath + " (" + std::to_string(timeline.entries.size()) + " entries)\n");
    return 0;
}

} // namespace ecrlink::tool
