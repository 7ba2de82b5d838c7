// SPDX-License-Identifier: MIT
#include "capture/HtmlTimeline.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace ecrlink::tool {

namespace {

using Entry = Timeline::Entry;

// Columns of the diagram, in pixels.
constexpr int Width = 1160, TimeX = 84, RegisterX = 440, TerminalX = 1020, LabelX = (RegisterX + TerminalX) / 2;
constexpr int Top = 70, LineRow = 46, NoteRow = 20, GapRow = 34;
constexpr std::size_t MaxLabel = 78, MaxNote = 46;

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string shorten(const std::string& text, std::size_t most) {
    return text.size() <= most ? text : text.substr(0, most - 3) + "...";
}

// The colour class of an arrow or a note.
std::string styleOf(const Entry& e) {
    if (e.bad) return "bad";
    if (e.kind == Entry::Kind::Frame) return e.what.compare(0, 3, "DC2") == 0 ? "status" : e.fromTerminal ? "in" : "out";
    if (e.kind == Entry::Kind::Control) return "ctl";
    if (e.kind == Entry::Kind::Synced) return "sync";
    return "note";
}

std::string fullText(const Entry& e) {
    std::string text = Timeline::seconds(e.timeNs) + " s  ";
    if (e.onLine()) text += e.fromTerminal ? "terminal to register: " : "register to terminal: ";
    text += e.what;
    if (!e.tags.empty()) text += "\n" + e.tags;
    if (e.repeat > 1) text += "\n" + std::to_string(e.repeat) + " times in a row";
    return text;
}

const char* const Style = R"(
body { font: 14px/1.4 system-ui, sans-serif; margin: 16px 24px; color: #222; background: #fff; }
h1 { font-size: 20px; margin: 0 0 4px; }
.summary { margin: 0 0 10px; color: #444; }
.legend span { margin-right: 16px; white-space: nowrap; }
.legend i { display: inline-block; width: 22px; height: 3px; vertical-align: middle; margin-right: 5px; }
svg { display: block; border: 1px solid #ddd; background: #fcfcfc; }
svg text { font: 12px ui-monospace, monospace; }
.head { font: bold 14px system-ui, sans-serif; }
.life { stroke: #999; stroke-dasharray: 4 4; }
.time { fill: #666; text-anchor: end; }
.label { text-anchor: middle; fill: #222; }
.tags { text-anchor: middle; fill: #555; }
.note { text-anchor: end; fill: #777; }
.gap rect { fill: #fff3e0; stroke: #e0a040; stroke-dasharray: 3 3; }
.gap text { text-anchor: middle; fill: #a05a00; }
.out { stroke: #1f5fbf; fill: #1f5fbf; } .in { stroke: #1d7f3a; fill: #1d7f3a; }
.status { stroke: #7b3fb0; fill: #7b3fb0; } .ctl { stroke: #666; fill: #666; }
.bad { stroke: #c62828; fill: #c62828; } .sync { stroke: #00897b; fill: #00897b; }
line.arrow { stroke-width: 2; } line.arrow.bad { stroke-dasharray: 6 3; }
text.bad { stroke: none; } text.sync { stroke: none; }
g.row:hover text.label { font-weight: bold; }
g.row.picked text { font-weight: bold; } pre .picked { background: #fff59d; }
pre { background: #f6f6f6; padding: 8px; overflow-x: auto; font-size: 12px; }
)";

// Clicking a row of the diagram marks it and its line in the text below.
const char* const Script = R"(
(function () {
  var rows = document.querySelectorAll('g.row');
  var lines = document.querySelectorAll('pre span[data-row]');
  rows.forEach(function (row) {
    row.addEventListener('click', function () {
      var n = row.getAttribute('data-row');
      rows.forEach(function (r) { r.classList.toggle('picked', r === row); });
      lines.forEach(function (l) { l.classList.toggle('picked', l.getAttribute('data-row') === n); });
    });
  });
  document.body.setAttribute('data-ready', '1');
})();
)";

} // namespace

std::string HtmlTimeline::page(const Timeline& timeline, const std::string& name, bool truncated) {
    int toTerminal = 0, fromTerminal = 0, bad = 0, gaps = 0;
    for (const Entry& e : timeline.entries) {
        if (e.kind == Entry::Kind::Frame) (e.fromTerminal ? fromTerminal : toTerminal) += static_cast<int>(e.repeat);
        if (e.bad) bad += static_cast<int>(e.repeat);
        if (e.gapNs) ++gaps;
    }

    std::ostringstream svg;
    int y = Top;
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i < timeline.entries.size(); ++i) {
        const Entry& e = timeline.entries[i];
        // A little more room after a longer pause, so that time shows; long quiet stretches get a band.
        const double pauseMs = static_cast<double>(e.timeNs - std::min(previous, e.timeNs)) / 1e6;
        y += static_cast<int>(std::min(24.0, 6 * std::log10(1 + pauseMs)));
        previous = e.timeNs;
        if (e.gapNs) {
            svg << "<g class=\"gap\"><rect x=\"" << RegisterX << "\" y=\"" << y << "\" width=\"" << TerminalX - RegisterX
                << "\" height=\"" << GapRow - 8 << "\"/><text x=\"" << LabelX << "\" y=\"" << y + 17 << "\">"
                << escape(Timeline::gapText(e)) << "</text></g>\n";
            y += GapRow;
        }
        const std::string style = styleOf(e);
        const std::string repeat = e.repeat > 1 ? " \xC3\x97" + std::to_string(e.repeat) : "";
        svg << "<g class=\"row\" data-row=\"" << i << "\"><title>" << escape(fullText(e)) << "</title>";
        if (e.onLine()) {
            const int from = e.fromTerminal ? TerminalX : RegisterX, to = e.fromTerminal ? RegisterX : TerminalX;
            const int arrowY = y + 20;
            svg << "<text class=\"time\" x=\"" << TimeX << "\" y=\"" << arrowY + 4 << "\">" << Timeline::seconds(e.timeNs)
                << "</text><line class=\"arrow " << style << "\" x1=\"" << from << "\" y1=\"" << arrowY << "\" x2=\""
                << to + (e.fromTerminal ? 9 : -9) << "\" y2=\"" << arrowY << "\"/><polygon class=\"" << style
                << "\" points=\"" << to << "," << arrowY << " " << to + (e.fromTerminal ? 11 : -11) << "," << arrowY - 5
                << " " << to + (e.fromTerminal ? 11 : -11) << "," << arrowY + 5 << "\"/><text class=\"label\" x=\""
                << LabelX << "\" y=\"" << arrowY - 6 << "\">" << escape(e.what) << repeat << "</text>";
            if (!e.tags.empty())
                svg << "<text class=\"tags\" x=\"" << LabelX << "\" y=\"" << arrowY + 16 << "\">"
                    << escape(shorten(e.tags, MaxLabel)) << "</text>";
            y += LineRow;
        } else {
            const int noteY = y + 13;
            svg << "<text class=\"time\" x=\"" << TimeX << "\" y=\"" << noteY << "\">" << Timeline::seconds(e.timeNs)
                << "</text><circle class=\"" << style << "\" cx=\"" << RegisterX << "\" cy=\"" << noteY - 4
                << "\" r=\"3.5\"/><text class=\"note " << (style == "note" ? "" : style) << "\" x=\"" << RegisterX - 10
                << "\" y=\"" << noteY << "\">" << escape(shorten(e.what + repeat, MaxNote)) << "</text>";
            y += NoteRow;
        }
        svg << "</g>\n";
    }
    const int height = y + 20;

    std::ostringstream text;
    text << escape(Timeline::header()) << "\n";
    for (std::size_t i = 0; i < timeline.entries.size(); ++i) {
        const Entry& e = timeline.entries[i];
        if (e.gapNs) text << escape(Timeline::gapLine(e)) << "\n";
        text << "<span data-row=\"" << i << "\">" << escape(Timeline::line(e)) << "</span>\n";
    }

    std::ostringstream page;
    page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" << escape(name)
         << " - ecrlink capture</title>\n<style>" << Style << "</style></head>\n<body>\n"
         << "<h1>ecrlink capture: " << escape(name) << "</h1>\n<p class=\"summary\">" << toTerminal
         << " frame(s) register to terminal, " << fromTerminal << " terminal to register; " << bad
         << " broken, refused or failed; " << gaps << " quiet stretch(es) longer than a read time-out"
         << (truncated ? "; <b>the capture ends inside a record (the writer stopped)</b>" : "") << ".</p>\n"
         << "<p class=\"legend\"><span><i style=\"background:#1f5fbf\"></i>data frame from the register</span>"
            "<span><i style=\"background:#1d7f3a\"></i>data frame from the terminal</span>"
            "<span><i style=\"background:#7b3fb0\"></i>status frame</span>"
            "<span><i style=\"background:#666\"></i>ACK</span>"
            "<span><i style=\"background:#c62828\"></i>bad check, NAK, EOT, failure</span>"
            "<span><i style=\"background:#00897b\"></i>synced to disk</span>"
            "<span>times in seconds since the capture began; tags in the byte order of their direction</span></p>\n"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Width << "\" height=\"" << height << "\" viewBox=\"0 0 "
         << Width << " " << height << "\">\n"
         << "<text class=\"time\" x=\"" << TimeX << "\" y=\"" << Top - 30 << "\">time s</text>"
         << "<text class=\"head\" x=\"" << RegisterX << "\" y=\"" << Top - 30 << "\" text-anchor=\"middle\">Register</text>"
         << "<text class=\"head\" x=\"" << TerminalX << "\" y=\"" << Top - 30 << "\" text-anchor=\"middle\">Terminal</text>"
         << "<line class=\"life\" x1=\"" << RegisterX << "\" y1=\"" << Top - 20 << "\" x2=\"" << RegisterX << "\" y2=\""
         << height - 10 << "\"/><line class=\"life\" x1=\"" << TerminalX << "\" y1=\"" << Top - 20 << "\" x2=\""
         << TerminalX << "\" y2=\"" << height - 10 << "\"/>\n"
         << svg.str() << "</svg>\n<h2>As text</h2>\n<pre>" << text.str() << "</pre>\n<script>" << Script
         << "</script>\n</body></html>\n";
    return page.str();
}

} // namespace ecrlink::tool
