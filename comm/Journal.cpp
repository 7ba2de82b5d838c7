// SPDX-License-Identifier: MIT
#include "ecrlink/Journal.h"

#include "JournalState.h"
#include "RecordReader.h"
#include "RotatedFiles.h"
#include "TransactionBuilder.h"

#include "ecrlink/Channel.h"

#include <sys/stat.h>

namespace Communication {

namespace {

using ecrlink::comm::Record;
using ecrlink::comm::RecordReader;

// Looks for the transaction from the end of one file: the last one, or the
// last with `reference`. 0 with `found` telling whether it is there, or the
// reader's failure.
int lookIn(const std::string& file, const std::string* reference, JournalTransaction& out, bool& found,
           std::string& error) {
    found = false;
    RecordReader reader;
    if (const int rc = reader.open(file, error)) return rc;
    if (reader.version() != ecrlink::comm::Version2) return CommOk; // no transactions before the journal
    const std::uint64_t end = reader.wholeEnd();
    Record record;
    std::uint64_t at = end, begin = 0, wall = 0;
    std::string ref;
    std::vector<unsigned char> request;
    while (!found) {
        if (!reader.previous(at, record, begin)) {
            // Past a stretch a power loss left unwritten, to the whole records before it.
            if (at <= RecordReader::First || !reader.readError().empty()) break;
            at = reader.wholeEnd(at - 1);
            continue;
        }
        at = begin;
        found = record.type == ecrlink::comm::Intent && ecrlink::comm::splitIntent(record, wall, ref, request) &&
                (!reference || ref == *reference);
    }
    if (found) {
        ecrlink::comm::TransactionBuilder transaction;
        std::uint64_t after = 0;
        while (at < end && reader.next(at, record, after) && transaction.feed(record)) at = after;
        transaction.finish(out);
        out.file = file;
    }
    if (!reader.readError().empty()) {
        error = file + ": " + reader.readError();
        return CommOpenFailed;
    }
    return CommOk;
}

int lookUp(const std::string& path, const std::string* reference, JournalTransaction& out, std::string& error) {
    out = JournalTransaction{};
    struct stat st {};
    const bool current = ::stat(path.c_str(), &st) == 0;
    const auto rotated = ecrlink::comm::rotatedFiles(path);
    // A crash while rotating may leave the journal without its current file.
    std::vector<std::string> files;
    if (current || rotated.empty()) files.push_back(path);
    for (const auto& file : rotated) files.push_back(file.second);
    for (const std::string& file : files) {
        bool found = false;
        if (const int rc = lookIn(file, reference, out, found, error)) return rc;
        if (found) return CommOk;
    }
    out = JournalTransaction{};
    return CommOk;
}

} // namespace

const char* journalOutcomeText(JournalTransaction::Outcome outcome) {
    switch (outcome) {
    case JournalTransaction::NotFound: return "not found";
    case JournalTransaction::NotSent: return "not sent";
    case JournalTransaction::SentNoAnswer: return "sent, no answer";
    case JournalTransaction::Answered: return "answered";
    case JournalTransaction::AnsweredNotAcknowledged: return "answered, acknowledgement not delivered";
    }
    return "unknown";
}

Journal::Journal() : Journal(Options{}) {}

Journal::Journal(Options options) : state(new State(std::move(options))) {}

Journal::~Journal() = default;

int Journal::open(const std::string& path) { return state->file->open(path); }

int Journal::close() {
    state->file->close();
    return CommOk;
}

bool Journal::isOpen() const { return state->file->isOpen(); }

std::string Journal::path() const { return state->file->path(); }

std::string Journal::lastError() const { return state->file->lastError(); }

int Journal::beginTransaction(const std::string& reference, const unsigned char* request, unsigned int length) {
    std::vector<unsigned char> dump;
    if (request) dump.assign(request, request + length);
    // The request's dump as it goes out: record headers most significant byte first.
    ecrlink::comm::maskDump(dump.data(), dump.size(), true, state->options.maskedTags);
    return state->file->begin(reference, dump.data(), static_cast<std::uint32_t>(dump.size()),
                              state->options.rotateBytes, state->options.keep)
               ? CommJournalFailed
               : CommOk;
}

int Journal::endTransaction(unsigned int result, Ending ending) {
    return state->file->end(result, static_cast<unsigned int>(ending)) ? CommJournalFailed : CommOk;
}

int Journal::lastTransaction(const std::string& path, JournalTransaction& out, std::string& error) {
    return lookUp(path, nullptr, out, error);
}

int Journal::findTransaction(const std::string& path, const std::string& reference, JournalTransaction& out,
                             std::string& error) {
    return lookUp(path, &reference, out, error);
}

} // namespace Communication
