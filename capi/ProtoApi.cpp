// SPDX-License-Identifier: MIT
// The protocol object with its channel and its one dialogue.

#include "Boundary.h"
#include "CallbackChannel.h"

#include "ecrlink/CaptureChannel.h"
#include "ecrlink/ChannelFactory.h"
#include "ecrlink/ECRDialogue.h"
#include "ecrlink/ECRProto.h"
#include "ecrlink/Journal.h"

#include <memory>
#include <string>

using namespace ecrlink::capi;

struct ecrlink_proto {
    std::unique_ptr<Communication::Journal> journal; // outlives the runs that record into it
    CECRProto proto;
    CECRDialogue dialogue{proto};
    std::string addressError; // why the last address or journal could not be used
};

namespace {

// Hands a new channel over (recording into the journal, if any), or destroys
// it when the object would not take it.
unsigned int adopt(ecrlink_proto& p, Communication::Channel* channel) {
    if (p.journal) channel = new Communication::CaptureChannel(channel, *p.journal, {});
    const unsigned int rc = p.proto.setCommunication(channel);
    if (rc != ECRLINK_OK) Communication::destroyCommIns(channel);
    p.addressError.clear();
    return rc;
}

} // namespace

extern "C" {

unsigned int ecrlink_proto_new(ecrlink_proto** out) {
    if (!out) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        *out = new ecrlink_proto;
        return ECRLINK_OK;
    });
}

void ecrlink_proto_release(ecrlink_proto* proto) { delete proto; }

unsigned int ecrlink_proto_use_address(ecrlink_proto* proto, const char* address) {
    if (!proto || !address) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        int rc = 0;
        std::string why;
        Communication::Channel* channel = Communication::createChannel(address, rc, why);
        if (!channel) {
            proto->addressError = why;
            return static_cast<unsigned int>(rc);
        }
        return adopt(*proto, channel);
    });
}

unsigned int ecrlink_proto_use_channel(ecrlink_proto* proto, const ecrlink_channel* channel) {
    if (!proto || !channel || !CallbackChannel::complete(*channel)) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return adopt(*proto, new CallbackChannel(*channel)); });
}

unsigned int ecrlink_proto_use_journal(ecrlink_proto* proto, const char* path, unsigned long long rotate_bytes) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        if (proto->proto.communication()) {
            // The channel held would not record into it: the journal would miss the answers.
            proto->addressError = "the journal must be set before the channel";
            return ECRLINK_INVALID_ARGUMENT;
        }
        std::unique_ptr<Communication::Journal> journal;
        if (path) {
            Communication::Journal::Options options;
            if (rotate_bytes) options.rotateBytes = rotate_bytes;
            journal = std::make_unique<Communication::Journal>(options);
            if (const int rc = journal->open(path)) {
                proto->addressError = journal->lastError();
                return static_cast<unsigned int>(rc);
            }
        }
        proto->dialogue.setJournal(journal.get());
        proto->journal = std::move(journal);
        proto->addressError.clear();
        return ECRLINK_OK;
    });
}

unsigned int ecrlink_proto_open(ecrlink_proto* proto, int flag) {
    return proto ? guarded([&] { return proto->proto.open(flag != 0); }) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_proto_close(ecrlink_proto* proto) {
    return proto ? guarded([&] { return proto->proto.close(); }) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_proto_is_opened(ecrlink_proto* proto) {
    return proto ? guarded([&] { return proto->proto.isOpened(); }) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_proto_set_timeouts(ecrlink_proto* proto, unsigned int a, unsigned int b) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    proto->proto.setTimeouts(a, b);
    return ECRLINK_OK;
}

unsigned int ecrlink_proto_timeouts(ecrlink_proto* proto, unsigned int* first, unsigned int* second) {
    if (!proto || !first || !second) return ECRLINK_INVALID_ARGUMENT;
    *first = proto->proto.firstTimeout();
    *second = proto->proto.secondTimeout();
    return ECRLINK_OK;
}

unsigned int ecrlink_proto_last_error(ecrlink_proto* proto, char* buffer, std::size_t size, std::size_t* length) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        std::string text = proto->addressError;
        auto* channel = dynamic_cast<Communication::Channel*>(proto->proto.communication());
        if (text.empty() && channel) text = channel->lastError();
        return copyOut(text.data(), text.size(), buffer, size, length, true);
    });
}

