// SPDX-License-Identifier: MIT
// Transactions read back from a journal, for a register that restarts.

#include "Boundary.h"

#include "ecrlink/Journal.h"

#include <string>
#include <vector>

using namespace ecrlink::capi;
using Communication::JournalTag;
using Communication::JournalTransaction;

struct ecrlink_transaction {
    JournalTransaction read;
    std::string error; // why the last read failed
};

namespace {

// Replaces the tags of `message` by `tags`; an empty value is a tag without
// value, as a received dump gives it.
void fill(ecrlink_message* message, const std::vector<JournalTag>& tags) {
    CTLVMessage& m = *asMessage(message);
    m.clear();
    for (const JournalTag& tag : tags)
        m.addTag(tag.value.empty() ? new CTLVTag(tag.number)
                                   : new CTLVTag(tag.number, tag.value.data(), static_cast<unsigned int>(tag.value.size())));
}

template <typename Read>
unsigned int readInto(ecrlink_transaction* t, Read&& read) {
    return guarded([&] {
        t->error.clear();
        const int rc = read(t->read, t->error);
        if (rc != 0) t->read = JournalTransaction{};
        return static_cast<unsigned int>(rc);
    });
}

} // namespace

extern "C" {

unsigned int ecrlink_transaction_new(ecrlink_transaction** out) {
    if (!out) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        *out = new ecrlink_transaction;
        return ECRLINK_OK;
    });
}

void ecrlink_transaction_release(ecrlink_transaction* transaction) { delete transaction; }

unsigned int ecrlink_journal_last(const char* path, ecrlink_transaction* transaction) {
    if (!path || !transaction) return ECRLINK_INVALID_ARGUMENT;
    return readInto(transaction, [&](JournalTransaction& t, std::string& error) {
        return Communication::Journal::lastTransaction(path, t, error);
    });
}

unsigned int ecrlink_journal_find(const char* path, const char* reference, ecrlink_transaction* transaction) {
    if (!path || !reference || !transaction) return ECRLINK_INVALID_ARGUMENT;
    return readInto(transaction, [&](JournalTransaction& t, std::string& error) {
        return Communication::Journal::findTransaction(path, reference, t, error);
    });
}

unsigned int ecrlink_transaction_outcome(const ecrlink_transaction* transaction, unsigned int* outcome) {
    if (!transaction || !outcome) return ECRLINK_INVALID_ARGUMENT;
    *outcome = static_cast<unsigned int>(transaction->read.outcome);
    return ECRLINK_OK;
}

const char* ecrlink_outcome_text(unsigned int outcome) {
    if (outcome > ECRLINK_OUTCOME_ANSWERED_NOT_ACKNOWLEDGED) return "unknown outcome";
    return Communication::journalOutcomeText(static_cast<JournalTransaction::Outcome>(outcome));
}

unsigned int ecrlink_transaction_reference(const ecrlink_transaction* transaction, char* buffer, std::size_t size,
                                           std::size_t* length) {
    if (!transaction) return ECRLINK_INVALID_ARGUMENT;
    const std::string& reference = transaction->read.reference;
    return copyOut(reference.data(), reference.size(), buffer, size, length, true);
}

unsigned int ecrlink_transaction_result(const ecrlink_transaction* transaction, unsigned int* result) {
    if (!transaction || !result) return ECRLINK_INVALID_ARGUMENT;
    if (!transaction->read.resultRecorded) return ECRLINK_NO_VALUE;
    *result = transaction->read.result;
    return ECRLINK_OK;
}

unsigned int ecrlink_transaction_answer(const ecrlink_transaction* transaction, ecrlink_message* answer) {
    if (!transaction || !answer) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        fill(answer, transaction->read.answerTags);
        return transaction->read.answer.empty() ? ECRLINK_NO_VALUE : ECRLINK_OK;
    });
}

unsigned int ecrlink_transaction_receipt(const ecrlink_transaction* transaction, unsigned char* buffer,
                                         std::size_t size, std::size_t* length) {
    if (!transaction) return ECRLINK_INVALID_ARGUMENT;
    const std::vector<unsigned char>& receipt = transaction->read.receipt;
    return copyOut(receipt.data(), receipt.size(), buffer, size, length);
}

unsigned int ecrlink_transaction_status_count(const ecrlink_transaction* transaction, unsigned int* count) {
    if (!transaction || !count) return ECRLINK_INVALID_ARGUMENT;
    *count = static_cast<unsigned int>(transaction->read.statusMessages.size());
    return ECRLINK_OK;
}

unsigned int ecrlink_transaction_status_at(const ecrlink_transaction* transaction, unsigned int index,
                                           ecrlink_message* status) {
    if (!transaction || !status) return ECRLINK_INVALID_ARGUMENT;
    if (index >= transaction->read.statusMessages.size()) return ECRLINK_NO_TAG;
    return guarded([&] {
        fill(status, transaction->read.statusMessages[index]);
        return ECRLINK_OK;
    });
}

unsigned int ecrlink_transaction_error(const ecrlink_transaction* transaction, char* buffer, std::size_t size,
                                       std::size_t* length) {
    if (!transaction) return ECRLINK_INVALID_ARGUMENT;
    return copyOut(transaction->error.data(), transaction->error.size(), buffer, size, length, true);
}

} // extern "C"
