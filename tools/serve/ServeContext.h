// SPDX-License-Identifier: MIT
#pragma once

#include "serve/AccessPolicy.h"
#include "serve/Api.h"
#include "serve/EventHub.h"
#include "serve/Metrics.h"

#include <functional>
#include <string>

namespace ecrlink::tool {

/// What every connection of the service shares. Used on the service's one
/// I/O thread only, except `events`, `metrics` and `log`, which any thread
/// may use.
struct ServeContext {
    static constexpr unsigned int MaxConnections = 64;
    static constexpr std::size_t MaxHeader = 8 * 1024;
    static constexpr std::size_t MaxBody = 64 * 1024;

    AccessPolicy& policy;
    Api& api;
    EventHub& events;
    Metrics& metrics;
    std::function<void(const std::string&)> log;
    unsigned int connections = 0;
};

} // namespace ecrlink::tool
