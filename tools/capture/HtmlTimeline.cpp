// SPDX-License-Identifier: MIT
#include "capture/HtmlTimeline.h"

#include "capture/TimelineText.h"
#include "wire/TagTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ecrlink::tool {

namespace {

using Entry = TimelineEntry;
using Kind = TimelineEntry::Kind;

// Columns of the diagram, in pixels.
constexpr int Width = 1160, TimeX = 84, RegisterX = 440, TerminalX = 1020, LabelX = (RegisterX + TerminalX) / 2;
constexpr int Top = 70, LineRow = 46, NoteRow = 20, GapRow = 34;
constexpr std::size_t MaxLabel = 78, MaxNote = 46, MaxCell = 90;

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
    if (e.isStatus()) return "status";
    if (e.kind == Kind::Frame || e.kind == Kind::Partial) return e.fromTerminal ? "in" : "out";
    if (e.kind == Kind::Control) return "ctl";
    if (e.kind == Kind::Synced) return "sync";
    return "note";
}

// The words on an arrow: the frame or byte; its tags go beneath.
std::string arrowLabel(const Entry& e) {
    if (e.kind == Kind::Control) return byteName(e.start);
    if (e.kind == Kind::Partial) return byteName(e.start) + " cut short, " + std::to_string(e.length) + " data bytes";
    return byteName(e.start) + " " + std::to_string(e.length) + " bytes" + (e.checkGood ? "" : ", check BAD");
}

std::string tagLine(const Entry& e) {
    switch (e.dump) {
    case Entry::Dump::Tags: return TagTable::summary(e.tags, e.order, true);
    case Entry::Dump::Empty: return e.kind == Kind::Frame ? "(no data)" : "";
    case Entry::Dump::Broken: return "not a tag dump (" + e.dumpError + ")";
    case Entry::Dump::None: break;
    }
    return {};
}

std::string fullText(const Entry& e) {
    std::string text = TimelineText::seconds(e.timeNs) + " s  ";
    if (e.onLine()) text += e.fromTerminal ? "terminal to register: " : "register to terminal: ";
    text += TimelineText::describe(e);
    if (e.repeat > 1) text += "\n" + std::to_string(e.repeat) + " times in a row";
    return text;
}

// The sequence diagram of one transaction.
void diagram(std::ostream& out, const std::vector<Entry>& entries) {
    std::string rows;
    int y = Top;
    std::uint64_t previous = entries.empty() ? 0 : entries.front().timeNs;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        // A little more room after a longer pause, so that time shows; long quiet stretches get a band.
        const double pauseMs = static_cast<double>(e.timeNs - std::min(previous, e.timeNs)) / 1e6;
        y += static_cast<int>(std::min(24.0, 6 * std::log10(1 + pauseMs)));
        previous = e.timeNs;
        const std::string at = std::to_string(y);
        if (e.gapNs) {
            rows += "<g class=\"gap\"><rect x=\"" + std::to_string(RegisterX) + "\" y=\"" + at + "\" width=\"" +
                    std::to_string(TerminalX - RegisterX) + "\" height=\"" + std::to_string(GapRow - 8) + "\"/><text x=\"" +
                    std::to_string(LabelX) + "\" y=\"" + std::to_string(y + 17) + "\">" +
                    escape(TimelineText::gapText(e)) + "</text></g>\n";
            y += GapRow;
        }
        const std::string style = styleOf(e);
        const std::string repeat = e.repeat > 1 ? " \xC3\x97" + std::to_string(e.repeat) : "";
        const std::string time = TimelineText::seconds(e.timeNs);
        rows += "<g class=\"row\" data-row=\"" + std::to_string(i) + "\"><title>" + escape(fullText(e)) + "</title>";
        if (e.onLine()) {
            const int from = e.fromTerminal ? TerminalX : RegisterX, to = e.fromTerminal ? RegisterX : TerminalX;
            const int tip = e.fromTerminal ? 11 : -11, arrowY = y + 20;
            const std::string ay = std::to_string(arrowY);
            rows += "<text class=\"time\" x=\"" + std::to_string(TimeX) + "\" y=\"" + std::to_string(arrowY + 4) + "\">" +
                    time + "</text><line class=\"arrow " + style + "\" x1=\"" + std::to_string(from) + "\" y1=\"" + ay +
                    "\" x2=\"" + std::to_string(to + tip * 9 / 11) + "\" y2=\"" + ay + "\"/><polygon class=\"" + style +
                    "\" points=\"" + std::to_string(to) + "," + ay + " " + std::to_string(to + tip) + "," +
                    std::to_string(arrowY - 5) + " " + std::to_string(to + tip) + "," + std::to_string(arrowY + 5) +
                    "\"/><text class=\"label\" x=\"" + std::to_string(LabelX) + "\" y=\"" + std::to_string(arrowY - 6) +
                    "\">" + escape(arrowLabel(e)) + repeat + "</text>";
            const std::string tags = tagLine(e);
            if (!tags.empty())
                rows += "<text class=\"tags\" x=\"" + std::to_string(LabelX) + "\" y=\"" + std::to_string(arrowY + 16) +
                        "\">" + escape(shorten(tags, MaxLabel)) + "</text>";
            y += LineRow;
        } else {
            const int noteY = y + 13;
            rows += "<text class=\"time\" x=\"" + std::to_string(TimeX) + "\" y=\"" + std::to_string(noteY) + "\">" +
                    time + "</text><circle class=\"" + style + "\" cx=\"" + std::to_string(RegisterX) + "\" cy=\"" +
                    std::to_string(noteY - 4) + "\" r=\"3.5\"/><text class=\"note " + (style == "note" ? "" : style) +
                    "\" x=\"" + std::to_string(RegisterX - 10) + "\" y=\"" + std::to_string(noteY) + "\">" +
                    escape(shorten(TimelineText::describe(e) + repeat, MaxNote)) + "</text>";
            y += NoteRow;
        }
        rows += "</g>\n";
    }
    const int height = y + 20;
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Width << "\" height=\"" << height << "\" viewBox=\"0 0 "
        << Width << " " << height << "\">\n"
        << "<text class=\"time\" x=\"" << TimeX << "\" y=\"" << Top - 30 << "\">time s</text>"
        << "<text class=\"head\" x=\"" << RegisterX << "\" y=\"" << Top - 30 << "\" text-anchor=\"middle\">Register</text>"
        << "<text class=\"head\" x=\"" << TerminalX << "\" y=\"" << Top - 30 << "\" text-anchor=\"middle\">Terminal</text>"
        << "<line class=\"life\" x1=\"" << RegisterX << "\" y1=\"" << Top - 20 << "\" x2=\"" << RegisterX << "\" y2=\""
        << height - 10 << "\"/><line class=\"life\" x1=\"" << TerminalX << "\" y1=\"" << Top - 20 << "\" x2=\""
        << TerminalX << "\" y2=\"" << height - 10 << "\"/>\n"
        << rows << "</svg>\n";
}

