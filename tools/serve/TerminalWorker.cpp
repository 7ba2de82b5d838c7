// SPDX-License-Identifier: MIT
#include "serve/TerminalWorker.h"

#include "register/RegisterSession.h"
#include "serve/RequestRefusal.h"
#include "serve/TagJson.h"

#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/TLVMessage.h"

#include <algorithm>

namespace ecrlink::tool {

namespace {

constexpr std::size_t KeptInMemory = 64;
constexpr auto WatchEvery = std::chrono::seconds(1);
constexpr unsigned int LongestBackoffS = 30;

std::string now() {
    return TransactionView::utc(static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count()));
}

std::string codeText(unsigned int code) {
    return std::to_string(code) + " " + ecrlinkResultText(code);
}

Communication::Journal::Options journalOptions(const std::set<std::uint32_t>& masked) {
    Communication::Journal::Options options;
    options.maskedTags = masked;
    return options;
}

} // namespace

TerminalWorker::TerminalWorker(Options o, Communication::Channel* inner, EventHub& e, Metrics& m, Log l)
    : options(std::move(o)), events(e), metrics(m), log(std::move(l)), journal(journalOptions(options.masked)) {
    line.address = options.address;
    line.journal = options.journalDir + "/journal";
    Communication::CaptureChannel::Options recording;
    recording.trace = options.wireTrace;
    channel = new Communication::CaptureChannel(inner, journal, recording);
    proto.setCommunication(channel);
}

TerminalWorker::~TerminalWorker() {
    shutdown(true);
    join();
}

bool TerminalWorker::openJournal(std::string& error) {
    if (journal.open(line.journal) == 0) return true;
    error = journal.lastError();
    return false;
}

void TerminalWorker::start() {
    thread = std::thread([this] { loop(); });
}

void TerminalWorker::shutdown(bool cancel) {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    line.stopping = true;
    if (cancel && current) {
        cancelAsked = true;
        if (armed) dialogue->cancel();
    }
    wake.notify_all();
}

bool TerminalWorker::finished() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping && !current;
}

void TerminalWorker::join() {
    if (thread.joinable()) thread.join();
}

bool TerminalWorker::recorded(const std::string& reference, TransactionView& out, bool& found, std::string& error) const {
    Communication::JournalTransaction record;
    found = false;
    if (Communication::Journal::findTransaction(line.journal, reference, record, error) != 0) return false;
    if (record.outcome == Communication::JournalTransaction::NotFound) return true;
    const bool refused = record.outcome == Communication::JournalTransaction::SentNoAnswer && record.resultRecorded &&
                         (record.result == ECRPResult::NoAttempts || record.result == ECRPResult::EotReceived) &&
                         RequestRefusal::refusedIn(record.file, reference);
    out = TransactionView::fromJournal(record, refused);
    found = true;
    return true;
}

TerminalSide::Start TerminalWorker::start(const TransactionRequest& request, std::string& other) {
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping) return Start::Stopping;
    if (current) {
        other = current->reference;
        return Start::Busy;
    }
    if (!line.open) return Start::LineDown;
    // A reference whose request may have reached the terminal is never sent again.
    bool known = false;
    for (const TransactionView& view : recent)
        if (view.reference == request.reference) {
            if (!view.certainlyNotTaken()) return Start::Duplicate;
            known = true;
        }
    if (!known) {
        TransactionView before;
        bool found = false;
        std::string error;
        if (!recorded(request.reference, before, found, error)) {
            line.journalError = error;
            return Start::NoJournal;
        }
        if (found && !before.certainlyNotTaken()) return Start::Duplicate;
    }
    pending = std::make_unique<TransactionRequest>(request);
    current = std::make_unique<TransactionView>();
    current->reference = request.reference;
    current->request = request.tags;
    current->started = now();
    cancelAsked = false;
    line.running = request.reference;
    wake.notify_all();
    return Start::Started;
}

TerminalSide::Cancel TerminalWorker::cancel(const std::string& reference) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (current && current->reference == reference) {
            // Remembered until the run reaches the journal, where it ends the
            // run before anything is sent; from then on the run is told.
            cancelAsked = true;
            if (armed) dialogue->cancel();
            return Cancel::Cancelling;
        }
    }
    TransactionView view;
    std::string error;
    return find(reference, view, error) ? Cancel::Ended : Cancel::Unknown;
}

