// SPDX-License-Identifier: MIT
#pragma once

#include "sim/ScenarioStep.h"

#include <string>
#include <vector>

namespace ecrlink::tool {

/// What the simulated terminal does with one request of the register.
class Scenario {
public:
    std::string name;
    std::vector<ScenarioStep> steps;

    /// A built-in scenario (`purchase`, `nak:N`, `corrupt`, `eot`, `bel`,
    /// `silence`, `oversize`, `slow`, `drop`) or else a scenario file.
    static bool load(const std::string& nameOrFile, Scenario& out, std::string& error);
    /// The text of a built-in scenario; empty for an unknown name.
    static std::string builtinText(const std::string& name);
    /// Names of the built-in scenarios, for help texts.
    static std::string builtinNames();
};

} // namespace ecrlink::tool
