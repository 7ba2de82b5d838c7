// SPDX-License-Identifier: MIT
#pragma once

#include "sim/Scenario.h"

#include <string>

namespace ecrlink::tool {

/// Reads the line-based scenario format (see `ecrlink sim --help`).
namespace ScenarioParser {

/// Splits a line into words; double quotes group words and may hold \n, \t,
/// \" and \\. A # outside quotes starts a comment.
bool tokenize(const std::string& line, std::vector<std::string>& words, std::string& error);
/// Checks every step as it reads it; `source` names the text in error
/// messages ("file.txt:3: ...").
bool parse(const std::string& text, const std::string& source, Scenario& out, std::string& error);
/// The format, as shown by `ecrlink sim --help`.
const char* formatHelp();

} // namespace ScenarioParser

} // namespace ecrlink::tool
