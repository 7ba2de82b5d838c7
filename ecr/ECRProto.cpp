// SPDX-License-Identifier: MIT
#include "ecrlink/ECRProto.h"

#include "ProtoLog.h"
#include "wire/CheckByte.h"
#include "wire/Frame.h"
#include "wire/ResultTable.h"

#include <memory>
#include <string>

using namespace ecrlink::ecr;
using namespace ECRPResult;
using ecrlink::wire::Space;
using ecrlink::wire::textIn;

static_assert(CECRProto::STX == ecrlink::wire::STX && CECRProto::DC2 == ecrlink::wire::DC2 &&
              CECRProto::ACK == ecrlink::wire::ACK && CECRProto::NAK == ecrlink::wire::NAK &&
              CECRProto::EOT == ecrlink::wire::EOT && CECRProto::BEL == ecrlink::wire::BEL &&
              CECRProto::MaxFrameLength == ecrlink::wire::MaxFrameLength);

static_assert(ecrlink::wire::allIn({Timeout, NoAttempts, EotReceived, NoCheckByte, NoAck, UnknownAck, UnknownStart, TooBig,
                                    EmptyMessage, BrokenStatus, StatusMessage},
                                   Space::Link) &&
              ecrlink::wire::allIn({OpenNoChannel, NoChannel, CheckTerminal, ReadOverrun}, Space::Protocol) &&
              ecrlink::wire::allIn({IdleTimeout, OverallTimeout, Cancelled, AnswerNotAcknowledged}, Space::Dialogue) &&
              NotConnected == ecrlink::wire::ChannelNotConnected);

namespace {
// The table's first entry stands for the code below the first one returned.
constexpr unsigned int FirstTableCode = Timeout - 1;
} // namespace

// Entries 9 and 10 stand in the opposite order to their codes.
const char* const aECRPErrors[12] = {
    textIn(FirstTableCode, Space::Link), textIn(Timeout, Space::Link),       textIn(NoAttempts, Space::Link),
    textIn(EotReceived, Space::Link),    textIn(NoCheckByte, Space::Link),   textIn(NoAck, Space::Link),
    textIn(UnknownAck, Space::Link),     textIn(UnknownStart, Space::Link),  textIn(TooBig, Space::Link),
    textIn(BrokenStatus, Space::Link),   textIn(EmptyMessage, Space::Link),  textIn(StatusMessage, Space::Link),
};

const char* ecrpErrorText(unsigned int code) {
    if (!textIn(code, Space::Link)) return nullptr;
    if (code == EmptyMessage) return aECRPErrors[10];
    if (code == BrokenStatus) return aECRPErrors[9];
    return aECRPErrors[code - FirstTableCode];
}

namespace {
constexpr unsigned int DefaultTimeout = 100;
}

CECRProto::CECRProto() : channel(nullptr), timeoutFirst(DefaultTimeout), timeoutSecond(DefaultTimeout) {}

CECRProto::~CECRProto() {
    Communication::destroyCommIns(channel);
}

unsigned int CECRProto::setCommunication(Communication::ICommunication* newChannel) {
    if (!newChannel) return NoChannel;
    // Destroying the channel we are handed again would leave a dangling pointer.
    if (newChannel != channel) {
        Communication::destroyCommIns(channel);
        channel = newChannel;
    }
    timeoutFirst = DefaultTimeout;
    timeoutSecond = DefaultTimeout;
    return Ok;
}

unsigned int CECRProto::open(bool flag) {
    if (!channel) return OpenNoChannel;
    int rc = channel->open();
    if (rc != 0) {
        logOnly("error: communication cannot open");
        return static_cast<unsigned int>(rc);
    }
    channel->setOpenFlag(flag);
    return Ok;
}

unsigned int CECRProto::close() {
    if (!channel) return NoChannel;
    return static_cast<unsigned int>(channel->close());
}

