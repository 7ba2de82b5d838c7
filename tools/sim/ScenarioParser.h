#pragma once

#include "sim/Scenario.h"

#include <string>

namespace ecrtool {

/// Reads the line-based scenario format (see `ecrlink sim --help`).
class ScenarioParser {
public:
    /// `source` names the text in error messages ("file.txt:3: ...").
    static bool parse(const std::string& text, const std::string& source, Scenario& out, std::string& error);
    /// The format, as shown by `ecrlink sim --help`.
    static const char* formatHelp();
};

} // namespace ecrtool
