// SPDX-License-Identifier: MIT
#pragma once

#include "serve/TransactionRequest.h"
#include "serve/TransactionView.h"

#include <cstdint>
#include <string>

namespace ecrlink::tool {

/// The line to the terminal and what it keeps between requests, as the API
/// shows it with GET /v1/health.
struct LineHealth {
    std::string address;
    bool open = false;
    std::string lastError;         ///< why it was last lost or could not be opened
    unsigned int attempts = 0;     ///< failed openings since the line was lost
    unsigned int nextAttemptMs = 0; ///< until the next opening, while closed
    std::uint64_t faults = 0;      ///< times the line was lost or could not be opened
    std::uint64_t reconnects = 0;  ///< times it was opened again after a fault
    double lastFrameAge = -1;      ///< seconds since the terminal's last frame; -1: none yet
    std::string journal;           ///< the journal's file
    std::string journalError;      ///< its last failure; empty: none
    std::string running;           ///< reference of the transaction running; empty: none
    bool stopping = false;
};

/// The terminal as the HTTP and WebSocket side sees it: one transaction at a
/// time, started and cancelled by reference, looked up by reference. Every
/// call may come from any thread and returns at once (a lookup may read the
/// journal).
class TerminalSide {
public:
    enum class Start {
        Started,   ///< taken: it runs now
        Busy,      ///< another one runs (`other` names it)
        Duplicate, ///< this reference's request went out before: never sent twice
        LineDown,  ///< the line is closed; nothing was sent
        Stopping,  ///< the service is shutting down
        NoJournal, ///< the journal cannot be read: whether the reference was used is not known
    };
    enum class Cancel {
        Cancelling, ///< the run was told; its outcome follows
        Ended,      ///< it had already ended
        Unknown,    ///< no such reference
    };

    virtual ~TerminalSide() = default;
    virtual Start start(const TransactionRequest& request, std::string& other) = 0;
    virtual Cancel cancel(const std::string& reference) = 0;
    /// False when the reference is unknown; `error` says why when the
    /// journal could not be read.
    virtual bool find(const std::string& reference, TransactionView& out, std::string& error) = 0;
    virtual LineHealth health() = 0;
};

} // namespace ecrlink::tool
