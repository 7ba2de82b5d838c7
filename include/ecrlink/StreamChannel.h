#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

namespace Communication {

/// Base of the channels that carry the bytes through one non-blocking file
/// descriptor (a serial line, a TCP connection, a descriptor handed in):
/// reading with a time-out, writing, flushing, and noticing that the other end
/// has gone. Subclasses open and close the descriptor.
class ECRLINK_API StreamChannel : public Channel {
public:
    ~StreamChannel() override;

    /// Waits up to the read time-out for at least one byte, then returns what
    /// has arrived (up to `wanted`). CommTimeout with `count` 0 on expiry;
    /// CommNotConnected once the other end has gone.
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    /// 0 when all went out; CommPartialWrite with `count` when the line stalled
    /// after taking part, CommWriteTimeout when it took nothing.
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    /// 0 while open and the other end is there; CommNotConnected once closed,
    /// or once the device hung up or the peer closed the connection.
    int isOpened() override;
    /// Discards bytes received and not yet read, without waiting.
    int flush() override;
    /// Sets the read time-out in milliseconds (1000 until set); `first` is unused.
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    /// Stores the flag; it does not change how the channel works.
    int setOpenFlag(bool flag) override;

protected:
    /// `socket`: the descriptor is a socket (written without SIGPIPE).
    explicit StreamChannel(bool socket);

    /// Passes `rc` on, remembering a lost line so that every later call
    /// reports CommNotConnected until the channel is opened again.
    int fail(int rc);
    /// True while a descriptor is open and the other end has not gone.
    bool usable() const { return fd >= 0 && !gone; }

    int fd = -1;
    bool gone = false; ///< the device disappeared or the peer closed
    bool openFlag = false;
    unsigned int readTimeoutMs = 1000;

private:
    bool socket;
};

} // namespace Communication
