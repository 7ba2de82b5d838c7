// SPDX-License-Identifier: MIT
#include "serve/Api.h"

#include "serve/JsonInput.h"
#include "serve/TagJson.h"
#include "wire/Bytes.h"

#include "ecrlink/Version.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace ecrlink::tool {

namespace {

const std::string Transactions = "/v1/transactions";

std::string json(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool isJson(std::string type) {
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
    return type == "application/json" || type.rfind("application/json;", 0) == 0;
}

} // namespace

Api::Api(TerminalSide& t, Metrics& m, std::set<std::uint32_t> hidden, Log l)
    : terminal(t), metrics(m), masked(std::move(hidden)), log(std::move(l)) {}

Api::Reply Api::error(unsigned int status, const std::string& reason) {
    Reply reply;
    reply.status = status;
    reply.body = json({{"error", reason}});
    return reply;
}

Api::Reply Api::handle(const std::string& method, const std::string& target, const std::string& contentType,
                       const std::string& body) {
    // Whatever slipped through answers this request alone; the service goes on.
    try {
        return route(method, target, contentType, body);
    } catch (const std::exception& failure) {
        log("internal error on " + method + " " + JsonInput::brief(target) + ": " + JsonInput::brief(failure.what(), 200));
        return error(500, "internal error (logged by the service)");
    }
}

Api::Reply Api::route(const std::string& method, const std::string& asked, const std::string& contentType,
                      const std::string& body) {
    const std::size_t mark = asked.find('?');
    const std::string target = asked.substr(0, mark);
    const std::string query = mark == std::string::npos ? "" : asked.substr(mark + 1);
    unsigned int waitSeconds = 0;
    if (mark != std::string::npos) {
        std::uint64_t seconds = 0;
        const std::string digits = query.rfind("wait=", 0) == 0 ? query.substr(5) : "";
        if (method != "GET" || target.rfind(Transactions + "/", 0) != 0 || digits.empty() ||
            digits.find_first_not_of("0123456789") != std::string::npos || !parseNumber(digits, MaxWaitSeconds, seconds))
            return error(400, "the one query taken is ?wait=SECONDS (0 to " + std::to_string(MaxWaitSeconds) +
                                  ") on GET " + Transactions + "/REFERENCE");
        waitSeconds = static_cast<unsigned int>(seconds);
    }
    const bool get = method == "GET", post = method == "POST";
    if (get && !body.empty()) return error(400, "a GET takes no body");
    auto only = [&](bool allowed, const char* which) {
        return allowed ? Reply{0, "", ""} : error(405, std::string("use ") + which + " " + target);
    };

    if (target == Transactions) {
        const Reply wrong = only(post, "POST");
        return wrong.status ? wrong : startTransaction(contentType, body);
    }
    if (target.rfind(Transactions + "/", 0) == 0) {
        std::string reference = target.substr(Transactions.size() + 1);
        const std::string cancelSuffix = "/cancel";
        const bool cancel = reference.size() > cancelSuffix.size() &&
                            reference.compare(reference.size() - cancelSuffix.size(), cancelSuffix.size(), cancelSuffix) == 0;
        if (cancel) reference.resize(reference.size() - cancelSuffix.size());
        if (!TransactionRequest::validReference(reference))
            return error(404, "no such path: a reference is 1 to 64 of A-Z a-z 0-9 . _ ~ -");
        if (!cancel) {
            const Reply wrong = only(get, "GET");
            return wrong.status ? wrong : showTransaction(reference, waitSeconds);
        }
        const Reply wrong = only(post, "POST");
        if (wrong.status) return wrong;
        if (!body.empty() && body != "{}") return error(400, "a cancel takes no body");
        return cancelTransaction(reference);
    }
    if (target == "/v1/health") {
        const Reply wrong = only(get, "GET");
        return wrong.status ? wrong : showHealth();
    }
    if (target == "/metrics") {
        const Reply wrong = only(get, "GET");
        if (wrong.status) return wrong;
        return Reply{200, metrics.render(terminal.health()), "text/plain; version=0.0.4; charset=utf-8"};
    }
    if (target == "/v1/events") return error(426, "GET /v1/events is a WebSocket: send the upgrade headers");
    return error(404, "no such path: " + JsonInput::brief(target));
}

Api::Reply Api::startTransaction(const std::string& contentType, const std::string& body) {
    if (!isJson(contentType)) return error(415, "the body must be JSON (Content-Type: application/json)");
    TransactionRequest request;
    std::string reason;
    if (!TransactionRequest::parse(body, request, reason)) return error(400, reason);
    std::string other;
    switch (terminal.start(request, other)) {
    case TerminalSide::Start::Started:
        break;
    case TerminalSide::Start::Busy:
        return Reply{409, json({{"error", "busy: transaction " + other + " is running; nothing was sent"}, {"running", other}})};
    case TerminalSide::Start::Duplicate:
        return Reply{409, json({{"error", "reference " + request.reference + " was sent before and is never sent twice; GET " +
                                              Transactions + "/" + request.reference + " tells its outcome"},
                                {"reference", request.reference}})};
    case TerminalSide::Start::LineDown: {
        const LineHealth line = terminal.health();
        return error(503, "the line to the terminal is closed" + (line.lastError.empty() ? "" : " (" + line.lastError + ")") +
                              "; nothing was sent");
    }
    case TerminalSide::Start::Stopping:
        return error(503, "the service is stopping; nothing was sent");
    case TerminalSide::Start::NoJournal:
        return error(503, "the journal cannot be read (" + terminal.health().journalError +
                              "), so whether this reference was used is not known; nothing was sent");
    }
    log("transaction " + request.reference + ": started: " + TagJson::summary(request.tags, ByteOrder::MsbFirst, masked));
    return Reply{202, json({{"reference", request.reference}, {"outcome", TransactionView::Running},
                            {"href", Transactions + "/" + request.reference}})};
}

Api::Reply Api::showTransaction(const std::string& reference, unsigned int waitSeconds) {
    TransactionView view;
    std::string reason;
    if (!terminal.find(reference, view, reason))
        return reason.empty() ? error(404, "no transaction " + reference) : error(500, "journal: " + reason);
    Reply reply{200, json(view.json(masked))};
    if (!view.ended && waitSeconds > 0) {
        reply.waitFor = reference;
        reply.waitSeconds = waitSeconds;
    }
    return reply;
}

Api::Reply Api::cancelTransaction(const std::string& reference) {
    switch (terminal.cancel(reference)) {
    case TerminalSide::Cancel::Cancelling:
        log("transaction " + reference + ": cancel asked for");
        return Reply{202, json({{"reference", reference}, {"outcome", TransactionView::Running}, {"cancelling", true}})};
    case TerminalSide::Cancel::Ended:
        return error(409, "transaction " + reference + " has already ended");
    case TerminalSide::Cancel::Unknown:
        break;
    }
    return error(404, "no transaction " + reference);
}

Api::Reply Api::showHealth() {
    const LineHealth line = terminal.health();
    nlohmann::json out;
    out["line"] = {{"address", line.address},      {"open", line.open},
                   {"last_error", line.lastError}, {"reconnect_attempts", line.attempts},
                   {"faults", line.faults},        {"reconnects", line.reconnects}};
    if (!line.open) out["line"]["next_attempt_ms"] = line.nextAttemptMs;
    out["last_frame_age_s"] = line.lastFrameAge < 0 ? nlohmann::json() : nlohmann::json(std::round(line.lastFrameAge * 1000) / 1000);
    out["running"] = line.running.empty() ? nlohmann::json() : nlohmann::json(line.running);
    out["journal"] = {{"path", line.journal}, {"last_error", line.journalError}};
    out["stopping"] = line.stopping;
    out["version"] = ECRLINK_VERSION_STRING;
    return Reply{200, json(out)};
}

} // namespace ecrlink::tool
