// SPDX-License-Identifier: MIT
#pragma once

#include "capture/Transaction.h"

#include <ostream>
#include <string>

namespace ecrlink::tool {

/// A capture as one self-contained HTML page (inline CSS and a few lines of
/// script; nothing is fetched), written as the transactions come: one row
/// per transaction (time, request, outcome, duration, faults), and behind
/// each row a sequence diagram of register and terminal on a time axis with
/// the transaction's timeline as text, opened by a click (or by the page's
/// address ending in #tx=N). A page with one transaction opens it at once.
/// Once its script has run, the body carries data-ready="1".
class HtmlTimeline {
public:
    /// What the page's first lines tell; counted before the page is written.
    struct Totals {
        unsigned long transactions = 0, toTerminal = 0, fromTerminal = 0, bad = 0, gaps = 0;
        bool truncated = false; ///< the capture ended in the middle of a record
        void count(const Transaction& transaction);
    };

    /// Writes the head of the page; `name` is its subject (the capture file's name).
    HtmlTimeline(std::ostream& out, const std::string& name, const Totals& totals);
    void add(const Transaction& transaction);
    /// Writes the end of the page.
    void finish();

private:
    std::ostream& out;
    unsigned long added = 0;
};

} // namespace ecrlink::tool
