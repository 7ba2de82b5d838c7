#include "sim/ByteLink.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <poll.h>
#include <unistd.h>

namespace ecrtool {

namespace {
constexpr int SliceMs = 50;
constexpr int WriteTimeoutMs = 3000;
} // namespace

ByteLink::ByteLink(int descriptor, const std::atomic<bool>* stopFlag) : fd(descriptor), stop(stopFlag) {}

bool ByteLink::stopRequested() const {
    return stop && stop->load();
}

ByteLink::Status ByteLink::waitFor(short events, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (stopRequested()) return Status::Stopped;
        int slice = SliceMs;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return Status::Timeout;
            if (left < slice) slice = static_cast<int>(left);
        }
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, slice);
        if (ready < 0 && errno != EINTR) return Status::Closed;
        if (ready > 0) {
            if (p.revents & (events | POLLHUP | POLLERR)) return Status::Ok;
            if (p.revents & POLLNVAL) return Status::Closed;
        }
    }
}

ByteLink::Status ByteLink::readByte(std::uint8_t& byte, int timeoutMs) {
    while (start == end) {
        const Status waited = waitFor(POLLIN, timeoutMs);
        if (waited != Status::Ok) return waited;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            start = 0;
            end = static_cast<std::size_t>(got);
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            // End of stream on a socket; EIO on a master whose slave is gone.
            return Status::Closed;
        }
    }
    byte = buffer[start++];
    return Status::Ok;
}

ByteLink::Status ByteLink::readExact(std::uint8_t* out, std::size_t size, int timeoutMs) {
    for (std::size_t i = 0; i < size; ++i) {
        const Status got = readByte(out[i], timeoutMs);
        if (got != Status::Ok) return got;
    }
    return Status::Ok;
}

ByteLink::Status ByteLink::write(const std::uint8_t* data, std::size_t size, int gapMs) {
    std::size_t done = 0;
    while (done < size) {
        if (gapMs > 0 && done > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        const std::size_t chunk = gapMs > 0 ? 1 : size - done;
        std::size_t sent = 0;
        while (sent < chunk) {
            const Status waited = waitFor(POLLOUT, WriteTimeoutMs);
            if (waited != Status::Ok) return waited == Status::Timeout ? Status::Closed : waited;
            const ssize_t n = ::write(fd, data + done + sent, chunk - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return Status::Closed;
            }
        }
        done += chunk;
    }
    return Status::Ok;
}

} // namespace ecrtool
