// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/ECRProto.h"
#include "ecrlink/Export.h"
#include "ecrlink/TLVMessage.h"

#include <functional>
#include <memory>
#include <vector>

/// One request of the register run to the terminal's final answer, on top of
/// a CECRProto whose channel is open:
///   CECRDialogue dialogue(proto);
///   dialogue.onStatus([](CTLVMessage& status) { showOnDisplay(status); });
///   CTLVMessage answer;
///   unsigned int rc = dialogue.run(request, answer); // 0: `answer` is final
///
/// run() sends the request, then receives into `answer` until the final
/// answer: it keeps listening while the terminal is quiet (a customer
/// presenting a card or typing a PIN), hands every status message to the
/// status handler, collects the receipt pieces of file tags 44 and 85, and
/// goes on after a reception failure the terminal recovers from (a broken
/// status frame 311, an unknown start byte 308, a missing check byte 305),
/// which recovered() lists. It ends with
///   0    the final answer is in `answer`;
///   320  (ECRPResult::IdleTimeout) no frame for the idle time-out;
///   321  (ECRPResult::OverallTimeout) no final answer within the overall time-out;
///   322  (ECRPResult::Cancelled) cancel() was called;
///   or the code of the step that failed: sending (303, 304, 306, 307, …),
///   the terminal's abort (304), a lost line (105), a message that cannot be
///   parsed (20x), or a channel code.
/// On 320, 321 and 322 the terminal is told with EOT that the register gave up.
///
/// Threads: run() and the setters from the thread that owns the CECRProto;
/// cancel() from any thread. No operation throws except for memory exhaustion
/// (and what the handlers throw).
class ECRLINK_API CECRDialogue {
public:
    /// Long enough for card presentation and PIN entry without status
    /// messages; every frame from the terminal starts it again.
    static constexpr unsigned int DefaultIdleTimeoutMs = 90000;
    /// Ends a terminal that keeps sending status messages and never answers.
    static constexpr unsigned int DefaultOverallTimeoutMs = 300000;

    /// Called with each status message (result 312), on the thread of run().
    using StatusHandler = std::function<void(CTLVMessage& status)>;
    /// True when a data message is the final answer.
    using FinalRule = std::function<bool(CTLVMessage& message)>;

    /// `proto` must outlive the dialogue.
    explicit CECRDialogue(CECRProto& proto);
    ~CECRDialogue();
    CECRDialogue(const CECRDialogue&) = delete;
    CECRDialogue& operator=(const CECRDialogue&) = delete;

    /// Milliseconds without any frame from the terminal after which run() gives up.
    void setIdleTimeout(unsigned int milliseconds);
    /// Milliseconds from the start of run() after which it gives up.
    void setOverallTimeout(unsigned int milliseconds);
    unsigned int idleTimeout() const;
    unsigned int overallTimeout() const;
    void onStatus(StatusHandler handler);
    /// Replaces the default rule, isFinalAnswer().
    void setFinalRule(FinalRule rule);

    /// The default rule: the message holds a tag other than the file tags.
    static bool isFinalAnswer(CTLVMessage& message);

    /// Runs one dialogue (see above). Blocks for at most the overall time-out
    /// plus one channel wait (6 s at worst, while the terminal's reply to the
    /// request is awaited); cancel() ends it within a few milliseconds when
    /// the channel derives from Communication::Interruptible (every channel
    /// of libecrcomm does), else after the channel's current wait.
    unsigned int run(CTLVMessage& request, CTLVMessage& answer);

    /// Ends the run in progress as soon as possible; without one, the next
    /// run ends at once with 322 before it sends anything (so a cancel that
    /// races with the start of run() is never lost). Any thread; never blocks.
    void cancel();

    /// The receipt collected during the last run; empty when none came.
    const std::vector<unsigned char>& receipt() const;
    /// Reception failures the last run went on after, in the order met.
    const std::vector<unsigned int>& recovered() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
