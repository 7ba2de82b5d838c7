// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/Export.h"

namespace Communication {

/// Byte channel to the payment terminal.
///
/// The contract every channel keeps, because the protocol relies on it:
/// - Result codes: 0 success, 105 not connected, 116 partial write; any other
///   non-zero value is the channel's own failure code and is passed on as it is.
/// - read() returns within the read time-out last set (plus scheduling
///   jitter), with or without bytes; it never stores more than `wanted` bytes
///   and always sets `count`.
/// - write() returns in bounded time. 0 means every byte went out; 116 means
///   `count` bytes (at least one) went out and the caller writes the rest. A
///   channel that can take nothing answers with a failure code, not with 116
///   and a count of 0: the protocol gives up on a run of 116 answers that make
///   no progress and treats the run as a write failure.
/// - Once the line is gone, every call except open() and close() reports 105
///   until open() succeeds again.
/// - isOpened() answers for the last write: after a failed write (any result
///   but 0 and 116) it reports that failure until open(), or until a later
///   write goes out whole; right after a write that went out whole it reports
///   0 (a peer that hangs up once it has the bytes has not lost them; the next
///   call finds the line gone). The protocol's writes of ACK, NAK and EOT do
///   not look at their result, so CECRDialogue asks isOpened() right after the
///   final answer to learn whether its ACK went out.
/// - One thread uses a channel at a time; only the calls of Interruptible may
///   come from another thread.
class ECRLINK_API ICommunication {
public:
    /// Opens the line; 0 when it is open.
    virtual int open() = 0;
    /// Closes the line.
    virtual int close() = 0;
    /// Reads up to `wanted` bytes into `buffer`, waiting at most the read
    /// time-out last set; stores the number of bytes read in `count`.
    virtual int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) = 0;
    /// Writes `length` bytes; 116 with `count` < `length` when only part went out.
    virtual int write(const unsigned char* data, unsigned int length, unsigned int& count) = 0;
    /// 0 when open, 105 when not connected, the failure of the last write
    /// (see above), other values when not usable.
    virtual int isOpened() = 0;
    /// Sets the read time-out in milliseconds; `first` is always 0 from the protocol.
    virtual int setReadTimeouts(unsigned int first, unsigned int milliseconds) = 0;
    /// Discards bytes received but not yet read.
    virtual int flush() = 0;
    /// Passes the application's open flag to the channel.
    virtual int setOpenFlag(bool flag) = 0;

protected:
    ~ICommunication() = default;
};

/// A channel whose waits another thread can cut short. A channel that also
/// derives from this class lets CECRDialogue::cancel() end a dialogue while
/// the channel is waiting for the terminal.
class ECRLINK_API Interruptible {
public:
    /// Any thread, never blocks: the wait in progress and every later one
    /// return at once with the channel's own failure code, until resume().
    virtual void interrupt() = 0;
    /// Clears an interrupt; from the thread that uses the channel.
    virtual void resume() = 0;

protected:
    ~Interruptible() = default;
};

/// Destroys a channel created by a communication library; null is ignored.
ECRLINK_API void destroyCommIns(ICommunication* channel);

} // namespace Communication