bool TerminalWorker::find(const std::string& reference, TransactionView& out, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (current && current->reference == reference) {
            out = *current;
            return true;
        }
        for (auto it = recent.rbegin(); it != recent.rend(); ++it)
            if (it->reference == reference) {
                out = *it;
                return true;
            }
    }
    bool found = false;
    return recorded(reference, out, found, error) && found;
}

LineHealth TerminalWorker::health() {
    std::lock_guard<std::mutex> lock(mutex);
    LineHealth copy = line;
    const Clock::time_point at = Clock::now();
    if (!copy.open)
        copy.nextAttemptMs = nextAttempt > at
            ? static_cast<unsigned int>(std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt - at).count())
            : 0;
    if (anyFrame) copy.lastFrameAge = std::chrono::duration<double>(at - lastFrame).count();
    return copy;
}

int TerminalWorker::beginTransaction(const std::string& reference, const unsigned char* request, unsigned int length) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        armed = true;
        if (cancelAsked) dialogue->cancel();
    }
    const int rc = journal.beginTransaction(reference, request, length);
    if (rc != 0) {
        std::lock_guard<std::mutex> lock(mutex);
        line.journalError = journal.lastError();
    }
    return rc;
}

int TerminalWorker::endTransaction(unsigned int result, Ending ending) {
    const int rc = journal.endTransaction(result, ending);
    if (rc != 0) {
        std::lock_guard<std::mutex> lock(mutex);
        line.journalError = journal.lastError();
    }
    return rc;
}

void TerminalWorker::loop() {
    std::unique_lock<std::mutex> lock(mutex);
    nextAttempt = Clock::now();
    while (!(stopping && !current)) {
        if (pending) {
            const TransactionRequest request = *pending;
            pending.reset();
            lock.unlock();
            run(request);
            lock.lock();
            continue;
        }
        if (stopping) break;
        if (!line.open && Clock::now() >= nextAttempt) {
            lock.unlock();
            openLine();
            lock.lock();
            continue;
        }
        const Clock::time_point until = line.open ? Clock::now() + WatchEvery : nextAttempt;
        wake.wait_until(lock, until, [this] { return pending || stopping; });
        if (!pending && !stopping && line.open) {
            lock.unlock();
            checkLine();
            lock.lock();
        }
    }
    lock.unlock();
    proto.close();
}

void TerminalWorker::openLine() {
    const unsigned int rc = proto.open(true);
    std::lock_guard<std::mutex> lock(mutex);
    if (rc == 0) {
        if (line.faults > 0) ++line.reconnects;
        line.open = true;
        line.attempts = 0;
        log("line open: " + options.address);
        events.publish({{"event", "line"}, {"open", true}});
        return;
    }
    line.lastError = codeText(rc);
    const std::string reason = channel->lastError();
    if (!reason.empty()) line.lastError += ": " + reason;
    ++line.faults;
    ++line.attempts;
    const unsigned int delay = std::min(LongestBackoffS, 1u << std::min(line.attempts - 1, 5u));
    nextAttempt = Clock::now() + std::chrono::seconds(delay);
    log("line: cannot open " + options.address + ": " + line.lastError + "; next attempt in " + std::to_string(delay) + " s");
}

void TerminalWorker::checkLine() {
    const int rc = proto.communication() ? proto.communication()->isOpened() : Communication::CommNotConnected;
    if (rc != 0) lineLost(static_cast<unsigned int>(rc));
}

void TerminalWorker::lineLost(unsigned int code) {
    const std::string reason = channel->lastError();
    proto.close();
    std::lock_guard<std::mutex> lock(mutex);
    line.open = false;
    ++line.faults;
    line.lastError = codeText(code) + (reason.empty() ? "" : ": " + reason);
    nextAttempt = Clock::now();
    log("line lost: " + line.lastError + "; opening it again");
    events.publish({{"event", "line"}, {"open", false}, {"error", line.lastError}});
}

void TerminalWorker::sawFrame() {
    std::lock_guard<std::mutex> lock(mutex);
    lastFrame = Clock::now();
    anyFrame = true;
}

