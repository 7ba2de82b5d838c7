// SPDX-License-Identifier: MIT
#include "serve/Metrics.h"

#include "serve/TransactionView.h"

#include <cstdio>
#include <sstream>

namespace ecrlink::tool {

void Metrics::ended(const std::string& outcome, unsigned int result) {
    std::lock_guard<std::mutex> lock(mutex);
    ++outcomes[outcome];
    if (result != 0) ++failures[result];
}

void Metrics::refused(unsigned int status) {
    std::lock_guard<std::mutex> lock(mutex);
    ++refusals[status];
}

std::string Metrics::render(const LineHealth& line) const {
    std::ostringstream out;
    auto head = [&](const char* name, const char* type, const char* help) {
        out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
    };
    std::lock_guard<std::mutex> lock(mutex);
    head("ecrlink_transactions_total", "counter", "Transactions ended, by outcome.");
    for (const char* outcome : {TransactionView::NotSent, TransactionView::SentNoAnswer, TransactionView::Answered,
                                TransactionView::AnsweredNotAcknowledged, TransactionView::Failed}) {
        const auto found = outcomes.find(outcome);
        out << "ecrlink_transactions_total{outcome=\"" << outcome << "\"} " << (found == outcomes.end() ? 0 : found->second)
            << '\n';
    }
    head("ecrlink_transaction_failures_total", "counter", "Transactions that ended with a result code other than 0, by code.");
    for (const auto& entry : failures)
        out << "ecrlink_transaction_failures_total{code=\"" << entry.first << "\"} " << entry.second << '\n';
    head("ecrlink_transaction_running", "gauge", "1 while a transaction runs.");
    out << "ecrlink_transaction_running " << (line.running.empty() ? 0 : 1) << '\n';
    head("ecrlink_line_open", "gauge", "1 while the line to the terminal is open.");
    out << "ecrlink_line_open " << (line.open ? 1 : 0) << '\n';
    head("ecrlink_line_faults_total", "counter", "Times the line was lost or could not be opened.");
    out << "ecrlink_line_faults_total " << line.faults << '\n';
    head("ecrlink_line_reconnects_total", "counter", "Times the line was opened again after a fault.");
    out << "ecrlink_line_reconnects_total " << line.reconnects << '\n';
    head("ecrlink_line_reconnect_attempts", "gauge", "Failed openings since the line was lost (0 while open).");
    out << "ecrlink_line_reconnect_attempts " << line.attempts << '\n';
    if (line.lastFrameAge >= 0) {
        head("ecrlink_last_frame_age_seconds", "gauge", "Seconds since the terminal's last frame.");
        char age[32];
        std::snprintf(age, sizeof age, "%.3f", line.lastFrameAge);
        out << "ecrlink_last_frame_age_seconds " << age << '\n';
    }
    head("ecrlink_requests_refused_total", "counter", "Requests refused before they reached the API, by HTTP status.");
    for (const auto& entry : refusals)
        out << "ecrlink_requests_refused_total{status=\"" << entry.first << "\"} " << entry.second << '\n';
    return out.str();
}

} // namespace ecrlink::tool
