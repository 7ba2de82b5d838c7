// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Communication {
class CaptureChannel;
}

namespace ecrlink::tool {

/// The simulated terminal's capture: the bytes on its line are written to a
/// capture file as the register's side would have recorded them (what the
/// register sent as its writes, what the terminal sent as its reads), so that
/// `decode --capture` and `sim --replay` read both kinds of capture alike.
/// One thread at a time.
class LineRecorder {
public:
    explicit LineRecorder(const std::string& path);
    ~LineRecorder();

    /// Creates the file on the first call, then records an open; false with
    /// `error` when the file cannot be written.
    bool open(std::string& error);
    void close();
    void fromRegister(const std::uint8_t* bytes, std::size_t size);
    void toRegister(const std::uint8_t* bytes, std::size_t size);

private:
    struct Line;
    Line* line; // owned by `channel`
    std::unique_ptr<Communication::CaptureChannel> channel;
};

} // namespace ecrlink::tool
