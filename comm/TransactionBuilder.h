// SPDX-License-Identifier: MIT
#pragma once

// Tells what became of one transaction from its records: fed the records from
// its intent on, it follows the request, the terminal's frames and the
// register's replies, and the outcome when one was recorded. Internal to
// libecrcomm.

#include "CaptureFormat.h"
#include "EventBuilder.h"

#include "ecrlink/Journal.h"

#include <memory>

namespace ecrlink::comm {

using namespace Communication;

class TransactionBuilder {
public:
    TransactionBuilder();

    /// Feeds the next record, the intent first; false once the transaction is
    /// over (the record is another transaction's intent, not taken).
    bool feed(const Record& record);
    /// What the records fed so far tell.
    void finish(JournalTransaction& out);

private:
    struct Frame {
        std::vector<unsigned char> dump;
        bool status;
        bool acknowledged; // its ACK was written successfully
    };
    void take(CaptureEvent&& event);

    bool begun = false, sent = false, ended = false;
    JournalTransaction result;
    unsigned int ending = 0;
    bool requestOut = false;
    std::vector<Frame> frames; // the terminal's good data and status frames
    static constexpr std::size_t None = ~std::size_t(0);
    std::size_t waiting = None; // the terminal's frame whose reply comes next
    std::unique_ptr<EventBuilder> events;
};

} // namespace ecrlink::comm
