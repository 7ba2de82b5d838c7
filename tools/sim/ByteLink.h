#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ecrtool {

/// The simulated terminal's end of the line: a non-blocking file descriptor
/// (pseudo-terminal master or TCP socket) read and written with time-outs.
/// Waits are cut into short slices so that a stop request ends them quickly.
class ByteLink {
public:
    enum class Status { Ok, Timeout, Closed, Stopped };

    /// Does not own `fd`. `stop` may be null.
    ByteLink(int fd, const std::atomic<bool>* stop);

    /// Waits up to `timeoutMs` (negative: for ever) for one byte.
    Status readByte(std::uint8_t& byte, int timeoutMs);
    /// Reads exactly `size` bytes, each within `timeoutMs` of the previous one.
    Status readExact(std::uint8_t* buffer, std::size_t size, int timeoutMs);
    /// Writes everything; with `gapMs` > 0, one byte at a time with that pause.
    Status write(const std::uint8_t* data, std::size_t size, int gapMs = 0);
    /// Gives back the byte just read by readByte(); the next read returns it again.
    void unreadByte() {
        if (start > 0) --start;
    }

private:
    Status waitFor(short events, int timeoutMs);
    bool stopRequested() const;

    int fd;
    const std::atomic<bool>* stop;
    std::uint8_t buffer[512];
    std::size_t start = 0;
    std::size_t end = 0;
};

} // namespace ecrtool
