// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ecrlink::tool {

/// `ecrlink decode`: explains a captured frame or dump given as hex.
namespace DecodeCommand {

/// `order`: "in", "out" or empty to try both.
int run(const std::string& hex, const std::string& order);

} // namespace DecodeCommand

} // namespace ecrlink::tool
