// SPDX-License-Identifier: MIT
// Fuzz what reaches `ecrlink serve` from outside: the headers the access
// policy decides on, the body of POST /v1/transactions, the WebSocket's
// request messages, and every route of the API with any method, target and
// body. Each either is taken or gets one line of reason; what is taken stays
// within what a frame can carry; no answer is malformed.

#include "FuzzCheck.h"
#include "serve/AccessPolicy.h"
#include "serve/Api.h"
#include "serve/ApiMessage.h"
#include "serve/TransactionRequest.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ecrlink::tool;

namespace {

bool oneLine(const std::string& reason) {
    return !reason.empty() && reason.find('\n') == std::string::npos;
}

// A terminal that takes every request it is given and knows one reference.
class StubTerminal : public TerminalSide {
public:
    Start start(const TransactionRequest& request, std::string& other) override {
        require(TransactionRequest::validReference(request.reference) && !request.tags.empty(), "bad request taken");
        other = "R-0";
        return request.reference.size() % 2 ? Start::Started : Start::Busy;
    }
    Cancel cancel(const std::string& reference) override { return reference == "R-1" ? Cancel::Cancelling : Cancel::Unknown; }
    bool find(const std::string& reference, TransactionView& out, std::string&) override {
        out.reference = reference;
        out.receipt = {0xff, 'A'};
        return reference == "R-1";
    }
    LineHealth health() override { return LineHealth(); }
};

// Splits the input at NUL bytes into up to `n` fields.
std::vector<std::string> fields(const std::string& text, std::size_t n) {
    std::vector<std::string> out(1);
    for (char c : text) {
        if (c == '\0' && out.size() < n) out.emplace_back();
        else out.back() += c;
    }
    out.resize(n);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
    switch (data[0] % 4) {
    case 0: {
        TransactionRequest request;
        if (TransactionRequest::parse(text, request, error)) {
            require(TransactionRequest::validReference(request.reference), "reference taken as it is");
            require(!request.tags.empty() && request.tags.size() <= TransactionRequest::MaxTags, "tag count");
            std::size_t dump = 0;
            for (std::size_t i = 0; i < request.tags.size(); ++i) {
                require(!request.tags[i].value.empty(), "tag without value");
                require(i == 0 || request.tags[i - 1].number < request.tags[i].number, "tags not ascending");
                dump += 8 + request.tags[i].value.size();
            }
            require(dump <= 0xFFFF, "request larger than a frame");
        } else {
            require(oneLine(error), "request refused without one line");
        }
        break;
    }
    case 1: {
        ApiMessage message;
        if (ApiMessage::parse(text, message, error))
            require((message.method == "GET" || message.method == "POST") && message.path[0] == '/', "message taken");
        else
            require(oneLine(error), "message refused without one line");
        break;
    }
    case 2: {
        StubTerminal terminal;
        Metrics metrics;
        Api api(terminal, metrics, {5}, [](const std::string& line) { require(line.find('\n') == std::string::npos, "log line"); });
        const std::vector<std::string> f = fields(text, 4);
        const Api::Reply reply = api.handle(f[0], f[1], f[2], f[3]);
        require(reply.status >= 200 && reply.status < 600, "status");
        if (reply.contentType == "application/json") {
            const nlohmann::json body = nlohmann::json::parse(reply.body, nullptr, false);
            require(body.is_object(), "answer is not a JSON object");
            if (reply.status >= 400) require(body.contains("error") && oneLine(body["error"].get<std::string>()), "error");
        }
        break;
    }
    case 3: {
        const std::string token(64, 'a');
        const AccessPolicy policy(token, {"https://till.example"}, "127.0.0.1", 8717);
        const std::vector<std::string> f = fields(text, 5);
        AccessPolicy::Request request;
        request.host = f[0];
        request.origin = f[1];
        request.authorization = f[2];
        request.subprotocols = {f[3]};
        request.upgrade = data[0] & 0x10;
        request.preflight = data[0] & 0x20;
        request.unixSocket = data[0] & 0x40;
        const AccessPolicy::Decision decision = policy.check(request);
        if (decision.status == 0 || decision.status == 204)
            require(request.origin.empty() || request.origin == "https://till.example", "foreign origin let through");
        if (decision.status == 0)
            require(f[2].find(token) != std::string::npos || f[3] == "bearer." + token, "let through without the token");
        else
            require(oneLine(decision.reason), "refused without one line");
        std::string why;
        if (!AccessPolicy::validOrigin(f[4], why)) require(oneLine(why), "origin refused without one line");
        break;
    }
    }
    return 0;
}
