// SPDX-License-Identifier: MIT
#include "sim/ByteLink.h"

#include "sim/LineRecorder.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include <unistd.h>

namespace ecrlink::tool {

namespace {

constexpr int SliceMs = 50;
using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

} // namespace

ByteLink::ByteLink(int fd, const std::atomic<bool>* stopFlag) : line(::dup(fd)), stop(stopFlag) {}

ByteLink::Status ByteLink::readByte(std::uint8_t& byte, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    while (start == end) {
        if (stopRequested()) return Status::Stopped;
        const int slice = timeoutMs < 0 ? SliceMs : std::min(SliceMs, msLeft(deadline));
        if (slice == 0) return Status::Timeout;
        line.setReadTimeouts(0, static_cast<unsigned int>(slice));
        unsigned int count = 0;
        const int rc = line.read(buffer, sizeof buffer, count);
        if (rc == Communication::CommOk) {
            start = 0;
            end = count;
            if (recorder && count) recorder->fromRegister(buffer, count);
        } else if (rc == Communication::CommInterrupted) {
            line.resume();
        } else if (rc != Communication::CommTimeout) {
            return Status::Closed; // end of stream, or a master whose slave is gone
        }
    }
    byte = buffer[start++];
    return Status::Ok;
}

ByteLink::Status ByteLink::readFrame(wire::FrameParser& parser, int timeoutMs, int byteTimeoutMs,
                                     wire::FrameParser::Got& got, std::uint8_t& control) {
    for (;;) {
        const Status status = readByte(control, parser.inFrame() ? byteTimeoutMs : timeoutMs);
        if (status != Status::Ok) return status;
        got = parser.take(control);
        if (got != wire::FrameParser::Got::Nothing) return Status::Ok;
    }
}

ByteLink::Status ByteLink::write(const std::uint8_t* data, std::size_t size, int gapMs) {
    for (std::size_t done = 0; done < size;) {
        if (gapMs > 0 && done > 0 && pause(gapMs) != Status::Ok) return Status::Stopped;
        if (stopRequested()) return Status::Stopped;
        const std::size_t chunk = gapMs > 0 ? 1 : size - done;
        unsigned int count = 0;
        const int rc = line.write(data + done, static_cast<unsigned int>(chunk), count);
        if (rc == Communication::CommInterrupted) {
            line.resume();
            if (stopRequested()) return Status::Stopped;
        }
        if (rc != Communication::CommOk) return Status::Closed;
        if (recorder) recorder->toRegister(data + done, chunk);
        done += chunk;
    }
    return Status::Ok;
}

ByteLink::Status ByteLink::pause(int ms) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (int left = ms; left > 0; left = msLeft(deadline)) {
        if (stopRequested()) return Status::Stopped;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(SliceMs, left)));
    }
    return stopRequested() ? Status::Stopped : Status::Ok;
}

} // namespace ecrlink::tool
