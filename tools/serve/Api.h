// SPDX-License-Identifier: MIT
#pragma once

#include "serve/Metrics.h"
#include "serve/TerminalSide.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>

namespace ecrlink::tool {

/// The routes of the service, the same over HTTP and over WebSocket:
///   POST /v1/transactions                 start one (202, 409 busy or reference used, 503 line down)
///   GET  /v1/transactions/REFERENCE[?wait=S] its state and outcome (200, 404);
///        with wait, a running one is answered once it ends or S seconds passed
///   POST /v1/transactions/REFERENCE/cancel (202, 409 already ended, 404)
///   GET  /v1/health                       the line and the transaction running
///   GET  /metrics                         Prometheus text
/// Reached only by requests that passed the AccessPolicy. Any thread; never
/// blocks beyond a lookup in the journal.
class Api {
public:
    struct Reply {
        Reply(unsigned int status = 200, std::string body = "", std::string contentType = "application/json")
            : status(status), body(std::move(body)), contentType(std::move(contentType)) {}
        unsigned int status = 200;
        std::string body;        ///< JSON, or the metrics' text
        std::string contentType = "application/json";
        /// Set when the caller asked to wait for a transaction still running:
        /// ask again when it ends, or after `waitSeconds` at the latest.
        std::string waitFor;
        unsigned int waitSeconds = 0;
    };
    static constexpr unsigned int MaxWaitSeconds = 300;
    using Log = std::function<void(const std::string& line)>;

    Api(TerminalSide& terminal, Metrics& metrics, std::set<std::uint32_t> masked, Log log);

    /// `target` is the path and query as requested; `contentType` as given
    /// (POST bodies must be application/json). Never throws: a failure inside
    /// answers 500 and is logged.
    Reply handle(const std::string& method, const std::string& target, const std::string& contentType,
                 const std::string& body);

    /// {"error": reason} with that status.
    static Reply error(unsigned int status, const std::string& reason);

private:
    Reply route(const std::string& method, const std::string& target, const std::string& contentType,
                const std::string& body);
    Reply startTransaction(const std::string& contentType, const std::string& body);
    Reply showTransaction(const std::string& reference, unsigned int waitSeconds);
    Reply cancelTransaction(const std::string& reference);
    Reply showHealth();

    TerminalSide& terminal;
    Metrics& metrics;
    std::set<std::uint32_t> masked;
    Log log;
};

} // namespace ecrlink::tool
