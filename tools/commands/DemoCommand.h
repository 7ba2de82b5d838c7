#pragma once

namespace ecrtool {

/// `ecrlink demo`: a whole purchase between the library and the simulated
/// terminal, which runs on a pseudo-terminal in a thread of this process.
class DemoCommand {
public:
    static int run();
};

} // namespace ecrtool
