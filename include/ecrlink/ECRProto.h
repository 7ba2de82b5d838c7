// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"
#include "ecrlink/ICommunication.h"
#include "ecrlink/TLVMessage.h"

#include <vector>

/// Texts of the protocol result codes. Codes 302 to 309 and 312 stand at index
/// code - 301; 310 at index 10 and 311 at index 9.
extern ECRLINK_API const char* const aECRPErrors[12];

/// Protocol result codes. Channel codes (105 not connected, …) and TLV codes
/// are passed through where the operation says so.
namespace ECRPResult {
constexpr unsigned int Ok = 0;
constexpr unsigned int OpenNoChannel = 101;   ///< open() without a channel
constexpr unsigned int NotConnected = 105;    ///< channel lost after a failed reception
constexpr unsigned int Timeout = 302;         ///< first byte of a frame not received
constexpr unsigned int NoAttempts = 303;      ///< attempts used up, or none allowed
constexpr unsigned int EotReceived = 304;     ///< terminal aborted with EOT
constexpr unsigned int NoCheckByte = 305;     ///< check byte of a frame missing
constexpr unsigned int NoAck = 306;           ///< no reply byte after a sent frame
constexpr unsigned int UnknownAck = 307;      ///< reply byte not ACK, NAK or EOT
constexpr unsigned int UnknownStart = 308;    ///< unknown first byte of a reception
constexpr unsigned int TooBig = 309;          ///< frame length above 4096, or dump above 65535
constexpr unsigned int EmptyMessage = 310;    ///< empty message or zero-length frame
constexpr unsigned int BrokenStatus = 311;    ///< status frame with a wrong check byte
constexpr unsigned int StatusMessage = 312;   ///< a status message was received
constexpr unsigned int NoChannel = 314;       ///< no channel held, or a null channel given
constexpr unsigned int CheckTerminal = 315;   ///< terminal sent the check-terminal byte
constexpr unsigned int ReadOverrun = 317;     ///< channel reported more bytes than asked
constexpr unsigned int IdleTimeout = 320;     ///< dialogue: no frame within the idle time-out
constexpr unsigned int OverallTimeout = 321;  ///< dialogue: no final answer within the overall time-out
constexpr unsigned int Cancelled = 322;       ///< dialogue: cancelled by the application
constexpr unsigned int AnswerNotAcknowledged = 323; ///< dialogue: final answer received, its ACK not delivered
} // namespace ECRPResult

/// Text of a protocol result code from aECRPErrors, or null for codes without text.
ECRLINK_API const char* ecrpErrorText(unsigned int code);

/// Text of any result code of the library: protocol, dialogue, message (TLV)
/// and channel codes of libecrcomm alike; "unknown result code" for others.
/// Any thread; never blocks.
ECRLINK_API const char* ecrlinkResultText(unsigned int code);

/// Protocol object through which the register talks to one payment terminal.
/// It owns its channel and runs every operation on the caller's thread; it
/// takes no lock, so one thread uses an object at a time. Operations block
/// only inside channel calls: sendMessage() for a write plus 6000 ms for the
/// reply byte (up to 3 of them when the terminal answers NAK), recvMessage()
/// for 250 ms when the line is quiet and up to 1500 ms per wait inside a frame.
class ECRLINK_API CECRProto {
public:
    /// Link control bytes.
    static constexpr unsigned char STX = 0x02;
    static constexpr unsigned char DC2 = 0x12;
    static constexpr unsigned char ACK = 0x06;
    static constexpr unsigned char NAK = 0x15;
    static constexpr unsigned char EOT = 0x04;
    static constexpr unsigned char BEL = 0x07;
    /// Largest data length a received frame may announce.
    static constexpr unsigned int MaxFrameLength = 4096;

    CECRProto();
    /// Destroys the held channel through Communication::destroyCommIns.
    ~CECRProto();

    CECRProto(const CECRProto&) = delete;
    CECRProto& operator=(const CECRProto&) = delete;

    /// Takes ownership of `channel`, destroying the one held before, and resets
    /// both time-outs to 100. 314 for null (nothing changes). Handing in the
    /// channel already held keeps it.
    unsigned int setCommunication(Communication::ICommunication* channel);
    /// Opens the channel and passes `flag` on; 101 without a channel, else the
    /// channel's failure code. Blocks as long as the channel's open() (a TCP
    /// channel of libecrcomm: up to its connect time-out).
    unsigned int open(bool flag);
    /// Closes the channel (it stays held); 314 without a channel.
    unsigned int close();
    /// 0 when the channel is open, its own code (105 not connected) otherwise;
    /// 314 without a channel.
    unsigned int isOpened();
    /// Stores `a` as the second and `b` as the first time-out. No operation reads them.
    void setTimeouts(unsigned int a, unsigned int b);
    /// Returns 0; `list` is left untouched.
    unsigned int enumerate(std::vector<char*>& list);
    /// First stored time-out.
    unsigned int firstTimeout() const;
    /// Second stored time-out.
    unsigned int secondTimeout() const;
    /// The channel held (still owned by this object), or null.
    Communication::ICommunication* communication() const;

    /// Sends `data` as one data frame with the given check byte and waits up to
    /// 6000 ms for the reply; repeats on NAK up to `attempts` times. Blocks for
    /// at most `attempts` × (the channel's write bound + 6000 ms).
    unsigned int ecrSend(const unsigned char* data, unsigned int length, unsigned char check, int attempts);
    /// Reads exactly `count` bytes into `buffer`; on a channel failure sends the
    /// abort and returns the channel's code. Each read waits up to the read
    /// time-out in force; the loop ends when a read fails.
    unsigned int readNBytes(unsigned char* buffer, unsigned int count);
    /// Receives one frame, answers ACK or NAK and hands its data out in a buffer
    /// allocated with new[] that the caller releases with delete[]. 0 for a data
    /// frame, 312 for a status frame. Waits 250 ms for a frame to start, then
    /// up to 1500 ms for each read inside it, for each of `attempts` frames.
    unsigned int ecrRecv(unsigned char*& data, unsigned int& length, int attempts);

    /// Writes one byte; 314 without a channel, else the channel's code. Blocks
    /// only as long as one channel write.
    unsigned int sendByte(unsigned char byte);
    /// Writes the abort byte EOT; 314 without a channel, else the channel's
    /// code. Blocks only as long as one channel write.
    unsigned int sendAbort();

    /// Sends a whole message as one frame (3 attempts); 0 when acknowledged.
    /// Blocks as ecrSend() with 3 attempts: a terminal that never answers
    /// ends it after the write and 6000 ms (306: the first missing reply ends
    /// the call); 3 x (the channel's write bound + 6000 ms) at worst, when the
    /// terminal answers NAK just before each time-out.
    unsigned int sendMessage(CTLVMessage& message);
    /// Receives one message into `message` (3 attempts); 0 for a message, 312
    /// for a status message, 105 when the connection is lost. Returns 302 after
    /// 250 ms on a quiet line; a frame in progress adds up to 1500 ms per read.
    /// To wait for a terminal's answer, use CECRDialogue.
    unsigned int recvMessage(CTLVMessage& message);

private:
    Communication::ICommunication* channel;
    unsigned int timeoutFirst;
    unsigned int timeoutSecond;
};
