// SPDX-License-Identifier: MIT
#include "serve/TerminalWorker.h"

#include "register/RegisterSession.h"
#include "serve/TagJson.h"

#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/TLVMessage.h"

#include <algorithm>
#include <ctime>

namespace ecrtool {

namespace {

constexpr std::size_t KeptInMemory = 64;
constexpr auto WatchEvery = std::chrono::seconds(1);
constexpr unsigned int LongestBackoffS = 30;

std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms));
    return text;
}

std::string codeText(unsigned int code) {
    return std::to_string(code) + " " + ecrlinkResultText(code);
}

} // namespace

TerminalWorker::TerminalWorker(Options o, Communication::Channel* line_, EventHub& e, Metrics& m, Log l)
    : options(std::move(o)), events(e), metrics(m), log(std::move(l)), channel(line_) {
    line.address = options.address;
    Communication::CaptureChannel::Options journal;
    journal.path = options.journalDir + "/journal.cap";
    journal.maskedTags = options.masked;
    journal.journal = true;
    channel = new Communication::CaptureChannel(channel, journal);
    proto.setCommunication(channel);
}

TerminalWorker::~TerminalWorker() {
    shutdown(true);
    join();
}

void TerminalWorker::start() {
    thread = std::thread([this] { loop(); });
}

void TerminalWorker::shutdown(bool cancel) {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    line.stopping = true;
    if (cancel) {
        cancelAsked = true;
        if (dialogue) dialogue->cancel();
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

TerminalSide::Start TerminalWorker::start(const TransactionRequest& request, std::string& other) {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return Start::Stopping;
    if (current) {
        other = current->reference;
        return Start::Busy;
    }
    for (const TransactionView& view : recent)
        if (view.reference == request.reference) return Start::Duplicate;
    if (!line.open) return Start::LineDown;
    pending = std::make_unique<TransactionRequest>(request);
    current = std::make_unique<TransactionView>();
    current->reference = request.reference;
    current->request = request.tags;
    current->started = utcNow();
    cancelAsked = false;
    line.running = request.reference;
    wake.notify_all();
    return Start::Started;
}

TerminalSide::Cancel TerminalWorker::cancel(const std::string& reference) {
    std::lock_guard<std::mutex> lock(mutex);
    if (current && current->reference == reference) {
        cancelAsked = true;
        if (dialogue) dialogue->cancel();
        return Cancel::Cancelling;
    }
    for (const TransactionView& view : recent)
        if (view.reference == reference) return Cancel::Ended;
    return Cancel::Unknown;
}

bool TerminalWorker::find(const std::string& reference, TransactionView& out, std::string&) {
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
    return false;
}

LineHealth TerminalWorker::health() {
    std::lock_guard<std::mutex> lock(mutex);
    LineHealth copy = line;
    const Clock::time_point now = Clock::now();
    if (!copy.open)
        copy.nextAttemptMs = nextAttempt > now
            ? static_cast<unsigned int>(std::chrono::duration_cast<std::chrono::milliseconds>(nextAttempt - now).count())
            : 0;
    if (anyFrame) copy.lastFrameAge = std::chrono::duration<double>(now - lastFrame).count();
    return copy;
}

void TerminalWorker::publish(nlohmann::json event) {
    events.publish(event);
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
        if (line.attempts > 0 || line.faults > 0) ++line.reconnects;
        line.open = true;
        line.attempts = 0;
        log("line open: " + options.address);
        publish({{"event", "line"}, {"open", true}});
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
    const int rc = proto.communication() ? proto.communication()->isOpened() : 105;
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
    publish({{"event", "line"}, {"open", false}, {"error", line.lastError}});
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
    publish(event);
    return false;
}

void TerminalWorker::run(const TransactionRequest& request) {
    CTLVMessage message;
    for (const RawTag& tag : request.tags)
        message.addTag(new CTLVTag(tag.number, tag.value.data(), static_cast<unsigned int>(tag.value.size())));
    CECRDialogue run(proto);
    run.setIdleTimeout(request.idleMs ? request.idleMs : options.idleMs);
    run.setOverallTimeout(request.overallMs ? request.overallMs : options.overallMs);
    const std::string reference = request.reference;
    run.onStatus([this, &reference](CTLVMessage& status) {
        sawFrame();
        const std::vector<RawTag> tags = RegisterSession::tagsOf(status);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (current) current->statuses.push_back(tags);
        }
        log("transaction " + reference + ": status: " + TagJson::summary(tags, ByteOrder::LsbFirst, options.masked));
        publish({{"event", "status"}, {"reference", reference}, {"tags", TagJson::object(tags, ByteOrder::LsbFirst, options.masked)}});
    });
    run.setFinalRule([this, &reference](CTLVMessage& answer) { return isFinal(answer, reference); });
    {
        std::lock_guard<std::mutex> lock(mutex);
        dialogue = &run;
        if (cancelAsked) run.cancel();
    }
    publish({{"event", "started"}, {"reference", reference},
             {"request", TagJson::object(request.tags, ByteOrder::MsbFirst, options.masked)}});
    CTLVMessage answer;
    const unsigned int result = run.run(message, answer);
    {
        std::lock_guard<std::mutex> lock(mutex);
        dialogue = nullptr;
    }
    end(result, answer, run);
}

void TerminalWorker::end(unsigned int result, CTLVMessage& answer, CECRDialogue& run) {
    TransactionView view;
    {
        std::lock_guard<std::mutex> lock(mutex);
        view = *current;
    }
    view.ended = true;
    view.result = result;
    view.finished = utcNow();
    view.receipt.assign(run.receipt().begin(), run.receipt().end());
    if (result == ECRPResult::Ok || result == ECRPResult::AnswerNotAcknowledged) {
        view.answered = true;
        view.answer = RegisterSession::tagsOf(answer);
        view.answer.erase(std::remove_if(view.answer.begin(), view.answer.end(),
                                         [](const RawTag& tag) { return CTLVMessage::isFileTag(static_cast<int>(tag.number)); }),
                          view.answer.end());
        view.outcome = result == ECRPResult::Ok ? TransactionView::Answered : TransactionView::AnsweredNotAcknowledged;
    } else {
        view.outcome = TransactionView::SentNoAnswer;
    }
    const nlohmann::json shown = view.json(options.masked);
    log("transaction " + view.reference + ": " + view.outcome + " (" + codeText(result) + ")" +
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
        publish({{"event", "answer"}, {"reference", shown["reference"]}, {"tags", shown["answer"]}});
    nlohmann::json outcome = shown;
    outcome["event"] = "outcome";
    publish(outcome);
    checkLine();
}

} // namespace ecrtool
