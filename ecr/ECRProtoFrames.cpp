// SPDX-License-Identifier: MIT
#include "ecrlink/ECRProto.h"

#include "ProtoLog.h"
#include "wire/CheckByte.h"
#include "wire/Frame.h"
#include "wire/ResultTable.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>

using namespace ecrlink::ecr;
using namespace ECRPResult;
namespace wire = ecrlink::wire;

namespace {

using wire::ChannelPartialWrite;
constexpr int MaxStalledWrites = 16;
constexpr unsigned int ReplyTimeout = 6000;
constexpr unsigned int FirstByteTimeout = 250;
constexpr unsigned int FrameTimeout = 1500;
using wire::FrameOverhead;

void writeSingle(Communication::ICommunication* channel, unsigned char byte) {
    unsigned int count = 0;
    channel->write(&byte, 1, count);
}

// Channel codes reach the caller unchanged.
unsigned int passOn(int rc) {
    return static_cast<unsigned int>(rc);
}

// The length field read succeeded but brought the wrong number of bytes: the
// call must not look successful, since no buffer has been handed out.
unsigned int lengthFailure(int rc, unsigned int got, unsigned int asked) {
    if (rc != 0) return passOn(rc);
    return got > asked ? ReadOverrun : Timeout;
}

} // namespace

unsigned int CECRProto::ecrSend(const unsigned char* data, unsigned int length, unsigned char check, int attempts) {
    if (!channel) {
        logOnly("error: bad communication");
        return NoChannel;
    }
    // The frame size must fit the channel's 32-bit counts.
    if (length > UINT_MAX - FrameOverhead) {
        logOnly("error: message is bigger than allowable maximum size");
        return TooBig;
    }

    const unsigned int frameSize = length + FrameOverhead;
    std::unique_ptr<unsigned char[]> frame(new unsigned char[frameSize]);
    frame[0] = wire::STX;
    frame[1] = static_cast<unsigned char>((length >> 8) & 0xFF);
    frame[2] = static_cast<unsigned char>(length & 0xFF);
    if (length) std::memcpy(frame.get() + 3, data, length);
    frame[3 + length] = check;

    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (channel->flush() != 0) {
            report("error: communication flush failed");
            continue;
        }

        unsigned int offset = 0;
        unsigned int written = 0;
        int rc = 0;
        int stalled = 0;
        for (;;) {
            rc = channel->write(frame.get() + offset, frameSize - offset, written);
            if (rc != ChannelPartialWrite) break;
            // A channel that keeps answering 116 without taking a byte would
            // hold the register here for ever: give up as on a failed write.
            stalled = written == 0 ? stalled + 1 : 0;
            if (stalled >= MaxStalledWrites) break;
            // A channel claiming more than it was given must not move us past the frame.
            offset += written < frameSize - offset ? written : frameSize - offset;
            if (offset >= frameSize) {
                rc = 0;
                break;
            }
        }
        if (rc != 0) {
            traceOnly("error: communication write");
            logOnly("error: communication write | rc = ", rc);
            continue;
        }

        if (channel->setReadTimeouts(0, ReplyTimeout) != 0) {
            report("error: communication set read timeouts");
            continue;
        }

        unsigned char reply = 0;
        unsigned int count = 0;
        rc = channel->read(&reply, 1, count);
        if (rc != 0 || count != 1) {
            traceOnly("error: communication read ACK");
            logOnly("error: communication read ACK, rc = ", rc);
            logOnly("error: ACK = ", static_cast<int>(reply));
            return NoAck;
        }

        switch (reply) {
        case wire::ACK:
            report("ACK is received");
            return Ok;
        case wire::NAK:
            report("NAK is received");
            continue;
        case wire::EOT:
            report("error: Abort is received");
            writeSingle(channel, wire::EOT);
            return EotReceived;
        default:
            report("error: Unknown byte is received");
            writeSingle(channel, wire::EOT);
            return UnknownAck;
        }
    }

    report("Attempts is expired during send");
    return NoAttempts;
}

