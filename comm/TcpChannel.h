// SPDX-License-Identifier: MIT
#pragma once

// Internal to libecrcomm; applications create it from a "tcp:" address.

#include "StreamChannel.h"

#include <string>

namespace ecrlink::comm {

using Communication::StreamChannel;
/// Channel over a TCP connection to the terminal (the terminal listens).
/// Small frames go out at once (no Nagle delay); a peer that closes or resets
/// the connection, or that vanishes (keepalive probes and unacknowledged data
/// time out), makes the channel report CommNotConnected.
class TcpChannel : public StreamChannel {
public:
    /// `host` is a name or a numeric IPv4/IPv6 address. `keepaliveSeconds`
    /// bounds how long a vanished peer goes unnoticed; 0 turns keepalive off.
    TcpChannel(std::string host, unsigned short port, unsigned int connectTimeoutMs = 5000,
               unsigned int keepaliveSeconds = 30);
    ~TcpChannel() override;

    /// Resolves the name and connects to each address in turn, all within the
    /// connect time-out; 0 when connected (also when already connected);
    /// CommResolveFailed, CommConnectFailed, CommConnectTimeout or
    /// CommOpenFailed otherwise.
    int open() override;
    /// Closes the connection; 0 also when closed.
    int close() override;

private:
    const char* lostReason() const override { return "the terminal closed the connection"; }

    std::string host;
    unsigned short port;
    unsigned int connectTimeoutMs;
    unsigned int keepaliveSeconds;
};

} // namespace ecrlink::comm
