// SPDX-License-Identifier: MIT
#include "commands/JournalCommand.h"

#include "base/Console.h"
#include "wire/TagTable.h"

#include "ecrlink/Channel.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Journal.h"

#include <ctime>
#include <sstream>

namespace ecrlink::tool {

namespace {

using Communication::JournalTransaction;

std::string utc(std::uint64_t ns) {
    const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000u);
    std::tm parts{};
    char text[32] = "";
    if (gmtime_r(&seconds, &parts)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::vector<RawTag> rawTags(const std::vector<Communication::JournalTag>& tags) {
    std::vector<RawTag> raw;
    for (const auto& tag : tags) raw.push_back({tag.number, tag.value});
    return raw;
}

std::string describe(const JournalTransaction& t) {
    std::ostringstream out;
    out << "outcome: " << Communication::journalOutcomeText(t.outcome) << "\n"
        << "reference: " << t.reference << "\n"
        << "began: " << utc(t.wallTimeNs) << "\n";
    if (t.resultRecorded)
        out << "result: " << t.result << " " << ecrlinkResultText(t.result) << "\n";
    else
        out << "result: not recorded (the register stopped during the transaction, or could not record its end)\n";
    std::vector<RawTag> request;
    std::string why;
    out << "request:\n"
        << (WireDump::decode(t.request, ByteOrder::MsbFirst, request, why)
                ? TagTable::table(request, ByteOrder::MsbFirst, false)
                : "  " + toHex(t.request) + "\n");
    out << "status messages: " << t.statusMessages.size() << "\n";
    if (!t.answer.empty()) out << "answer:\n" << TagTable::table(rawTags(t.answerTags), ByteOrder::LsbFirst, false);
    else out << "answer: none\n";
    if (!t.receipt.empty()) {
        out << "receipt (" << t.receipt.size() << " bytes" << (t.receiptComplete ? "" : ", incomplete") << "):\n";
        std::istringstream lines(std::string(t.receipt.begin(), t.receipt.end()));
        for (std::string line; std::getline(lines, line);) out << "  | " << line << "\n";
    }
    out << "file: " << t.file << "\n";
    return out.str();
}

} // namespace

namespace JournalCommand {

int run(const std::string& path, const std::string* reference) {
    JournalTransaction t;
    std::string error;
    const int rc = reference ? Communication::Journal::findTransaction(path, *reference, t, error)
                             : Communication::Journal::lastTransaction(path, t, error);
    if (rc == Communication::CommBadArgument) error = path + ": not a journal";
    if (rc != Communication::CommOk) {
        Console::err("ecrlink: journal: " + error + "\n");
        return 2;
    }
    if (t.outcome == JournalTransaction::NotFound) {
        Console::err("ecrlink: journal: " + path +
                     (reference ? ": no transaction with reference '" + *reference + "'" : ": no transaction") +
                     (reference ? " (nothing was sent for it)\n" : "\n"));
        return 1;
    }
    Console::out(describe(t));
    return 0;
}

} // namespace JournalCommand

} // namespace ecrlink::tool
