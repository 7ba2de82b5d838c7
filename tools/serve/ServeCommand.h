// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ecrlink::tool {

/// `ecrlink serve ADDRESS`: holds the line to one terminal and offers it to
/// registers over HTTP and WebSocket on loopback and a unix socket, every
/// request authenticated, every transaction journaled (docs/service.md).
namespace ServeCommand {

constexpr unsigned short DefaultPort = 8717;

struct Options {
    std::string address;                       ///< the terminal, as for `send`
    std::string listen = "127.0.0.1:8717";     ///< HOST:PORT of the TCP listener
    std::string socket;                        ///< unix socket; empty: the default; "none": no socket
    std::string journalDir;                    ///< empty: the default
    std::string tokenFile;                     ///< empty: DIR/token
    std::vector<std::string> allowOrigins;     ///< browser origins allowed
    std::set<std::uint32_t> masked;            ///< tags whose values never reach the log
    unsigned int idleMs = 90000;               ///< a transaction's idle time-out unless it gives one
    unsigned int overallMs = 300000;           ///< a transaction's overall time-out unless it gives one
    bool wireTrace = false;                    ///< the bytes as hex lines on the library's log
};

/// Runs until SIGINT or SIGTERM: the first stops taking transactions and
/// ends once the one running has ended; a second cancels it. Exit status 0,
/// 1 when the service cannot start (a port taken, a journal that cannot be
/// written), 2 for bad arguments.
int run(Options options);

/// Where the journal, the token and the socket go by default: systemd's
/// $STATE_DIRECTORY and $RUNTIME_DIRECTORY, else $XDG_STATE_HOME/ecrlink or
/// ~/.local/state/ecrlink.
std::string defaultJournalDir();

} // namespace ServeCommand

} // namespace ecrlink::tool
