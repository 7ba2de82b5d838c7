// SPDX-License-Identifier: MIT
#include "serve/JsonInput.h"

#include <set>
#include <vector>

namespace ecrlink::tool {
namespace JsonInput {

bool parse(const std::string& text, nlohmann::json& out, std::string& error) {
    using nlohmann::json;
    std::vector<std::set<std::string>> keys; // of each object being read
    std::string repeated;
    bool tooDeep = false;
    const json::parser_callback_t watch = [&](int depth, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            keys.emplace_back();
            [[fallthrough]];
        case json::parse_event_t::array_start:
            if (depth >= MaxDepth) tooDeep = true;
            break;
        case json::parse_event_t::object_end:
            if (!keys.empty()) keys.pop_back();
            break;
        case json::parse_event_t::key:
            if (!keys.empty() && !keys.back().insert(parsed.get<std::string>()).second && repeated.empty())
                repeated = parsed.get<std::string>();
            break;
        default:
            break;
        }
        // What is kept does not matter once the text is refused; dropping it
        // keeps a hostile text from growing a large value.
        return !tooDeep && repeated.empty();
    };
    try {
        out = json::parse(text, watch);
    } catch (const json::exception& failure) {
        // "[json.exception.parse_error.101] parse error at line 1, column 9: ...",
        // or a number too large for any type ("out_of_range.406").
        const std::string what = failure.what();
        const std::size_t from = what.find("] ");
        error = "malformed JSON: " + brief(what.substr(from == std::string::npos ? 0 : from + 2), 160);
        return false;
    }
    if (!repeated.empty()) {
        error = "key '" + brief(repeated) + "' given twice";
        return false;
    }
    if (tooDeep) {
        error = "JSON nested deeper than " + std::to_string(MaxDepth) + " levels";
        return false;
    }
    return true;
}

std::string brief(const nlohmann::json& value, std::size_t longest) {
    std::string text = value.is_string() ? value.get<std::string>()
                                         : value.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    std::string shown;
    for (char c : text) {
        if (shown.size() >= longest) {
            shown += "...";
            break;
        }
        shown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    }
    return shown;
}

bool parseObject(const std::string& text, nlohmann::json& out, std::string& error, const char* shape) {
    if (!parse(text, out, error)) return false;
    if (out.is_object()) return true;
    error = shape;
    return false;
}

} // namespace JsonInput
} // namespace ecrlink::tool
