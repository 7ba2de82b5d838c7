// SPDX-License-Identifier: MIT
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace ecrlink::tool {

/// JSON that comes from outside the service, read strictly: a malformed
/// text, a key given twice in one object (which readers would take in
/// different ways), or nesting deeper than any request of the service needs
/// is refused with a one-line reason. Any thread; never throws.
namespace JsonInput {

constexpr int MaxDepth = 8;

bool parse(const std::string& text, nlohmann::json& out, std::string& error);

/// As parse(), and the value must be an object; `shape` is the reason when it is not.
bool parseObject(const std::string& text, nlohmann::json& out, std::string& error, const char* shape);

/// A JSON value in a reason: control characters as '?', cut after `longest`.
std::string brief(const nlohmann::json& value, std::size_t longest = 40);

} // namespace JsonInput

} // namespace ecrlink::tool