bool TerminalWorker::isFinal(CTLVMessage& message, const std::string& reference) {
    sawFrame();
    if (CECRDialogue::isFinalAnswer(message)) return true;
    // A data message with nothing but file tags is a piece of the receipt.
    unsigned int piece = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (current) piece = ++current->receiptPieces;
    }
    nlohmann::json event = {{"event", "receipt"}, {"reference", reference}, {"piece", piece}};
    if (message.isFileBufferEnd()) {
        event["complete"] = true;
        for (const RawTag& tag : RegisterSession::tagsOf(message))
            if (CTLVMessage::isFileTag(static_cast<int>(tag.number))) event["text"] = TagJson::text(tag.value);
    }
    events.publish(event);
    return false;
}

void TerminalWorker::run(const TransactionRequest& request) {
    CTLVMessage message;
    for (const RawTag& tag : request.tags)
        message.addTag(new CTLVTag(tag.number, tag.value.data(), static_cast<unsigned int>(tag.value.size())));
    CECRDialogue run(proto);
    run.setIdleTimeout(request.idleMs ? request.idleMs : options.idleMs);
    run.setOverallTimeout(request.overallMs ? request.overallMs : options.overallMs);
    run.setJournal(this);
    const std::string& reference = request.reference;
    run.onStatus([this, &reference](CTLVMessage& status) {
        sawFrame();
        const std::vector<RawTag> tags = RegisterSession::tagsOf(status);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (current) current->statuses.push_back(tags);
        }
        log("transaction " + reference + ": status: " + TagJson::summary(tags, ByteOrder::LsbFirst, options.masked));
        events.publish({{"event", "status"}, {"reference", reference},
                        {"tags", TagJson::object(tags, ByteOrder::LsbFirst, options.masked)}});
    });
    run.setFinalRule([this, &reference](CTLVMessage& answer) { return isFinal(answer, reference); });
    {
        std::lock_guard<std::mutex> lock(mutex);
        dialogue = &run;
        armed = false;
    }
    events.publish({{"event", "started"}, {"reference", reference},
                    {"request", TagJson::object(request.tags, ByteOrder::MsbFirst, options.masked)}});
    CTLVMessage answer;
    const unsigned int result = run.run(message, answer, reference);
    {
        std::lock_guard<std::mutex> lock(mutex);
        dialogue = nullptr;
        armed = false;
    }
    end(result, run);
}

void TerminalWorker::end(unsigned int result, CECRDialogue& run) {
    TransactionView view;
    std::string reference;
    {
        std::lock_guard<std::mutex> lock(mutex);
        reference = current->reference;
    }
    bool found = false;
    std::string error;
    // What the journal tells is the outcome, now as after any crash.
    if (!recorded(reference, view, found, error) || !found) {
        std::lock_guard<std::mutex> lock(mutex);
        view = *current;
        view.ended = view.resultKnown = true;
        view.result = result;
        view.receipt.assign(run.receipt().begin(), run.receipt().end());
        // Without the journal's record only an answer or a journal that refused
        // the intent is certain; anything else may have reached the terminal.
        view.outcome = result == ECRPResult::Ok                      ? TransactionView::Answered
                       : result == ECRPResult::AnswerNotAcknowledged ? TransactionView::AnsweredNotAcknowledged
                       : result == Communication::CommJournalFailed  ? TransactionView::NotSent
                                                                     : TransactionView::SentNoAnswer;
        log("transaction " + reference + ": the journal has no record of it" + (error.empty() ? "" : ": " + error));
    }
    const nlohmann::json shown = view.json(options.masked);
    log("transaction " + reference + ": " + view.outcome + " (" + codeText(result) + ")" +
        (view.answered ? ": " + TagJson::summary(view.answer, ByteOrder::LsbFirst, options.masked) : ""));
    metrics.ended(view.outcome, result);
    {
        // Recorded before it is announced: whoever hears of the outcome and
        // asks for it gets it.
        std::lock_guard<std::mutex> lock(mutex);
        recent.push_back(std::move(view));
        if (recent.size() > KeptInMemory) recent.pop_front();
        current.reset();
        line.running.clear();
    }
    if (shown["answer"].is_object())
        events.publish({{"event", "answer"}, {"reference", reference}, {"tags", shown["answer"]}});
    nlohmann::json outcome = shown;
    outcome["event"] = "outcome";
    events.publish(outcome);
    // A run that ended with a channel's code leaves a line to open again.
    if (result > 100 && result < 200) {
        lineLost(result);
        return;
    }
    checkLine();
}

} // namespace ecrlink::tool
