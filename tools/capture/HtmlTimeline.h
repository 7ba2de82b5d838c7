// SPDX-License-Identifier: MIT
#pragma once

#include "capture/Timeline.h"

#include <string>

namespace ecrlink::tool {

/// A timeline as one self-contained HTML page: a sequence diagram of
/// register and terminal on a time axis (inline SVG, CSS and a few lines of
/// script; nothing is fetched), then the same timeline as text. Once its
/// script has run, the body carries data-ready="1".
class HtmlTimeline {
public:
    /// `name` is shown as the page's subject (the capture file's name);
    /// `truncated`: the capture ended in the middle of a record.
    static std::string page(const Timeline& timeline, const std::string& name, bool truncated);
};

} // namespace ecrlink::tool
