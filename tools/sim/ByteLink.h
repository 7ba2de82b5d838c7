// SPDX-License-Identifier: MIT
#pragma once

#include "ecrlink/DescriptorChannel.h"
#include "wire/FrameParser.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ecrlink::tool {

class LineRecorder;

/// The simulated terminal's end of the line: a pseudo-terminal master or a
/// TCP socket, read and written through the library's descriptor channel.
/// Waits are cut into slices of at most 50 ms so that a raised stop flag ends
/// them quickly; interrupt() ends a wait at once. One thread uses the link.
class ByteLink {
public:
    enum class Status { Ok, Timeout, Closed, Stopped };

    /// Works on a duplicate of `fd`, which stays the caller's. `stop` may be null.
    ByteLink(int fd, const std::atomic<bool>* stop);

    /// Waits up to `timeoutMs` (negative: for ever) for one byte.
    Status readByte(std::uint8_t& byte, int timeoutMs);
    /// Reads through `parser` up to the next whole frame (`got` Frame, in
    /// parser.frame()) or single control byte (`got` Control, in `control`): the
    /// first byte within `timeoutMs` (negative: for ever), each further byte of
    /// a frame within `byteTimeoutMs`. A frame cut short leaves parser.inFrame().
    Status readFrame(wire::FrameParser& parser, int timeoutMs, int byteTimeoutMs, wire::FrameParser::Got& got,
                     std::uint8_t& control);
    /// Writes everything; with `gapMs` > 0, one byte at a time with that pause.
    /// A line that takes nothing for 2 s counts as closed.
    Status write(const std::uint8_t* data, std::size_t size, int gapMs = 0);
    /// Waits `ms` unless stopped first.
    Status pause(int ms);
    /// Every byte read and written from now on also goes to `recorder` (null: none).
    void record(LineRecorder* to) { recorder = to; }
    /// Gives back the byte just read by readByte(); the next read returns it again.
    void unreadByte() {
        if (start > 0) --start;
    }
    /// Any thread, also a signal handler: the wait in progress ends as Stopped
    /// once the stop flag is raised.
    void interrupt() { line.interrupt(); }

private:
    bool stopRequested() const { return stop && stop->load(); }

    Communication::DescriptorChannel line;
    const std::atomic<bool>* stop;
    std::uint8_t buffer[512];
    std::size_t start = 0;
    std::size_t end = 0;
    LineRecorder* recorder = nullptr;
};

} // namespace ecrlink::tool