unsigned int ecrlink_proto_send_message(ecrlink_proto* proto, ecrlink_message* message) {
    if (!proto || !message) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return proto->proto.sendMessage(*asMessage(message)); });
}

unsigned int ecrlink_proto_recv_message(ecrlink_proto* proto, ecrlink_message* message) {
    if (!proto || !message) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return proto->proto.recvMessage(*asMessage(message)); });
}

unsigned int ecrlink_proto_send_frame(ecrlink_proto* proto, const unsigned char* data, unsigned int length,
                                      unsigned char check, int attempts) {
    if (!proto || (!data && length)) return ECRLINK_INVALID_ARGUMENT;
    static const unsigned char nothing = 0;
    return guarded([&] { return proto->proto.ecrSend(data ? data : &nothing, length, check, attempts); });
}

unsigned int ecrlink_proto_recv_frame(ecrlink_proto* proto, unsigned char* buffer, std::size_t size,
                                      std::size_t* length, int attempts) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        unsigned char* data = nullptr;
        unsigned int count = 0;
        const unsigned int rc = proto->proto.ecrRecv(data, count, attempts);
        unsigned int copied = ECRLINK_OK;
        if (data && (rc == ECRLINK_OK || rc == ECRLINK_STATUS_MESSAGE)) copied = copyOut(data, count, buffer, size, length);
        delete[] data;
        return copied ? copied : rc;
    });
}

unsigned int ecrlink_proto_read_bytes(ecrlink_proto* proto, unsigned char* buffer, unsigned int count) {
    if (!proto || !buffer) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] { return proto->proto.readNBytes(buffer, count); });
}

unsigned int ecrlink_proto_send_byte(ecrlink_proto* proto, unsigned char byte) {
    return proto ? guarded([&] { return proto->proto.sendByte(byte); }) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_proto_send_abort(ecrlink_proto* proto) {
    return proto ? guarded([&] { return proto->proto.sendAbort(); }) : ECRLINK_INVALID_ARGUMENT;
}

unsigned int ecrlink_dialogue_set_timeouts(ecrlink_proto* proto, unsigned int idle_ms, unsigned int overall_ms) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    proto->dialogue.setIdleTimeout(idle_ms ? idle_ms : CECRDialogue::DefaultIdleTimeoutMs);
    proto->dialogue.setOverallTimeout(overall_ms ? overall_ms : CECRDialogue::DefaultOverallTimeoutMs);
    return ECRLINK_OK;
}

unsigned int ecrlink_dialogue_on_status(ecrlink_proto* proto, ecrlink_status_fn fn, void* user) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        if (fn)
            proto->dialogue.onStatus([fn, user](CTLVMessage& status) { fn(user, handleOf(&status)); });
        else
            proto->dialogue.onStatus(nullptr);
        return ECRLINK_OK;
    });
}

unsigned int ecrlink_dialogue_run(ecrlink_proto* proto, ecrlink_message* request, ecrlink_message* answer) {
    return ecrlink_dialogue_run_reference(proto, request, answer, nullptr);
}

unsigned int ecrlink_dialogue_run_reference(ecrlink_proto* proto, ecrlink_message* request, ecrlink_message* answer,
                                            const char* reference) {
    if (!proto || !request || !answer) return ECRLINK_INVALID_ARGUMENT;
    return guarded([&] {
        return proto->dialogue.run(*asMessage(request), *asMessage(answer), reference ? reference : "");
    });
}

unsigned int ecrlink_dialogue_cancel(ecrlink_proto* proto) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    proto->dialogue.cancel();
    return ECRLINK_OK;
}

unsigned int ecrlink_dialogue_receipt(ecrlink_proto* proto, unsigned char* buffer, std::size_t size,
                                      std::size_t* length) {
    if (!proto) return ECRLINK_INVALID_ARGUMENT;
    const std::vector<unsigned char>& receipt = proto->dialogue.receipt();
    return copyOut(receipt.data(), receipt.size(), buffer, size, length);
}

} // extern "C"
