// SPDX-License-Identifier: MIT
#include "register/RegisterSession.h"

#include "base/Console.h"
#include "base/SignalWatch.h"
#include "wire/TagTable.h"

#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ChannelFactory.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Journal.h"
#include "ecrlink/TLVMessage.h"

#include <fstream>

namespace ecrlink::tool {

std::vector<RawTag> RegisterSession::tagsOf(CTLVMessage& message) {
    std::vector<CTLVTag*> all;
    message.getAllTags(all);
    std::vector<RawTag> tags;
    for (CTLVTag* tag : all) {
        RawTag raw;
        unsigned int length = 0;
        tag->getType(raw.number);
        tag->getLength(length);
        raw.value.resize(length);
        unsigned int copied = 0;
        if (length > 0) tag->getValue(raw.value.data(), length, copied);
        tags.push_back(std::move(raw));
    }
    return tags;
}

namespace {

// "CODE TEXT", and the system's reason when the channel (or else the journal) kept one.
std::string describe(unsigned int code, const Communication::Channel& channel, const Communication::Journal& journal) {
    std::string text = std::to_string(code) + " " + ecrlinkResultText(code);
    std::string reason = channel.lastError();
    if (reason.empty()) reason = journal.lastError(); // the intent or the outcome could not be recorded
    if (!reason.empty() && code != ECRPResult::IdleTimeout && code != ECRPResult::OverallTimeout &&
        code != ECRPResult::Cancelled)
        text += ": " + reason;
    return text;
}

} // namespace

int RegisterSession::run(const Options& options) {
    receiptText.clear();
    int rc = 0;
    std::string error;
    Communication::Channel* channel = Communication::createChannel(options.address, rc, error);
    if (!channel) {
        Console::err("ecrlink: bad address '" + options.address + "': " + error + "\n");
        return 2;
    }
    // Nothing goes to the terminal before the journal can record it.
    Communication::Journal::Options journaling;
    journaling.maskedTags = options.masked;
    Communication::Journal journal(journaling);
    if (!options.journalFile.empty() && journal.open(options.journalFile) != Communication::CommOk) {
        Communication::destroyCommIns(channel);
        Console::err("ecrlink: " + journal.lastError() + "\n");
        return 1;
    }
    if (journal.isOpen())
        channel = new Communication::CaptureChannel(channel, journal, {{}, {}, false, options.wireTrace});
    else if (!options.captureFile.empty() || options.wireTrace)
        channel = new Communication::CaptureChannel(channel, {options.captureFile, options.masked, false, options.wireTrace});
    CECRProto proto;
    proto.setCommunication(channel);
    if (const unsigned int opened = proto.open(true)) {
        Console::err("ecrlink: open " + options.address + ": " + describe(opened, *channel, journal) + "\n");
        return 1;
    }

    CTLVMessage request;
    for (const RawTag& tag : options.request)
        request.addTag(new CTLVTag(tag.number, tag.value.data(), static_cast<unsigned int>(tag.value.size())));
    Console::out("register -> terminal: request\n" + TagTable::table(options.request, ByteOrder::MsbFirst, false));

    CECRDialogue dialogue(proto);
    if (journal.isOpen()) dialogue.setJournal(&journal);
    dialogue.setIdleTimeout(options.idleMs);
    dialogue.setOverallTimeout(options.overallMs);
    dialogue.onStatus([](CTLVMessage& status) {
        Console::out("terminal -> register: status message (312)\n" +
                     TagTable::table(tagsOf(status), ByteOrder::LsbFirst, false));
    });
    CTLVMessage answer;
    unsigned int result = 0;
    {
        // Ctrl-C or SIGTERM cancels the dialogue: the terminal gets EOT.
        const SignalWatch signals([&dialogue](int) { dialogue.cancel(); });
        result = dialogue.run(request, answer, options.reference);
    }
    for (unsigned int code : dialogue.recovered())
        Console::out("terminal -> register: went on after " + std::to_string(code) + " " + ecrlinkResultText(code) +
                     "\n");
    proto.close();
    receiptText.assign(dialogue.receipt().begin(), dialogue.receipt().end());
    // An answer whose ACK did not reach the terminal is shown all the same: it is what the terminal decided.
    const bool answered = result == ECRPResult::Ok || result == ECRPResult::AnswerNotAcknowledged;
    if (!answered) {
        Console::err("ecrlink: send: " + describe(result, *channel, journal) + "\n");
        return 1;
    }
    if (!receiptText.empty())
        Console::out("terminal -> register: receipt complete (" + std::to_string(receiptText.size()) + " bytes)\n");
    Console::out("terminal -> register: answer\n" + TagTable::table(tagsOf(answer), ByteOrder::LsbFirst, false));

    if (!options.receiptFile.empty()) {
        if (receiptText.empty()) {
            Console::err("ecrlink: receipt: the terminal sent none\n");
            return 1;
        }
        std::ofstream file(options.receiptFile, std::ios::binary);
        file.write(receiptText.data(), static_cast<std::streamsize>(receiptText.size()));
        if (!file.flush()) {
            Console::err("ecrlink: receipt: cannot write " + options.receiptFile + "\n");
            return 1;
        }
        Console::out("receipt saved to " + options.receiptFile + " (" + std::to_string(receiptText.size()) +
                     " bytes)\n");
    }
    if (result == ECRPResult::AnswerNotAcknowledged) {
        Console::err("ecrlink: send: " + describe(result, *channel, journal) + " (check the transaction at the terminal)\n");
        return 1;
    }
    // The answer stands; a journal that could not record how the run ended must not go unnoticed.
    if (!journal.lastError().empty()) {
        Console::err("ecrlink: " + journal.lastError() + "\n");
        return 1;
    }
    return 0;
}

} // namespace ecrlink::tool
