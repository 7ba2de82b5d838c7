// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ecrlink::tool {

/// A pseudo-terminal for the simulated terminal: the master end is the
/// terminal's line, the slave path is what a register opens. The port keeps
/// a slave descriptor of its own so that the line survives registers that
/// open and close it, and sets the line raw before anyone connects.
class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    /// False with `error` set when no pseudo-terminal can be had.
    bool open(std::string& error);
    /// Closes both ends: a register on the slave sees the line hang up.
    void close();

    int masterFd() const { return master; }
    const std::string& slavePath() const { return path; }

private:
    int master = -1;
    int slave = -1;
    std::string path;
};

} // namespace ecrlink::tool
