// SPDX-License-Identifier: MIT
#pragma once

#include "wire/WireDump.h"

#include "ecrlink/Journal.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// What the service knows of one transaction, as GET /v1/transactions/REF
/// shows it.
struct TransactionView {
    /// The outcomes, as the API spells them.
    static constexpr const char* Running = "running";
    static constexpr const char* NotSent = "not sent";
    static constexpr const char* SentNoAnswer = "sent, no answer";
    static constexpr const char* Answered = "answered";
    static constexpr const char* AnsweredNotAcknowledged = "answered, acknowledgement not delivered";
    static constexpr const char* Failed = "failed";

    std::string reference;
    std::string outcome = Running;
    bool ended = false;
    bool resultKnown = false;              ///< the run ended and recorded how
    unsigned int result = 0;               ///< the run's result code, when known
    std::vector<RawTag> request;
    std::vector<std::vector<RawTag>> statuses; ///< status messages, oldest first
    bool answered = false;
    std::vector<RawTag> answer;            ///< the final answer's tags
    Bytes receipt;
    unsigned int receiptPieces = 0;        ///< pieces received so far
    std::string started;                   ///< UTC, ISO 8601

    /// What the journal tells of a transaction; `refused`: the terminal
    /// certainly refused its request (RequestRefusal), which makes a request
    /// sent without an answer "failed".
    static TransactionView fromJournal(const Communication::JournalTransaction& record, bool refused);
    /// "2026-12-07T03:23:51.247Z" for nanoseconds since 1970 UTC.
    static std::string utc(std::uint64_t nanoseconds);
    /// True when the outcome leaves no doubt that the terminal took nothing:
    /// such a reference may be used again.
    bool certainlyNotTaken() const;

    /// The JSON of GET /v1/transactions/REF; values of `masked` tags as '*'.
    nlohmann::json json(const std::set<std::uint32_t>& masked) const;
};

} // namespace ecrlink::tool
