#include "RegisterSession.h"

#include "Console.h"
#include "ResultText.h"
#include "TagTable.h"

#include "ecrlink/ChannelFactory.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/TLVMessage.h"

#include <chrono>
#include <fstream>

namespace ecrtool {

namespace {

std::vector<RawTag> tagsOf(CTLVMessage& message) {
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

bool onlyFileTags(const std::vector<RawTag>& tags) {
    for (const RawTag& tag : tags)
        if (!CTLVMessage::isFileTag(static_cast<int>(tag.number))) return false;
    return true;
}

} // namespace

int RegisterSession::fail(const std::string& what, unsigned int code) {
    Console::err("ecrlink: " + what + ": " + std::to_string(code) + " " + resultText(code) + "\n");
    return 1;
}

int RegisterSession::run(const Options& options) {
    receiptText.clear();
    int rc = 0;
    std::string error;
    Communication::Channel* channel = Communication::createChannel(options.address, rc, error);
    if (!channel) {
        Console::err("ecrlink: bad address '" + options.address + "': " + error + "\n");
        return 2;
    }
    CECRProto proto;
    proto.setCommunication(channel);
    if (const unsigned int opened = proto.open(true)) return fail("open " + options.address, opened);

    CTLVMessage request;
    for (const RawTag& tag : options.request)
        request.addTag(new CTLVTag(tag.number, tag.value.data(), static_cast<unsigned int>(tag.value.size())));
    Console::out("register -> terminal: request\n" + TagTable::table(options.request, ByteOrder::MsbFirst, false));
    if (const unsigned int sent = proto.sendMessage(request)) {
        proto.close();
        return fail("send", sent);
    }
    Console::out("terminal acknowledged the request\n");

    // One message object for the whole dialogue, so that receipt pieces collect.
    CTLVMessage answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.waitMs);
    for (;;) {
        const unsigned int got = proto.recvMessage(answer);
        if (got == ECRPResult::Timeout && std::chrono::steady_clock::now() < deadline) continue;
        if (got != ECRPResult::Ok && got != ECRPResult::StatusMessage) {
            proto.close();
            return fail("receive", got);
        }
        const std::vector<RawTag> tags = tagsOf(answer);
        if (got == ECRPResult::StatusMessage) {
            Console::out("terminal -> register: status message (312)\n" +
                         TagTable::table(tags, ByteOrder::LsbFirst, false));
            continue;
        }
        for (const RawTag& tag : tags)
            if (CTLVMessage::isFileTag(static_cast<int>(tag.number)) && answer.isFileBufferEnd())
                receiptText.assign(tag.value.begin(), tag.value.end());
        if (onlyFileTags(tags)) {
            Console::out(tags.empty() ? std::string("terminal -> register: receipt piece\n")
                                      : "terminal -> register: last receipt piece, receipt complete (" +
                                            std::to_string(receiptText.size()) + " bytes)\n");
            continue;
        }
        Console::out("terminal -> register: answer\n" + TagTable::table(tags, ByteOrder::LsbFirst, false));
        break;
    }
    proto.close();

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
    return 0;
}

} // namespace ecrtool