// What became of a transaction, in a few words; `good` says whether it was answered.
std::string outcomeOf(const Transaction& t, bool& good) {
    const Entry* answer = t.answer();
    good = answer != nullptr;
    if (const Entry* ended = t.ended()) {
        good = ended->value == 1;
        return TimelineText::endingText(ended->value) + std::string(" (") + TimelineText::codeText(ended->code) + ")";
    }
    if (answer) return "answered: " + tagLine(*answer);
    if (const Entry* failure = t.failure()) return "no answer: " + failure->operation + " " + TimelineText::codeText(failure->code);
    return t.request() ? "no answer" : "no request";
}

std::string durationText(std::uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ns) / 1e9);
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
table.tx { border-collapse: collapse; width: 100%; max-width: 1400px; }
table.tx th { text-align: left; border-bottom: 2px solid #ccc; padding: 4px 8px; position: sticky; top: 0; background: #fff; }
tr.tx td { border-bottom: 1px solid #eee; padding: 3px 8px; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; max-width: 520px; }
tr.tx { cursor: pointer; scroll-margin-top: 40px; } tr.tx:hover, tr.tx:focus { background: #eef4ff; outline: none; }
tr.tx.open { background: #e3ecfb; font-weight: bold; } tr.tx td.bad { color: #c62828; }
tr.tx td.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.diagram > td { padding: 8px 0 16px 24px; border-bottom: 2px solid #ccc; }
)";

// A click on a row opens its transaction beneath it (a copy of its template);
// a click on a row of a diagram marks it and its line in the text below it.
const char* const Script = R"(
(function () {
  var table = document.getElementById('tx');
  function toggle(row) {
    var n = row.getAttribute('data-tx'), shown = document.getElementById('d' + n);
    row.classList.toggle('open', !shown);
    if (shown) { shown.remove(); return; }
    var detail = document.createElement('tr');
    detail.id = 'd' + n;
    detail.className = 'diagram';
    var cell = detail.insertCell();
    cell.colSpan = 6;
    cell.appendChild(document.getElementById('t' + n).content.cloneNode(true));
    row.parentNode.insertBefore(detail, row.nextSibling);
  }
  table.addEventListener('click', function (event) {
    var picked = event.target.closest('g.row');
    if (picked) {
      var cell = picked.closest('td'), k = picked.getAttribute('data-row');
      cell.querySelectorAll('g.row').forEach(function (r) { r.classList.toggle('picked', r === picked); });
      cell.querySelectorAll('pre span[data-row]').forEach(function (l) {
        l.classList.toggle('picked', l.getAttribute('data-row') === k);
      });
      return;
    }
    var row = event.target.closest('tr.tx');
    if (row) toggle(row);
  });
  table.addEventListener('keydown', function (event) {
    if (event.key === 'Enter' && event.target.matches('tr.tx')) toggle(event.target);
  });
  var wanted = /#tx=(\d+)/.exec(location.hash), rows = table.querySelectorAll('tr.tx');
  var first = wanted ? document.querySelector('tr.tx[data-tx="' + wanted[1] + '"]') : rows.length === 1 ? rows[0] : null;
  if (first) {
    toggle(first);
    first.scrollIntoView();
  }
  document.body.setAttribute('data-ready', '1');
})();
)";

} // namespace

void HtmlTimeline::Totals::count(const Transaction& t) {
    ++transactions;
    for (const Entry& e : t.entries) {
        if (e.kind == Kind::Frame) (e.fromTerminal ? fromTerminal : toTerminal) += e.repeat;
        if (e.bad) bad += e.repeat;
        if (e.gapNs) ++gaps;
    }
}

HtmlTimeline::HtmlTimeline(std::ostream& page, const std::string& name, const Totals& totals)
    : out(page) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" << escape(name)
        << " - ecrlink capture</title>\n<style>" << Style << "</style></head>\n<body>\n"
        << "<h1>ecrlink capture: " << escape(name) << "</h1>\n<p class=\"summary\">" << totals.transactions
        << " transaction(s); " << totals.toTerminal << " frame(s) register to terminal, " << totals.fromTerminal
        << " terminal to register; " << totals.bad << " broken, refused or failed; " << totals.gaps
        << " quiet stretch(es) longer than a read time-out"
        << (totals.truncated ? "; <b>the capture ends inside a record (the writer stopped)</b>" : "") << ".</p>\n"
        << "<p class=\"legend\"><span><i style=\"background:#1f5fbf\"></i>data frame from the register</span>"
           "<span><i style=\"background:#1d7f3a\"></i>data frame from the terminal</span>"
           "<span><i style=\"background:#7b3fb0\"></i>status frame</span>"
           "<span><i style=\"background:#666\"></i>ACK</span>"
           "<span><i style=\"background:#c62828\"></i>bad check, NAK, EOT, failure</span>"
           "<span><i style=\"background:#00897b\"></i>synced to disk</span>"
           "<span>click a transaction for its diagram; times in seconds since its session began; tags in the byte "
           "order of their direction</span></p>\n"
        << "<table class=\"tx\" id=\"tx\"><thead><tr><th>#</th><th>time</th><th>request</th><th>outcome</th>"
           "<th>duration</th><th>faults</th></tr></thead>\n<tbody>\n";
}

void HtmlTimeline::add(const Transaction& t) {
    const unsigned long n = ++added;
    const std::uint64_t began = t.beganNs();
    const std::string time = t.sessionWallNs ? TimelineText::utc(t.sessionWallNs + began).substr(0, 19) + " (+" +
                                                   TimelineText::seconds(began) + " s)"
                                             : TimelineText::seconds(began) + " s";
    const Entry* request = t.request();
    bool good = false;
    const std::string outcome = outcomeOf(t, good);
    const unsigned long faults = t.faults();
    out << "<tr class=\"tx\" tabindex=\"0\" data-tx=\"" << n << "\"><td class=\"num\">" << n << "</td><td>" << escape(time)
        << "</td><td>" << escape(shorten(request ? tagLine(*request) : "", MaxCell)) << "</td><td"
        << (good ? "" : " class=\"bad\"") << ">" << escape(shorten(outcome, MaxCell)) << "</td><td class=\"num\">"
        << durationText(t.durationNs()) << "</td><td class=\"num" << (faults ? " bad" : "") << "\">" << faults
        << "</td></tr>\n<template id=\"t" << n << "\">";
    diagram(out, t.entries);
    out << "<pre>" << escape(TimelineText::header());
    for (std::size_t i = 0; i < t.entries.size(); ++i) {
        std::string lines = TimelineText::lines(t.entries[i]);
        lines.pop_back();
        // A quiet stretch's line belongs to the entry after it.
        out << "<span data-row=\"" << i << "\">" << escape(lines) << "</span>\n";
    }
    out << "</pre></template>\n";
}

void HtmlTimeline::finish() {
    out << "</tbody></table>\n<script>" << Script << "</script>\n</body></html>\n";
}

} // namespace ecrlink::tool