unsigned int CECRProto::isOpened() {
    if (!channel) return NoChannel;
    return static_cast<unsigned int>(channel->isOpened());
}

void CECRProto::setTimeouts(unsigned int a, unsigned int b) {
    timeoutSecond = a;
    timeoutFirst = b;
}

unsigned int CECRProto::enumerate(std::vector<char*>& list) {
    (void)list;
    return Ok;
}

unsigned int CECRProto::firstTimeout() const {
    return timeoutFirst;
}

unsigned int CECRProto::secondTimeout() const {
    return timeoutSecond;
}

Communication::ICommunication* CECRProto::communication() const { return channel; }

unsigned int CECRProto::sendByte(unsigned char byte) {
    if (!channel) {
        logOnly("error: bad communication");
        return NoChannel;
    }
    int rc = channel->isOpened();
    if (rc != 0) return static_cast<unsigned int>(rc);
    unsigned int count = 0;
    return static_cast<unsigned int>(channel->write(&byte, 1, count));
}

unsigned int CECRProto::sendAbort() {
    logOnly("sending abort");
    return sendByte(ecrlink::wire::EOT);
}

namespace {
// A dump longer than this cannot be described by the frame's 16-bit length field.
constexpr unsigned int MaxDumpLength = ecrlink::wire::MaxFramed;
// Tag 1 holding this number marks a status message sent in a data frame.
constexpr int StatusTag = 1;
constexpr unsigned int StatusValue = 13;
} // namespace

unsigned int CECRProto::sendMessage(CTLVMessage& message) {
    traceOnly("CECRProto::sendMessage | sending message...");
    logOnly("sending message");
    if (!channel) {
        report("error: bad communication");
        return NoChannel;
    }
    int opened = channel->isOpened();
    if (opened != 0) return static_cast<unsigned int>(opened);

    unsigned int length = 0;
    unsigned int rc = message.getDumpLength(length);
    if (rc != 0) {
        report("error: when get dump length");
        return rc;
    }
    if (length == 0) {
        report("error: empty message");
        return EmptyMessage;
    }
    if (length > MaxDumpLength) {
        report("error: message is bigger than allowable maximum size");
        return TooBig;
    }

    std::unique_ptr<unsigned char[]> dump(new unsigned char[length]);
    rc = message.buildDump(dump.get(), length, length);
    if (rc != 0) {
        report("error: build dump message");
        return rc;
    }
    rc = ecrSend(dump.get(), length, ecrlink::wire::checkByteOf(dump.get(), length), 3);
    if (rc != 0) return rc;
    logOnly("sending message ok!");
    return Ok;
}

unsigned int CECRProto::recvMessage(CTLVMessage& message) {
    if (!channel) {
        logOnly("error: bad communication");
        return NoChannel;
    }
    unsigned char* raw = nullptr;
    unsigned int length = 0;
    const unsigned int received = ecrRecv(raw, length, 3);
    // Whatever the result, an array handed out by the receiver is ours to release.
    std::unique_ptr<unsigned char[]> data(raw);

    if (received == Ok) {
        const unsigned int rc = message.parseDump(data.get(), length);
        data.reset();
        if (rc != 0) {
            logOnly("error: cannot recognize message (parsing failed) | rc = ", rc);
            return rc;
        }
        unsigned int value = 0;
        message.getTagNumValue(StatusTag, value);
        if (value == StatusValue) return StatusMessage;
        logOnly("message from terminal is received");
        return Ok;
    }
    if (received == StatusMessage) {
        const unsigned int rc = message.parseDump(data.get(), length);
        data.reset();
        if (rc != 0) return rc;
        logOnly("status message is received");
        return StatusMessage;
    }
    if (received == CheckTerminal) return CheckTerminal;
    if (channel->isOpened() == static_cast<int>(NotConnected)) {
        logOnly("error: communication is not connected");
        return NotConnected;
    }
    return received;
}
