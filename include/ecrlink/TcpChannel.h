#pragma once

#include "ecrlink/StreamChannel.h"
#include "ecrlink/Export.h"

#include <string>

namespace Communication {

/// Channel over a TCP connection to the terminal (the terminal listens).
/// Small frames go out at once (no Nagle delay); a peer that closes or resets
/// the connection makes the channel report CommNotConnected.
class ECRLINK_API TcpChannel : public StreamChannel {
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

private:
    std::string host;
    unsigned short port;
    unsigned int connectTimeoutMs;
};

} // namespace Communication
