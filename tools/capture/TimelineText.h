// SPDX-License-Identifier: MIT
#pragma once

#include "capture/Timeline.h"

#include <string>

namespace ecrlink::tool {

/// The timeline as text, one line per entry: time in seconds, direction
/// (R->T, T->R), event; a quiet stretch gets a line of its own before its entry.
namespace TimelineText {

std::string header();
/// The line of an entry, and the quiet stretch before it when there was one.
std::string lines(const TimelineEntry& entry);
/// "STX 28 bytes, check e7 good: 2=\"PURCHASE\"": what an entry is, without time or direction.
std::string describe(const TimelineEntry& entry);
/// "quiet 2.013 s, longer than the 250 ms read time-out"
std::string gapText(const TimelineEntry& entry);
/// "0.001099"
std::string seconds(std::uint64_t ns);
/// "2024-05-01 12:00:00 UTC"
std::string utc(std::uint64_t ns);
/// "0 success", "304 EOT Received."
std::string codeText(int code);
/// How a journal's run ended: "answered", "no final answer" ...
const char* endingText(std::uint32_t ending);

} // namespace TimelineText

} // namespace ecrlink::tool