unsigned int CECRProto::readNBytes(unsigned char* buffer, unsigned int count) {
    if (!channel) {
        logOnly("error: bad communication");
        return NoChannel;
    }
    unsigned int total = 0;
    unsigned int got = 0;
    do {
        int rc = channel->read(buffer + total, count - total, got);
        if (rc != 0) {
            report("error: communication read message");
            sendAbort();
            return passOn(rc);
        }
        if (got > count - total) {
            report("error: wrong read message length");
            return ReadOverrun;
        }
        total += got;
    } while (total < count);
    return Ok;
}

unsigned int CECRProto::ecrRecv(unsigned char*& data, unsigned int& length, int attempts) {
    if (!channel) {
        report("error: bad communication");
        return NoChannel;
    }
    channel->setReadTimeouts(0, FirstByteTimeout);

    for (int refused = 0; refused < attempts;) {
        unsigned char first = 0;
        unsigned int count = 0;
        int rc = channel->read(&first, 1, count);
        if (rc != 0 || count != 1) {
            // An idle line is the normal case when polling: no log line.
            traceOnly("error: 1. communication read");
            return Timeout;
        }

        bool status = false;
        switch (wire::startOf(first)) {
        case wire::Start::Abort:
            report("Abort is received");
            return EotReceived;
        case wire::Start::CheckTerminal:
            report("Check terminal message is received");
            return CheckTerminal;
        case wire::Start::Data:
            report("STX is received");
            break;
        case wire::Start::Status:
            report("Status message is received");
            status = true;
            break;
        case wire::Start::Unknown:
            report("error: Unknown byte is received");
            return UnknownStart;
        }

        channel->setReadTimeouts(0, FrameTimeout);

        unsigned char field[2] = {0, 0};
        count = 0;
        rc = channel->read(field, 2, count);
        if (rc == 0 && count == 1) {
            unsigned int second = 0;
            int rc2 = channel->read(field + 1, 1, second);
            if (rc2 != 0 || second != 1) {
                traceOnly("error: 1. communication read length");
                logOnly("error: communication read length");
                return lengthFailure(rc2, second, 1);
            }
        } else if (rc != 0 || count != 2) {
            traceOnly("error: 2. communication read length");
            traceOnly("error: 2. communication read length | nR = ", count);
            traceOnly("error: 2. communication read length | rc = ", rc);
            logOnly("error: communication read length");
            return lengthFailure(rc, count, 2);
        }

        length = wire::lengthOf(field[0], field[1]);
        switch (wire::judgeLength(length)) {
        case wire::Length::TooBig:
            sendAbort();
            report("error: message is bigger than allowable maximum size");
            return TooBig;
        case wire::Length::Empty:
            sendAbort();
            report("error: empty message");
            return EmptyMessage;
        case wire::Length::Fits:
            break;
        }

        // Handed to the caller before any data byte is read: from here on a
        // failure leaves the buffer with the caller, who releases it.
        // Zeroed by memset rather than by value-initialisation, which the
        // optimiser makes a `rep stos`: slower than the C library's vector
        // stores for frames of a few KiB.
        data = new unsigned char[length];
        std::memset(data, 0, length);
        unsigned int rcData = readNBytes(data, length);
        if (rcData != 0) return rcData;

        const unsigned char expected = wire::checkByteOf(data, length);

        unsigned char check = 0;
        count = 0;
        rc = channel->read(&check, 1, count);
        if (rc != 0 || count != 1) {
            report("error: communication read CRC");
            return NoCheckByte;
        }

        if (check == expected) {
            writeSingle(channel, wire::ACK);
            return status ? StatusMessage : Ok;
        }
        writeSingle(channel, wire::NAK);
        if (status) {
            report("error: broken status message");
            return BrokenStatus;
        }
        // The last refused frame stays with the caller; earlier ones are ours to drop.
        if (++refused < attempts) {
            delete[] data;
            data = nullptr;
        }
    }

    traceOnly("error: Attempts is expired during receive");
    logOnly("Attempts is expired during receive");
    return NoAttempts;
}
