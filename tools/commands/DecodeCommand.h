#pragma once

#include <string>

namespace ecrtool {

/// `ecrlink decode`: explains a captured frame or dump given as hex.
class DecodeCommand {
public:
    /// `order`: "in", "out" or empty to try both.
    static int run(const std::string& hex, const std::string& order);
};

} // namespace ecrtool
