// SPDX-License-Identifier: MIT
#pragma once

#include "register/RegisterSession.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// `ecrlink send`: the tags as given on the command line, checked, then one
/// dialogue through RegisterSession. Blocks until the dialogue ends.
namespace SendCommand {

/// Exit status of RegisterSession::run; 2 when a tag cannot be understood or
/// a tag number is given twice (nothing is sent).
int run(const std::vector<std::string>& tagTexts, RegisterSession::Options options);

} // namespace SendCommand

} // namespace ecrlink::tool
