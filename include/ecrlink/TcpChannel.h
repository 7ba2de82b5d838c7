#pragma once

#include "ecrlink/Channel.h"
#include "ecrlink/Export.h"

#include <string>

namespace Communication {

/// Channel over a TCP connection to the terminal (the terminal listens).
/// Small frames go out at once (no Nagle delay); a peer that closes or resets
/// the connection makes the channel report CommNotConnected.
class ECRLINK_API TcpChannel : public Channel {
public:
    /// `host` is a name or a numeric IPv4/IPv6 address.
    TcpChannel(std::string host, unsigned short port, unsigned int connectTimeoutMs = 5000);
    ~TcpChannel() override;

    /// Connects within the connect time-out; 0 when connected (also when
    /// already connected); CommResolveFailed, CommConnectFailed,
    /// CommConnectTimeout or CommOpenFailed otherwise.
    int open() override;
    /// Closes the connection; 0 also when closed.
    int close() override;
    /// Waits up to the read time-out for at least one byte, then returns what
    /// has arrived (up to `wanted`). CommTimeout with `count` 0 on expiry.
    int read(unsigned char* buffer, unsigned int wanted, unsigned int& count) override;
    /// 0 when all went out; CommPartialWrite with `count` when the peer stalled.
    int write(const unsigned char* data, unsigned int length, unsigned int& count) override;
    /// 0 while connected, CommNotConnected once closed or the peer has gone.
    int isOpened() override;
    /// Sets the read time-out in milliseconds (1000 until set); `first` is unused.
    int setReadTimeouts(unsigned int first, unsigned int milliseconds) override;
    /// Drops bytes received and not yet read, without waiting.
    int flush() override;
    /// Stores the flag; it does not change how the connection works.
    int setOpenFlag(bool flag) override;

private:
    int fail(int rc);

    std::string host;
    unsigned short port;
    unsigned int connectTimeoutMs;
    int fd = -1;
    bool gone = false; // the peer closed or reset the connection
    bool openFlag = false;
    unsigned int readTimeoutMs = 1000;
};

} // namespace Communication
