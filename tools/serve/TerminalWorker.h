// SPDX-License-Identifier: MIT
#pragma once

#include "serve/EventHub.h"
#include "serve/Metrics.h"
#include "serve/TerminalSide.h"

#include "ecrlink/ECRProto.h"
#include "ecrlink/Journal.h"
#include "ecrlink/TransactionJournal.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class CECRDialogue;
class CTLVMessage;

namespace Communication {
class Channel;
}

namespace ecrlink::tool {

/// The terminal side of the service: holds the line to one terminal for as
/// long as the service runs and runs one transaction at a time on a thread
/// of its own, each recorded in the journal (DIR/journal) before its request
/// goes out. What became of a transaction is what the journal tells, the same
/// during the service's life and after a crash. Between transactions it
/// watches the line; a lost line (105) is opened again at once and then with
/// a back-off of 1, 2, 4 ... up to 30 s. A request is sent once: whatever
/// became of it, it is never sent again.
///
/// It is also the dialogue's TransactionJournal, passing each record on to
/// the journal: a cancel that came before the run reached the terminal ends
/// it there, before anything is sent.
class TerminalWorker : public TerminalSide, private Communication::TransactionJournal {
public:
    struct Options {
        std::string address;
        std::string journalDir;
        std::set<std::uint32_t> masked;
        unsigned int idleMs = 90000;
        unsigned int overallMs = 300000;
        bool wireTrace = false; ///< the bytes as hex lines on the library's log
    };
    using Log = std::function<void(const std::string& line)>;

    /// `channel` is the line (owned from here on), created from
    /// options.address; nothing is opened yet.
    TerminalWorker(Options options, Communication::Channel* channel, EventHub& events, Metrics& metrics, Log log);
    /// Stops as shutdown(true) and join() do.
    ~TerminalWorker() override;

    /// Opens the journal; false with `error` when it cannot be. Before start().
    bool openJournal(std::string& error);
    /// Starts the thread: it opens the line and waits for transactions.
    void start();
    /// Refuses new transactions; with `cancel`, cancels the one running (the
    /// terminal gets EOT). Returns at once; finished() tells when it is over.
    void shutdown(bool cancel);
    /// True once shutdown() was called and no transaction runs.
    bool finished();
    /// Joins the thread (after shutdown()); the line is closed.
    void join();

    Start start(const TransactionRequest& request, std::string& other) override;
    Cancel cancel(const std::string& reference) override;
    bool find(const std::string& reference, TransactionView& out, std::string& error) override;
    LineHealth health() override;

private:
    using Clock = std::chrono::steady_clock;

    int beginTransaction(const std::string& reference, const unsigned char* request, unsigned int length) override;
    int endTransaction(unsigned int result, Ending ending) override;

    void loop();
    void openLine();
    void checkLine();
    void lineLost(unsigned int code);
    void run(const TransactionRequest& request);
    bool isFinal(CTLVMessage& message, const std::string& reference);
    void sawFrame();
    void end(unsigned int result, CECRDialogue& dialogue);
    /// The journal's record of `reference`; with `found` false when it has none.
    bool recorded(const std::string& reference, TransactionView& out, bool& found, std::string& error) const;

    const Options options;
    EventHub& events;
    Metrics& metrics;
    const Log log;
    Communication::Journal journal;
    CECRProto proto;
    Communication::Channel* channel;

    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;
    bool stopping = false;
    std::unique_ptr<TransactionRequest> pending;  ///< taken, not yet running
    std::unique_ptr<TransactionView> current;      ///< taken or running
    bool cancelAsked = false;
    CECRDialogue* dialogue = nullptr;              ///< of the run in progress
    bool armed = false;                            ///< the run reached the journal: a cancel reaches it
    std::deque<TransactionView> recent;            ///< ended, newest last, as the journal tells them
    LineHealth line;
    Clock::time_point nextAttempt;
    Clock::time_point lastFrame;
    bool anyFrame = false;
};

} // namespace ecrlink::tool
