#include "ecrlink/TcpChannel.h"

#include "FdIo.h"

#include <cerrno>
#include <string>
#include <utility>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Communication {

namespace {

// Connects one socket to `address`; 0 with the socket in `out`, or a result
// code. The connect runs non-blocking so that `deadline` bounds it.
int connectOne(const addrinfo& address, fdio::Clock::time_point deadline, int& out) {
    const int s = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (s < 0) return CommOpenFailed;
    int rc = CommOk;
    if (::connect(s, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            rc = CommConnectFailed;
        } else {
            const int revents = fdio::waitFor(s, POLLOUT, deadline);
            int error = 0;
            socklen_t size = sizeof error;
            if (revents == 0) rc = CommConnectTimeout;
            else if (revents < 0 || ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                rc = CommConnectFailed;
        }
    }
    if (rc != CommOk) {
        ::close(s);
        return rc;
    }
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // frames are small and wait for a reply
    out = s;
    return CommOk;
}

} // namespace

TcpChannel::TcpChannel(std::string host, unsigned short port, unsigned int connectTimeoutMs)
    : StreamChannel(true), host(std::move(host)), port(port), connectTimeoutMs(connectTimeoutMs) {}

TcpChannel::~TcpChannel() { close(); }

int TcpChannel::open() {
    if (usable()) return CommOk;
    close(); // a connection the peer dropped is made afresh
    const auto deadline = fdio::Clock::now() + std::chrono::milliseconds(connectTimeoutMs);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return CommResolveFailed;

    // Every address gets its turn within the one time-out; a refusal is the
    // more useful report than a socket that could not be made.
    int rc = CommConnectFailed;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        rc = connectOne(*a, deadline, fd);
        if (rc == CommOk || rc == CommConnectTimeout) break;
    }
    ::freeaddrinfo(found);
    if (rc != CommOk) fd = -1;
    gone = false;
    return rc;
}

int TcpChannel::close() {
    if (fd < 0) return CommOk;
    ::close(fd);
    fd = -1;
    gone = false;
    return CommOk;
}

} // namespace Communication
