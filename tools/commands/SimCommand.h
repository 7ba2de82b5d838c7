// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace ecrlink::tool {

/// `ecrlink sim`: serves the simulated terminal on a pseudo-terminal or a
/// TCP port until interrupted (or after one dialogue with --once), playing
/// a scenario or the terminal's side of a capture.
namespace SimCommand {

struct Options {
    int tcpPort = -1; ///< -1: pseudo-terminal
    std::string scenario = "purchase";
    bool once = false;
    std::string capture; ///< capture file of the terminal's line; empty: none
    std::string replay;  ///< capture whose terminal side is played instead of a scenario
    double speed = 1;    ///< replay this many times faster
    std::string faults;     ///< e.g. "corrupt=0.01,nak=0.01"; empty: a clean line
    std::uint64_t seed = 1; ///< of the faults
};
/// Ctrl-C (SIGINT) or SIGTERM ends it within 100 ms, whatever it is doing.
int run(const Options& options);

} // namespace SimCommand

} // namespace ecrlink::tool
