// SPDX-License-Identifier: MIT
#pragma once

namespace ecrlink::tool {

/// `ecrlink demo`: a whole purchase between the library and the simulated
/// terminal, which runs on a pseudo-terminal in a thread of this process.
namespace DemoCommand {

int run();

} // namespace DemoCommand

} // namespace ecrlink::tool
