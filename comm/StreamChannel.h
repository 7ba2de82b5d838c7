// SPDX-License-Identifier: MIT
#pragma once

// Internal to libecrcomm: the channels that carry the bytes through one
// non-blocking file descriptor (a serial line, a TCP connection, a descriptor
// handed in). Subclasses open the descriptor and hand it over with attach().

#include "FdIo.h"

#include "ecrlink/Channel.h"

#include <atomic>
#include <string>

namespace Communication {

namespace fdio = ecrlink::comm::fdio;

class StreamChannel : public Channel {
public:
    ~StreamChannel() override;

    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    int isOpened() override;
    int flush() override;
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    int setOpenFlag(bool flag) override;
    void interrupt() override;
    void resume() override;

    int descriptor() const { return fd; }

protected:
    StreamChannel() = default;

    /// Takes `descriptor` as the open line.
    void attach(int descriptor, fdio::Kind kind);
    /// Closes the descriptor; 0 also when none is open.
    int detach();
    /// The line itself, whatever the last write did: 0 while it is there,
    /// CommNotConnected once it is gone.
    int lineState();
    /// open() on a line that is still there: a failed write is forgotten.
    void forgetWriteFailure() { writeFailure = CommOk; }
    /// Passes `rc` on, keeping `reason` (or the text of `error`) as the last
    /// failure. A lost line gives its descriptor back at once, so that a
    /// device that reappears can be opened again.
    int fail(int rc, int error, const char* doing) {
        return rc == CommOk || rc == CommTimeout || rc == CommPartialWrite ? rc : keepFailure(rc, error, doing);
    }
    /// The reason a lost line is reported with, for example "the device hung up".
    virtual const char* lostReason() const = 0;

    int fd = -1;
    fdio::Kind kind = fdio::Kind::Other;

private:
    int keepFailure(int rc, int error, const char* doing);
    /// A read with nothing read ahead: from the descriptor, waiting if need be.
    __attribute__((noinline)) int readLine(unsigned char* buffer, unsigned int wanted, unsigned int& count);

    bool openFlag = false;
    bool tty = false;
    unsigned int readTimeoutMs = 1000;
    // Set while interrupted, so that a read served from `ahead` obeys it too
    // without asking the system.
    std::atomic<bool> interrupted{false};
    // Bytes read beyond what a read asked for, served to the next reads: one
    // system call brings a reply byte, or a whole frame with its length and
    // check byte. The largest frame fits.
    unsigned char ahead[8192];
    unsigned int aheadStart = 0;
    unsigned int aheadEnd = 0;
    // The last read emptied the line and nothing was written since.
    bool drained = false;
    // What the last write failed with, reported by isOpened() until a write
    // goes out whole or the line is opened again: the protocol asks isOpened()
    // to learn whether the ACK for an answer reached the terminal.
    int writeFailure = CommOk;
    // The last call was a write that went out whole: the next isOpened()
    // answers for it, whatever the peer did once it had the bytes.
    bool wroteWhole = false;
};

} // namespace Communication
