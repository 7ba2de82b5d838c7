// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace ecrlink::tool {

/// `ecrlink soak`: many purchases through the library's dialogue against the
/// simulated terminal on a noisy line (a child process on a pseudo-terminal),
/// then a table of what came through, what failed and with which code, what
/// the line changed and the register accepted anyway, and the memory of both
/// processes. Blocks until every message has run.
namespace SoakCommand {

struct Options {
    unsigned long count = 2000;
    std::string faults = "corrupt=0.01,length=0.001,nak=0.01,silence=0.001";
    std::uint64_t seed = 1;
    std::string scenario = "purchase";
    unsigned int idleMs = 500;      ///< the dialogue's idle time-out: the cost of a left-out frame
    unsigned int overallMs = 30000; ///< the dialogue's overall time-out
};
/// 0: nothing lost without a code, no frame with a changed data or check
/// byte accepted, memory flat; 1: any of these broken; 2: no start.
int run(const Options& options);

} // namespace SoakCommand

} // namespace ecrlink::tool
