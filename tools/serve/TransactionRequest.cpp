// SPDX-License-Identifier: MIT
#include "serve/TransactionRequest.h"

#include "serve/JsonInput.h"
#include "wire/TagSpec.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace ecrlink::tool {

namespace {

bool number(const nlohmann::json& value, std::uint64_t low, std::uint64_t high, const char* name, unsigned int& out,
            std::string& error) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() < low || value.get<std::uint64_t>() > high) {
        error = std::string(name) + ": " + JsonInput::brief(value) + " is not a whole number from " +
                std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    out = static_cast<unsigned int>(value.get<std::uint64_t>());
    return true;
}

bool readTags(const nlohmann::json& tags, std::vector<RawTag>& out, std::string& error) {
    if (!tags.is_object() || tags.empty() || tags.size() > TransactionRequest::MaxTags) {
        error = "tags: an object of 1 to " + std::to_string(TransactionRequest::MaxTags) +
                " tags is expected, e.g. {\"2\": \"PURCHASE\", \"4\": \"u32:1250\"}";
        return false;
    }
    std::map<std::uint32_t, RawTag> byNumber;
    std::size_t dump = 0;
    for (const auto& item : tags.items()) {
        std::uint64_t tag = 0;
        if (!parseNumber(item.key(), 0xFFFFFFFF, tag)) {
            error = "tags: '" + JsonInput::brief(item.key()) + "' is not a tag number (decimal or 0x hex, at most 0xFFFFFFFF)";
            return false;
        }
        if (!item.value().is_string()) {
            error = "tags: " + item.key() + ": the value must be a string such as \"u32:1250\", \"hex:01ff\" or text";
            return false;
        }
        TagSpec spec;
        // Numbers go out most significant byte first, as from `ecrlink send`.
        if (!TagSpec::parse(std::to_string(tag) + "=" + item.value().get<std::string>(), ByteOrder::MsbFirst, false,
                            spec, error)) {
            error = "tags: " + error;
            return false;
        }
        if (byNumber.count(spec.tag.number)) {
            error = "tags: tag " + std::to_string(tag) + " given twice";
            return false;
        }
        dump += 8 + spec.tag.value.size();
        byNumber.emplace(spec.tag.number, std::move(spec.tag));
    }
    if (dump > WireDump::MaxFramed) {
        error = "tags: the request would be " + std::to_string(dump) + " bytes; a frame holds " +
                std::to_string(WireDump::MaxFramed);
        return false;
    }
    out.clear();
    for (auto& entry : byNumber) out.push_back(std::move(entry.second));
    return true;
}

} // namespace

bool TransactionRequest::validReference(const std::string& reference) {
    return !reference.empty() && reference.size() <= MaxReference &&
           std::all_of(reference.begin(), reference.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '.' || c == '_' || c == '~' || c == '-';
           });
}

bool TransactionRequest::parse(const std::string& body, TransactionRequest& out, std::string& error) {
    out = TransactionRequest();
    nlohmann::json json;
    if (!JsonInput::parseObject(body, json, error, "the body must be a JSON object with \"reference\" and \"tags\"")) return false;
    bool haveTags = false;
    for (const auto& item : json.items()) {
        const std::string& key = item.key();
        const nlohmann::json& value = item.value();
        if (key == "reference") {
            if (!value.is_string() || !validReference(value.get<std::string>())) {
                error = "reference: " + JsonInput::brief(value) +
                        " is not 1 to 64 of the characters A-Z a-z 0-9 . _ ~ -";
                return false;
            }
            out.reference = value.get<std::string>();
        } else if (key == "tags") {
            if (!readTags(value, out.tags, error)) return false;
            haveTags = true;
        } else if (key == "idle_timeout_ms") {
            if (!number(value, 1, 3600000, "idle_timeout_ms", out.idleMs, error)) return false;
        } else if (key == "timeout_ms") {
            if (!number(value, 1, 86400000, "timeout_ms", out.overallMs, error)) return false;
        } else {
            error = "unknown field '" + JsonInput::brief(key) + "' (fields: reference, tags, idle_timeout_ms, timeout_ms)";
            return false;
        }
    }
    if (out.reference.empty() || !haveTags) {
        error = out.reference.empty() ? "reference is missing" : "tags are missing";
        return false;
    }
    return true;
}

} // namespace ecrlink::tool
