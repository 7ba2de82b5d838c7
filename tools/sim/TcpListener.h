// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <string>

namespace ecrlink::tool {

/// A listening socket on 127.0.0.1 for the simulated terminal.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    /// Port 0 lets the system pick one; port() tells which.
    bool listen(unsigned short port, std::string& error);
    /// Waits for a register; the connected, non-blocking socket, or -1 when
    /// `stop` was raised or accepting failed.
    int accept(const std::atomic<bool>* stop);
    unsigned short port() const { return boundPort; }

private:
    int fd = -1;
    unsigned short boundPort = 0;
};

} // namespace ecrlink::tool
