// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace Communication {

/// Where a register keeps the record of its transactions, so that after any
/// crash it can tell what became of the last one. CECRDialogue calls it around
/// each run (CECRDialogue::setJournal); Communication::Journal of libecrcomm
/// implements it on a capture file, and a CaptureChannel recording into the
/// same journal adds what really went over the line.
///
/// Called on the thread of CECRDialogue::run(); implementations may block for
/// as long as writing and syncing a file takes.
class TransactionJournal {
public:
    /// How a run ended, as far as the dialogue knows it.
    enum class Ending {
        NoAnswer,                ///< no final answer: refused, failed, cancelled or timed out
        Answered,                ///< the final answer arrived and its ACK went out
        AnsweredNotAcknowledged, ///< the final answer arrived; its ACK did not reach the terminal
    };

    /// Records the intent before any byte of the request is written: the
    /// application's `reference` (its receipt or order number) and the
    /// request's dump. 0 when recorded; otherwise a channel code
    /// (Communication::CommJournalFailed) and the run ends without sending.
    virtual int beginTransaction(const std::string& reference, const unsigned char* request,
                                 unsigned int length) = 0;
    /// Records how the run ended; `result` is what run() returns. 0 when
    /// recorded, else a channel code (the run's result does not change).
    virtual int endTransaction(unsigned int result, Ending ending) = 0;

protected:
    ~TransactionJournal() = default;
};

} // namespace Communication
