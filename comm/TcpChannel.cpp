// SPDX-License-Identifier: MIT
#include "TcpChannel.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ecrlink::comm {

using namespace Communication;

namespace {

using fdio::Clock;

// getaddrinfo() has no time-out of its own, so a name is looked up on a
// thread of its own while we wait no longer than the connect time-out; a
// lookup that outlives the wait finishes and frees its results alone.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    addrinfo* found = nullptr;
    ~Lookup() {
        if (found) ::freeaddrinfo(found);
    }
};

int resolve(const std::string& host, unsigned short port, Clock::time_point deadline, addrinfo*& found,
            std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    const std::string service = std::to_string(port);
    // A numeric address needs no lookup and no thread.
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) == 0) return 0;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints] {
            addrinfo* result = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->rc = rc;
            lookup->found = result;
            lookup->finished = true;
            lookup->done.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        error = host + ": no thread for the name lookup";
        return -1;
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        error = host + ": not resolved within the connect time-out";
        return -1;
    }
    if (lookup->rc != 0) {
        error = host + ": " + ::gai_strerror(lookup->rc);
        return -1;
    }
    found = std::exchange(lookup->found, nullptr);
    return 0;
}

std::string describe(const addrinfo& address) {
    char name[NI_MAXHOST] = "?", service[NI_MAXSERV] = "?";
    ::getnameinfo(address.ai_addr, address.ai_addrlen, name, sizeof name, service, sizeof service,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    return std::string(name) + " port " + service;
}

// A peer that vanishes without a word (cable pulled at a serial-to-Ethernet
// converter) is found by keepalive probes while we wait, and by the user
// time-out while data we sent goes unacknowledged.
void keepAlive(int s, unsigned int seconds) {
    if (seconds == 0) return;
    const int one = 1;
    const int idle = static_cast<int>(std::max(1u, seconds / 3));
    const int count = 4;
    const int interval = std::max(1, (static_cast<int>(seconds) - idle) / count);
    const unsigned int userTimeout = seconds * 1000;
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

// Connects one socket to `address`; 0 with the socket in `out`, or a result
// code with the reason in `error`. The connect runs non-blocking so that
// `deadline` bounds it.
int connectOne(const addrinfo& address, Clock::time_point deadline, int wake, int& out, std::string& error) {
    const int s = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (s < 0) {
        error = describe(address) + ": " + std::strerror(errno);
        return CommOpenFailed;
    }
    int rc = CommOk;
    int failure = 0;
    if (::connect(s, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            failure = errno;
            rc = CommConnectFailed;
        } else {
            const int revents = fdio::waitFor(s, POLLOUT, deadline, wake);
            socklen_t size = sizeof failure;
            if (revents == fdio::Woken) rc = CommInterrupted;
            else if (revents == 0) rc = CommConnectTimeout;
            else if (revents < 0) failure = errno, rc = CommConnectFailed;
            else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &failure, &size) != 0 || failure != 0)
                rc = CommConnectFailed;
        }
    }
    if (rc != CommOk) {
        ::close(s);
        error = describe(address) + ": " +
                (rc == CommConnectTimeout ? "no answer in time"
                 : rc == CommInterrupted  ? "interrupted"
                                          : std::strerror(failure ? failure : ECONNREFUSED));
        return rc;
    }
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // frames are small and wait for a reply
    out = s;
    return CommOk;
}

} // namespace

TcpChannel::TcpChannel(std::string host, unsigned short port, unsigned int connectTimeoutMs,
                       unsigned int keepaliveSeconds)
    : host(std::move(host)), port(port), connectTimeoutMs(connectTimeoutMs), keepaliveSeconds(keepaliveSeconds) {}

TcpChannel::~TcpChannel() { close(); }

int TcpChannel::open() {
    if (lineState() == CommOk) {
        forgetWriteFailure();
        return CommOk;
    }
    close(); // a connection the peer dropped is made afresh
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
    std::string error;
    addrinfo* found = nullptr;
    if (host.empty()) error = "no host named";
    if (host.empty() || resolve(host, port, deadline, found, error) != 0) {
        setLastError(error);
        return CommResolveFailed;
    }

    // Every address gets its share of the time left, so that one that never
    // answers cannot use up the time of the others; a refusal is the more
    // useful report than a time-out.
    int count = 0;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) ++count;
    int rc = CommConnectFailed;
    int best = 0;
    int socket = -1;
    for (const addrinfo* a = found; a != nullptr && rc != CommOk && rc != CommInterrupted; a = a->ai_next, --count) {
        const auto share = (deadline - Clock::now()) / count;
        std::string reason;
        rc = connectOne(*a, Clock::now() + std::max(share, Clock::duration::zero()), interruptDescriptor(), socket,
                        reason);
        if (rc == CommOk) break;
        error += (error.empty() ? "" : "; ") + reason;
        if (best == 0 || rc == CommConnectFailed) best = rc;
    }
    ::freeaddrinfo(found);
    if (rc != CommOk) {
        setLastError(error);
        return rc == CommInterrupted ? rc : best;
    }
    keepAlive(socket, keepaliveSeconds);
    attach(socket, fdio::Kind::Socket);
    return CommOk;
}

int TcpChannel::close() { return detach(); }

} // namespace ecrlink::comm
