#include "ecrlink/ECRProto.h"

#include "ProtoLog.h"

using namespace ecrlink_detail;
using namespace ECRPResult;

const char* const aECRPErrors[12] = {
    "General Error.",
    "Timeout occurred.",
    "No Receive Attempts.",
    "EOT Received.",
    "No CRC Received.",
    "No ACK Received.",
    "Unknown ACK received.",
    "Unknown STX received.",
    "Max Message size exceeded.",
    "Broken status message received",
    "Empty Message.",
    "Status Message received",
};

const char* ecrpErrorText(unsigned int code) {
    if (code == EmptyMessage) return aECRPErrors[10];
    if (code == BrokenStatus) return aECRPErrors[9];
    if ((code >= 301 && code <= 309) || code == StatusMessage) return aECRPErrors[code - 301];
    return nullptr;
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
    if (!channel) {
        logOnly("error: bad communication");
        return NoChannel;
    }
    int rc = channel->isOpened();
    if (rc != 0) return static_cast<unsigned int>(rc);
    const unsigned char eot = EOT;
    unsigned int count = 0;
    return static_cast<unsigned int>(channel->write(&eot, 1, count));
}

unsigned int CECRProto::sendMessage(CTLVMessage& message) {
    (void)message;
    return NoChannel;
}

unsigned int CECRProto::recvMessage(CTLVMessage& message) {
    (void)message;
    return NoChannel;
}
