// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ecrlink::tool {

/// `ecrlink decode --capture FILE [--html OUT]`: the capture's timeline as
/// text on stdout, or as a page written to OUT. Exit status 0; 2 when the
/// file is not a readable capture; 1 when the page cannot be written.
class CaptureDecode {
public:
    static int run(const std::string& path, const std::string& htmlPath);
};

} // namespace ecrlink::tool
