// SPDX-License-Identifier: MIT
#pragma once

#include "serve/Api.h"

#include <nlohmann/json.hpp>

#include <string>

namespace ecrlink::tool {

/// A request of the API sent as a WebSocket message, the same request an
/// HTTP client makes:
///   {"id": 7, "method": "POST", "path": "/v1/transactions", "body": {...}}
/// answered with {"id": 7, "status": 202, "body": {...}}. "id" (a number or
/// a string of at most 64 characters) is optional and comes back as given;
/// "body" is for POST only.
struct ApiMessage {
    nlohmann::json id;
    std::string method;
    std::string path;
    std::string body;  ///< the body as JSON text; empty: none

    /// False with a one-line `error` for anything else. Any thread.
    static bool parse(const std::string& text, ApiMessage& out, std::string& error);
    /// The answer to the request with `id`.
    static std::string answer(const nlohmann::json& id, const Api::Reply& reply);
};

} // namespace ecrlink::tool
