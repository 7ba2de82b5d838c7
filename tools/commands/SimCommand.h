#pragma once

#include <string>

namespace ecrtool {

/// `ecrlink sim`: serves the simulated terminal on a pseudo-terminal or a
/// TCP port until interrupted (or after one dialogue with --once).
class SimCommand {
public:
    struct Options {
        int tcpPort = -1; ///< -1: pseudo-terminal
        std::string scenario = "purchase";
        bool once = false;
    };
    static int run(const Options& options);
};

} // namespace ecrtool
