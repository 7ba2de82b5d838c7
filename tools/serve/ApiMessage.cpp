// SPDX-License-Identifier: MIT
#include "serve/ApiMessage.h"

#include "serve/JsonInput.h"

namespace ecrlink::tool {

bool ApiMessage::parse(const std::string& text, ApiMessage& out, std::string& error) {
    out = ApiMessage();
    nlohmann::json json;
    if (!JsonInput::parseObject(text, json, error, "a message is a JSON object with \"method\" and \"path\"")) return false;
    for (const auto& item : json.items()) {
        const std::string& key = item.key();
        const nlohmann::json& value = item.value();
        if (key == "id") {
            if (!(value.is_number_integer() || (value.is_string() && value.get<std::string>().size() <= 64))) {
                error = "id: a whole number or a string of at most 64 characters";
                return false;
            }
            out.id = value;
        } else if (key == "method") {
            if (value != "GET" && value != "POST") {
                error = "method: \"GET\" or \"POST\"";
                return false;
            }
            out.method = value.get<std::string>();
        } else if (key == "path") {
            if (!value.is_string() || value.get<std::string>().empty() || value.get<std::string>().size() > 256 ||
                value.get<std::string>()[0] != '/') {
                error = "path: a string of at most 256 characters beginning with /";
                return false;
            }
            out.path = value.get<std::string>();
        } else if (key == "body") {
            if (!value.is_object()) {
                error = "body: a JSON object";
                return false;
            }
            out.body = value.dump();
        } else {
            error = "unknown field '" + JsonInput::brief(key) + "' (fields: id, method, path, body)";
            return false;
        }
    }
    if (out.method.empty() || out.path.empty()) {
        error = out.method.empty() ? "method is missing" : "path is missing";
        return false;
    }
    if (out.method == "GET" && !out.body.empty()) {
        error = "a GET takes no body";
        return false;
    }
    return true;
}

std::string ApiMessage::answer(const nlohmann::json& id, const Api::Reply& reply) {
    nlohmann::json out;
    if (!id.is_null()) out["id"] = id;
    out["status"] = reply.status;
    if (reply.contentType.rfind("application/json", 0) == 0)
        out["body"] = nlohmann::json::parse(reply.body, nullptr, false);
    else
        out["body"] = reply.body;
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace ecrlink::tool
